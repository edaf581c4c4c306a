#include "actions/continue_exit_win32.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "actions/continue_exit.h"
#include "win32/unique_handle.h"

namespace actions {
namespace {

// Windows Vista and later refuse an ordinary process start to a program whose manifest asks for
// elevation; the headers of older tool sets may not name the code.
constexpr DWORD kErrorElevationRequired = 740;

class Win32ProgramStarter final : public ProgramStarter {
 public:
  StartResult StartProcess(const std::wstring& applicationPath, const std::wstring& commandLine) override {
    // CreateProcessW may write into the command line buffer, so it gets a copy of its own.
    std::wstring writableCommandLine = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started{};
    // The application name is the full path, so the system never guesses where a path with blanks ends
    // and runs nothing but that file.
    if (!::CreateProcessW(applicationPath.c_str(), writableCommandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &started)) {
      return ::GetLastError() == kErrorElevationRequired ? StartResult::kElevationRequired : StartResult::kFailed;
    }
    win32::UniqueKernelHandle process(started.hProcess);
    win32::UniqueKernelHandle thread(started.hThread);
    return StartResult::kStarted;
  }

  bool OpenThroughShell(const std::wstring& applicationPath) override {
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof execute;
    // The launcher ends right after this call, so the shell must have finished starting the program
    // (and asking for elevation) before it returns; a failure stays silent.
    execute.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    execute.lpVerb = L"open";
    execute.lpFile = applicationPath.c_str();
    execute.nShow = SW_SHOWNORMAL;
    return ::ShellExecuteExW(&execute) != FALSE;
  }
};

}  // namespace

void EndProgramAtOnce() {
  ::ExitProcess(0);
}

void StartInstallerAndEnd(std::wstring_view baseDirectory) {
  Win32ProgramStarter starter;
  HandOverToInstaller(baseDirectory, starter);
  EndProgramAtOnce();
}

}  // namespace actions
