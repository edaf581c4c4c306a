// What the program does before anything else: the installation medium is a folder the user does not
// control (a downloaded archive, a network share, a disc image), so no DLL may ever be taken from it,
// and a missing or ejected medium must never raise a system error box.
#pragma once

namespace win32 {

// Restricts the DLL search of every later load to the system folder, drops the current directory
// from the search paths, and turns off the critical-error and open-file error boxes. Each step is
// looked up at run time where Windows XP lacks it, and a missing step is skipped: the program must
// still run on a system that predates it. Call it first, before any DLL is loaded at run time.
void HardenProcess();

}  // namespace win32
