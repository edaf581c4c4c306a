// The installer's start on Windows, seen from where it meets the system: what the process start and the
// shell are handed. Wine keeps a process's error mode to itself, so a started program never shows whether
// it would have inherited the launcher's; the calls are watched instead.
#include "actions/installer_handover_win32.h"

#include <gtest/gtest.h>
// shellapi.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <objbase.h>

#include <cstring>
#include <optional>
#include <string>

#include "import_hook.h"

namespace {

using windows_test::ImportHook;

UINT CurrentErrorMode() {
  const UINT mode = ::SetErrorMode(0);
  ::SetErrorMode(mode);
  return mode;
}

// What the watched calls saw; they start nothing.
std::optional<DWORD> creationFlags;
std::optional<UINT> errorModeDuringShell;
std::optional<bool> apartmentDuringShell;

BOOL WINAPI WatchedCreateProcessW(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                  DWORD flags, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
  creationFlags = flags;
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  return FALSE;
}

BOOL WINAPI WatchedShellExecuteExW(SHELLEXECUTEINFOW*) {
  errorModeDuringShell = CurrentErrorMode();
  const HRESULT entered = ::CoInitialize(nullptr);  // S_FALSE: the thread was in an apartment already
  if (SUCCEEDED(entered)) ::CoUninitialize();
  apartmentDuringShell = entered == S_FALSE;
  return FALSE;
}

// The shell is not imported but looked up at run time: the lookup hands out the watched function.
using GetProcAddressFunction = FARPROC(WINAPI*)(HMODULE, LPCSTR);
GetProcAddressFunction realGetProcAddress = nullptr;

FARPROC WINAPI WatchedGetProcAddress(HMODULE module, LPCSTR name) {
  if (HIWORD(reinterpret_cast<UINT_PTR>(name)) != 0 && std::strcmp(name, "ShellExecuteExW") == 0)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&WatchedShellExecuteExW));
  return realGetProcAddress(module, name);
}

class ErrorModeTest : public testing::Test {
 protected:
  // The launcher's own mode after its start-up hardening.
  static constexpr UINT kLauncherMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
  void SetUp() override { before_ = ::SetErrorMode(kLauncherMode); }
  void TearDown() override { ::SetErrorMode(before_); }

  UINT before_ = 0;
  actions::Win32ProgramStarter starter_;
};

TEST_F(ErrorModeTest, TheProcessStartGivesTheInstallerTheDefaultMode) {
  ImportHook hook("kernel32.dll", "CreateProcessW", reinterpret_cast<void*>(&WatchedCreateProcessW));
  ASSERT_TRUE(hook.active());
  creationFlags.reset();
  EXPECT_EQ(
      starter_.StartProcess(L"C:\\medium\\vorncopy\\tarvinxp.exe", L"\"C:\\medium\\vorncopy\\tarvinxp.exe\"")
          .result,
      actions::StartResult::kFailed);
  ASSERT_TRUE(creationFlags);
  EXPECT_TRUE(*creationFlags & CREATE_DEFAULT_ERROR_MODE)
      << "the installer would inherit the launcher's mode";
}

TEST_F(ErrorModeTest, TheShellStartsTheInstallerInTheDefaultModeAndTheLaunchersComesBack) {
  ImportHook hook("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&WatchedGetProcAddress));
  ASSERT_TRUE(hook.active());
  realGetProcAddress = reinterpret_cast<GetProcAddressFunction>(hook.original());
  errorModeDuringShell.reset();
  apartmentDuringShell.reset();
  EXPECT_EQ(starter_.OpenThroughShell(L"C:\\medium\\vorncopy\\tarvinxp.exe").result,
            actions::StartResult::kFailed);
  EXPECT_EQ(errorModeDuringShell, 0u);
  EXPECT_EQ(apartmentDuringShell, true) << "shell extensions are COM objects";
  EXPECT_EQ(CurrentErrorMode(), kLauncherMode);
}

TEST(StartInstaller, AMissingInstallerIsNotStartedAndTheSystemsCauseIsKept) {
  wchar_t temporary[MAX_PATH] = {};
  ASSERT_GT(::GetTempPathW(MAX_PATH, temporary), 0u);
  // A medium folder without vorncopy\tarvinxp.exe.
  const std::wstring medium =
      std::wstring(temporary) + L"no-installer-" + std::to_wstring(::GetCurrentProcessId());
  ASSERT_TRUE(::CreateDirectoryW(medium.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((medium + L"\\vorncopy").c_str(), nullptr));
  const actions::HandOverOutcome outcome = actions::StartInstaller(medium + L"\\");
  ::RemoveDirectoryW((medium + L"\\vorncopy").c_str());
  ::RemoveDirectoryW(medium.c_str());
  EXPECT_EQ(outcome.how, actions::HandOver::kNotStarted);
  EXPECT_EQ(outcome.error, static_cast<actions::SystemError>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
