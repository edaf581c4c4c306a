// An off-screen 32-bpp top-down DIB section with its memory DC: GDI draws into it, the compositing code
// writes its pixels directly, and one BitBlt puts the result on the screen without flicker.
#pragma once

#include <windows.h>

#include <optional>

#include "common/pixels.h"
#include "win32/gdi_scope.h"
#include "win32/unique_handle.h"

namespace win32 {

class Surface {
 public:
  // An empty surface (width or height below 1 gives one pixel).
  Surface(int width, int height);
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  // False when GDI could not make the section: nothing may be drawn through the surface then.
  bool valid() const { return bits_ != nullptr; }
  HDC dc() const { return dc_.get(); }

  // The pixels, after GDI has finished whatever it still had queued; none (an empty view) when the
  // surface is not valid.
  common::PixelSurface Pixels();

  void Fill(const RECT& area, COLORREF color);
  void CopyTo(HDC target, int x, int y) const;

 private:
  int width_;
  int height_;
  void* bits_ = nullptr;
  UniqueBitmap bitmap_;
  UniqueMemoryDc dc_;
  std::optional<SelectScope> selection_;  // declared last: deselects before the DC and bitmap go
};

}  // namespace win32
