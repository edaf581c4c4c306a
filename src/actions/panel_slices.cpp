#include "actions/panel_slices.h"

#include <algorithm>

#include "actions/utf16.h"

namespace actions {

namespace {

// Whether the text may be cut in front of index without parting a CR LF pair or a surrogate pair.
bool CanCutBefore(std::wstring_view text, std::size_t index) {
  if (index == 0 || index >= text.size()) return true;
  const auto before = static_cast<std::uint32_t>(text[index - 1]);
  const auto after = static_cast<std::uint32_t>(text[index]);
  if (before == L'\r' && after == L'\n') return false;
  return !(IsHighSurrogate(before) && IsLowSurrogate(after));
}

}  // namespace

// Calls onLine with the length of every run of the text between two CR LF pairs.
template <typename OnLine>
void ForEachLineLength(std::wstring_view text, OnLine&& onLine) {
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(L"\r\n", start);
    if (end == std::wstring_view::npos) {
      onLine(text.size() - start);
      return;
    }
    onLine(end - start);
    start = end + 2;
  }
}

std::size_t LongestLineUnits(std::wstring_view text) {
  std::size_t longest = 0;
  ForEachLineLength(text, [&](std::size_t length) { longest = std::max(longest, length); });
  return longest;
}

bool NeedsSlicing(std::wstring_view text) {
  // Costs as measured under Wine, in units of the control's time to wrap a line of one unit squared
  // (about 5 ns): a long line handed over whole costs the square of its length; a slice costs a fixed
  // amount besides its own wrapping, and each append some for every unit already in the control.
  constexpr double kFixedCostPerSlice = 7e6;
  constexpr double kCostPerUnitInControl = 17;
  double wholeCost = 0;
  ForEachLineLength(text, [&](std::size_t length) {
    if (length > kLongLineUnits) wholeCost += static_cast<double>(length) * static_cast<double>(length);
  });
  if (wholeCost == 0) return false;
  const double size = static_cast<double>(text.size());
  const double slices = size / kPanelSliceUnits;
  return wholeCost > slices * (kFixedCostPerSlice + kCostPerUnitInControl * size / 2);
}

std::vector<std::wstring_view> PanelSlices(std::wstring_view text, std::size_t maxUnits) {
  maxUnits = std::max<std::size_t>(maxUnits, 2);
  std::vector<std::wstring_view> slices;
  slices.reserve(text.size() / maxUnits + 1);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = std::min(text.size(), start + maxUnits);
    // One unit back is always enough: a pair is two units long.
    if (!CanCutBefore(text, end)) --end;
    slices.push_back(text.substr(start, end - start));
    start = end;
  }
  return slices;
}

}  // namespace actions
