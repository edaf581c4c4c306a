// tarvinxp.exe, the sample second-stage installer that the demonstration medium carries in its payload
// folder. It installs nothing and writes nothing: it shows that setup.exe handed over to it. The tests
// use tarvinxp_record.exe in its place.
#include <windows.h>

#include "win32/unique_handle.h"

namespace {

constexpr wchar_t kWindowClass[] = L"TarvinSampleInstaller";
constexpr wchar_t kCaption[] = L"tarvin 第二阶段安装程序 (示例)";
constexpr wchar_t kMessage[] = L"第二阶段安装程序已启动（示例程序，不安装任何内容）。";

constexpr int kClientWidth = 380;
constexpr int kClientHeight = 104;
constexpr int kMargin = 16;
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 26;

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        ::DestroyWindow(window);
        return 0;
      }
      break;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

// The system's message font, asked for with the Chinese character set: where that font has no
// Chinese glyphs, the font mapper then picks one that has.
win32::UniqueFont CreateTextFont() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  LOGFONTW font{};
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    font = metrics.lfMessageFont;
  } else {
    font.lfHeight = -12;
  }
  font.lfCharSet = GB2312_CHARSET;
  ::lstrcpynW(font.lfFaceName, L"宋体", LF_FACESIZE);
  return win32::UniqueFont(::CreateFontIndirectW(&font));
}

HWND CreateChild(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, RECT box, int id,
                 HFONT font) {
  const HWND child = ::CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, box.left, box.top,
                                       box.right - box.left, box.bottom - box.top, parent,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  if (child && font) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

HWND CreateMainWindow(HINSTANCE instance, HFONT font) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = ::LoadIconW(nullptr, MAKEINTRESOURCEW(32512));      // IDI_APPLICATION
  windowClass.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kWindowClass;
  if (!::RegisterClassW(&windowClass)) return nullptr;

  constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  ::AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT workArea{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
  const int left = workArea.left + (workArea.right - workArea.left - width) / 2;
  const int top = workArea.top + (workArea.bottom - workArea.top - height) / 2;

  const HWND window = ::CreateWindowExW(0, kWindowClass, kCaption, kStyle, left, top, width, height, nullptr,
                                        nullptr, instance, nullptr);
  if (!window) return nullptr;
  CreateChild(window, L"STATIC", kMessage, SS_LEFT | SS_NOPREFIX,
              {kMargin, kMargin + 4, kClientWidth - kMargin, kMargin + 24}, 0, font);
  const HWND ok = CreateChild(window, L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON,
                              {kClientWidth - kMargin - kButtonWidth, kClientHeight - kMargin - kButtonHeight,
                               kClientWidth - kMargin, kClientHeight - kMargin},
                              IDOK, font);
  if (!ok) {
    ::DestroyWindow(window);
    return nullptr;
  }
  return window;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  // Outlives the window and its controls, which use it until they are destroyed.
  const win32::UniqueFont font = CreateTextFont();
  const HWND window = CreateMainWindow(instance, font.get());
  if (!window) return 1;
  ::ShowWindow(window, showCommand);
  ::UpdateWindow(window);
  ::SetFocus(::GetDlgItem(window, IDOK));

  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Enter presses OK and Esc closes, as in a dialog box.
    if (::IsDialogMessageW(window, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
