// What both programs' top-level windows do as a dialog does: they first stand centred on the screen,
// show their keyboard cues from the start, and give the focus back to the child that had it after
// another window had it.
#pragma once

#include <windows.h>

namespace win32 {

// The top-left corner of a window of this outer size centred on the primary screen.
POINT CentredOnScreen(int width, int height);

// Focus rectangles and access keys show from the start, not only after the first key press.
void ShowKeyboardCues(HWND window);

// The child that had the focus when the window was last deactivated, for the focus to come back to it
// as it does in a dialog.
class KeptFocus {
 public:
  // Call on WM_ACTIVATE with WA_INACTIVE.
  void Deactivated(HWND window);
  // The kept child while it is still a visible, enabled child of window; else fallback.
  HWND Target(HWND window, HWND fallback) const;

 private:
  HWND focus_ = nullptr;
};

}  // namespace win32
