// The one conversion from the portable pixel boxes to the system's RECT.
#pragma once

#include <windows.h>

#include "common/geometry.h"

namespace win32 {

inline RECT ToRect(const common::PixelRect& box) {
  return RECT{box.left, box.top, box.right, box.bottom};
}

}  // namespace win32
