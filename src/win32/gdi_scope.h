// Scoped GDI state: a paint cycle that always ends, a selection that is always undone, a screen DC
// that is always released. Objects stay owned by their UniqueHandle; these only borrow them.
#pragma once

#include <windows.h>

namespace win32 {

class PaintScope {
 public:
  explicit PaintScope(HWND window) : window_(window) { dc_ = ::BeginPaint(window_, &paint_); }
  ~PaintScope() { ::EndPaint(window_, &paint_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;

  HDC dc() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_ = nullptr;
};

class SelectScope {
 public:
  SelectScope(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ~SelectScope() {
    if (previous_) ::SelectObject(dc_, previous_);
  }
  SelectScope(const SelectScope&) = delete;
  SelectScope& operator=(const SelectScope&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// GetDC/ReleaseDC of a window (NULL: the screen).
class WindowDcScope {
 public:
  explicit WindowDcScope(HWND window) : window_(window), dc_(::GetDC(window)) {}
  ~WindowDcScope() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  WindowDcScope(const WindowDcScope&) = delete;
  WindowDcScope& operator=(const WindowDcScope&) = delete;

  HDC dc() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

}  // namespace win32
