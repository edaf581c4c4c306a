// The Windows directory as the launcher has always asked for it: through the ANSI entry point, with a
// fixed first buffer, converted to Unicode only after it has been cut to the bytes the system wrote.
#pragma once

#include <functional>
#include <string>

#include "common/ansi_decoder.h"

namespace common {

// Shaped like GetWindowsDirectoryA: fills buffer (size bytes) and returns the count written without the
// terminator, the size needed (terminator included) when the buffer is too small, or 0 on failure.
using WindowsDirectoryQuery = std::function<unsigned(char* buffer, unsigned size)>;

// MAX_PATH: the first call always offers this many bytes.
inline constexpr unsigned kFirstWindowsDirectoryBufferSize = 260;

// Queries afresh on every call and never fails towards the caller: a failed query gives the empty
// string. A count above the first buffer leads to exactly one more call with a buffer of that size.
std::wstring WindowsDirectoryFrom(const WindowsDirectoryQuery& query, const AnsiDecoder& decodeAnsi);

}  // namespace common
