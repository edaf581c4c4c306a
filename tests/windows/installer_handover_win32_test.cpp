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
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "../unit/payload_fakes.h"
#include "import_hook.h"
#include "temp_folder.h"

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

// Between the check and the start the installer's path comes to lead elsewhere (a junction swapped, a
// server that ignores share modes): the process start opens another copy of the installer.
std::wstring swappedProgram;
using CreateProcessFunction = decltype(&::CreateProcessW);
CreateProcessFunction realCreateProcess = nullptr;

BOOL WINAPI SwappedCreateProcessW(LPCWSTR, LPWSTR commandLine, LPSECURITY_ATTRIBUTES process,
                                  LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                                  LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION started) {
  return realCreateProcess(swappedProgram.c_str(), commandLine, process, thread, inherit, flags, environment,
                           directory, startup, started);
}

TEST(StartInstaller, AnInstallerSwappedAfterItsCheckNeverRunsAndTheUserIsTold) {
  // The tests' recording installer writes started.txt beside itself when it runs.
  std::wstring self(MAX_PATH, L'\0');
  self.resize(::GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
  const std::wstring recorder =
      self.substr(0, self.find_last_of(L'\\')) + L"\\..\\..\\tools\\tarvinxp_record.exe";
  const windows_test::TempFolder folder;
  for (const wchar_t* medium : {L"medium", L"swapped"}) {
    ASSERT_TRUE(::CreateDirectoryW((folder / medium).c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((folder / medium + L"\\vorncopy").c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(recorder.c_str(), (folder / medium + L"\\vorncopy\\tarvinxp.exe").c_str(), TRUE));
  }
  swappedProgram = folder / L"swapped\\vorncopy\\tarvinxp.exe";
  std::ifstream file(std::filesystem::path(swappedProgram), std::ios::binary);
  const std::string installer{std::istreambuf_iterator<char>(file), {}};
  test_payload::FakeDigests hashes;
  std::vector<std::wstring> refusals;
  const auto start = [&] {
    actions::PayloadGuard guard(
        [&] {
          return test_payload::Carried(test_payload::ListOf({{"vorncopy\\tarvinxp.exe", installer}}));
        },
        hashes, nullptr);
    return actions::StartInstaller(folder / L"medium\\", guard, L"setup.exe",
                                   [&](const std::wstring& message) { refusals.push_back(message); });
  };
  {
    ImportHook hook("kernel32.dll", "CreateProcessW", reinterpret_cast<void*>(&SwappedCreateProcessW));
    ASSERT_TRUE(hook.active());
    realCreateProcess = reinterpret_cast<CreateProcessFunction>(hook.original());
    EXPECT_EQ(start().how, actions::HandOver::kNotStarted);
  }
  EXPECT_EQ(::GetFileAttributesW((folder / L"swapped\\vorncopy\\started.txt").c_str()),
            INVALID_FILE_ATTRIBUTES)
      << "the swapped program ran";
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_NE(refusals[0].find(L"vorncopy\\tarvinxp.exe"), std::wstring::npos);

  // Unswapped, the same installer starts and leaves its record: the record above would have shown.
  EXPECT_EQ(start().how, actions::HandOver::kStarted);
  const std::wstring record = folder / L"medium\\vorncopy\\started.txt";
  for (int wait = 0; wait < 300 && ::GetFileAttributesW(record.c_str()) == INVALID_FILE_ATTRIBUTES; ++wait)
    ::Sleep(100);
  EXPECT_NE(::GetFileAttributesW(record.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
