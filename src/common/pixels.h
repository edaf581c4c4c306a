// Pictures in memory: 32-bit BGRA pixels, rows top-down with no padding (the layout of a 32-bpp
// top-down DIB section), so the same rows can be scaled, composed and handed to the screen.
#pragma once

#include <cstdint>
#include <vector>

namespace common {

// A picture that owns its pixels.
struct Bitmap32 {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // width * height
};

// A writable view of pixels that someone else owns (a DIB section).
struct PixelSurface {
  std::uint32_t* pixels = nullptr;
  int width = 0;
  int height = 0;
};

}  // namespace common
