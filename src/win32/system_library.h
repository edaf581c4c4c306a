// Loads a DLL that is not in the import table from the system folder by its full path, so that a
// file of the same name on the installation medium (the current directory) can never be picked up.
// The import table holds only what the window needs before it is first painted; every other DLL loads
// this way where it is used, so that loading it costs nothing at start.
#pragma once

#include <string_view>

#include "win32/unique_handle.h"

namespace win32 {

UniqueModule LoadSystemLibrary(std::wstring_view fileName);

// comctl32 from the system folder with the given classes (ICC_* flags) registered, which Windows XP
// needs before version 6 controls can be created. Empty when it cannot be loaded or initialised.
UniqueModule LoadCommonControls(DWORD classes);

// GetProcAddress cast to the function type the caller expects (NULL when absent).
template <typename Function>
Function ProcedureAddress(HMODULE module, const char* name) {
  if (!module) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// A function of a system DLL that the program does not import, with its DLL loaded from the system
// folder on first use. The DLL stays loaded for the rest of the process, since what the function
// starts (COM's state, the shell's threads) may outlive the call. NULL when either is missing.
template <typename Function>
Function SystemFunction(std::wstring_view fileName, const char* name) {
  return ProcedureAddress<Function>(LoadSystemLibrary(fileName).release(), name);
}

}  // namespace win32
