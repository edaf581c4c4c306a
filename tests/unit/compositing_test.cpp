#include "common/compositing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/image_scale.h"

namespace {

using common::Bitmap32;
using common::CompositeOver;
using common::IconPicture;
using common::PixelSurface;

constexpr std::uint32_t Bgra(std::uint32_t alpha, std::uint32_t red, std::uint32_t green,
                             std::uint32_t blue) {
  return (alpha << 24) | (red << 16) | (green << 8) | blue;
}
constexpr std::uint32_t Red(std::uint32_t pixel) {
  return (pixel >> 16) & 0xFF;
}
constexpr std::uint32_t Green(std::uint32_t pixel) {
  return (pixel >> 8) & 0xFF;
}
constexpr std::uint32_t Alpha(std::uint32_t pixel) {
  return pixel >> 24;
}

constexpr std::uint32_t kWhiteSurface = 0x00FFFFFFu;  // GDI leaves a surface's alpha at 0

struct TestSurface {
  TestSurface(int width, int height) : width(width), height(height), pixels(width * height, kWhiteSurface) {}
  PixelSurface View() { return {pixels.data(), width, height}; }
  std::uint32_t At(int x, int y) const { return pixels[y * width + x]; }
  int width;
  int height;
  std::vector<std::uint32_t> pixels;
};

Bitmap32 Uniform(int width, int height, std::uint32_t pixel) {
  return Bitmap32{width, height, std::vector<std::uint32_t>(width * height, pixel)};
}

TEST(CompositeOver, OpaqueReplacesTransparentKeepsAndHalfAlphaBlends) {
  TestSurface surface(3, 1);
  Bitmap32 picture{3, 1, {Bgra(255, 10, 20, 30), 0, Bgra(128, 128, 0, 0)}};
  CompositeOver(surface.View(), 0, 0, picture);
  EXPECT_EQ(surface.At(0, 0), Bgra(0, 10, 20, 30));  // the surface's own alpha stays
  EXPECT_EQ(surface.At(1, 0), kWhiteSurface);
  EXPECT_EQ(Red(surface.At(2, 0)), 255u);
  EXPECT_NEAR(static_cast<int>(Green(surface.At(2, 0))), 127, 1);
}

TEST(CompositeOver, ClipsAtEveryEdge) {
  const std::uint32_t black = Bgra(255, 0, 0, 0);
  TestSurface surface(3, 3);
  CompositeOver(surface.View(), -1, -1, Uniform(2, 2, black));
  CompositeOver(surface.View(), 2, 2, Uniform(2, 2, black));
  CompositeOver(surface.View(), 5, -7, Uniform(2, 2, black));
  CompositeOver(surface.View(), -3, 1, Uniform(2, 2, black));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) {
      const bool covered = (x == 0 && y == 0) || (x == 2 && y == 2);
      EXPECT_EQ(surface.At(x, y) & 0xFFFFFFu, covered ? 0u : 0xFFFFFFu) << x << "," << y;
    }
}

// The surface is a view into a larger buffer: a row of guard pixels lies right after its last row.
TEST(CompositeOver, WritesNothingPastTheSurfaceItClipsTo) {
  TestSurface buffer(2, 3);
  const PixelSurface surface{buffer.pixels.data(), 2, 2};
  CompositeOver(surface, 0, 0, Uniform(3, 3, Bgra(255, 0, 0, 0)));
  for (int x = 0; x < 2; ++x) {
    for (int y = 0; y < 2; ++y) EXPECT_EQ(buffer.At(x, y), 0u) << x << "," << y;
    EXPECT_EQ(buffer.At(x, 2), kWhiteSurface) << "guard " << x;
  }
}

TEST(IconPicture, TakesTransparencyFromTheMaskWhenTheIconHasNoAlpha) {
  // Windows fills the colour under a transparent mask bit with black; alpha bytes are all zero.
  const std::vector<std::uint32_t> color{0x00FF0000u, 0x00000000u};
  const std::vector<std::uint32_t> mask{0x00000000u, 0x00FFFFFFu};
  const Bitmap32 icon = IconPicture(2, 1, color, mask);
  ASSERT_EQ(icon.pixels.size(), 2u);
  EXPECT_EQ(icon.pixels[0], Bgra(255, 255, 0, 0));
  EXPECT_EQ(icon.pixels[1], 0u);
}

