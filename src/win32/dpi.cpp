#include "win32/dpi.h"

#include <windows.h>

#include "win32/gdi_scope.h"
#include "win32/system_library.h"

namespace win32 {

void DeclareDpiAware() {
  // user32 is always loaded; the function is newer than XP, so it is looked up rather than imported.
  using SetProcessDpiAwareFunction = BOOL(WINAPI*)();
  if (auto declare = ProcedureAddress<SetProcessDpiAwareFunction>(::GetModuleHandleW(L"user32.dll"),
                                                                  "SetProcessDPIAware"))
    declare();
}

namespace {

int ScreenDeviceCaps(int index) {
  WindowDcScope screen(nullptr);
  const int dpi = screen.dc() ? ::GetDeviceCaps(screen.dc(), index) : 0;
  return dpi > 0 ? dpi : 96;
}

}  // namespace

int ScreenDpi() {
  return ScreenDeviceCaps(LOGPIXELSX);
}

int VerticalScreenDpi() {
  return ScreenDeviceCaps(LOGPIXELSY);
}

}  // namespace win32
