// What "确认", "取消", "><" and closing the window do: end the launcher at once, the confirm button after
// handing over to the second-stage installer.
#pragma once

#include <string_view>

namespace actions {

// Ends the process immediately: no close or unload handling runs, windows simply disappear.
[[noreturn]] void EndProgramAtOnce();

// Starts base directory & "vorncopy\tarvinxp.exe" with a normal, focused window and does not wait for
// it; a missing or unstartable installer is ignored. Then ends the program.
[[noreturn]] void StartInstallerAndEnd(std::wstring_view baseDirectory);

}  // namespace actions
