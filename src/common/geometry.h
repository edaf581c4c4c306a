// Units of both programs' window designs: boxes in twips (1/1440 inch) and RGB colours.
// Geometry stays in twips until TwipsToPixels turns it into pixels for the screen's resolution.
#pragma once

#include <cstdint>

namespace common {

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend constexpr bool operator==(Rgb, Rgb) = default;
};

inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlack{0, 0, 0};

// A control's box: Left, Top, Width, Height in twips, relative to its container's client area.
struct TwipBox {
  float left = 0;
  float top = 0;
  float width = 0;
  float height = 0;
};

// A line's end points in twips.
struct TwipLine {
  float x1 = 0;
  float y1 = 0;
  float x2 = 0;
  float y2 = 0;
};

struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  constexpr int Width() const { return right - left; }
  constexpr int Height() const { return bottom - top; }
  friend constexpr bool operator==(const PixelRect&, const PixelRect&) = default;
};

struct PixelPoint {
  int x = 0;
  int y = 0;
  friend constexpr bool operator==(PixelPoint, PixelPoint) = default;
};

inline constexpr float kTwipsPerInch = 1440.0f;

// The one conversion from twips to pixels at a logical resolution of dotsPerInch (96 gives 15 twips per
// pixel). Rounds to the nearest pixel, so that both edges of a box land on the same grid and adjacent
// boxes neither overlap nor gap.
int TwipsToPixels(float twips, int dotsPerInch);
PixelRect TwipsToPixels(const TwipBox& box, int dotsPerInch);
PixelPoint TwipsToPixels(float xTwips, float yTwips, int dotsPerInch);

// A line width or icon size given in pixels at 96 dpi, scaled to the current resolution (at least 1).
int ScalePixels(int pixelsAt96, int dotsPerInch);

}  // namespace common
