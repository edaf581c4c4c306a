#include "pathcheck/path_check_window.h"

#include <commctrl.h>

#include <string>

#include "common/geometry.h"
#include "common/windows_directory_win32.h"
#include "pathcheck/path_check.h"
#include "pathcheck/path_check_layout.h"
#include "win32/dialog_behaviour.h"
#include "win32/dpi.h"
#include "win32/rect.h"
#include "win32/system_library.h"

namespace pathcheck {
namespace {

constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_WINDOWEDGE;
// BS_NOTIFY: the window hears when the button gains and loses the focus.
constexpr DWORD kButtonStyle = BS_PUSHBUTTON | BS_NOTIFY;

HBRUSH ButtonFaceBrush() {
  return reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
}

// The font the system uses for message boxes; the toolkit's forms default to it.
win32::UniqueFont MessageFont() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;  // the XP-sized structure, which every later Windows accepts
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
    return win32::UniqueFont(::CreateFontIndirectW(&metrics.lfMessageFont));
  return {};
}

}  // namespace

// --- PictureBox ---------------------------------------------------------------------------------------

HWND PictureBox::Create(HWND parent, int id, const RECT& box) {
  WNDCLASSEXW windowClass{};
  windowClass.lpszClassName = kClassName;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = ButtonFaceBrush();
  RegisterClassOnce(windowClass);
  return Window::Create(WS_EX_CLIENTEDGE, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, box.left,
                        box.top, box.right - box.left, box.bottom - box.top, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)));
}

bool PictureBox::OnOtherMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  // A picture box with a Tab stop takes the focus when it is clicked, as by Tab.
  if (message == WM_LBUTTONDOWN) {
    ::SetFocus(hwnd());
    result = 0;
    return true;
  }
  return false;
}

// --- Form1 --------------------------------------------------------------------------------------------

PathCheckWindow::~PathCheckWindow() {
  // The window goes before the members its messages still use.
  if (hwnd()) ::DestroyWindow(hwnd());
}

bool PathCheckWindow::Create() {
  // With the common-controls manifest the buttons come from comctl32 version 6, which Windows XP only
  // provides once the DLL is loaded and its classes registered.
  commonControls_ = win32::LoadCommonControls(ICC_STANDARD_CLASSES);
  const int dpi = win32::ScreenDpi();

  WNDCLASSEXW windowClass{};
  windowClass.lpszClassName = kClassName;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = ButtonFaceBrush();
  // No icon of its own: the window shows the system's default application icon.
  RegisterClassOnce(windowClass);

  // The design gives the client area; the frame around it is whatever the system's metrics make it.
  RECT frame{0, 0, common::TwipsToPixels(kPathCheckClientWidthTwips, dpi),
             common::TwipsToPixels(kPathCheckClientHeightTwips, dpi)};
  ::AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const POINT corner = win32::CentredOnScreen(width, height);
  if (!Window::Create(kFormExStyle, kClassName, std::wstring(kPathCheckCaption).c_str(), kFormStyle, corner.x,
                      corner.y, width, height, nullptr, nullptr))
    return false;

  font_ = MessageFont();
  CreateControls(dpi);
  return true;
}

void PathCheckWindow::CreateControls(int dpi) {
  // Control order is the creation order, so the stacking order follows the table.
  for (const PathCheckControl& control : kPathCheckControls) {
    const RECT box = win32::ToRect(common::TwipsToPixels(control.box, dpi));
    HWND child = nullptr;
    switch (control.kind) {
      case PathCheckControlKind::PictureBox:
        child = picture1_.Create(hwnd(), control.id, box);
        break;
      case PathCheckControlKind::CommandButton:
        child = ::CreateWindowExW(0, L"BUTTON", std::wstring(control.text).c_str(),
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | kButtonStyle, box.left, box.top,
                                  box.right - box.left, box.bottom - box.top, hwnd(),
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
                                  ::GetModuleHandleW(nullptr), nullptr);
        break;
    }
    if (child && font_) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
  }
}

void PathCheckWindow::Show(int showCommand) {
  ::ShowWindow(hwnd(), showCommand);
  ::SetForegroundWindow(hwnd());
  ::UpdateWindow(hwnd());
  win32::ShowKeyboardCues(hwnd());
  ::SetFocus(Control(FirstFocusControl().id));
}

bool PathCheckWindow::RouteDialogKey(MSG& message) {
  return hwnd() && ::IsDialogMessageW(hwnd(), &message);
}

void PathCheckWindow::ClickCommand1() {
  pathcheck::ClickCommand1(common::GetWinDir, [this](const std::wstring& text) {
    ::MessageBoxW(hwnd(), text.c_str(), std::wstring(kApplicationTitle).c_str(), MB_OK);
  });
}

bool PathCheckWindow::OnCommand(int id, int notification, HWND control) {
  const HWND command1 = Control(kCommand1Id);
  if (id == kCommand1Id && control == command1) {
    switch (notification) {
      case BN_CLICKED:
        ClickCommand1();
        return true;
      // As in a dialog without a default button, the focused push button is the default one: it shows
      // the heavier frame, and the dialog manager presses it for Enter.
      case BN_SETFOCUS:
        ::SendMessageW(command1, BM_SETSTYLE, BS_DEFPUSHBUTTON | BS_NOTIFY, TRUE);
        return true;
      case BN_KILLFOCUS:
        ::SendMessageW(command1, BM_SETSTYLE, kButtonStyle, TRUE);
        return true;
      default:
        return false;
    }
  }
  return false;
}

void PathCheckWindow::RestoreFocus() {
  if (const HWND target = keptFocus_.Target(hwnd(), Control(FirstFocusControl().id))) ::SetFocus(target);
}

// Like a dialog, the window gives the focus back to the control that had it when it was deactivated
// (by the message box, or another program), instead of keeping it for itself.
bool PathCheckWindow::OnActivate(WORD state, HWND) {
  if (state == WA_INACTIVE) {
    keptFocus_.Deactivated(hwnd());
    return false;
  }
  if (::IsIconic(hwnd())) return false;
  RestoreFocus();
  return true;
}

bool PathCheckWindow::OnSetFocus(HWND) {
  RestoreFocus();
  return true;
}

bool PathCheckWindow::OnOtherMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  // The dialog manager asks this when the focus moves by Tab and when Enter is pressed: the default
  // button is the focused one, and there is none while Picture1 has the focus.
  if (message == DM_GETDEFID) {
    result = ::GetFocus() == Control(kCommand1Id) ? MAKELRESULT(kCommand1Id, DC_HASDEFID) : 0;
    return true;
  }
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    result = 0;
    return true;
  }
  return false;
}

}  // namespace pathcheck
