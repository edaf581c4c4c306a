// The confirm button's hand-over on Windows: the second-stage installer started for real.
#pragma once

#include <string_view>

#include "actions/continue_exit.h"

namespace actions {

// Starts base directory & "vorncopy\tarvinxp.exe" with a normal, focused window and does not wait for
// it; a missing or unstartable installer is left at that, silently.
HandOver StartInstaller(std::wstring_view baseDirectory);

}  // namespace actions
