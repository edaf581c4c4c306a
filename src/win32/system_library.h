// Loads a DLL that is not in the import table from the system folder by its full path, so that a
// file of the same name on the installation medium (the current directory) can never be picked up.
#pragma once

#include <string_view>

#include "win32/unique_handle.h"

namespace win32 {

UniqueModule LoadSystemLibrary(std::wstring_view fileName);

// GetProcAddress cast to the function type the caller expects (NULL when absent).
template <typename Function>
Function ProcedureAddress(HMODULE module, const char* name) {
  if (!module) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace win32
