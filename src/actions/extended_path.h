// Paths past the classic length limit. The installation medium may sit deep in a folder tree (a
// downloaded archive unpacked under a long user folder), so the base directory can be longer than the
// 260 characters that the plain file functions accept. The "\\?\" form lifts that limit on every
// Windows from XP on, for full paths that are already in their final form.
#pragma once

#include <string>
#include <string_view>

namespace actions {

// The longest path that every plain file function takes: CreateDirectory's limit (MAX_PATH less room
// for an 8.3 file name) is the lowest of them.
inline constexpr std::size_t kLongestPlainPath = 247;

// The prefixes of the extended-length forms of a drive path and of a UNC path.
inline constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";
inline constexpr std::wstring_view kExtendedUncPrefix = L"\\\\?\\UNC\\";

// The path in the form the file functions take at any length: a full drive path ("C:\...") or UNC
// path ("\\server\share\...") longer than kLongestPlainPath becomes "\\?\C:\..." or
// "\\?\UNC\server\share\..."; shorter paths, paths already in a device form ("\\?\", "\\.\") and
// anything that is not a full path come back unchanged. The "\\?\" form turns off the system's
// clean-up of the name, so the caller passes full paths with backslashes only.
std::wstring ExtendedLengthPath(std::wstring_view path);

// The other way: "\\?\C:\..." gives "C:\..." and "\\?\UNC\server\..." gives "\\server\..."; any other
// path comes back unchanged.
std::wstring WithoutExtendedPrefix(std::wstring_view path);

}  // namespace actions