TEST(IconPicture, UsesAndPremultipliesAnAlphaChannelIgnoringTheMask) {
  const std::vector<std::uint32_t> color{Bgra(128, 255, 255, 255), Bgra(255, 1, 2, 3)};
  const std::vector<std::uint32_t> mask{0x00FFFFFFu, 0x00FFFFFFu};
  const Bitmap32 icon = IconPicture(2, 1, color, mask);
  EXPECT_EQ(icon.pixels[0], Bgra(128, 128, 128, 128));
  EXPECT_EQ(icon.pixels[1], Bgra(255, 1, 2, 3));
}

TEST(IconPicture, ShortInputsLeaveTheRestTransparent) {
  const std::vector<std::uint32_t> color{0x00102030u};
  const Bitmap32 icon = IconPicture(2, 2, color, {});
  ASSERT_EQ(icon.pixels.size(), 4u);
  EXPECT_EQ(Alpha(icon.pixels[0]), 255u);  // no mask: drawn
  EXPECT_EQ(icon.pixels[3], Bgra(255, 0, 0, 0));
}

// The reason pictures are premultiplied: shrinking an icon averages its edge with the transparent
// pixels around it, and whatever colour hides under those must not bleed into the result.
TEST(IconPicture, ScaledEdgesFadeIntoTheBackground) {
  const std::vector<std::uint32_t> color{Bgra(255, 255, 0, 0), Bgra(0, 255, 255, 255)};
  const Bitmap32 shrunk = common::ScaleByAreaAverage(IconPicture(2, 1, color, {}), 1, 1);
  TestSurface surface(1, 1);
  surface.pixels[0] = 0;  // black
  CompositeOver(surface.View(), 0, 0, shrunk);
  EXPECT_NEAR(static_cast<int>(Red(surface.At(0, 0))), 128, 2);
  EXPECT_LE(Green(surface.At(0, 0)), 2u);
}

// Premultiplying takes value * alpha / 255 rounded to the nearest whole number, for every pair: an
// error of one shows as a seam where a picture's soft edge meets the background.
TEST(IconPicture, PremultipliesRoundedToTheNearestValue) {
  std::vector<std::uint32_t> color;
  for (std::uint32_t alpha = 0; alpha < 256; ++alpha)
    for (std::uint32_t value = 0; value < 256; ++value)
      color.push_back(Bgra(alpha, value, value, 255 - value));
  const Bitmap32 icon = IconPicture(256, 256, color, {});
  int wrong = 0;
  for (std::uint32_t alpha = 0; alpha < 256; ++alpha) {
    for (std::uint32_t value = 0; value < 256; ++value) {
      const std::uint32_t product = (2 * value * alpha + 255) / 510;
      const std::uint32_t complement = (2 * (255 - value) * alpha + 255) / 510;
      const std::uint32_t expected = Bgra(alpha, product, product, complement);
      if (icon.pixels[alpha * 256 + value] != expected && ++wrong <= 3)
        ADD_FAILURE() << "value " << value << ", alpha " << alpha;
    }
  }
  EXPECT_EQ(wrong, 0);
}

// Only the alpha byte tells an icon with an alpha channel, and any bit of a mask pixel shows the
// background.
TEST(IconPicture, AnIconWithoutAlphaKeepsItsMaskWhateverItsColours) {
  const std::vector<std::uint32_t> color{0x00000001u, 0x00FFFFFFu, 0x00000000u, 0x0000FF00u};
  const std::vector<std::uint32_t> mask{0x00000000u, 0x00000000u, 0x00FFFFFFu, 0x00000001u};
  const Bitmap32 icon = IconPicture(4, 1, color, mask);
  EXPECT_EQ(icon.pixels, (std::vector<std::uint32_t>{Bgra(255, 0, 0, 1), Bgra(255, 255, 255, 255), 0u, 0u}));
}

TEST(MakeOpaque, SetsEveryAlphaAndKeepsColours) {
  Bitmap32 picture{2, 1, {0x00123456u, 0x7F654321u}};
  common::MakeOpaque(picture);
  EXPECT_EQ(picture.pixels[0], 0xFF123456u);
  EXPECT_EQ(picture.pixels[1], 0xFF654321u);
}

}  // namespace
