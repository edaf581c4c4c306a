#include "pathcheck/form1.h"

#include <commctrl.h>

#include <string>

#include "common/geometry.h"
#include "common/module1.h"
#include "pathcheck/form1_layout.h"
#include "pathcheck/path_check.h"
#include "win32/dpi.h"
#include "win32/system_library.h"
#include "win32/top_level.h"

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

Form1::~Form1() {
  // The window goes before the members its messages still use.
  if (hwnd()) ::DestroyWindow(hwnd());
}

bool Form1::Create() {
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
  RECT frame{0, 0, common::TwipsToPixels(kForm1ClientWidthTwips, dpi),
             common::TwipsToPixels(kForm1ClientHeightTwips, dpi)};
  ::AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const POINT corner = win32::CentredOnScreen(width, height);
  if (!Window::Create(kFormExStyle, kClassName, std::wstring(kForm1Caption).c_str(), kFormStyle, corner.x,
                      corner.y, width, height, nullptr, nullptr))
    return false;

  font_ = MessageFont();
  CreateControls(dpi);
  return true;
}

void Form1::CreateControls(int dpi) {
  // Control order is the creation order, so the stacking order follows the table.
  for (const Form1Control& control : kForm1Controls) {
    const RECT box = win32::ToRect(common::TwipsToPixels(control.box, dpi));
    HWND child = nullptr;
    switch (control.kind) {
      case Form1ControlKind::PictureBox:
        child = picture1_.Create(hwnd(), control.id, box);
        break;
      case Form1ControlKind::CommandButton:
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

void Form1::Show(int showCommand) {
  ::ShowWindow(hwnd(), showCommand);
  ::SetForegroundWindow(hwnd());
  ::UpdateWindow(hwnd());
  win32::ShowKeyboardCues(hwnd());
  ::SetFocus(Control(FirstFocusControl().id));
}

bool Form1::RouteDialogKey(MSG& message) {
  return hwnd() && ::IsDialogMessageW(hwnd(), &message);
}

void Form1::ClickCommand1() {
  pathcheck::ClickCommand1(Module1::GetWinDir, [this](const std::wstring& text) {
    ::MessageBoxW(hwnd(), text.c_str(), std::wstring(kApplicationTitle).c_str(), MB_OK);
  });
}

bool Form1::OnCommand(int id, int notification, HWND control) {
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

void Form1::RestoreFocus() {
  if (const HWND target = keptFocus_.Target(hwnd(), Control(FirstFocusControl().id))) ::SetFocus(target);
}

// Like a dialog, the window gives the focus back to the control that had it when it was deactivated
// (by the message box, or another program), instead of keeping it for itself.
bool Form1::OnActivate(WORD state, HWND) {
  if (state == WA_INACTIVE) {
    keptFocus_.Deactivated(hwnd());
    return false;
  }
  if (::IsIconic(hwnd())) return false;
  RestoreFocus();
  return true;
}

bool Form1::OnSetFocus(HWND) {
  RestoreFocus();
  return true;
}

bool Form1::OnOtherMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
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
