// The first paint's slowest parts, made ahead on a second thread while the main thread creates the
// window: the two photographs decoded and scaled to the sizes they are painted at, and each font of the
// table made and used once on the texts it shows. The first use of a font is what costs (above all the
// Chinese one's); the system keeps what that use loaded, and the window's own fonts, made alike, find it.
#pragma once

#include <windows.h>

#include "setup/picture_cache.h"
#include "win32/worker_thread.h"

namespace setup {

class SetupWindow;

class PaintWarmUp {
 public:
  // Starts the work on its own thread at once.
  explicit PaintWarmUp(HINSTANCE instance);

  // Waits for the work and gives the window the pictures it made. A thread that could not start, or
  // work that failed, gives it nothing: the first paint then makes everything itself, as it would
  // without a warm-up. Call before the window first paints.
  void HandTo(SetupWindow& window);

 private:
  static void Run(void* self);

  PictureCache pictures_;
  win32::WorkerThread thread_;  // last: what the work uses is made before it starts
};

}  // namespace setup
