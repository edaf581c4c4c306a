// The one owning wrapper for every handle the program creates: move-only, closes exactly once, and
// gives the handle back to the caller through release() when ownership must pass to Windows.
#pragma once

#include <windows.h>

#include <utility>

namespace win32 {

// Traits name the handle type, its "no handle" value and how to close it.
template <typename Traits>
class UniqueHandle {
 public:
  using pointer = typename Traits::pointer;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(pointer handle) noexcept : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  pointer get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }

  void reset(pointer handle = Traits::Invalid()) noexcept {
    pointer old = std::exchange(handle_, handle);
    if (old != Traits::Invalid()) Traits::Close(old);
  }
  [[nodiscard]] pointer release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

 private:
  pointer handle_ = Traits::Invalid();
};

template <typename Handle>
struct GdiObjectTraits {
  using pointer = Handle;
  static constexpr pointer Invalid() { return nullptr; }
  static void Close(pointer handle) { ::DeleteObject(handle); }
};

struct IconTraits {
  using pointer = HICON;
  static constexpr pointer Invalid() { return nullptr; }
  static void Close(pointer handle) { ::DestroyIcon(handle); }
};

struct MemoryDcTraits {
  using pointer = HDC;
  static constexpr pointer Invalid() { return nullptr; }
  static void Close(pointer handle) { ::DeleteDC(handle); }
};

// Kernel objects whose failure value is NULL (processes, threads, events).
struct KernelHandleTraits {
  using pointer = HANDLE;
  static constexpr pointer Invalid() { return nullptr; }
  static void Close(pointer handle) { ::CloseHandle(handle); }
};

// Handles from CreateFile, which reports failure as INVALID_HANDLE_VALUE rather than NULL. A search
// handle from FindFirstFile fails the same way but must be closed with FindClose, so it does not belong
// here.
struct FileHandleTraits {
  using pointer = HANDLE;
  static pointer Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(pointer handle) { ::CloseHandle(handle); }
};

struct ModuleTraits {
  using pointer = HMODULE;
  static constexpr pointer Invalid() { return nullptr; }
  static void Close(pointer handle) { ::FreeLibrary(handle); }
};

struct WindowTraits {
  using pointer = HWND;
  static constexpr pointer Invalid() { return nullptr; }
  static void Close(pointer handle) { ::DestroyWindow(handle); }
};

using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniquePen = UniqueHandle<GdiObjectTraits<HPEN>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;

}  // namespace win32
