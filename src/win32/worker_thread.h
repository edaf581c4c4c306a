// One piece of work on a second thread, started at once and always joined: by Join, else when the
// object goes. Nothing the work throws leaves its thread. A thread that cannot start, or work that
// throws, makes Join answer false, and the caller then does the work itself.
#pragma once

#include <windows.h>

#include "win32/unique_handle.h"

namespace win32 {

class WorkerThread {
 public:
  // Runs work(context) on a new thread; context must outlive the thread.
  WorkerThread(void (*work)(void* context), void* context);
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;
  ~WorkerThread() { Join(); }

  // Waits for the work to end; true when it ran to its end without throwing. Later calls give the
  // same answer without waiting.
  bool Join();

 private:
  static unsigned __stdcall Entry(void* self);

  void (*work_)(void*);
  void* context_;
  bool finished_ = false;  // written on the thread only, read once the thread has ended
  bool joined_ = false;    // Join's answer
  UniqueKernelHandle thread_;
};

}  // namespace win32
