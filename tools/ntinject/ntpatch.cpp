// Loaded into a running setup.exe, this DLL makes the program see C:\WINNT as its Windows directory: it
// rewrites the program's import address table entry for GetWindowsDirectoryA. Every call the program
// makes through its import then lands here; nothing else in the process changes.
#include <windows.h>

#include <cstring>

#include "ntpatch_event.h"

namespace {

constexpr char kReportedDirectory[] = "C:\\WINNT";

// GetWindowsDirectoryA's contract: the count without the terminator when the path fits, else the size
// needed with the terminator.
UINT WINAPI ReportWinntDirectory(LPSTR buffer, UINT size) {
  constexpr UINT length = sizeof kReportedDirectory - 1;
  if (buffer == nullptr || size <= length) return length + 1;
  std::memcpy(buffer, kReportedDirectory, length + 1);
  return length;
}

template <typename T>
T* At(HMODULE module, DWORD rva) {
  return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

bool PatchImport(HMODULE module, const char* dllName, const char* functionName, const void* replacement) {
  const auto* dos = At<IMAGE_DOS_HEADER>(module, 0);
  const auto* nt = At<IMAGE_NT_HEADERS>(module, static_cast<DWORD>(dos->e_lfanew));
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return false;
  bool patched = false;
  for (auto* descriptor = At<IMAGE_IMPORT_DESCRIPTOR>(module, imports.VirtualAddress); descriptor->Name;
       ++descriptor) {
    // Without the lookup table the names are gone once the loader has bound the imports.
    if (lstrcmpiA(At<char>(module, descriptor->Name), dllName) != 0 || descriptor->OriginalFirstThunk == 0) {
      continue;
    }
    auto* names = At<IMAGE_THUNK_DATA>(module, descriptor->OriginalFirstThunk);
    auto* slots = At<IMAGE_THUNK_DATA>(module, descriptor->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName = At<IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), functionName) != 0) continue;
      DWORD oldProtection = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &oldProtection)) {
        return false;
      }
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, oldProtection, &oldProtection);
      patched = true;
    }
  }
  return patched;
}

// Stays open as long as the process lives, so that the injector can find it.
HANDLE patchedEvent = nullptr;

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH &&
      PatchImport(GetModuleHandleW(nullptr), "kernel32.dll", "GetWindowsDirectoryA",
                  reinterpret_cast<const void*>(&ReportWinntDirectory))) {
    patchedEvent = CreateEventW(nullptr, TRUE, TRUE, PatchedEventName(GetCurrentProcessId()).c_str());
  }
  return TRUE;
}
