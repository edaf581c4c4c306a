// ASCII letters compared without case, as Windows compares the names it takes for one file. No other
// letter is folded: the names compared so are the payload list's, the launcher's and its copies'.
#pragma once

#include <algorithm>
#include <string_view>

namespace actions {

template <typename Char>
constexpr Char FoldAscii(Char c) {
  return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

namespace ascii_case {
template <typename Char>
constexpr bool Same(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](Char x, Char y) { return FoldAscii(x) == FoldAscii(y); });
}
}  // namespace ascii_case

constexpr bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return ascii_case::Same(a, b);
}
constexpr bool SameIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  return ascii_case::Same(a, b);
}
constexpr bool StartsWithIgnoringAsciiCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && ascii_case::Same(text.substr(0, prefix.size()), prefix);
}

}  // namespace actions
