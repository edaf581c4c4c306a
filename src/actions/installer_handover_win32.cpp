#include "actions/installer_handover_win32.h"

// shellapi.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <string>

#include "actions/extended_path.h"
#include "actions/payload_check_win32.h"
#include "win32/com_apartment.h"
#include "win32/system_library.h"
#include "win32/unique_handle.h"

namespace actions {
namespace {

// Windows Vista and later refuse an ordinary process start to a program whose manifest asks for
// elevation; the headers of older tool sets may not name the code.
constexpr DWORD kErrorElevationRequired = 740;

std::wstring ShortFormIfTooLong(const std::wstring& path) {
  if (path.size() <= kLongestPlainPath) return path;
  const std::wstring extended = ExtendedLengthPath(path);
  std::wstring shortForm(path.size() + 1, L'\0');
  const DWORD length =
      ::GetShortPathNameW(extended.c_str(), shortForm.data(), static_cast<DWORD>(shortForm.size()));
  if (length == 0 || length >= shortForm.size()) return path;
  shortForm.resize(length);
  // The short form keeps the extended prefix that went in, which the process start does not take.
  return WithoutExtendedPrefix(shortForm);
}

}  // namespace

StartOutcome Win32ProgramStarter::StartProcess(const std::wstring& applicationPath,
                                               const std::wstring& commandLine) {
  // CreateProcessW may write into the command line buffer, so it gets a copy of its own.
  std::wstring writableCommandLine = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION started{};
  // The application name is the full path, so the system never guesses where a path with blanks ends
  // and runs nothing but that file. Past the classic path limit the process start refuses it (and
  // Wine garbles it), so the program is named by its short 8.3 form where the volume has one.
  const std::wstring application = ShortFormIfTooLong(applicationPath);
  // The launcher runs without the system's critical-error boxes; the installer gets them back, so that
  // it can ask for the next disc or report a missing file the way the system does.
  if (!::CreateProcessW(application.c_str(), writableCommandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &startup, &started)) {
    const DWORD error = ::GetLastError();
    return {error == kErrorElevationRequired ? StartResult::kElevationRequired : StartResult::kFailed, error};
  }
  win32::UniqueKernelHandle process(started.hProcess);
  win32::UniqueKernelHandle thread(started.hThread);
  return {StartResult::kStarted, kNoError};
}

StartOutcome Win32ProgramStarter::OpenThroughShell(const std::wstring& applicationPath) {
  // The shell is needed only here, when the installer asks for elevation, so it loads only then.
  using ShellExecuteExFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
  const auto shellExecute = win32::SystemFunction<ShellExecuteExFunction>(L"shell32.dll", "ShellExecuteExW");
  if (!shellExecute) return {StartResult::kFailed, ::GetLastError()};
  // The shell may hand the verb to extensions that are COM objects, so it is called from an apartment.
  const win32::ComApartment apartment;
  SHELLEXECUTEINFOW execute{};
  execute.cbSize = sizeof execute;
  // The launcher ends right after this call, so the shell must have finished starting the program
  // (and asking for elevation) before it returns; a failure stays silent.
  execute.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  execute.lpVerb = L"open";
  execute.lpFile = applicationPath.c_str();
  execute.nShow = SW_SHOWNORMAL;
  // The shell offers no creation flag for the error mode, and a program that it starts from this process
  // takes this process's mode. So the launcher is in the default mode for the call and in its own again
  // right after; its one file access meanwhile is to an installer that the ordinary start has just found.
  const UINT launcherErrorMode = ::SetErrorMode(0);
  const bool opened = shellExecute(&execute) != FALSE;
  const DWORD error = opened ? kNoError : ::GetLastError();
  ::SetErrorMode(launcherErrorMode);
  return {opened ? StartResult::kStarted : StartResult::kFailed, error};
}

HandOverOutcome StartInstaller(std::wstring_view baseDirectory, PayloadGuard& guard) {
  Win32ProgramStarter starter;
  Win32InstallerOpener opener;
  return HandOverChecked(baseDirectory, guard, opener, starter);
}

HandOverOutcome StartInstaller(std::wstring_view baseDirectory) {
  Win32ProgramStarter starter;
  return HandOverToInstaller(baseDirectory, starter);
}

}  // namespace actions
