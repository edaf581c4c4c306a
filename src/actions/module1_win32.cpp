#include <windows.h>

#include "actions/ansi_code_page_win32.h"
#include "actions/module1.h"
#include "actions/windows_directory.h"

namespace Module1 {

std::wstring GetWinDir() {
  // The ANSI entry point on purpose: the count it returns is what the query's algorithm works with.
  return actions::WindowsDirectoryFrom(
      [](char* buffer, unsigned size) { return static_cast<unsigned>(::GetWindowsDirectoryA(buffer, size)); },
      actions::DecodeAnsiCodePage);
}

}  // namespace Module1
