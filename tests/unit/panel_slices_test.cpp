#include "actions/panel_slices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using actions::LongestLineUnits;
using actions::NeedsSlicing;
using actions::PanelSlices;

std::wstring Joined(const std::vector<std::wstring_view>& slices) {
  std::wstring text;
  for (std::wstring_view slice : slices) text += slice;
  return text;
}

TEST(PanelSlices, LongestLineCountsOnlyBetweenCrLfPairs) {
  EXPECT_EQ(LongestLineUnits(L""), 0u);
  EXPECT_EQ(LongestLineUnits(L"\r\nab\r\nabcd\r\nabc"), 4u);
  EXPECT_EQ(LongestLineUnits(L"\r\nab\r\n"), 2u);
  // A lone LF or CR does not end a line of the control's text.
  EXPECT_EQ(LongestLineUnits(L"\r\nab\ncd\ref"), 8u);
}

TEST(PanelSlices, OnlyTextsWhoseLongLinesDominateGoInSlices) {
  const std::wstring longLine = L"\r\n" + std::wstring(actions::kLongLineUnits + 1, L'y');
  std::wstring ordinary;
  for (int line = 0; line < 2000; ++line) ordinary += L"\r\n" + std::wstring(80, L'x');
  const std::wstring fewLines = ordinary.substr(0, 20 * 82);
  EXPECT_FALSE(NeedsSlicing(L""));
  EXPECT_FALSE(NeedsSlicing(ordinary));
  EXPECT_FALSE(NeedsSlicing(L"\r\n" + std::wstring(actions::kLongLineUnits, L'y')));
  EXPECT_TRUE(NeedsSlicing(longLine));
  EXPECT_TRUE(NeedsSlicing(fewLines + longLine + fewLines));
  // A megabyte of one line, and a megabyte of long lines.
  EXPECT_TRUE(NeedsSlicing(std::wstring(1 << 20, L'z')));
  std::wstring longLines;
  for (int line = 0; line < 64; ++line) longLines += L"\r\n" + std::wstring(16384, L'z');
  EXPECT_TRUE(NeedsSlicing(longLines));
  // One long line among many megabytes of short ones is cheaper whole than appended.
  std::wstring large;
  for (int copy = 0; copy < 16; ++copy) large += ordinary;
  EXPECT_FALSE(NeedsSlicing(large + longLine));
}

// Around the break-even point of the measured costs, one unit more of short lines beside the same
// long line makes handing the text over whole the cheaper way.
TEST(PanelSlices, TheChoiceTipsWhereTheMeasuredCostsMeet) {
  const auto text = [](std::size_t size) {
    std::wstring text = L"\r\n" + std::wstring(10000, L'y');
    while (text.size() + 82 <= size) text += L"\r\n" + std::wstring(80, L'x');
    text += L"\r\n" + std::wstring(size - text.size() - 2, L'x');
    return text;
  };
  EXPECT_EQ(text(28285).size(), 28285u);
  EXPECT_EQ(LongestLineUnits(text(28286)), 10000u);
  EXPECT_TRUE(NeedsSlicing(text(28285)));
  EXPECT_FALSE(NeedsSlicing(text(28286)));
}

// A line of 8192 units still goes whole; from 8193 on, a line alone is long enough for slices, and
// they are 2048 units long.
TEST(PanelSlices, LinesFrom8193UnitsOnGoInSlicesOf2048) {
  EXPECT_FALSE(NeedsSlicing(L"\r\n" + std::wstring(8192, L'y')));
  const std::wstring longLine = L"\r\n" + std::wstring(8193, L'y');
  EXPECT_TRUE(NeedsSlicing(longLine));
  const auto slices = PanelSlices(longLine);
  EXPECT_EQ(slices.size(), 5u);
  for (std::size_t i = 0; i + 1 < slices.size(); ++i) EXPECT_EQ(slices[i].size(), 2048u) << i;
}

TEST(PanelSlices, SlicesMakeUpTheTextAndKeepToTheirSize) {
  for (std::size_t size : {0u, 1u, 511u, 512u, 513u, 5000u}) {
    const std::wstring text(size, L'字');
    const auto slices = PanelSlices(text, 512);
    EXPECT_EQ(Joined(slices), text) << size;
    EXPECT_EQ(slices.size(), (size + 511) / 512) << size;
    for (std::wstring_view slice : slices) EXPECT_FALSE(slice.empty());
    for (std::wstring_view slice : slices) EXPECT_LE(slice.size(), 512u);
  }
}

TEST(PanelSlices, NoSliceEndsBetweenCrAndLfOrInsideASurrogatePair) {
  // Every position of a pair meets every position of the cut once.
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (const std::wstring& pair : {std::wstring(L"\r\n"), std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}}) {
      std::wstring text(offset, L'a');
      for (int i = 0; i < 6; ++i) text += pair + L"bcd";
      const auto slices = PanelSlices(text, 4);
      EXPECT_EQ(Joined(slices), text);
      for (std::size_t i = 0; i + 1 < slices.size(); ++i) {
        EXPECT_NE(slices[i].back(), pair[0]) << "offset " << offset << ", slice " << i;
        EXPECT_NE(slices[i + 1].front(), pair[1]) << "offset " << offset << ", slice " << i;
      }
    }
  }
}

TEST(PanelSlices, TextOfPairsOnlyStillMovesOn) {
  std::wstring text;
  for (int i = 0; i < 50; ++i) text += L"\r\n";
  const auto slices = PanelSlices(text, 3);
  EXPECT_EQ(Joined(slices), text);
  for (std::wstring_view slice : slices) EXPECT_EQ(slice.size(), 2u);
  // The smallest useful size is two units; less is taken as two.
  EXPECT_EQ(Joined(PanelSlices(text, 1)), text);
  EXPECT_EQ(Joined(PanelSlices(L"abc", 0)), L"abc");
}

// --- Faults that a mutation run (scripts/mutate) found no test above to catch -----------------------

TEST(PanelSlicesFoundByMutation, TheLastSliceEndsWithTheTextWhateverFollowsItInMemory) {
  // The view ends in a CR whose LF lies beyond it: the end of the text is always a place to cut.
  const std::wstring buffer = L"xx\r\nyy";
  const std::wstring_view text = std::wstring_view(buffer).substr(0, 3);
  EXPECT_EQ(PanelSlices(text, 3), (std::vector<std::wstring_view>{L"xx\r"}));
  EXPECT_EQ(PanelSlices(text, 2), (std::vector<std::wstring_view>{L"xx", L"\r"}));
}

TEST(PanelSlicesFoundByMutation, ALoneCrOrLfOrSurrogateHalfIsAPlaceToCut) {
  for (const std::wstring& text : {std::wstring(L"ab\rcd"), std::wstring(L"abc\nd"),
                                   std::wstring{L'a', L'b', wchar_t(0xD800), L'c', L'd'},
                                   std::wstring{L'a', L'b', L'c', wchar_t(0xDC00), L'd'}}) {
    const std::wstring_view view(text);
    EXPECT_EQ(PanelSlices(view, 3), (std::vector<std::wstring_view>{view.substr(0, 3), view.substr(3)}));
  }
}

TEST(PanelSlicesFoundByMutation, SlicesAreAsLongAsAskedFromTwoUnitsOn) {
  EXPECT_EQ(PanelSlices(L"abcde", 2), (std::vector<std::wstring_view>{L"ab", L"cd", L"e"}));
  EXPECT_EQ(PanelSlices(L"abcde", 1), (std::vector<std::wstring_view>{L"ab", L"cd", L"e"}));
}

}  // namespace
