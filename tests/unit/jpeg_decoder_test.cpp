#include "common/jpeg_decoder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace {

// A baseline JPEG of three components (Y, Cb, Cr, none subsampled) written at full quality (every
// quantisation step 1), so that flat areas decode to exactly their colours. Each Huffman table has one
// code of each length: 1 bit for its first symbol, 2 for the next, and so on; the AC tables hold only
// the end of block. Pictures differ in their size, their DC symbols and their entropy-coded data.
std::vector<std::uint8_t> Jpeg(std::uint8_t width, std::uint8_t height,
                               const std::vector<std::uint8_t>& lumaDc,
                               const std::vector<std::uint8_t>& chromaDc,
                               const std::vector<std::uint8_t>& scan) {
  std::vector<std::uint8_t> jpeg{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',
                                 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
  for (const std::uint8_t table : {0, 1}) {
    jpeg.insert(jpeg.end(), {0xFF, 0xDB, 0x00, 0x43, table});
    jpeg.insert(jpeg.end(), 64, 0x01);
  }
  jpeg.insert(jpeg.end(), {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, height, 0x00, width, 0x03, 0x01, 0x11, 0x00,
                           0x02, 0x11, 0x01, 0x03, 0x11, 0x01});
  const auto huffman = [&jpeg](std::uint8_t classAndId, const std::vector<std::uint8_t>& symbols) {
    jpeg.insert(jpeg.end(), {0xFF, 0xC4, 0x00, static_cast<std::uint8_t>(19 + symbols.size()), classAndId});
    for (std::size_t bits = 1; bits <= 16; ++bits) jpeg.push_back(bits <= symbols.size() ? 1 : 0);
    jpeg.insert(jpeg.end(), symbols.begin(), symbols.end());
  };
  huffman(0x00, lumaDc);
  huffman(0x10, {0x00});
  huffman(0x01, chromaDc);
  huffman(0x11, {0x00});
  jpeg.insert(jpeg.end(),
              {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00});
  jpeg.insert(jpeg.end(), scan.begin(), scan.end());
  jpeg.insert(jpeg.end(), {0xFF, 0xD9});
  return jpeg;
}

// 16 x 8 pixels: RGB (200, 100, 50) on the left half, (10, 20, 240) on the right.
const std::vector<std::uint8_t> kTwoHalves =
    Jpeg(16, 8, {0x06, 0x0A}, {0x09, 0x0A, 0x0B}, {0x3E, 0x2B, 0xCD, 0x82, 0x5B, 0xDA, 0x68, 0x26, 0x5D});

// The smallest picture there is: one pixel of RGB (60, 180, 90).
const std::vector<std::uint8_t> kOnePixel = Jpeg(1, 1, {0x06}, {0x08, 0x09}, {0x60, 0x1B, 0xA2, 0xBB});

constexpr std::uint32_t kLeft = 0xFFC86432u;  // opaque BGRA, as the screen takes it
constexpr std::uint32_t kRight = 0xFF0A14F0u;

TEST(DecodeJpeg, GivesOpaqueBgraRowsTopDown) {
  const std::optional<common::Bitmap32> picture = common::DecodeJpeg(kTwoHalves);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width, 16);
  EXPECT_EQ(picture->height, 8);
  std::vector<std::uint32_t> expected;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) expected.push_back(x < 8 ? kLeft : kRight);
  EXPECT_EQ(picture->pixels, expected);
}

TEST(DecodeJpeg, OnePixelIsAPictureToo) {
  const std::optional<common::Bitmap32> picture = common::DecodeJpeg(kOnePixel);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width, 1);
  EXPECT_EQ(picture->height, 1);
  EXPECT_EQ(picture->pixels, std::vector<std::uint32_t>{0xFF3CB45Au});
}

TEST(DecodeJpeg, RefusesWhatIsNoPicture) {
  EXPECT_FALSE(common::DecodeJpeg({}));
  const std::array<std::uint8_t, 16> noJpeg{'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'};
  EXPECT_FALSE(common::DecodeJpeg(noJpeg));
  // Its header alone: the size is known, the pixels are not.
  EXPECT_FALSE(common::DecodeJpeg(std::span(kTwoHalves).first(20)));
}

}  // namespace
