// The bytes of one of a module's RCDATA resources, as the module maps them (valid while it is loaded).
#pragma once

#include <windows.h>

#include <string_view>

namespace win32 {

// What the lookup of a resource found. A resource that is there but cannot be loaded is told apart
// from one that is not there: a caller that vouches for something must not take the one for the other.
struct DataResourceLookup {
  enum class Found { None, Bytes, Unreadable };
  Found found = Found::None;
  std::string_view bytes;       // with Bytes
  DWORD error = ERROR_SUCCESS;  // with Unreadable: why, as the system said it
};

DataResourceLookup FindDataResource(HINSTANCE module, int resourceId);

}  // namespace win32
