#include "common/ansi_code_page_win32.h"

#include <windows.h>

#include <climits>

namespace common {

std::wstring DecodeAnsiCodePage(std::string_view bytes) {
  // The text control could not hold more than this anyway; a longer run is cut rather than misread.
  const int byteCount = bytes.size() > INT_MAX ? INT_MAX : static_cast<int>(bytes.size());
  if (byteCount == 0) return {};
  const int unitCount = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), byteCount, nullptr, 0);
  if (unitCount <= 0) return {};
  std::wstring text(static_cast<std::size_t>(unitCount), L'\0');
  const int written = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), byteCount, text.data(), unitCount);
  text.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return text;
}

}  // namespace common
