// The base directory: the launcher's own directory followed by exactly one backslash. Every file of
// the medium is named relative to it.
#pragma once

#include <string>
#include <string_view>

namespace setup {

// C:\ stays C:\, C:\A becomes C:\A\, D:\Setup becomes D:\Setup\ (a trailing separator is never doubled).
std::wstring BaseDirectoryFrom(std::wstring_view applicationDirectory);

// The directory part of the executable's full path, as the application's Path reports it: no trailing
// backslash except at a drive root (C:\setup.exe gives C:\, D:\Setup\setup.exe gives D:\Setup).
std::wstring ApplicationDirectoryOf(std::wstring_view executablePath);

// The executable's own file name, after its directory (D:\Setup\setup.exe gives setup.exe).
std::wstring ProgramFileNameOf(std::wstring_view executablePath);

}  // namespace setup
