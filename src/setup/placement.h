// The load step's topmost placement: the window's box in twips becomes the pixel arguments of
// SetWindowPos, with the exact rounding the launcher has always used.
#pragma once

#include <optional>

namespace setup {

struct WindowPlacementTwips {
  float left = 0;
  float top = 0;
  float width = 0;
  float height = 0;
  float twipsPerPixelX = 15;
  float twipsPerPixelY = 15;
};

struct WindowPlacementPixels {
  int x = 0;
  int y = 0;
  int cx = 0;
  int cy = 0;
  friend constexpr bool operator==(const WindowPlacementPixels&, const WindowPlacementPixels&) = default;
};

// X = nearest(left / tppX) computed in floating point; Y, cx, cy = nearest(operand) div nearest(factor),
// truncating toward zero. nearest() rounds half to even. Any failure (a factor that is or rounds to 0,
// a floating-point fault, a value outside the signed 32-bit range) gives no placement.
std::optional<WindowPlacementPixels> PlacementPixels(const WindowPlacementTwips& twips);

// nearest() of the above: round half to even into a signed 32-bit integer; none when out of range or NaN.
std::optional<int> NearestInt32(double value);

// Twips per pixel at a logical resolution (96 dpi gives 15).
float TwipsPerPixel(int dotsPerInch);

}  // namespace setup
