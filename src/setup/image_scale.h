// Area-averaging scaler for the window's pictures: each target pixel is the coverage-weighted mean of
// the source pixels under it, so thin lines survive a strong reduction (the platform's stretching
// does not average under every implementation).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace setup {

// Pixels are 32-bit BGRA values, rows top-down with no padding (the layout of a 32-bpp top-down DIB).
struct Bitmap32 {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // width * height
};

// Scales src to width x height (both at least 1) by area averaging in both directions; every channel,
// alpha included, is averaged. Enlarging replicates and blends at the pixel borders.
Bitmap32 ScaleByAreaAverage(const Bitmap32& src, int width, int height);

}  // namespace setup
