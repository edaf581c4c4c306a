// Why a call of the system failed, as the system said it (GetLastError's code on Windows). The outcomes
// of reads, copies and the installer's start keep it, so that whoever looks on (a test) can tell the
// cause and not only that something failed; the launcher itself never shows or logs it.
#pragma once

#include <cstdint>

namespace actions {

using SystemError = std::uint32_t;
inline constexpr SystemError kNoError = 0;

}  // namespace actions
