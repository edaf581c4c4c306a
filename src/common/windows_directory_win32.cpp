#include "common/windows_directory_win32.h"

#include <windows.h>

#include "common/ansi_code_page_win32.h"
#include "common/windows_directory.h"

namespace common {

std::wstring GetWinDir() {
  // The ANSI entry point on purpose: the count it returns is what the query's algorithm works with.
  return common::WindowsDirectoryFrom(
      [](char* buffer, unsigned size) { return static_cast<unsigned>(::GetWindowsDirectoryA(buffer, size)); },
      common::DecodeAnsiCodePage);
}

}  // namespace common
