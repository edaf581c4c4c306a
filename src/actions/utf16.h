// UTF-16 code units, which the launcher's strings hold one per element on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace actions {

inline constexpr std::uint32_t kHighSurrogateFirst = 0xD800;
inline constexpr std::uint32_t kLowSurrogateFirst = 0xDC00;

// The first and the second half of a character beyond the basic plane.
constexpr bool IsHighSurrogate(std::uint32_t unit) {
  return unit >= kHighSurrogateFirst && unit < kLowSurrogateFirst;
}
constexpr bool IsLowSurrogate(std::uint32_t unit) {
  return unit >= kLowSurrogateFirst && unit <= 0xDFFF;
}

// Wide text as UTF-8: a pair of surrogate halves where wchar_t holds UTF-16, one character where it holds
// code points.
inline std::string EncodeUtf8(std::wstring_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && IsHighSurrogate(c) && i + 1 < text.size()) {
      const auto low = static_cast<char32_t>(text[i + 1]);
      if (IsLowSurrogate(low)) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace actions
