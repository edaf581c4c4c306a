#include "win32/worker_thread.h"

#include <process.h>

namespace win32 {

WorkerThread::WorkerThread(void (*work)(void*), void* context) : work_(work), context_(context) {
  // Through the C run-time, which the work uses (allocation, exceptions), rather than CreateThread.
  thread_.reset(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &Entry, this, 0, nullptr)));
}

unsigned __stdcall WorkerThread::Entry(void* self) {
  auto& thread = *static_cast<WorkerThread*>(self);
  try {
    thread.work_(thread.context_);
    thread.finished_ = true;
  } catch (...) {
    // The work is unfinished: the caller does it itself.
  }
  return 0;
}

bool WorkerThread::Join() {
  if (thread_) {
    joined_ = ::WaitForSingleObject(thread_.get(), INFINITE) == WAIT_OBJECT_0 && finished_;
    thread_.reset();
  }
  return joined_;
}

}  // namespace win32
