#include "common/jpeg_decoder.h"

#include <climits>
#include <memory>

// The decoder is built into this file alone, with JPEG as its only format and nothing it does not need:
// no files (the pictures are resources), no floating-point output, no messages for failures that nobody
// reads, and no thread-local state (one thread). The scalar code runs on every build alike, so that
// the 32-bit and the 64-bit programs show the same pixels, and on processors without SSE2.
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_FAILURE_STRINGS
#define STBI_NO_THREAD_LOCALS
#define STBI_NO_SIMD
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace common {

std::optional<Bitmap32> DecodeJpeg(std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  int width = 0;
  int height = 0;
  int channels = 0;
  constexpr int kRgb = 3;
  const std::unique_ptr<stbi_uc, void (*)(void*)> rgb(
      stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width, &height, &channels, kRgb),
      stbi_image_free);
  if (!rgb || width <= 0 || height <= 0) return std::nullopt;
  Bitmap32 picture{width, height, std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height)};
  const stbi_uc* source = rgb.get();
  for (std::uint32_t& pixel : picture.pixels) {
    pixel = 0xFF000000u | std::uint32_t{source[0]} << 16 | std::uint32_t{source[1]} << 8 | source[2];
    source += kRgb;
  }
  return picture;
}

}  // namespace common
