#include "win32/system_library.h"

#include <commctrl.h>

#include <string>

namespace win32 {

UniqueModule LoadSystemLibrary(std::wstring_view fileName) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const UINT length = ::GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    if (length == 0) return UniqueModule{};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(length);  // too small: length is the size needed, terminator included
  }
  if (path.back() != L'\\') path += L'\\';
  path += fileName;
  return UniqueModule{::LoadLibraryW(path.c_str())};
}

UniqueModule LoadCommonControls(DWORD classes) {
  UniqueModule library = LoadSystemLibrary(L"comctl32.dll");
  using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto init = ProcedureAddress<InitFunction>(library.get(), "InitCommonControlsEx");
  if (!init) return UniqueModule{};
  const INITCOMMONCONTROLSEX registration{sizeof(INITCOMMONCONTROLSEX), classes};
  init(&registration);
  return library;
}

}  // namespace win32
