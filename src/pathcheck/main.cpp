// pathcheck.exe: the path-check window Form1 on its own. It reads no command line; it ends when the
// window is closed through its frame.
#include <windows.h>

#include "pathcheck/path_check_window.h"
#include "win32/dpi.h"
#include "win32/process_hardening.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
  // Before any DLL is loaded at run time: the medium's folder must never supply one.
  win32::HardenProcess();
  win32::DeclareDpiAware();

  pathcheck::PathCheckWindow form;
  if (!form.Create()) return 1;
  form.Show(showCommand);
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (form.RouteDialogKey(message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
