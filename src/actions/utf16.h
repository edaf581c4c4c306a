// UTF-16 code units, which the launcher's strings hold one per element on every platform.
#pragma once

#include <cstdint>

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

}  // namespace actions
