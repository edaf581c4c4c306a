// The calling thread inside a single-threaded COM apartment for as long as the object lives. ole32 is
// not imported: it loads from the system folder when the first apartment is entered.
#pragma once

#include <windows.h>

#include "win32/system_library.h"

namespace win32 {

class ComApartment {
 public:
  ComApartment() {
    using InitializeFunction = HRESULT(WINAPI*)(LPVOID);
    if (const auto initialize = SystemFunction<InitializeFunction>(L"ole32.dll", "CoInitialize"))
      entered_ = initialize(nullptr);
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    using UninitializeFunction = void(WINAPI*)();
    if (SUCCEEDED(entered_)) {
      if (const auto uninitialize = SystemFunction<UninitializeFunction>(L"ole32.dll", "CoUninitialize"))
        uninitialize();
    }
  }

 private:
  HRESULT entered_ = E_FAIL;
};

}  // namespace win32
