#include "setup/paint_warm_up.h"

#include <map>
#include <string>

#include "setup/layout.h"
#include "setup/painter.h"
#include "setup/placement.h"
#include "setup/setup_window.h"
#include "win32/gdi_scope.h"
#include "win32/surface.h"

namespace setup {
namespace {

bool IsPhotograph(Picture picture) {
  return picture == Picture::BottomPicture || picture == Picture::LeftPicture;
}

// The screen's resolution as a memory DC reports it, which needs no window on this thread; 0 if none.
int ScreenResolution() {
  const win32::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
  return dc ? ::GetDeviceCaps(dc.get(), LOGPIXELSX) : 0;
}

// Each font once, on every text the table shows in it, drawn as the painter draws, into a surface like
// its own: measuring alone would leave the glyphs' images unmade.
void UseFonts(int dpi) {
  const PixelSize size = WindowPixelSize(kClientWidthTwips, kClientHeightTwips, dpi);
  win32::Surface surface(size.width, size.height);
  if (!surface.valid()) return;
  std::map<const FontSpec*, win32::UniqueFont> fonts;
  for (const ControlRow& row : kControls) {
    if (row.text.empty()) continue;
    win32::UniqueFont& font = fonts[&row.Font()];
    if (!font) font = MakeFont(row.Font(), dpi);
    win32::SelectScope selected(surface.dc(), font.get());
    const std::wstring text(row.text);
    RECT box{0, 0, size.width, size.height};
    ::DrawTextW(surface.dc(), text.c_str(), static_cast<int>(text.size()), &box,
                DT_LEFT | DT_TOP | DT_NOPREFIX | DT_WORDBREAK);
  }
}

}  // namespace

PaintWarmUp::PaintWarmUp(HINSTANCE instance) : pictures_(instance), thread_(&Run, this) {}

void PaintWarmUp::Run(void* self) {
  PictureCache& pictures = static_cast<PaintWarmUp*>(self)->pictures_;
  // The photographs at their own size first: that needs no resolution.
  for (const ControlRow& row : kControls) {
    if (row.kind == ControlKind::Image && IsPhotograph(row.picture)) pictures.Original(row.picture);
  }
  const int dpi = ScreenResolution();
  if (dpi <= 0) return;
  UseFonts(dpi);
  for (const ControlRow& row : kControls) {
    if (row.kind != ControlKind::Image || row.Has(kHidden) || !IsPhotograph(row.picture)) continue;
    const common::PixelRect box = common::TwipsToPixels(row.box, dpi);
    pictures.Scaled(row.picture, box.Width(), box.Height());
  }
}

void PaintWarmUp::HandTo(SetupWindow& window) {
  if (thread_.Join()) window.AdoptPictures(std::move(pictures_));
}

}  // namespace setup
