#include "actions/extended_path.h"

namespace actions {
namespace {

constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";

bool IsDriveLetter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool IsFullDrivePath(std::wstring_view path) {
  return path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
}

bool IsUncPath(std::wstring_view path) {
  // "\\server\...": two separators and then a server name (a third separator would be no name).
  return path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\' && path[2] != L'?' &&
         path[2] != L'.';
}

}  // namespace

std::wstring ExtendedLengthPath(std::wstring_view path) {
  if (path.size() <= kLongestPlainPath || path.starts_with(kExtendedPrefix) ||
      path.starts_with(kDevicePrefix))
    return std::wstring(path);
  if (IsFullDrivePath(path)) return std::wstring(kExtendedPrefix) + std::wstring(path);
  if (IsUncPath(path)) return std::wstring(kExtendedUncPrefix) + std::wstring(path.substr(2));
  return std::wstring(path);
}

std::wstring WithoutExtendedPrefix(std::wstring_view path) {
  // The UNC form first: it starts with the drive form's prefix too.
  if (path.starts_with(kExtendedUncPrefix))
    return L"\\\\" + std::wstring(path.substr(kExtendedUncPrefix.size()));
  if (path.starts_with(kExtendedPrefix)) path.remove_prefix(kExtendedPrefix.size());
  return std::wstring(path);
}

}  // namespace actions
