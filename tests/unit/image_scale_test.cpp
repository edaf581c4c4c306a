#include "common/image_scale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>

namespace common {
namespace {

constexpr std::uint32_t Bgra(std::uint32_t blue, std::uint32_t green, std::uint32_t red,
                             std::uint32_t alpha) {
  return blue | (green << 8) | (red << 16) | (alpha << 24);
}
constexpr std::uint32_t Grey(std::uint32_t level) {
  return Bgra(level, level, level, 255);
}
constexpr std::uint32_t kWhitePixel = Grey(255);
constexpr std::uint32_t kBlackPixel = Grey(0);

int Channel(std::uint32_t pixel, int channel) {
  return static_cast<int>((pixel >> (8 * channel)) & 0xFF);
}

Bitmap32 Filled(int width, int height, std::uint32_t pixel) {
  return Bitmap32{width, height, std::vector<std::uint32_t>(static_cast<std::size_t>(width * height), pixel)};
}

Bitmap32 Random(int width, int height, unsigned seed) {
  std::mt19937 generator(seed);
  Bitmap32 bitmap = Filled(width, height, 0);
  for (std::uint32_t& pixel : bitmap.pixels) pixel = generator();
  return bitmap;
}

std::uint32_t At(const Bitmap32& bitmap, int x, int y) {
  return bitmap.pixels[static_cast<std::size_t>(y * bitmap.width + x)];
}

std::array<double, 4> MeanOf(const Bitmap32& bitmap) {
  std::array<double, 4> sum{};
  for (const std::uint32_t pixel : bitmap.pixels) {
    for (int channel = 0; channel < 4; ++channel) sum[channel] += Channel(pixel, channel);
  }
  for (double& channelSum : sum) channelSum /= static_cast<double>(bitmap.pixels.size());
  return sum;
}

// Independent reference: integrates every target pixel's rectangle over the source in real coordinates.
double ReferenceChannel(const Bitmap32& src, int width, int height, int x, int y, int channel) {
  const double scaleX = static_cast<double>(src.width) / width;
  const double scaleY = static_cast<double>(src.height) / height;
  const double left = x * scaleX, right = (x + 1) * scaleX, top = y * scaleY, bottom = (y + 1) * scaleY;
  double sum = 0;
  for (int sy = 0; sy < src.height; ++sy) {
    const double coverY = std::min<double>(bottom, sy + 1) - std::max<double>(top, sy);
    if (coverY <= 0) continue;
    for (int sx = 0; sx < src.width; ++sx) {
      const double coverX = std::min<double>(right, sx + 1) - std::max<double>(left, sx);
      if (coverX > 0) sum += coverX * coverY * Channel(At(src, sx, sy), channel);
    }
  }
  return sum / (scaleX * scaleY);
}

TEST(ScaleByAreaAverageTest, ThinLineSurvivesAStrongReductionAsGrey) {
  // The left picture is 303 pixels tall; a one-pixel dark line at any height must still show after
  // squeezing to 40 %, lighter but not dropped, and carry its share of darkness, no more, no less.
  constexpr int kSourceHeight = 303;
  constexpr int kTargetHeight = 121;
  for (int lineRow = 0; lineRow < kSourceHeight; ++lineRow) {
    Bitmap32 src = Filled(3, kSourceHeight, kWhitePixel);
    for (int x = 0; x < 3; ++x) src.pixels[static_cast<std::size_t>(lineRow * 3 + x)] = kBlackPixel;
    const Bitmap32 scaled = ScaleByAreaAverage(src, 3, kTargetHeight);
    int darkest = 255;
    double darkness = 0;
    for (int y = 0; y < kTargetHeight; ++y) {
      const int level = Channel(At(scaled, 1, y), 1);
      darkest = std::min(darkest, level);
      darkness += 255 - level;
    }
    // The line covers 121/303 of one target row; split over two rows, the larger part is at least half.
    EXPECT_LE(darkest, 255 - 255 * kTargetHeight / kSourceHeight / 2) << "line at row " << lineRow;
    EXPECT_GT(darkest, 0) << "line at row " << lineRow << " was not blended";
    EXPECT_NEAR(darkness * kSourceHeight / kTargetHeight, 255, kSourceHeight / kTargetHeight + 1.0)
        << "line at row " << lineRow;
  }
}

TEST(ScaleByAreaAverageTest, UniformImageStaysUniformInEveryChannel) {
  const std::uint32_t pixel = Bgra(10, 100, 200, 50);
  for (const auto& [width, height] :
       {std::pair{410, 109}, std::pair{93, 319}, std::pair{1, 1}, std::pair{7, 500}}) {
    const Bitmap32 scaled = ScaleByAreaAverage(Filled(410, 274, pixel), width, height);
    ASSERT_EQ(scaled.pixels.size(), static_cast<std::size_t>(width * height));
    EXPECT_TRUE(
        std::all_of(scaled.pixels.begin(), scaled.pixels.end(), [&](std::uint32_t p) { return p == pixel; }))
        << width << " x " << height;
  }
}

TEST(ScaleByAreaAverageTest, PreservesTheMeanColour) {
  const Bitmap32 src = Random(90, 303, 7);
  const std::array<double, 4> before = MeanOf(src);
  for (const auto& [width, height] :
       {std::pair{93, 319}, std::pair{36, 121}, std::pair{89, 302}, std::pair{181, 607}}) {
    const Bitmap32 scaled = ScaleByAreaAverage(src, width, height);
    const std::array<double, 4> after = MeanOf(scaled);
    // Rounding each pixel moves the mean by at most half a level.
    for (int channel = 0; channel < 4; ++channel) {
      EXPECT_NEAR(after[channel], before[channel], 0.5)
          << width << " x " << height << ", channel " << channel;
    }
  }
}

TEST(ScaleByAreaAverageTest, MatchesAnAreaIntegralForEveryPixelAndChannel) {
  const Bitmap32 src = Random(13, 11, 42);
  for (const auto& [width, height] :
       {std::pair{5, 4}, std::pair{13, 3}, std::pair{29, 17}, std::pair{1, 11}, std::pair{7, 7}}) {
    const Bitmap32 scaled = ScaleByAreaAverage(src, width, height);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        for (int channel = 0; channel < 4; ++channel) {
          EXPECT_NEAR(Channel(At(scaled, x, y), channel), ReferenceChannel(src, width, height, x, y, channel),
                      0.5001)
              << width << " x " << height << " at " << x << "," << y << " channel " << channel;
        }
      }
    }
  }
}

