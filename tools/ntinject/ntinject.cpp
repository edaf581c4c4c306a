// ntinject DLL [WINDOW_CLASS]: loads DLL (a full path) into the process that owns the top-level window
// of WINDOW_CLASS (default: the setup window) with a remote thread that runs LoadLibraryW, and waits
// until the DLL reports its patch as applied.
// Exit codes: 0 applied, 2 no such window, 3 bad usage, 4 the injection or the patch failed.
#include <windows.h>

#include <cstdio>
#include <string>

#include "ntpatch_event.h"
#include "remote_view/remote_view.h"
#include "setup/class_names.h"
#include "win32/unique_handle.h"

namespace {

constexpr int kExitApplied = 0;
constexpr int kExitNoWindow = 2;
constexpr int kExitUsage = 3;
constexpr int kExitFailed = 4;

int Fail(const char* what) {
  std::fprintf(stderr, "ntinject: %s (error %lu)\n", what, GetLastError());
  return kExitFailed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: ntinject DLL [WINDOW_CLASS]\n");
    return kExitUsage;
  }
  const std::wstring dllPath = argv[1];
  const wchar_t* windowClass = argc == 3 ? argv[2] : setup::kSetupWindowClassName;

  const HWND window = FindWindowW(windowClass, nullptr);
  if (!window) return kExitNoWindow;
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);

  const win32::UniqueKernelHandle process(OpenProcess(
      PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION, FALSE, processId));
  if (!process) return Fail("cannot open the process");

  const SIZE_T pathBytes = (dllPath.size() + 1) * sizeof(wchar_t);
  const RemoteView remotePath(process.get(), pathBytes);
  if (!remotePath) return Fail("cannot map the DLL's path into the process");
  CopyMemory(remotePath.local(), dllPath.c_str(), pathBytes);

  // kernel32 lies at the same address in every process of a session.
  const auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
  const win32::UniqueKernelHandle thread(
      CreateRemoteThread(process.get(), nullptr, 0, loadLibrary, remotePath.remote(), 0, nullptr));
  if (!thread) return Fail("cannot start the remote thread");
  if (WaitForSingleObject(thread.get(), 30000) != WAIT_OBJECT_0) return Fail("LoadLibraryW did not return");
  DWORD loaded = 0;
  GetExitCodeThread(thread.get(), &loaded);
  if (loaded == 0) return Fail("the DLL did not load");

  const win32::UniqueKernelHandle applied(
      OpenEventW(SYNCHRONIZE, FALSE, PatchedEventName(processId).c_str()));
  if (!applied) return Fail("the DLL found no import of GetWindowsDirectoryA to patch");
  std::printf("patched process %lu\n", processId);
  return kExitApplied;
}
