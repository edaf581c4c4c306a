// The load step's topmost placement: the window's box in twips becomes the pixel arguments of
// SetWindowPos, with the exact rounding the launcher has always used.
#pragma once

#include <optional>

#include "common/geometry.h"

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

// Twips per pixel as the load step reads them from the screen: a whole number, the nearest to
// 1440 / dotsPerInch (0 without a resolution). The placement's integer divisions give back the pixels
// the window has only for a whole factor; 7.5 at 192 dpi would shrink the window to 946 x 658 and move
// it up, cutting off the buttons at its right and bottom.
float WholeTwipsPerPixel(int dotsPerInch);

// The window's Left, Top, Width and Height as the load step reads them: its pixel box in twips of the
// whole factors above, across from the horizontal resolution and down from the vertical one.
WindowPlacementTwips PlacementTwipsOf(const common::PixelRect& window, int dotsPerInchX, int dotsPerInchY);

struct PixelSize {
  int width = 0;
  int height = 0;
  friend constexpr bool operator==(const PixelSize&, const PixelSize&) = default;
};

// The window's size at a logical resolution: its design twips over the exact twips per pixel, truncated
// as the load step's divisions truncate (505 x 351 at 96 dpi, 757 x 526 at 144, 1010 x 702 at 192).
PixelSize WindowPixelSize(float widthTwips, float heightTwips, int dotsPerInch);

}  // namespace setup