TEST(ScaleByAreaAverageTest, RoundsToTheNearestLevel) {
  // Three source pixels into one: 1/3 rounds down, 2/3 rounds up, a truncating average would give 0 both
  // times.
  Bitmap32 src{3, 1, {Grey(0), Grey(0), Grey(1)}};
  EXPECT_EQ(Channel(ScaleByAreaAverage(src, 1, 1).pixels[0], 0), 0);
  src.pixels = {Grey(0), Grey(1), Grey(1)};
  EXPECT_EQ(Channel(ScaleByAreaAverage(src, 1, 1).pixels[0], 0), 1);
}

TEST(ScaleByAreaAverageTest, AveragesAlphaLikeTheColours) {
  const Bitmap32 src{
      2, 2, {Bgra(0, 0, 0, 0), Bgra(255, 255, 255, 255), Bgra(255, 255, 255, 255), Bgra(0, 0, 0, 0)}};
  EXPECT_EQ(ScaleByAreaAverage(src, 1, 1).pixels[0], Bgra(128, 128, 128, 128));
}

TEST(ScaleByAreaAverageTest, IdentityKeepsEveryPixel) {
  const Bitmap32 src = Random(17, 9, 3);
  const Bitmap32 scaled = ScaleByAreaAverage(src, 17, 9);
  EXPECT_EQ(scaled.width, 17);
  EXPECT_EQ(scaled.height, 9);
  EXPECT_EQ(scaled.pixels, src.pixels);
}

TEST(ScaleByAreaAverageTest, SinglePixelFillsAnySizeAndAnyImageShrinksToItsMean) {
  const std::uint32_t pixel = Bgra(1, 2, 3, 4);
  const Bitmap32 grown = ScaleByAreaAverage(Bitmap32{1, 1, {pixel}}, 5, 7);
  EXPECT_EQ(grown.pixels, Filled(5, 7, pixel).pixels);
  EXPECT_EQ(ScaleByAreaAverage(Bitmap32{1, 1, {pixel}}, 1, 1).pixels, std::vector<std::uint32_t>{pixel});

  const Bitmap32 src{4, 1, {Grey(10), Grey(20), Grey(30), Grey(41)}};
  EXPECT_EQ(ScaleByAreaAverage(src, 1, 1).pixels[0], Grey(25));  // 25.25
}

TEST(ScaleByAreaAverageTest, EnlargingReplicatesAndBlendsAtPixelBorders) {
  const Bitmap32 src{2, 1, {Grey(0), Grey(255)}};
  EXPECT_EQ(ScaleByAreaAverage(src, 4, 1).pixels, (std::vector{Grey(0), Grey(0), Grey(255), Grey(255)}));
  EXPECT_EQ(ScaleByAreaAverage(src, 3, 1).pixels, (std::vector{Grey(0), Grey(128), Grey(255)}));
  const Bitmap32 column{1, 2, {Grey(0), Grey(255)}};
  EXPECT_EQ(ScaleByAreaAverage(column, 2, 3).pixels,
            (std::vector{Grey(0), Grey(0), Grey(128), Grey(128), Grey(255), Grey(255)}));
}

TEST(ScaleByAreaAverageTest, ScalesEachAxisOnItsOwn) {
  // Columns of distinct levels squeezed only vertically must keep each column's level exactly.
  Bitmap32 src = Filled(4, 303, 0);
  for (int y = 0; y < 303; ++y) {
    for (int x = 0; x < 4; ++x)
      src.pixels[static_cast<std::size_t>(y * 4 + x)] = Grey(static_cast<std::uint32_t>(60 * x));
  }
  const Bitmap32 scaled = ScaleByAreaAverage(src, 4, 40);
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 4; ++x)
      ASSERT_EQ(At(scaled, x, y), Grey(static_cast<std::uint32_t>(60 * x))) << x << "," << y;
  }
}

TEST(ScaleByAreaAverageTest, EmptySourceOrSizeGivesABlankBitmapOfAtLeastOnePixel) {
  const Bitmap32 fromEmpty = ScaleByAreaAverage(Bitmap32{}, 3, 2);
  EXPECT_EQ(fromEmpty.pixels, std::vector<std::uint32_t>(6, 0));
  const Bitmap32 toNothing = ScaleByAreaAverage(Filled(2, 2, kWhitePixel), 0, -4);
  EXPECT_EQ(toNothing.width, 1);
  EXPECT_EQ(toNothing.height, 1);
  EXPECT_EQ(toNothing.pixels, std::vector<std::uint32_t>{kWhitePixel});
}

}  // namespace
}  // namespace common
