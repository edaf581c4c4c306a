// The bytes of one of a module's RCDATA resources, as the module maps them (valid while it is loaded).
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>

namespace win32 {

// Empty when the module carries no such resource or it cannot be loaded.
std::optional<std::string_view> DataResource(HINSTANCE module, int resourceId);

}  // namespace win32
