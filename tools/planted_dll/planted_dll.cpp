// Test equipment: a stand-in for a DLL that someone planted beside setup.exe on a medium. Copied under
// the names the launcher or Windows might look for, it leaves a trace of every load in the folder that
// PLANTED_DLL_MARKERS names: a file "<own file name>.loaded" holding the loading program's path.
// Never part of a medium.
#include <windows.h>

#include <string>

namespace {

std::wstring ModuleFileName(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring FileNamePart(const std::wstring& path) {
  const auto separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

void LeaveMarker(HMODULE self) {
  wchar_t folder[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"PLANTED_DLL_MARKERS", folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  const std::wstring marker = std::wstring(folder) + L"\\" + FileNamePart(ModuleFileName(self)) + L".loaded";
  const HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::wstring host = ModuleFileName(nullptr);
  DWORD written = 0;
  WriteFile(file, host.data(), static_cast<DWORD>(host.size() * sizeof(wchar_t)), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

// Refusing to stay makes the load fail as if the file were not there: the launcher carries on, so one
// run shows every place that would have taken a planted file, not just the first before a crash.
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LeaveMarker(self);
  return FALSE;
}
