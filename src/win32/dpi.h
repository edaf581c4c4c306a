// The screen's logical resolution, which every twip-to-pixel conversion of the window uses.
#pragma once

namespace win32 {

// Asks Windows (Vista and later) not to stretch the window's bitmap on high-DPI screens, in case the
// manifest's declaration is ignored. Must run before the first window or screen DC is made.
void DeclareDpiAware();

// Logical pixels per inch of the screen across (96 at 100 %, 120 at 125 %, 144 at 150 %), which the
// window's layout uses in both directions.
int ScreenDpi();

// The same down the screen. Every system reports the same as across; the load step still reads each
// factor for its own direction.
int VerticalScreenDpi();

}  // namespace win32
