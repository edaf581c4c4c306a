#include "common/geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace common {
namespace {

// Rounds half away from zero and saturates, so that a box placed far outside the window (some rows sit
// at 60000 twips) still converts to a sane coordinate instead of wrapping.
int RoundToPixel(double pixels) {
  if (std::isnan(pixels)) return 0;
  constexpr double kLowest = std::numeric_limits<int>::min();
  constexpr double kHighest = std::numeric_limits<int>::max();
  return static_cast<int>(std::clamp(std::round(pixels), kLowest, kHighest));
}

// Double precision keeps the product exact for every twip value a float can hold at ordinary resolutions.
double TwipsToExactPixels(double twips, int dotsPerInch) {
  return twips * dotsPerInch / kTwipsPerInch;
}

}  // namespace

int TwipsToPixels(float twips, int dotsPerInch) {
  return RoundToPixel(TwipsToExactPixels(twips, dotsPerInch));
}

PixelRect TwipsToPixels(const TwipBox& box, int dotsPerInch) {
  // Each edge is rounded on its own rather than rounding the width: two boxes that share an edge in
  // twips then share it in pixels too.
  const double right = static_cast<double>(box.left) + box.width;
  const double bottom = static_cast<double>(box.top) + box.height;
  return PixelRect{
      .left = TwipsToPixels(box.left, dotsPerInch),
      .top = TwipsToPixels(box.top, dotsPerInch),
      .right = RoundToPixel(TwipsToExactPixels(right, dotsPerInch)),
      .bottom = RoundToPixel(TwipsToExactPixels(bottom, dotsPerInch)),
  };
}

PixelPoint TwipsToPixels(float xTwips, float yTwips, int dotsPerInch) {
  return PixelPoint{TwipsToPixels(xTwips, dotsPerInch), TwipsToPixels(yTwips, dotsPerInch)};
}

int ScalePixels(int pixelsAt96, int dotsPerInch) {
  constexpr double kDesignDotsPerInch = 96;
  return std::max(1, RoundToPixel(static_cast<double>(pixelsAt96) * dotsPerInch / kDesignDotsPerInch));
}

}  // namespace common
