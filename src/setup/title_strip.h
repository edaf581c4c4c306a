// Picture1, the navy title strip: a focusable child window that contains Command1 and shows the painted
// rows 5 to 8. What its button reports goes on to the setup window, as if the button were its own child.
#pragma once

#include <windows.h>

#include <string>

#include "common/geometry.h"
#include "setup/painter.h"
#include "win32/window.h"

namespace setup {

class TitleStrip final : public win32::Window {
 public:
  explicit TitleStrip(Painter& painter) : painter_(painter) {}
  HWND Create(HWND parent, const common::PixelRect& box, const std::wstring& text);

 protected:
  bool OnPaint() override;
  bool OnEraseBackground(HDC) override { return true; }
  bool OnCommand(int id, int notification, HWND control) override;
  bool OnDrawItem(const DRAWITEMSTRUCT& item) override;

 private:
  Painter& painter_;
};

}  // namespace setup
