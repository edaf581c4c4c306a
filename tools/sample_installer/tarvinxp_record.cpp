// tarvinxp_record.exe, the second-stage installer of the tests' media (copied there as
// vorncopy\tarvinxp.exe). It shows no window: each start appends one line to a record and exits, so a
// test sees how it was started. The line holds, in UTF-8 and separated by tabs: the process id, the
// program's own path, its whole command line and its current directory.
//
// The record is the file that the environment variable TARVINXP_RECORD names (a test sets it when the
// medium must stay untouched, or to catch a decoy program too); without it, started.txt beside the
// program.
#include <windows.h>

#include <string>

#include "win32/unique_handle.h"

namespace {

// A string that a Windows call writes into a buffer of its own choosing: fill(buffer, size) returns the
// length written, 0 on failure, or at least size when the buffer was too small.
template <typename Fill>
std::wstring GrowingRead(Fill fill) {
  std::wstring text(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = fill(text.data(), static_cast<DWORD>(text.size()));
    if (length == 0) return {};
    if (length < text.size()) {
      text.resize(length);
      return text;
    }
    text.resize(static_cast<size_t>(length) + text.size());
  }
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
  return bytes;
}

std::wstring RecordPath(const std::wstring& ownPath) {
  std::wstring named = GrowingRead(
      [](wchar_t* buffer, DWORD size) { return ::GetEnvironmentVariableW(L"TARVINXP_RECORD", buffer, size); });
  if (!named.empty()) return named;
  return ownPath.substr(0, ownPath.find_last_of(L'\\') + 1) + L"started.txt";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // GetModuleFileNameW truncates silently, so a full buffer is taken as too small.
  const std::wstring ownPath = GrowingRead([](wchar_t* buffer, DWORD size) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, size);
    return length == size ? size : length;
  });
  const std::wstring currentDirectory =
      GrowingRead([](wchar_t* buffer, DWORD size) { return ::GetCurrentDirectoryW(size, buffer); });
  const std::string line = std::to_string(::GetCurrentProcessId()) + '\t' + Utf8(ownPath) + '\t' +
                           Utf8(::GetCommandLineW()) + '\t' + Utf8(currentDirectory) + "\r\n";

  // FILE_APPEND_DATA alone makes every write land at the end of the file, even when two starts overlap.
  const win32::UniqueFileHandle record(::CreateFileW(RecordPath(ownPath).c_str(), FILE_APPEND_DATA,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!record) return 1;
  DWORD written = 0;
  return ::WriteFile(record.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ? 0 : 1;
}
