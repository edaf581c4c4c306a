#include "actions/continue_exit_win32.h"

#include <windows.h>

#include <string>

#include "actions/continue_exit.h"
#include "win32/unique_handle.h"

namespace actions {

void EndProgramAtOnce() {
  ::ExitProcess(0);
}

void StartInstallerAndEnd(std::wstring_view baseDirectory) {
  const std::wstring path = InstallerPath(baseDirectory);
  // CreateProcessW may write into the command line buffer, so it gets a copy of its own.
  std::wstring commandLine = InstallerCommandLine(path);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION started{};
  // The application name is the full path, so the system never guesses where a path with blanks ends.
  if (::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &started)) {
    win32::UniqueKernelHandle process(started.hProcess);
    win32::UniqueKernelHandle thread(started.hThread);
  }
  EndProgramAtOnce();
}

}  // namespace actions
