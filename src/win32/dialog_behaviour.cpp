#include "win32/dialog_behaviour.h"

namespace win32 {

POINT CentredOnScreen(int width, int height) {
  return POINT{(::GetSystemMetrics(SM_CXSCREEN) - width) / 2, (::GetSystemMetrics(SM_CYSCREEN) - height) / 2};
}

void ShowKeyboardCues(HWND window) {
  ::SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
}

void KeptFocus::Deactivated(HWND window) {
  const HWND focus = ::GetFocus();
  if (focus && ::IsChild(window, focus)) focus_ = focus;
}

HWND KeptFocus::Target(HWND window, HWND fallback) const {
  if (focus_ && ::IsChild(window, focus_) && ::IsWindowVisible(focus_) && ::IsWindowEnabled(focus_))
    return focus_;
  return fallback;
}

}  // namespace win32
