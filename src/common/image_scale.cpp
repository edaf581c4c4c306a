#include "common/image_scale.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>

namespace common {
namespace {

constexpr int kChannels = 4;

// How one axis of sourceSize pixels maps onto targetSize pixels. Both axes are measured in units of
// 1 / (sourceSize * targetSize) of the whole length, so every overlap is an exact integer: source pixel
// s spans [s * targetSize, (s + 1) * targetSize) and target pixel t spans [t * sourceSize,
// (t + 1) * sourceSize). The weights of one target pixel therefore always add up to sourceSize.
struct AxisCoverage {
  std::vector<int> firstSource;          // per target pixel
  std::vector<std::size_t> weightStart;  // per target pixel, plus one end marker
  std::vector<std::uint32_t> weights;    // overlap of each source pixel under the target pixel, in order

  AxisCoverage(int sourceSize, int targetSize) {
    firstSource.reserve(static_cast<std::size_t>(targetSize));
    weightStart.reserve(static_cast<std::size_t>(targetSize) + 1);
    // A target pixel touches at most two more source pixels than the ratio, and neighbours share one.
    weights.reserve(static_cast<std::size_t>(sourceSize) + static_cast<std::size_t>(targetSize));
    const std::int64_t source = sourceSize;
    const std::int64_t target = targetSize;
    for (std::int64_t t = 0; t < target; ++t) {
      const std::int64_t begin = t * source;
      const std::int64_t end = begin + source;
      const std::int64_t first = begin / target;
      firstSource.push_back(static_cast<int>(first));
      weightStart.push_back(weights.size());
      for (std::int64_t s = first; s < source && s * target < end; ++s) {
        const std::int64_t overlap = std::min(end, (s + 1) * target) - std::max(begin, s * target);
        weights.push_back(static_cast<std::uint32_t>(overlap));
      }
    }
    weightStart.push_back(weights.size());
  }

  std::span<const std::uint32_t> WeightsOf(int targetPixel) const {
    const auto index = static_cast<std::size_t>(targetPixel);
    return std::span(weights).subspan(weightStart[index], weightStart[index + 1] - weightStart[index]);
  }
};

}  // namespace

Bitmap32 ScaleByAreaAverage(const Bitmap32& src, int width, int height) {
  Bitmap32 result{.width = std::max(width, 1), .height = std::max(height, 1), .pixels = {}};
  const auto targetWidth = static_cast<std::size_t>(result.width);
  const auto targetHeight = static_cast<std::size_t>(result.height);
  result.pixels.assign(targetWidth * targetHeight, 0);
  const auto sourceWidth = static_cast<std::size_t>(std::max(src.width, 0));
  const auto sourceHeight = static_cast<std::size_t>(std::max(src.height, 0));
  if (sourceWidth == 0 || sourceHeight == 0 || src.pixels.size() < sourceWidth * sourceHeight) return result;

  const AxisCoverage across(src.width, result.width);
  const AxisCoverage down(src.height, result.height);

  // Each target row is the weighted sum of the source rows under it, each of those the weighted sums
  // along that row. The sums stay whole numbers until the one division with rounding at the very end.
  // Only one source row's sums are kept: neighbouring target rows share at most their border row,
  // which is the row computed last.
  const auto channelCount = targetWidth * kChannels;
  std::vector<std::uint32_t> rowSums(channelCount);  // each at most 255 * source width
  std::vector<std::uint64_t> columnSums(channelCount);
  std::size_t summedRow = sourceHeight;  // none yet
  const auto sumAlongRow = [&](std::size_t y) {
    const std::uint32_t* sourceRow = src.pixels.data() + y * sourceWidth;
    for (int x = 0; x < result.width; ++x) {
      const std::uint32_t* sourcePixel = sourceRow + across.firstSource[static_cast<std::size_t>(x)];
      std::array<std::uint32_t, kChannels> sum{};
      for (const std::uint32_t weight : across.WeightsOf(x)) {
        const std::uint32_t pixel = *sourcePixel++;
        sum[0] += weight * (pixel & 0xFFu);
        sum[1] += weight * ((pixel >> 8) & 0xFFu);
        sum[2] += weight * ((pixel >> 16) & 0xFFu);
        sum[3] += weight * (pixel >> 24);
      }
      std::copy(sum.begin(), sum.end(), rowSums.data() + static_cast<std::size_t>(x) * kChannels);
    }
    summedRow = y;
  };

  const std::uint64_t totalWeight = static_cast<std::uint64_t>(sourceWidth) * sourceHeight;
  for (int y = 0; y < result.height; ++y) {
    std::fill(columnSums.begin(), columnSums.end(), 0);
    auto sourceY = static_cast<std::size_t>(down.firstSource[static_cast<std::size_t>(y)]);
    for (const std::uint32_t weight : down.WeightsOf(y)) {
      if (sourceY != summedRow) sumAlongRow(sourceY);
      for (std::size_t i = 0; i < channelCount; ++i) columnSums[i] += std::uint64_t{weight} * rowSums[i];
      ++sourceY;
    }
    std::uint32_t* targetRow = result.pixels.data() + static_cast<std::size_t>(y) * targetWidth;
    for (std::size_t x = 0; x < targetWidth; ++x) {
      std::uint32_t pixel = 0;
      for (int channel = 0; channel < kChannels; ++channel) {
        const std::uint64_t sum = columnSums[x * kChannels + static_cast<std::size_t>(channel)];
        const auto value = static_cast<std::uint32_t>((sum + totalWeight / 2) / totalWeight);
        pixel |= value << (8 * channel);
      }
      targetRow[x] = pixel;
    }
  }
  return result;
}

}  // namespace common
