#include "setup/painter.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "common/compositing.h"
#include "win32/gdi_scope.h"
#include "win32/rect.h"

namespace setup {

using common::Bitmap32;
using common::CompositeOver;
using common::kWhite;
using common::PixelPoint;
using common::PixelRect;
using common::Rgb;
using common::ScalePixels;
using common::TwipsToPixels;

namespace {

// The picture button's icon is 32 x 32 at 96 dpi and grows with the screen's resolution.
constexpr int kButtonIconPixelsAt96 = 32;

constexpr Rgb kPanelColor = ControlAt(Row::Text2).backColor.value_or(kWhite);

COLORREF ToColorRef(Rgb color) {
  return RGB(color.red, color.green, color.blue);
}

// Points to font height: negative, so that Windows matches the character height rather than the cell.
int FontHeight(float points, int dpi) {
  return -static_cast<int>(std::lround(points * dpi / 72.0f));
}

}  // namespace

win32::UniqueFont MakeFont(const FontSpec& spec, int dpi) {
  return win32::UniqueFont(::CreateFontW(FontHeight(spec.points, dpi), 0, 0, 0, spec.weight, FALSE, FALSE,
                                         FALSE, kGb2312Charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                         DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                         std::wstring(spec.face).c_str()));
}

Painter::Painter(HINSTANCE instance, int dpi) : dpi_(dpi), pictures_(instance) {}

HFONT Painter::Font(const FontSpec& spec) {
  auto made =
      std::find_if(fonts_.begin(), fonts_.end(), [&spec](const auto& font) { return font.first == &spec; });
  if (made == fonts_.end()) made = fonts_.insert(made, {&spec, win32::UniqueFont()});
  if (!made->second) made->second = MakeFont(spec, dpi_);
  return made->second.get();
}

void Painter::PaintWindow(HWND window) {
  PaintPaintedRows(window, background_, kWindowBackColor, false);
}

void Painter::PaintStrip(HWND strip) {
  PaintPaintedRows(strip, stripBackground_, ControlAt(Row::Picture1).backColor.value_or(kWhite), true);
}

// The painted rows never change, so each container draws them once into a buffer and copies it after.
// A buffer that GDI could not make (its quota spent, memory low) is never drawn through nor kept: the
// paint shows the background alone, and the next one tries again.
void Painter::PaintPaintedRows(HWND container, std::unique_ptr<win32::Surface>& buffer, Rgb backColor,
                               bool inTitleStrip) {
  win32::PaintScope paint(container);
  if (!buffer) {
    RECT client{};
    ::GetClientRect(container, &client);
    auto made = std::make_unique<win32::Surface>(client.right, client.bottom);
    if (!made->valid()) {
      const win32::UniqueBrush background(::CreateSolidBrush(ToColorRef(backColor)));
      ::FillRect(paint.dc(), &client, background.get());
      return;
    }
    made->Fill(client, ToColorRef(backColor));
    PaintRows(*made, inTitleStrip);
    buffer = std::move(made);
  }
  buffer->CopyTo(paint.dc(), 0, 0);
}

void Painter::PaintRows(win32::Surface& surface, bool inTitleStrip) {
  for (auto row = kControls.rbegin(); row != kControls.rend(); ++row) {
    if (row->Has(kInTitleStrip) != inTitleStrip) continue;
    switch (row->kind) {
      case ControlKind::Label:
        PaintLabel(surface, *row);
        break;
      case ControlKind::Image:
        PaintImage(surface, *row);
        break;
      case ControlKind::Line:
        PaintLine(surface, *row);
        break;
      default:
        break;
    }
  }
}

void Painter::PaintLabel(win32::Surface& surface, const ControlRow& row) {
  if (row.Has(kHidden)) return;
  const HDC dc = surface.dc();
  win32::SelectScope font(dc, Font(row.Font()));
  const std::wstring text(row.text);
  UINT format = DT_LEFT | DT_TOP | DT_NOPREFIX;
  RECT box = win32::ToRect(TwipsToPixels(row.box, dpi_));
  if (row.Has(kAutoSize)) {
    // An AutoSize label takes the size of its text: wrapped within its width when WordWrap is on.
    RECT measured = box;
    const UINT measure = format | DT_CALCRECT | (row.Has(kWordWrap) ? DT_WORDBREAK : 0u);
    if (!row.Has(kWordWrap)) measured.right = measured.left + 0x7FFF;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measured, measure);
    box.right = measured.right;
    box.bottom = measured.bottom;
    if (row.Has(kWordWrap)) format |= DT_WORDBREAK;
  } else {
    format |= DT_WORDBREAK;  // a fixed label breaks its text within its width and clips to its height
  }
  if (!row.Has(kTransparent))
    surface.Fill(box, row.backColor ? ToColorRef(*row.backColor) : ::GetSysColor(COLOR_BTNFACE));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ToColorRef(row.foreColor.value_or(kDefaultForeColor)));
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, format);
}

