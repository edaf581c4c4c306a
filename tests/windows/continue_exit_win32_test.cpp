// The installer's start on Windows, seen from where it meets the system: what the process start and the
// shell are handed. Wine keeps a process's error mode to itself, so a started program never shows whether
// it would have inherited the launcher's; the calls are watched instead.
#include "actions/continue_exit_win32.h"

#include <gtest/gtest.h>
// shellapi.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <objbase.h>

#include <cstring>
#include <optional>

namespace {

// While it lives, this program's import of dll!function goes to a function of the test's own.
class ImportHook {
 public:
  ImportHook(const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
      if (::lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
      const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
      for (; names->u1.AddressOfData != 0; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
        slot_ = reinterpret_cast<void**>(&slots->u1.Function);
        original_ = Swap(replacement);
        return;
      }
    }
  }
  ~ImportHook() {
    if (slot_) Swap(original_);
  }
  ImportHook(const ImportHook&) = delete;
  ImportHook& operator=(const ImportHook&) = delete;
  bool active() const { return slot_ != nullptr; }
  void* original() const { return original_; }

 private:
  void* Swap(void* function) {
    DWORD protection = 0;
    ::VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
    void* previous = *slot_;
    *slot_ = function;
    ::VirtualProtect(slot_, sizeof *slot_, protection, &protection);
    return previous;
  }

  void** slot_ = nullptr;
  void* original_ = nullptr;
};

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
      starter_.StartProcess(L"C:\\medium\\vorncopy\\tarvinxp.exe", L"\"C:\\medium\\vorncopy\\tarvinxp.exe\""),
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
  EXPECT_FALSE(starter_.OpenThroughShell(L"C:\\medium\\vorncopy\\tarvinxp.exe"));
  EXPECT_EQ(errorModeDuringShell, 0u);
  EXPECT_EQ(apartmentDuringShell, true) << "shell extensions are COM objects";
  EXPECT_EQ(CurrentErrorMode(), kLauncherMode);
}

}  // namespace
