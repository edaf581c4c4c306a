// Text inside the launcher is UTF-16 held in std::wstring, one code unit per element on every platform
// (natively wchar_t is 32 bits wide, and the unit tests still speak UTF-16 units). 8-bit text in the
// system's ANSI code page is turned into such a string by a decoder that the caller supplies: the
// Win32 layer passes the real code page conversion, the unit tests a decoder of their own.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace common {

using AnsiDecoder = std::function<std::wstring(std::string_view ansiBytes)>;

}  // namespace common
