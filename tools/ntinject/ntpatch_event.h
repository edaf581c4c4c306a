// The name of the event by which ntpatch.dll tells the injector that the patch is in place.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring PatchedEventName(DWORD processId) {
  return L"ntpatch-applied-" + std::to_wstring(processId);
}
