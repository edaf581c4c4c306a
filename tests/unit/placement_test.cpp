#include "setup/placement.h"

#include <gtest/gtest.h>

#include <limits>

namespace setup {
namespace {

using common::PixelRect;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

WindowPlacementTwips At(float left, float top, float width = 7575, float height = 5265, float tppX = 15,
                        float tppY = 15) {
  return WindowPlacementTwips{.left = left,
                              .top = top,
                              .width = width,
                              .height = height,
                              .twipsPerPixelX = tppX,
                              .twipsPerPixelY = tppY};
}

TEST(NearestInt32Test, TiesGoToTheEvenNeighbour) {
  EXPECT_EQ(NearestInt32(80.5), 80);
  EXPECT_EQ(NearestInt32(81.5), 82);
  EXPECT_EQ(NearestInt32(0.5), 0);
  EXPECT_EQ(NearestInt32(1.5), 2);
  EXPECT_EQ(NearestInt32(-0.5), 0);
  EXPECT_EQ(NearestInt32(-80.5), -80);
  EXPECT_EQ(NearestInt32(-81.5), -82);
}

TEST(NearestInt32Test, OtherwiseTakesTheNearest) {
  EXPECT_EQ(NearestInt32(66.6667), 67);
  EXPECT_EQ(NearestInt32(-6.6667), -7);
  EXPECT_EQ(NearestInt32(80.500001), 81);
  EXPECT_EQ(NearestInt32(0.49999999999999994), 0);
  EXPECT_EQ(NearestInt32(-1.4999), -1);
  EXPECT_EQ(NearestInt32(15.0), 15);
}

TEST(NearestInt32Test, RefusesWhatDoesNotFitInThirtyTwoBits) {
  EXPECT_EQ(NearestInt32(2147483647.0), 2147483647);
  EXPECT_EQ(NearestInt32(2147483647.4), 2147483647);
  EXPECT_EQ(NearestInt32(2147483647.5), std::nullopt);  // the even neighbour is 2^31
  EXPECT_EQ(NearestInt32(-2147483648.5), std::numeric_limits<int>::min());
  EXPECT_EQ(NearestInt32(-2147483648.6), std::nullopt);
  EXPECT_EQ(NearestInt32(1e12), std::nullopt);
  EXPECT_EQ(NearestInt32(-1e300), std::nullopt);
  EXPECT_EQ(NearestInt32(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
  EXPECT_EQ(NearestInt32(std::numeric_limits<double>::infinity()), std::nullopt);
  EXPECT_EQ(NearestInt32(-std::numeric_limits<double>::infinity()), std::nullopt);
}

TEST(PlacementPixelsTest, RoundsTheLeftEdgeButTruncatesTheOthers) {
  // 1000 / 15 = 66.67: X takes the nearest integer, Y the truncated quotient.
  const auto placement = PlacementPixels(At(1000, 1000));
  ASSERT_TRUE(placement);
  EXPECT_EQ(placement->x, 67);
  EXPECT_EQ(placement->y, 66);
}

TEST(PlacementPixelsTest, SizeOfTheSetupWindow) {
  EXPECT_EQ(PlacementPixels(At(0, 0, 7575, 5265)), (WindowPlacementPixels{0, 0, 505, 351}));
}

TEST(PlacementPixelsTest, HalfwayLeftEdgeGoesToTheEvenPixel) {
  EXPECT_EQ(PlacementPixels(At(1207.5f, 0))->x, 80);  // 80.5
  EXPECT_EQ(PlacementPixels(At(1222.5f, 0))->x, 82);  // 81.5
}

TEST(PlacementPixelsTest, NegativePositionsRoundAndTruncateTowardZero) {
  const auto placement = PlacementPixels(At(-100, -100));
  ASSERT_TRUE(placement);
  EXPECT_EQ(placement->x, -7);  // nearest to -6.67
  EXPECT_EQ(placement->y, -6);  // truncated toward zero, not floored
}

TEST(PlacementPixelsTest, OperandsAreMadeIntegersBeforeTheDivision) {
  // Factor 14.5 becomes 14 and 15.5 becomes 16 (ties to even) before they divide.
  EXPECT_EQ(PlacementPixels(At(0, 28.5f, 7575, 5265, 15, 14.5f))->y, 2);  // 28 div 14; 28.5 / 14.5 is 1.97
  EXPECT_EQ(PlacementPixels(At(0, 0, 7575, 5265, 15, 14.5f))->cy, 376);   // 5265 div 14; / 14.5 is 363.1
  EXPECT_EQ(PlacementPixels(At(0, 0, 7575, 5265, 15.5f, 15))->cx, 473);   // 7575 div 16; / 15.5 is 488.7
}

TEST(PlacementPixelsTest, LeftQuotientIsTakenInSinglePrecision) {
  // At 150 dpi the factor is 9.6. 168 / 9.6f is 17.4999993 exactly, but rounds to 17.5 in single
  // precision, and 17.5 goes to the even 18. A double quotient would give 17.
  const float factor = 1440.0f / 150;
  ASSERT_EQ(factor, 9.6f);
  EXPECT_EQ(PlacementPixels(At(168, 0, 7575, 5265, factor, factor))->x, 18);
}

TEST(PlacementPixelsTest, VerticalFactorThatRoundsToZeroGivesNoPlacement) {
  EXPECT_EQ(PlacementPixels(At(0, 0, 7575, 5265, 15, 0.5f)), std::nullopt);  // 0.5 goes to the even 0
  EXPECT_EQ(PlacementPixels(At(0, 0, 7575, 5265, 15, 0.3f)), std::nullopt);
  EXPECT_EQ(PlacementPixels(At(0, 0, 7575, 5265, 15, -0.5f)), std::nullopt);
  EXPECT_EQ(PlacementPixels(At(0, 0, 7575, 5265, 15, 0.0f)), std::nullopt);
  // Just above a half rounds to 1, which divides.
  EXPECT_EQ(PlacementPixels(At(0, 30, 7575, 5265, 15, 0.50001f)), (WindowPlacementPixels{0, 30, 505, 5265}));
  EXPECT_EQ(PlacementPixels(At(0, 30, 7575, 5265, 15, 1.5f)), (WindowPlacementPixels{0, 15, 505, 2632}));
}

TEST(PlacementPixelsTest, HorizontalFactorZeroOrRoundingToZeroGivesNoPlacement) {
  // Zero: X divides by zero in floating point (and the width by zero as an integer).
  EXPECT_EQ(PlacementPixels(At(1000, 0, 7575, 5265, 0.0f, 15)), std::nullopt);
  EXPECT_EQ(PlacementPixels(At(0, 0, 7575, 5265, 0.0f, 15)), std::nullopt);  // 0 / 0
  // 0.4 is a fine divisor for X, but the width's divisor rounds to 0.
  EXPECT_EQ(PlacementPixels(At(10, 0, 7575, 5265, 0.4f, 15)), std::nullopt);
}

TEST(PlacementPixelsTest, LeftQuotientOverflowGivesNoPlacement) {
  // 3e38 / 0.6 exceeds the single-precision range, while every other value (the factor 0.6 rounds to 1)
  // would place the window.
  EXPECT_EQ(PlacementPixels(At(3e38f, 0, 7575, 5265, 0.6f, 15)), std::nullopt);
  EXPECT_EQ(PlacementPixels(At(3e6f, 0, 7575, 5265, 0.6f, 15)),
            (WindowPlacementPixels{5000000, 0, 7575, 351}));
}

TEST(PlacementPixelsTest, HugeValueInAnyFieldGivesNoPlacement) {
  EXPECT_EQ(PlacementPixels(At(1e12f, 0)), std::nullopt);
  EXPECT_EQ(PlacementPixels(At(0, 1e12f)), std::nullopt);
  EXPECT_EQ(PlacementPixels(At(0, 0, 1e12f)), std::nullopt);
  EXPECT_EQ(PlacementPixels(At(0, 0, 7575, 1e12f)), std::nullopt);
  EXPECT_EQ(PlacementPixels(At(0, 0, 7575, 5265, 1e12f, 15)), std::nullopt);
  EXPECT_EQ(PlacementPixels(At(0, 0, 7575, 5265, 15, 1e12f)), std::nullopt);
  // Just inside the range still places.
  EXPECT_EQ(PlacementPixels(At(0, 2147483520.0f, 7575, 5265, 15, 1))->y, 2147483520);
}

TEST(PlacementPixelsTest, NotANumberOrInfinityInAnyFieldGivesNoPlacement) {
  for (const float bad : {kNaN, kInfinity, -kInfinity}) {
    EXPECT_EQ(PlacementPixels(At(bad, 0)), std::nullopt) << bad;
    EXPECT_EQ(PlacementPixels(At(0, bad)), std::nullopt) << bad;
    EXPECT_EQ(PlacementPixels(At(0, 0, bad)), std::nullopt) << bad;
    EXPECT_EQ(PlacementPixels(At(0, 0, 7575, bad)), std::nullopt) << bad;
    EXPECT_EQ(PlacementPixels(At(0, 0, 7575, 5265, 15, bad)), std::nullopt) << bad;
  }
  EXPECT_EQ(PlacementPixels(At(0, 0, 7575, 5265, kNaN, 15)), std::nullopt);
  // An infinite horizontal factor is no fault for X (the quotient is 0), but the width cannot use it.
  EXPECT_EQ(PlacementPixels(At(0, 0, 7575, 5265, kInfinity, 15)), std::nullopt);
}

TEST(PlacementPixelsTest, QuotientThatOverflowsTheIntegerDivisionGivesNoPlacement) {
  // -2^31 div -1 is 2^31, one more than a signed 32-bit value holds.
  EXPECT_EQ(PlacementPixels(At(0, -2147483648.0f, 7575, 5265, 15, -1)), std::nullopt);
  EXPECT_EQ(PlacementPixels(At(0, -2147483648.0f, 7575, 5265, 15, 1))->y, std::numeric_limits<int>::min());
}

TEST(PlacementPixelsTest, NegativeFactorsDivideLikeAnyOther) {
  EXPECT_EQ(PlacementPixels(At(-1000, 1000, 7575, 5265, -15, -15)),
            (WindowPlacementPixels{67, -66, -505, -351}));
}

TEST(WholeTwipsPerPixelTest, IsTheNearestWholeNumberHalfToEven) {
  EXPECT_EQ(WholeTwipsPerPixel(96), 15.0f);
  EXPECT_EQ(WholeTwipsPerPixel(120), 12.0f);
  EXPECT_EQ(WholeTwipsPerPixel(144), 10.0f);
  EXPECT_EQ(WholeTwipsPerPixel(168), 9.0f);  // 8.57
  EXPECT_EQ(WholeTwipsPerPixel(192), 8.0f);  // 7.5 goes to the even 8
  EXPECT_EQ(WholeTwipsPerPixel(288), 5.0f);
  EXPECT_EQ(WholeTwipsPerPixel(0), 0.0f);
  EXPECT_EQ(WholeTwipsPerPixel(-96), 0.0f);
}

TEST(WindowPixelSizeTest, DesignTwipsOverTheExactFactorTruncated) {
  EXPECT_EQ(WindowPixelSize(7575, 5265, 96), (PixelSize{505, 351}));
  EXPECT_EQ(WindowPixelSize(7575, 5265, 120), (PixelSize{631, 438}));   // 631.25 x 438.75
  EXPECT_EQ(WindowPixelSize(7575, 5265, 144), (PixelSize{757, 526}));   // 757.5 x 526.5
  EXPECT_EQ(WindowPixelSize(7575, 5265, 168), (PixelSize{883, 614}));   // 883.75 x 614.25
  EXPECT_EQ(WindowPixelSize(7575, 5265, 192), (PixelSize{1010, 702}));  // exact
  EXPECT_EQ(WindowPixelSize(7575, 5265, 0), (PixelSize{0, 0}));
}

// The load step reads the window where it stands and must leave it there, at any resolution; with the
// exact factor 7.5 at 192 dpi its divisions by 8 would shrink and move it.
TEST(PlacementTwipsOfTest, PlacementKeepsTheWindowsBoxAtEveryResolution) {
  for (const int dpi : {72, 96, 120, 144, 168, 192, 240, 288}) {
    const PixelSize size = WindowPixelSize(7575, 5265, dpi);
    for (const PixelRect box :
         {PixelRect{259, 208, 259 + size.width, 208 + size.height}, PixelRect{0, 0, size.width, size.height},
          PixelRect{-37, -3, -37 + size.width, -3 + size.height}}) {
      const auto placement = PlacementPixels(PlacementTwipsOf(box, dpi, dpi));
      ASSERT_TRUE(placement) << dpi;
      EXPECT_EQ(*placement, (WindowPlacementPixels{box.left, box.top, box.Width(), box.Height()})) << dpi;
    }
  }
}

TEST(PlacementTwipsOfTest, ReportsTwipsOfTheWholeFactor) {
  const WindowPlacementTwips twips = PlacementTwipsOf(PixelRect{7, 33, 1017, 735}, 192, 192);
  EXPECT_EQ(twips.left, 56.0f);
  EXPECT_EQ(twips.top, 264.0f);
  EXPECT_EQ(twips.width, 8080.0f);
  EXPECT_EQ(twips.height, 5616.0f);
  EXPECT_EQ(twips.twipsPerPixelX, 8.0f);
  EXPECT_EQ(twips.twipsPerPixelY, 8.0f);
  // At 96 dpi the window's design twips come back unchanged.
  const WindowPlacementTwips design = PlacementTwipsOf(PixelRect{0, 0, 505, 351}, 96, 96);
  EXPECT_EQ(design.width, 7575.0f);
  EXPECT_EQ(design.height, 5265.0f);
}

TEST(PlacementTwipsOfTest, ResolutionTooHighForAWholeFactorGivesNoPlacement) {
  EXPECT_EQ(PlacementPixels(PlacementTwipsOf(PixelRect{0, 0, 100, 100}, 0, 0)), std::nullopt);
  EXPECT_EQ(PlacementPixels(PlacementTwipsOf(PixelRect{0, 0, 100, 100}, 2881, 2881)),
            std::nullopt);  // 0.4998
}

// TwipsPerPixelY comes from the vertical resolution, and only Top and Height are measured in it.
TEST(PlacementTwipsOfTest, EachDirectionTakesItsOwnResolution) {
  const WindowPlacementTwips twips = PlacementTwipsOf(PixelRect{10, 20, 110, 220}, 96, 144);
  EXPECT_EQ(twips.twipsPerPixelX, 15.0f);
  EXPECT_EQ(twips.twipsPerPixelY, 10.0f);
  EXPECT_EQ(twips.left, 150.0f);
  EXPECT_EQ(twips.width, 1500.0f);
  EXPECT_EQ(twips.top, 200.0f);
  EXPECT_EQ(twips.height, 2000.0f);
  EXPECT_EQ(PlacementPixels(twips), (WindowPlacementPixels{10, 20, 100, 200}));
  // A vertical factor that rounds to 0 fails the placement however good the horizontal one is.
  EXPECT_EQ(PlacementPixels(PlacementTwipsOf(PixelRect{0, 0, 100, 100}, 96, 2881)), std::nullopt);
}

}  // namespace
}  // namespace setup
