#include "setup/placement.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/geometry.h"

namespace setup {
namespace {

// The quotient of two single-precision values, rounded to single precision. The x87 unit of the 32-bit
// build would otherwise keep it in an 80-bit register, and a quotient just beside .5 could round the
// other way than the launcher always has.
float SingleQuotient(float dividend, float divisor) {
  const volatile float quotient = dividend / divisor;
  return quotient;
}

// Integer division that truncates toward zero; a zero divisor or a quotient outside 32 bits fails.
std::optional<int> TruncatedQuotient(std::optional<int> dividend, std::optional<int> divisor) {
  if (!dividend || !divisor || *divisor == 0) return std::nullopt;
  if (*dividend == std::numeric_limits<int>::min() && *divisor == -1) return std::nullopt;
  return *dividend / *divisor;
}

}  // namespace

std::optional<int> NearestInt32(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  // Spelled out instead of std::nearbyint so that the result does not depend on the rounding mode some
  // other code may have left in the floating-point unit.
  const double lower = std::floor(value);
  const double fraction = value - lower;
  const bool lowerIsOdd = std::fmod(lower, 2.0) != 0.0;
  const double rounded = (fraction > 0.5 || (fraction == 0.5 && lowerIsOdd)) ? lower + 1.0 : lower;
  if (rounded < std::numeric_limits<int>::min() || rounded > std::numeric_limits<int>::max()) {
    return std::nullopt;
  }
  return static_cast<int>(rounded);
}

std::optional<WindowPlacementPixels> PlacementPixels(const WindowPlacementTwips& twips) {
  // Every floating-point fault of the division (0/0, x/0, overflow, a NaN operand) leaves a quotient that
  // is not finite, which NearestInt32 refuses.
  const std::optional<int> x = NearestInt32(SingleQuotient(twips.left, twips.twipsPerPixelX));
  const std::optional<int> y = TruncatedQuotient(NearestInt32(twips.top), NearestInt32(twips.twipsPerPixelY));
  const std::optional<int> cx =
      TruncatedQuotient(NearestInt32(twips.width), NearestInt32(twips.twipsPerPixelX));
  const std::optional<int> cy =
      TruncatedQuotient(NearestInt32(twips.height), NearestInt32(twips.twipsPerPixelY));
  if (!x || !y || !cx || !cy) return std::nullopt;
  return WindowPlacementPixels{.x = *x, .y = *y, .cx = *cx, .cy = *cy};
}

float WholeTwipsPerPixel(int dotsPerInch) {
  if (dotsPerInch <= 0) return 0.0f;
  return static_cast<float>(
      NearestInt32(static_cast<double>(common::kTwipsPerInch) / dotsPerInch).value_or(0));
}

WindowPlacementTwips PlacementTwipsOf(const common::PixelRect& window, int dotsPerInchX, int dotsPerInchY) {
  const float factorX = WholeTwipsPerPixel(dotsPerInchX);
  const float factorY = WholeTwipsPerPixel(dotsPerInchY);
  return WindowPlacementTwips{.left = static_cast<float>(window.left) * factorX,
                              .top = static_cast<float>(window.top) * factorY,
                              .width = static_cast<float>(window.Width()) * factorX,
                              .height = static_cast<float>(window.Height()) * factorY,
                              .twipsPerPixelX = factorX,
                              .twipsPerPixelY = factorY};
}

PixelSize WindowPixelSize(float widthTwips, float heightTwips, int dotsPerInch) {
  const auto truncated = [dotsPerInch](float twips) {
    const double pixels = std::trunc(static_cast<double>(twips) * dotsPerInch / common::kTwipsPerInch);
    return std::isfinite(pixels) ? static_cast<int>(std::clamp(pixels, 0.0, 1e6)) : 0;
  };
  return PixelSize{truncated(widthTwips), truncated(heightTwips)};
}

}  // namespace setup
