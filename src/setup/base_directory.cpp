#include "setup/base_directory.h"

#include "actions/extended_path.h"

namespace setup {
namespace {

// Windows accepts both separators; the launcher itself only ever writes backslashes.
constexpr bool IsSeparator(wchar_t character) {
  return character == L'\\' || character == L'/';
}

// "C:" or "\\?\C:": a drive with no directory after it, which needs its backslash to mean the root.
bool IsBareDrive(std::wstring_view directory) {
  if (directory.starts_with(actions::kExtendedPrefix))
    directory.remove_prefix(actions::kExtendedPrefix.size());
  return directory.size() == 2 && directory[1] == L':';
}

}  // namespace

std::wstring BaseDirectoryFrom(std::wstring_view applicationDirectory) {
  std::wstring base(applicationDirectory);
  if (!base.empty() && !IsSeparator(base.back())) base.push_back(L'\\');
  return base;
}

std::wstring ApplicationDirectoryOf(std::wstring_view executablePath) {
  const std::size_t lastSeparator = executablePath.find_last_of(L"\\/");
  if (lastSeparator == std::wstring_view::npos) return {};
  const std::wstring_view directory = executablePath.substr(0, lastSeparator);
  if (directory.empty() || IsBareDrive(directory)) {
    return std::wstring(executablePath.substr(0, lastSeparator + 1));
  }
  return std::wstring(directory);
}

std::wstring ProgramFileNameOf(std::wstring_view executablePath) {
  const std::size_t lastSeparator = executablePath.find_last_of(L"\\/");
  return std::wstring(lastSeparator == std::wstring_view::npos ? executablePath
                                                               : executablePath.substr(lastSeparator + 1));
}

}  // namespace setup
