// The Windows directory asked of the system: the one query (GetWinDir) that the setup window's clicks and
// the path-check window both use.
#pragma once

#include <string>

namespace common {

// The Windows directory through GetWindowsDirectoryA, converted from the ANSI code page; asked afresh on
// every call. Empty when the system cannot say.
std::wstring GetWinDir();

}  // namespace common
