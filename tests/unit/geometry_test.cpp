#include "common/geometry.h"

#include <gtest/gtest.h>

#include <limits>

namespace common {
namespace {

TEST(TwipsToPixelsTest, ConvertsAtTheUsualResolutions) {
  EXPECT_EQ(TwipsToPixels(15.0f, 96), 1);
  EXPECT_EQ(TwipsToPixels(7575.0f, 96), 505);
  EXPECT_EQ(TwipsToPixels(5265.0f, 96), 351);
  EXPECT_EQ(TwipsToPixels(7575.0f, 120), 631);  // 631.25
  EXPECT_EQ(TwipsToPixels(7575.0f, 144), 758);  // 757.5
  EXPECT_EQ(TwipsToPixels(0.0f, 144), 0);
}

TEST(TwipsToPixelsTest, RoundsToTheNearestPixelInBothDirections) {
  EXPECT_EQ(TwipsToPixels(22.0f, 96), 1);   // 1.47
  EXPECT_EQ(TwipsToPixels(23.0f, 96), 2);   // 1.53
  EXPECT_EQ(TwipsToPixels(7.5f, 96), 1);    // half a pixel
  EXPECT_EQ(TwipsToPixels(-7.5f, 96), -1);  // symmetric about zero
  EXPECT_EQ(TwipsToPixels(-240.0f, 96), -16);
  EXPECT_EQ(TwipsToPixels(-22.0f, 96), -1);
}

TEST(TwipsToPixelsTest, FarAwayValuesSaturateInsteadOfWrapping) {
  EXPECT_EQ(TwipsToPixels(60000.0f, 96), 4000);
  EXPECT_EQ(TwipsToPixels(1e12f, 96), std::numeric_limits<int>::max());
  EXPECT_EQ(TwipsToPixels(-1e12f, 96), std::numeric_limits<int>::min());
  EXPECT_EQ(TwipsToPixels(std::numeric_limits<float>::quiet_NaN(), 96), 0);
}

TEST(TwipsToPixelsTest, BoxRoundsEachEdgeOnItsOwn) {
  // Left 7 (0.47 px) and right 14 (0.93 px): one pixel wide, although the width alone would round to 0.
  EXPECT_EQ(TwipsToPixels(TwipBox{7, 7, 7, 7}, 96), (PixelRect{0, 0, 1, 1}));
  EXPECT_EQ(TwipsToPixels(TwipBox{1410, 3600, 6150, 1635}, 96), (PixelRect{94, 240, 504, 349}));
  EXPECT_EQ(TwipsToPixels(TwipBox{1410, 3600, 6150, 1635}, 120), (PixelRect{118, 300, 630, 436}));
}

TEST(TwipsToPixelsTest, AdjacentBoxesNeitherOverlapNorGap) {
  // Boxes laid edge to edge in twips at awkward offsets must stay edge to edge in pixels.
  for (const int dotsPerInch : {96, 120, 144, 168, 192}) {
    float left = 0;
    for (const float width : {7.0f, 23.0f, 1395.0f, 1140.5f, 11.0f, 345.0f, 8.0f}) {
      const PixelRect first = TwipsToPixels(TwipBox{left, left, width, width}, dotsPerInch);
      const PixelRect second = TwipsToPixels(TwipBox{left + width, left + width, 100, 100}, dotsPerInch);
      EXPECT_EQ(first.right, second.left) << "dpi " << dotsPerInch << ", left " << left;
      EXPECT_EQ(first.bottom, second.top) << "dpi " << dotsPerInch << ", left " << left;
      left += width;
    }
  }
}

TEST(TwipsToPixelsTest, PointConvertsEachCoordinate) {
  EXPECT_EQ(TwipsToPixels(7560.0f, 450.0f, 96), (PixelPoint{504, 30}));
  EXPECT_EQ(TwipsToPixels(-240.0f, 5250.0f, 144), (PixelPoint{-24, 525}));
}

TEST(ScalePixelsTest, ScalesFrom96DotsPerInchAndNeverVanishes) {
  EXPECT_EQ(ScalePixels(13, 96), 13);
  EXPECT_EQ(ScalePixels(100, 96), 100);
  EXPECT_EQ(ScalePixels(2, 144), 3);
  EXPECT_EQ(ScalePixels(3, 144), 5);  // 4.5
  EXPECT_EQ(ScalePixels(32, 120), 40);
  EXPECT_EQ(ScalePixels(1, 48), 1);  // half a pixel still draws
  EXPECT_EQ(ScalePixels(1, 24), 1);
  EXPECT_EQ(ScalePixels(0, 96), 1);
}

}  // namespace
}  // namespace common
