// Continue and exit: the paths the confirm button hands to the process start. Portable, so that the
// exact strings are tested without Windows.
#pragma once

#include <string>
#include <string_view>

namespace actions {

// The second-stage installer, relative to the base directory.
inline constexpr std::wstring_view kInstallerRelativePath = L"vorncopy\\tarvinxp.exe";

// Base directory & "vorncopy\tarvinxp.exe": the base directory already ends in its separator (or is a
// short path used as it is), so nothing is inserted between the two.
std::wstring InstallerPath(std::wstring_view baseDirectory);

// The installer's command line: its own path in quotes and no arguments, so that a path with blanks is
// one argument to the installer as well.
std::wstring InstallerCommandLine(std::wstring_view installerPath);

}  // namespace actions
