#include "setup/title_strip.h"

#include "setup/class_names.h"
#include "setup/layout.h"

namespace setup {

HWND TitleStrip::Create(HWND parent, const common::PixelRect& box, const std::wstring& text) {
  WNDCLASSEXW windowClass{};
  windowClass.lpszClassName = kTitleStripClassName;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  RegisterClassOnce(windowClass);
  return Window::Create(0, kTitleStripClassName, text.c_str(),
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, box.left,
                        box.top, box.Width(), box.Height(), parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(Row::Picture1))));
}

bool TitleStrip::OnPaint() {
  painter_.PaintStrip(hwnd());
  return true;
}

// The strip's button reports to the strip; its clicks and drawing belong to the setup window.
bool TitleStrip::OnCommand(int id, int notification, HWND control) {
  ::SendMessageW(::GetParent(hwnd()), WM_COMMAND, MAKEWPARAM(id, notification),
                 reinterpret_cast<LPARAM>(control));
  return true;
}

bool TitleStrip::OnDrawItem(const DRAWITEMSTRUCT& item) {
  return ::SendMessageW(::GetParent(hwnd()), WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item)) !=
         FALSE;
}

}  // namespace setup
