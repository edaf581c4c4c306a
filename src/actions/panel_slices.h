// The notes panel's text control wraps each line afresh from the line's start to its end for every
// screen row it makes, so one long line handed over whole costs time that grows with the square of
// its length (about 10 s for 44 000 characters under Wine, far longer for a file of one 1 MB line).
// Handed over in slices appended one after the other, each slice re-wraps only the tail it adds, and
// the window can answer its input between slices. Ordinary texts keep the single hand-over.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace actions {

// Lines up to this length cost the control little (under 0.3 s each under Wine), whatever their number.
inline constexpr std::size_t kLongLineUnits = 8192;
// Under Wine one slice of this size costs about 20 ms of wrapping; larger slices cost the square of
// their size, smaller ones more appends.
inline constexpr std::size_t kPanelSliceUnits = 2048;

// The longest run of the panel's text between two CR LF pairs, in UTF-16 units.
std::size_t LongestLineUnits(std::wstring_view text);

// Whether the text should go in slices rather than in one piece: when it has a long line, and its long
// lines make up enough of the text. Every append also costs time in proportion to the text already in
// the control, so a large file of short lines with one long line among them is still faster whole.
bool NeedsSlicing(std::wstring_view text);

// Consecutive pieces of the text, each at most maxUnits long (maxUnits >= 2), that together are the
// text. No piece ends between a CR and its LF, nor between the two halves of a surrogate pair, so every
// piece is a text of its own.
std::vector<std::wstring_view> PanelSlices(std::wstring_view text, std::size_t maxUnits = kPanelSliceUnits);

}  // namespace actions
