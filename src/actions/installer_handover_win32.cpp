#include "actions/installer_handover_win32.h"

// shellapi.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <string>

#include "actions/extended_path.h"
#include "actions/file_system_win32.h"
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

std::optional<Win32CheckedStarter::FileIdentity> ImageIdentityOf(HANDLE process);

// The process start. When a file is expected, the process is made suspended and runs only when it was
// made from that file; otherwise it is ended before its first instruction.
StartOutcome StartProgram(const std::wstring& applicationPath, const std::wstring& commandLine,
                          const Win32CheckedStarter::FileIdentity* expected) {
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
  const DWORD flags = CREATE_DEFAULT_ERROR_MODE | (expected ? CREATE_SUSPENDED : 0);
  if (!::CreateProcessW(application.c_str(), writableCommandLine.data(), nullptr, nullptr, FALSE, flags,
                        nullptr, nullptr, &startup, &started)) {
    const DWORD error = ::GetLastError();
    return {error == kErrorElevationRequired ? StartResult::kElevationRequired : StartResult::kFailed, error};
  }
  win32::UniqueKernelHandle process(started.hProcess);
  win32::UniqueKernelHandle thread(started.hThread);
  if (expected && (ImageIdentityOf(process.get()) != *expected ||
                   ::ResumeThread(thread.get()) == static_cast<DWORD>(-1))) {
    ::TerminateProcess(process.get(), 1);
    // Gone before the launcher goes on: nothing of it may outlive the refusal.
    ::WaitForSingleObject(process.get(), INFINITE);
    return {StartResult::kNotTheCheckedProgram, kNoError};
  }
  return {StartResult::kStarted, kNoError};
}

std::optional<Win32CheckedStarter::FileIdentity> IdentityOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(file, &information)) return std::nullopt;
  return Win32CheckedStarter::FileIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh,
                                           information.nFileIndexLow};
}

// The file a new process was made from, by a name the file functions open: Vista's
// QueryFullProcessImageNameW where there is one, else (Windows XP) psapi's native name, opened through
// the object manager's root.
std::optional<std::wstring> ImageFileOf(HANDLE process) {
  std::wstring name(32768, L'\0');
  using QueryFunction = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
  if (const auto query = win32::ProcedureAddress<QueryFunction>(::GetModuleHandleW(L"kernel32.dll"),
                                                                "QueryFullProcessImageNameW")) {
    DWORD length = static_cast<DWORD>(name.size());
    if (!query(process, 0, name.data(), &length) || length == 0 || length >= name.size()) return std::nullopt;
    name.resize(length);
    return ExtendedLengthPath(name);
  }
  using ImageNameFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD);
  const auto imageName = win32::SystemFunction<ImageNameFunction>(L"psapi.dll", "GetProcessImageFileNameW");
  if (!imageName) return std::nullopt;
  const DWORD length = imageName(process, name.data(), static_cast<DWORD>(name.size()));
  if (length == 0 || length >= name.size()) return std::nullopt;
  name.resize(length);
  return L"\\\\?\\GLOBALROOT" + name;
}

std::optional<Win32CheckedStarter::FileIdentity> ImageIdentityOf(HANDLE process) {
  const std::optional<std::wstring> image = ImageFileOf(process);
  if (!image) return std::nullopt;
  const win32::UniqueFileHandle file(::CreateFileW(image->c_str(), FILE_READ_ATTRIBUTES,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                   nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return std::nullopt;
  return IdentityOf(file.get());
}

// The folders on a full path, outermost first, each ending in its backslash: from the drive's root
// ("C:\") or the share's ("\\server\share\") to the file's own folder.
std::vector<std::wstring> FoldersOn(const std::wstring& path) {
  std::size_t next = 0;
  if (path.starts_with(L"\\\\")) {
    // Past the server's name and the share's.
    next = path.find(L'\\', 2);
    if (next != std::wstring::npos) next = path.find(L'\\', next + 1);
  } else {
    next = path.find(L'\\');
  }
  std::vector<std::wstring> folders;
  while (next != std::wstring::npos) {
    folders.push_back(path.substr(0, next + 1));
    next = path.find(L'\\', next + 1);
  }
  return folders;
}

}  // namespace

StartOutcome Win32ProgramStarter::StartProcess(const std::wstring& applicationPath,
                                               const std::wstring& commandLine) {
  return StartProgram(applicationPath, commandLine, nullptr);
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

std::optional<std::vector<FolderEntry>> Win32FolderLister::List(const std::wstring& path) {
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW(ExtendedLengthPath(path + L'*').c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::vector<FolderEntry>{};
    return std::nullopt;
  }
  std::vector<FolderEntry> entries;
  bool more = true;
  while (more) {
    const std::wstring_view name(found.cFileName);
    if (name != L"." && name != L"..") {
      entries.push_back({std::wstring(name), found.cAlternateFileName,
                         (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                         (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
    }
    more = ::FindNextFileW(search, &found) != FALSE;
  }
  const DWORD error = ::GetLastError();
  ::FindClose(search);
  if (error != ERROR_NO_MORE_FILES) return std::nullopt;
  return entries;
}

Win32CheckedStarter::Win32CheckedStarter(const std::wstring& programPath) : program_(programPath) {
  for (const std::wstring& folder : FoldersOn(programPath)) {
    // Without delete sharing nobody can rename, move or remove the folder while it is held; the link
    // itself is held where the folder is one, and such a path is not handed to the shell.
    win32::UniqueFileHandle held(::CreateFileW(
        ExtendedLengthPath(folder).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!held || !::GetFileInformationByHandle(held.get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
      pathHeld_ = false;
    if (held) folders_.push_back(std::move(held));
  }
}

std::unique_ptr<HeldFile> Win32CheckedStarter::OpenDenyingWrites(const std::wstring& path) {
  win32::UniqueFileHandle file(::CreateFileW(ExtendedLengthPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return nullptr;
  // A file whose identity cannot be read is never started (StartProcess finds no identity for it).
  if (path == program_) identity_ = IdentityOf(file.get());
  return HoldOpenFile(std::move(file));
}

StartOutcome Win32CheckedStarter::StartProcess(const std::wstring& applicationPath,
                                               const std::wstring& commandLine) {
  if (applicationPath != program_ || !identity_) return {StartResult::kNotTheCheckedProgram, kNoError};
  return StartProgram(applicationPath, commandLine, &*identity_);
}

StartOutcome Win32CheckedStarter::OpenThroughShell(const std::wstring& applicationPath) {
  if (!pathHeld_ || applicationPath != program_ || !identity_) return {StartResult::kPathNotHeld, kNoError};
  return Win32ProgramStarter().OpenThroughShell(applicationPath);
}

HandOverOutcome StartInstaller(std::wstring_view baseDirectory, PayloadGuard& guard,
                               std::wstring_view launcherName, const StartRefusal& refuse) {
  // Without a list nothing was opened for a check, and the installer starts as it always did.
  if (!guard.Checks()) return StartInstaller(baseDirectory);
  Win32CheckedStarter starter(InstallerPath(baseDirectory));
  Win32FolderLister lister;
  return HandOverChecked(baseDirectory, guard, starter, starter, {launcherName, lister, refuse});
}

HandOverOutcome StartInstaller(std::wstring_view baseDirectory) {
  Win32ProgramStarter starter;
  return HandOverToInstaller(baseDirectory, starter);
}

}  // namespace actions
