#include "setup/setup_window.h"

#include <string>

#include "actions/payload_check.h"
#include "resources/resource_ids.h"
#include "setup/class_names.h"
#include "setup/placement.h"
#include "win32/dialog_behaviour.h"
#include "win32/dpi.h"
#include "win32/resource_data.h"

namespace setup {

namespace {

// Posted to itself by a refusal of the payload check, for its box (keys_and_focus has WM_APP + 1).
constexpr UINT kShowRefusalMessage = WM_APP + 2;

}  // namespace

SetupWindow::SetupWindow(HINSTANCE instance)
    : instance_(instance),
      dpi_(win32::ScreenDpi()),
      painter_(instance, dpi_),
      controls_(instance, dpi_, painter_) {}

SetupWindow::~SetupWindow() {
  controls_.DestroyToolTip();
  // The window goes before the members its messages still use.
  if (hwnd()) ::DestroyWindow(hwnd());
}

bool SetupWindow::Create() {
  WNDCLASSEXW windowClass{};
  windowClass.lpszClassName = kSetupWindowClassName;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hIcon = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_APPLICATION_ICON),
                                                      IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                                      ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
  windowClass.hIconSm = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_APPLICATION_ICON),
                                                        IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                        ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  RegisterClassOnce(windowClass);

  // A hidden owner keeps the window off the task bar without making it a tool window.
  owner_.reset(
      ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance_, nullptr));

  // Without a frame the client area is the whole window. It starts centred on the screen at its design
  // size, truncated to whole pixels as the load step's placement truncates, which then keeps it. Where
  // the load step would place it in this very box, it is made topmost at once, as the load step would
  // make it, which then has nothing left to do; where it would not, the load step does it all.
  const PixelSize size = WindowPixelSize(kClientWidthTwips, kClientHeightTwips, dpi_);
  const POINT corner = win32::CentredOnScreen(size.width, size.height);
  const common::PixelRect box{corner.x, corner.y, corner.x + size.width, corner.y + size.height};
  const DWORD exStyle = LoadStepKeeps(box) ? WS_EX_TOPMOST : 0;
  if (!Window::Create(exStyle, kSetupWindowClassName, std::wstring(kWindowCaption).c_str(),
                      WS_POPUP | WS_CLIPCHILDREN, corner.x, corner.y, size.width, size.height, owner_.get(),
                      nullptr))
    return false;
  keys_.Attach(hwnd());
  // What the user does not see at first waits until the window has painted.
  controls_.CreateSeen(hwnd());
  return true;
}

void SetupWindow::RunLoadStep() {
  // The placement goes through twips and back, with the rounding the launcher has always used; whatever
  // fails there leaves the window where it is, not topmost, and says nothing. It reads the window where
  // it stands now (centred, at its design size) in whole twips per pixel, so that it keeps that box at
  // every resolution.
  RECT window{};
  if (!::GetWindowRect(hwnd(), &window)) return;
  const common::PixelRect box{window.left, window.top, window.right, window.bottom};
  // Made topmost in this box at once (Create): the call would change nothing.
  if ((::GetWindowLongW(hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST) && LoadStepKeeps(box)) return;
  if (const auto pixels = LoadStepPlacement(box))
    ::SetWindowPos(hwnd(), HWND_TOPMOST, pixels->x, pixels->y, pixels->cx, pixels->cy, 0);
}

std::optional<WindowPlacementPixels> SetupWindow::LoadStepPlacement(const common::PixelRect& box) const {
  return PlacementPixels(PlacementTwipsOf(box, dpi_, win32::VerticalScreenDpi()));
}

bool SetupWindow::LoadStepKeeps(const common::PixelRect& box) const {
  return LoadStepPlacement(box) == WindowPlacementPixels{box.left, box.top, box.Width(), box.Height()};
}

void SetupWindow::Show() {
  ::ShowWindow(hwnd(), SW_SHOWNORMAL);
  ::SetForegroundWindow(hwnd());
  win32::ShowKeyboardCues(hwnd());
  keys_.TakeFirstFocus();
  // The whole window, children and focus included, paints before anything else is done.
  ::RedrawWindow(hwnd(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  // Then what the user does not see at first, before the message loop hands the window any input, so
  // that the first key already finds the whole Tab cycle.
  controls_.CreateUnseen();
}

bool SetupWindow::OnPaint() {
  painter_.PaintWindow(hwnd());
  return true;
}

// Clicks of the command buttons (the strip passes its button's on) become the events the table names.
bool SetupWindow::OnCommand(int id, int notification, HWND /*control*/) {
  const std::optional<Row> row = RowOfControlId(id);
  if (!row || ControlAt(*row).kind != ControlKind::CommandButton) return false;
  switch (notification) {
    case BN_SETFOCUS:
    case BN_KILLFOCUS:
      keys_.CommandButtonFocusChanged(notification == BN_SETFOCUS);
      return true;
    case BN_CLICKED:
    case BN_DOUBLECLICKED:  // the second click of a double click is a click of its own
      if (const std::optional<actions::Event> event = ControlAt(*row).click) Deliver(*event);
      return true;
    default:
      return false;
  }
}

HBRUSH SetupWindow::OnControlColor(UINT /*message*/, HDC dc, HWND control) {
  if (control != controls_.WindowOf(Row::Text2)) return nullptr;
  return painter_.PanelColors(dc);
}

void SetupWindow::RefuseMedium(std::wstring_view relativePath, actions::RefusalCause cause) {
  if (const HWND confirm = controls_.WindowOf(Row::cmdContinue)) ::EnableWindow(confirm, FALSE);
  refusal_.emplace(actions::RefusalMessage(relativePath, cause));
  ::PostMessageW(hwnd(), kShowRefusalMessage, 0, 0);
}

void SetupWindow::ShowRefusal() {
  if (!refusal_) return;
  const std::wstring message = std::move(*refusal_);
  refusal_.reset();
  const std::wstring caption(kWindowCaption);
  ::MessageBoxW(hwnd(), message.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

std::optional<std::string> PayloadListResource(HINSTANCE instance) {
  const std::optional<std::string_view> list = win32::DataResource(instance, IDR_PAYLOAD_LIST);
  if (!list) return std::nullopt;
  return std::string(*list);
}

bool SetupWindow::OnClose() {
  Deliver(actions::Event::CloseRequest);
  return true;  // the window is not destroyed: the launcher ends from the controller's answer
}

void SetupWindow::Deliver(actions::Event event) {
  // The message loop may be waiting in GetMessage, which a sent click does not wake.
  if (run_ && run_->Deliver(event)) ::PostMessageW(hwnd(), WM_NULL, 0, 0);
}

bool SetupWindow::OnActivate(WORD state, HWND /*other*/) {
  keys_.Activated(state);
  return false;
}

bool SetupWindow::OnSetFocus(HWND /*previous*/) {
  keys_.WindowFocused();
  return true;
}

bool SetupWindow::OnOtherMessage(UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/, LRESULT& result) {
  if (message == kShowRefusalMessage) {
    ShowRefusal();
    result = 0;
    return true;
  }
  if (!keys_.OnPostedMessage(message)) return false;
  result = 0;
  return true;
}

}  // namespace setup
