// The full path of the running executable, whatever its length.
#pragma once

#include <string>

namespace win32 {

std::wstring ExecutablePath();

}  // namespace win32
