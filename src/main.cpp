// setup.exe: creates the setup window, runs its load step, shows it and routes its keys. The program
// ends from the window's buttons, never by leaving the message loop in ordinary use.
#include <objbase.h>
#include <windows.h>

#include "setup/setup_window.h"
#include "win32/dpi.h"
#include "win32/process_hardening.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before any DLL is loaded at run time: the medium's folder must never supply one.
  win32::HardenProcess();
  win32::DeclareDpiAware();
  // OleLoadPicture decodes the window's JPEGs through COM.
  const HRESULT com = ::CoInitialize(nullptr);

  int exitCode = 0;
  {
    setup::SetupWindow window(instance);
    if (window.Create()) {
      window.RunLoadStep();
      window.Show();
      MSG message{};
      while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.RouteKey(message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
      exitCode = static_cast<int>(message.wParam);
    } else {
      exitCode = 1;
    }
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return exitCode;
}
