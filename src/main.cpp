// setup.exe: creates the setup window, runs its load step, shows it and runs its messages until the
// controller decides the end, which happens here and nowhere else.
#include <windows.h>

#include <optional>
#include <string>

#include "actions/controller.h"
#include "actions/file_system_win32.h"
#include "actions/installer_handover_win32.h"
#include "actions/payload_check_win32.h"
#include "actions/run_state.h"
#include "common/ansi_code_page_win32.h"
#include "common/windows_directory_win32.h"
#include "setup/base_directory.h"
#include "setup/setup_window.h"
#include "win32/dpi.h"
#include "win32/executable_path.h"
#include "win32/process_hardening.h"

namespace {

// The window's messages until the controller decides the end. The controller's steps (a long text
// going into the notes panel) run only while no message waits, so that input and painting always come
// first. Empty when the loop ended without such a decision.
std::optional<actions::Next> RunUntilTheEnd(setup::SetupWindow& window, actions::RunState& run,
                                            int& exitCode) {
  MSG message{};
  for (;;) {
    if (run.StepPending() && !::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
      run.RunStep();
    } else {
      const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
      if (got <= 0) {
        exitCode = got == 0 ? static_cast<int>(message.wParam) : 1;
        return std::nullopt;
      }
      // A click sent from another program is handled inside GetMessage and may have decided already.
      if (!run.Ending() && !window.RouteKey(message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
    }
    if (const std::optional<actions::Next> ending = run.Ending()) return ending;
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before any DLL is loaded at run time: the medium's folder must never supply one.
  win32::HardenProcess();
  win32::DeclareDpiAware();

  // The launcher's own folder, fixed before anything holds it.
  const std::wstring executablePath = win32::ExecutablePath();
  const std::wstring baseDirectory = setup::BaseDirectoryFrom(setup::ApplicationDirectoryOf(executablePath));
  // A refusal because of a damaged list names this program, which carries the list; the survey of its
  // folder before the installer's start knows it by this name.
  const std::wstring programName = setup::ProgramFileNameOf(executablePath);
  setup::SetupWindow window(instance);
  actions::Win32FileSystem files;
  // The payload list is looked up at the first file used, the platform's hash made at the first hash:
  // neither costs the start anything.
  actions::CryptoApiDigests hashes;
  actions::PayloadGuard guard([instance] { return setup::PayloadListResource(instance); }, hashes,
                              [&window, &programName](const actions::Refusal& refusal) {
                                window.RefuseMedium(actions::RefusalMessage(refusal, programName));
                              });
  actions::Controller controller(
      {baseDirectory, window.Notes(), files, common::GetWinDir, common::DecodeAnsiCodePage, &guard});
  actions::RunState run(controller);
  int exitCode = 1;
  std::optional<actions::Next> ending;
  if (window.Create()) {
    window.RunLoadStep();
    window.Connect(run);
    window.Show();
    ending = RunUntilTheEnd(window, run, exitCode);
  }
  if (ending == actions::Next::StartInstallerThenEnd) {
    // A hand-over that throws (memory, say) ends there: what it had not started is not started, and the
    // launcher still ends.
    try {
      actions::StartInstaller(baseDirectory, guard, programName,
                              [&window](const std::wstring& message) { window.RefuseMedium(message); });
    } catch (...) {
    }
    // An installer that failed its check, or was refused for what lies beside it, is not started: the
    // user is told so before the end.
    window.ShowRefusal();
  }
  // The end is immediate: no window is closed or destroyed first, and the installer runs on by itself.
  if (ending) ::ExitProcess(0);

  // Only a message loop that ended without the controller's decision (or a window that could not be
  // made) gets here.
  return exitCode;
}
