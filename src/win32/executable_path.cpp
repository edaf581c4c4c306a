#include "win32/executable_path.h"

#include <windows.h>

namespace win32 {

std::wstring ExecutablePath() {
  // GetModuleFileNameW truncates silently when the buffer is too small (returning its full size), so the
  // buffer grows until the path fits with room to spare. Long-path names can exceed MAX_PATH.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 0x8000) return std::wstring();  // beyond any path Windows can name
    path.resize(path.size() * 2);
  }
}

}  // namespace win32
