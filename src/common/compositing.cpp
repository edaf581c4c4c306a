#include "common/compositing.h"

#include <algorithm>

namespace common {
namespace {

constexpr std::uint32_t Channel(std::uint32_t pixel, int shift) {
  return (pixel >> shift) & 0xFFu;
}

// x * y / 255, rounded, for x and y in 0..255.
constexpr std::uint32_t MultiplyUnit(std::uint32_t x, std::uint32_t y) {
  const std::uint32_t product = x * y + 128;
  return (product + (product >> 8)) >> 8;
}

std::uint32_t Premultiplied(std::uint32_t pixel) {
  const std::uint32_t alpha = Channel(pixel, 24);
  return (alpha << 24) | (MultiplyUnit(Channel(pixel, 16), alpha) << 16) |
         (MultiplyUnit(Channel(pixel, 8), alpha) << 8) | MultiplyUnit(Channel(pixel, 0), alpha);
}

std::uint32_t Over(std::uint32_t source, std::uint32_t destination) {
  const std::uint32_t remaining = 255 - Channel(source, 24);
  std::uint32_t result = destination & 0xFF000000u;
  for (int shift : {0, 8, 16}) {
    const std::uint32_t channel =
        Channel(source, shift) + MultiplyUnit(Channel(destination, shift), remaining);
    result |= std::min<std::uint32_t>(channel, 255) << shift;
  }
  return result;
}

}  // namespace

void CompositeOver(PixelSurface surface, int left, int top, const Bitmap32& premultiplied) {
  const int firstX = std::max(0, -left);
  const int firstY = std::max(0, -top);
  const int endX = std::min(premultiplied.width, surface.width - left);
  const int endY = std::min(premultiplied.height, surface.height - top);
  for (int y = firstY; y < endY; ++y) {
    const std::uint32_t* source =
        premultiplied.pixels.data() + static_cast<std::size_t>(y) * premultiplied.width;
    std::uint32_t* destination = surface.pixels + static_cast<std::size_t>(top + y) * surface.width + left;
    for (int x = firstX; x < endX; ++x) destination[x] = Over(source[x], destination[x]);
  }
}

void MakeOpaque(Bitmap32& picture) {
  for (std::uint32_t& pixel : picture.pixels) pixel |= 0xFF000000u;
}

Bitmap32 IconPicture(int width, int height, std::span<const std::uint32_t> color,
                     std::span<const std::uint32_t> mask) {
  Bitmap32 picture{width, height, {}};
  const std::size_t count = static_cast<std::size_t>(width) * height;
  picture.pixels.assign(color.begin(), color.begin() + std::min(count, color.size()));
  picture.pixels.resize(count, 0);
  const bool hasAlpha = std::any_of(picture.pixels.begin(), picture.pixels.end(),
                                    [](std::uint32_t pixel) { return (pixel & 0xFF000000u) != 0; });
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t& pixel = picture.pixels[i];
    if (!hasAlpha) {
      const bool background = i < mask.size() && (mask[i] & 0x00FFFFFFu) != 0;
      pixel = background ? 0 : (pixel | 0xFF000000u);
    }
    pixel = Premultiplied(pixel);
  }
  return picture;
}

}  // namespace common
