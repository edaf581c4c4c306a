// The program's shared module: the Windows directory query that the setup window (its public GetWinDir)
// and the path-check window both use.
#pragma once

#include <string>

namespace Module1 {

// The Windows directory through GetWindowsDirectoryA, converted from the ANSI code page; asked afresh on
// every call. Empty when the system cannot say.
std::wstring GetWinDir();

}  // namespace Module1
