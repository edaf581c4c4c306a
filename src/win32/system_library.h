// Loads a DLL that is not in the import table from the system folder by its full path, so that a
// file of the same name on the installation medium (the current directory) can never be picked up.
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

}  // namespace win32
