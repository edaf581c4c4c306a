#include "win32/window.h"

namespace win32 {

Window::~Window() = default;

void Window::RegisterClassOnce(const WNDCLASSEXW& classTemplate) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (::GetClassInfoExW(instance, classTemplate.lpszClassName, &existing)) return;
  WNDCLASSEXW windowClass = classTemplate;
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &Window::Procedure;
  windowClass.hInstance = instance;
  ::RegisterClassExW(&windowClass);
}

HWND Window::Create(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style, int x, int y,
                    int width, int height, HWND parentOrOwner, HMENU menuOrId) {
  return ::CreateWindowExW(exStyle, className, title, style, x, y, width, height, parentOrOwner, menuOrId,
                           ::GetModuleHandleW(nullptr), this);
}

LRESULT CALLBACK Window::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* self = nullptr;
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    self = static_cast<Window*>(create->lpCreateParams);
    self->hwnd_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<Window*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  }
  if (!self) return ::DefWindowProcW(window, message, wParam, lParam);

  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
  try {
    return self->Dispatch(message, wParam, lParam);
  } catch (...) {
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT Window::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      if (OnPaint()) return 0;
      break;
    case WM_ERASEBKGND:
      if (OnEraseBackground(reinterpret_cast<HDC>(wParam))) return 1;
      break;
    case WM_COMMAND:
      if (OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam))) return 0;
      break;
    case WM_DRAWITEM:
      if (OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) return TRUE;
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
      if (HBRUSH brush =
              OnControlColor(message, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)))
        return reinterpret_cast<LRESULT>(brush);
      break;
    case WM_CLOSE:
      if (OnClose()) return 0;
      break;
    case WM_SETFOCUS:
      if (OnSetFocus(reinterpret_cast<HWND>(wParam))) return 0;
      break;
    case WM_ACTIVATE:
      if (OnActivate(LOWORD(wParam), reinterpret_cast<HWND>(lParam))) return 0;
      break;
    default: {
      LRESULT result = 0;
      if (OnOtherMessage(message, wParam, lParam, result)) return result;
      break;
    }
  }
  return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace win32
