#include "win32/process_hardening.h"

#include <windows.h>

#include "win32/system_library.h"

namespace win32 {
namespace {

// Values from the Windows 8 SDK, so that the XP-targeted headers need not declare them.
constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
constexpr DWORD kSearchPathSafeMode = 0x00000001;         // BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE
constexpr DWORD kSearchPathPermanent = 0x00008000;        // BASE_SEARCH_PATH_PERMANENT

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCWSTR);
using SetSearchPathModeFunction = BOOL(WINAPI*)(DWORD);

void RestrictDllSearch(HMODULE kernel) {
  // Windows 8, and Windows 7 / Vista with KB2533623: only the system folder is searched from now on,
  // for LoadLibrary calls made by any code in the process, the system's own included.
  if (auto setDefault =
          ProcedureAddress<SetDefaultDllDirectoriesFunction>(kernel, "SetDefaultDllDirectories")) {
    if (setDefault(kLoadLibrarySearchSystem32)) return;
  }
  // Older systems still search the application folder, but an empty string at least removes the
  // current directory, which is where a planted file is most often put.
  if (auto setDirectory = ProcedureAddress<SetDllDirectoryFunction>(kernel, "SetDllDirectoryW"))
    setDirectory(L"");
}

// DLLs that the system's own DLLs load late by bare name through their delay-load helpers, which do
// not honour the restricted search everywhere (Wine's comctl32 takes msimg32 this way for AlphaBlend).
// Once a module of that name is loaded from the system folder, every later load by bare name gets it.
constexpr const wchar_t* kPinnedLibraries[] = {L"msimg32.dll"};

void PinSystemLibraries() {
  for (const wchar_t* name : kPinnedLibraries) {
    // Held for the life of the process on purpose: unloading would reopen the gap.
    static_cast<void>(LoadSystemLibrary(name).release());
  }
}

}  // namespace

void HardenProcess() {
  // The read-and-set pair keeps whatever mode the parent gave the process (GetErrorMode is Vista's).
  const UINT inherited = ::SetErrorMode(0);
  ::SetErrorMode(inherited | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  RestrictDllSearch(kernel);
  // SearchPath (used by the shell to find programs) looks in the current directory last, not first.
  if (auto setMode = ProcedureAddress<SetSearchPathModeFunction>(kernel, "SetSearchPathMode"))
    setMode(kSearchPathSafeMode | kSearchPathPermanent);
  PinSystemLibraries();
}

}  // namespace win32
