// 8-bit text in the system's ANSI code page (936, GBK, on the systems the launcher is made for).
#pragma once

#include <string>
#include <string_view>

namespace common {

// Invalid sequences come out as the code page's default character; NULs are kept.
std::wstring DecodeAnsiCodePage(std::string_view bytes);

}  // namespace common
