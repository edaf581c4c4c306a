// The calling thread inside a single-threaded COM apartment for as long as the object lives.
#pragma once

#include <objbase.h>

namespace win32 {

class ComApartment {
 public:
  ComApartment() : entered_(::CoInitialize(nullptr)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(entered_)) ::CoUninitialize();
  }

 private:
  HRESULT entered_;
};

}  // namespace win32