void Painter::PaintImage(win32::Surface& surface, const ControlRow& row) {
  if (row.Has(kHidden) || row.picture == Picture::None) return;
  const PixelRect box = TwipsToPixels(row.box, dpi_);
  if (const Bitmap32* picture = pictures_.Scaled(row.picture, box.Width(), box.Height()))
    CompositeOver(surface.Pixels(), box.left, box.top, *picture);
}

void Painter::PaintLine(win32::Surface& surface, const ControlRow& row) {
  if (row.Has(kHidden)) return;
  const int width = ScalePixels(row.lineWidthPixels, dpi_);
  const COLORREF color = ToColorRef(row.foreColor.value_or(kDefaultForeColor));
  win32::UniquePen pen;
  if (width <= 1) {
    pen.reset(::CreatePen(PS_SOLID, 1, color));
  } else {
    const LOGBRUSH brush{BS_SOLID, color, 0};
    pen.reset(::ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT, static_cast<DWORD>(width), &brush, 0,
                             nullptr));
  }
  const PixelPoint from = TwipsToPixels(row.line.x1, row.line.y1, dpi_);
  const PixelPoint to = TwipsToPixels(row.line.x2, row.line.y2, dpi_);
  win32::SelectScope selected(surface.dc(), pen.get());
  ::MoveToEx(surface.dc(), from.x, from.y, nullptr);
  ::LineTo(surface.dc(), to.x, to.y);
}

bool Painter::DrawCommandButton(const DRAWITEMSTRUCT& item) {
  const std::optional<Row> row = RowOfControlId(static_cast<int>(item.CtlID));
  if (item.CtlType != ODT_BUTTON || !row || ControlAt(*row).kind != ControlKind::CommandButton) return false;
  const ControlRow& design = ControlAt(*row);
  const int width = item.rcItem.right - item.rcItem.left;
  const int height = item.rcItem.bottom - item.rcItem.top;
  win32::Surface surface(width, height);
  if (!surface.valid()) return true;
  const HDC dc = surface.dc();
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool focused = (item.itemState & ODS_FOCUS) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;

  RECT face{0, 0, width, height};
  const Rgb background = *row == Row::Command4 ? pictureButtonColor_ : design.backColor.value_or(kWhite);
  surface.Fill(face, ToColorRef(background));
  if (focused || pressed) {
    win32::UniqueBrush frame(::CreateSolidBrush(RGB(0, 0, 0)));
    ::FrameRect(dc, &face, frame.get());
    ::InflateRect(&face, -1, -1);
  }
  if (pressed) {
    win32::UniqueBrush shadow(::CreateSolidBrush(::GetSysColor(COLOR_BTNSHADOW)));
    ::FrameRect(dc, &face, shadow.get());
  } else {
    ::DrawEdge(dc, &face, EDGE_RAISED, BF_RECT);
  }
  RECT content = face;
  ::InflateRect(&content, -2, -2);
  if (pressed) ::OffsetRect(&content, 1, 1);

  if (!design.text.empty()) {
    const std::wstring text(design.text);
    win32::SelectScope font(dc, Font(design.Font()));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &content,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  if (design.picture != Picture::None) {
    const int side = ScalePixels(kButtonIconPixelsAt96, dpi_);
    if (const Bitmap32* icon = pictures_.Scaled(design.picture, side, side)) {
      const int left = content.left + (content.right - content.left - side) / 2;
      const int top = content.top + (content.bottom - content.top - side) / 2;
      CompositeOver(surface.Pixels(), left, top, *icon);
    }
  }
  if (focused) {
    RECT focus = face;
    ::InflateRect(&focus, -3, -3);
    ::SetTextColor(dc, RGB(0, 0, 0));
    ::SetBkColor(dc, RGB(255, 255, 255));
    ::DrawFocusRect(dc, &focus);
  }
  surface.CopyTo(item.hDC, item.rcItem.left, item.rcItem.top);
  return true;
}

HBRUSH Painter::PanelColors(HDC dc) {
  if (!panelBrush_) panelBrush_.reset(::CreateSolidBrush(ToColorRef(kPanelColor)));
  ::SetBkColor(dc, ToColorRef(kPanelColor));
  ::SetTextColor(dc, ToColorRef(kDefaultForeColor));
  return panelBrush_.get();
}

}  // namespace setup
