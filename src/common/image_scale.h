// Area-averaging scaler for the window's pictures: each target pixel is the coverage-weighted mean of
// the source pixels under it, so thin lines survive a strong reduction (the platform's stretching
// does not average under every implementation).
#pragma once

#include "common/pixels.h"

namespace common {

// Scales src to width x height (both at least 1) by area averaging in both directions; every channel,
// alpha included, is averaged. Enlarging replicates and blends at the pixel borders.
Bitmap32 ScaleByAreaAverage(const Bitmap32& src, int width, int height);

}  // namespace common
