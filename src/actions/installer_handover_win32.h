// The confirm button's hand-over on Windows: the second-stage installer started for real.
#pragma once

#include <string>
#include <string_view>

#include "actions/installer_handover.h"

namespace actions {

// The process start and the shell on Windows. Either way the program gets the system's default error
// mode, whatever the launcher's own.
class Win32ProgramStarter final : public ProgramStarter {
 public:
  StartOutcome StartProcess(const std::wstring& applicationPath, const std::wstring& commandLine) override;
  StartOutcome OpenThroughShell(const std::wstring& applicationPath) override;
};

// Starts base directory & "vorncopy\tarvinxp.exe" with a normal, focused window and does not wait for
// it; a missing or unstartable installer is left at that, silently. Under the guard's payload list it is
// checked first, through a handle that denies writes and is held until it has started.
HandOverOutcome StartInstaller(std::wstring_view baseDirectory, PayloadGuard& guard);
// The same without a payload list.
HandOverOutcome StartInstaller(std::wstring_view baseDirectory);

}  // namespace actions
