// What both programs' top-level windows do alike: where they first stand, the keyboard cues they show
// from the start, the focus they give back after another window had it, and the one conversion from
// pixel boxes to RECTs.
#pragma once

#include <windows.h>

#include "common/geometry.h"

namespace win32 {

RECT ToRect(const common::PixelRect& box);

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
