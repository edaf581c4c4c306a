// setup.exe: creates the setup window, runs its load step, shows it and runs its messages until the
// controller decides the end, which happens here and nowhere else.
#include <windows.h>

#include <optional>

#include "actions/continue_exit_win32.h"
#include "actions/controller.h"
#include "actions/file_system_win32.h"
#include "common/ansi_code_page_win32.h"
#include "common/module1.h"
#include "setup/setup_window.h"
#include "win32/dpi.h"
#include "win32/process_hardening.h"

namespace {

// The window's messages until the controller decides the end. The controller's steps (a long text
// going into the notes panel) run only while no message waits, so that input and painting always come
// first. Empty when the loop ended without such a decision.
std::optional<actions::Next> RunUntilTheEnd(setup::SetupWindow& window, int& exitCode) {
  MSG message{};
  for (;;) {
    if (window.StepPending() && !::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
      window.RunStep();
    } else {
      const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
      if (got <= 0) {
        exitCode = got == 0 ? static_cast<int>(message.wParam) : 1;
        return std::nullopt;
      }
      // A click sent from another program is handled inside GetMessage and may have decided already.
      if (!window.Ending() && !window.RouteKey(message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
    }
    if (const std::optional<actions::Next> ending = window.Ending()) return ending;
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before any DLL is loaded at run time: the medium's folder must never supply one.
  win32::HardenProcess();
  win32::DeclareDpiAware();

  setup::SetupWindow window(instance);
  actions::Win32FileSystem files;
  actions::Controller controller(
      {window.BaseDirectory(), window, files, Module1::GetWinDir, common::DecodeAnsiCodePage});
  int exitCode = 1;
  std::optional<actions::Next> ending;
  if (window.Create()) {
    window.RunLoadStep();
    window.Connect(controller);
    window.Show();
    ending = RunUntilTheEnd(window, exitCode);
  }
  if (ending == actions::Next::StartInstallerThenEnd) actions::StartInstaller(window.BaseDirectory());
  // The end is immediate: no window is closed or destroyed first, and the installer runs on by itself.
  if (ending) ::ExitProcess(0);

  // Only a message loop that ended without the controller's decision (or a window that could not be
  // made) gets here.
  return exitCode;
}
