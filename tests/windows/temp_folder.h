// A fresh folder under the system's temporary folder for one test, removed with everything in it.
#pragma once

#include <shellapi.h>
#include <windows.h>

#include <string>
#include <string_view>

#include "win32/unique_handle.h"

namespace windows_test {

class TempFolder {
 public:
  TempFolder() {
    wchar_t base[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, base);
    path_ = std::wstring(base) + L"notes-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter_);
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempFolder() { RemoveTree(path_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // A path inside the folder ("a\\b.txt" relative to it).
  std::wstring operator/(std::wstring_view relative) const { return path_ + L"\\" + std::wstring(relative); }

 private:
  static void RemoveTree(const std::wstring& folder) {
    std::wstring from = folder;
    from.push_back(L'\0');  // the shell wants a list that ends with an empty name
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    ::SHFileOperationW(&operation);
  }

  std::wstring path_;
  static inline int counter_ = 0;
};

inline bool WriteFileBytes(const std::wstring& path, std::string_view bytes) {
  const win32::UniqueFileHandle file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

// The file's bytes, or "<missing>" when it cannot be opened.
inline std::string FileBytes(const std::wstring& path) {
  const win32::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return "<missing>";
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (::ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  return bytes;
}

}  // namespace windows_test
