// Base of the program's own window classes: the C++ object rides on the window from WM_NCCREATE on,
// and the messages the program cares about arrive as typed member calls. Whatever a handler throws
// stops at the window procedure, which then lets Windows do its default.
#pragma once

#include <windows.h>

namespace win32 {

class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  virtual ~Window();

  HWND hwnd() const { return hwnd_; }

 protected:
  // Registers a class whose procedure forwards to the object; later calls with the same name are
  // no-ops. Only lpszClassName, style, hIcon, hIconSm, hCursor and hbrBackground of the template count.
  static void RegisterClassOnce(const WNDCLASSEXW& classTemplate);

  // Creates the window with this object attached; returns the handle (NULL on failure).
  HWND Create(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style, int x, int y,
              int width, int height, HWND parentOrOwner, HMENU menuOrId);

  // Handlers return true when they have answered the message; false lets DefWindowProc have it.
  virtual bool OnPaint() { return false; }
  virtual bool OnEraseBackground(HDC) { return false; }
  virtual bool OnCommand(int /*id*/, int /*notification*/, HWND /*control*/) { return false; }
  virtual bool OnDrawItem(const DRAWITEMSTRUCT&) { return false; }
  // A brush for the control's background, or NULL for the default colours.
  virtual HBRUSH OnControlColor(UINT /*message*/, HDC, HWND /*control*/) { return nullptr; }
  virtual bool OnClose() { return false; }
  virtual bool OnSetFocus(HWND /*previous*/) { return false; }
  virtual bool OnActivate(WORD /*state*/, HWND /*other*/) { return false; }
  // Everything else; result is the message's answer when the function returns true.
  virtual bool OnOtherMessage(UINT /*message*/, WPARAM, LPARAM, LRESULT& /*result*/) { return false; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
};

}  // namespace win32
