#include "setup/setup_window.h"

#include <commctrl.h>

#include <cmath>
#include <utility>

#include "common/compositing.h"
#include "resources/resource_ids.h"
#include "setup/accessible_name.h"
#include "setup/base_directory.h"
#include "setup/class_names.h"
#include "setup/placement.h"
#include "setup/tab_order.h"
#include "win32/dpi.h"
#include "win32/edit_text.h"
#include "win32/executable_path.h"
#include "win32/gdi_scope.h"
#include "win32/system_library.h"

namespace setup {

using common::Bitmap32;
using common::CompositeOver;
using common::kWhite;
using common::PixelPoint;
using common::PixelRect;
using common::Rgb;
using common::ScalePixels;
using common::TwipsToPixels;

namespace {

// Posted to the window: the default button's look, which can only be judged once a focus change has
// completed.
constexpr UINT kRefreshDefaultButtonMessage = WM_APP + 1;

// What a click on each command button means to the controller.
constexpr std::pair<Row, actions::Event> kButtonEvents[] = {
    {Row::Command1, actions::Event::TitleStripButton},
    {Row::cmdCancel, actions::Event::Cancel},
    {Row::cmdContinue, actions::Event::Confirm},
    {Row::Command4, actions::Event::PictureButton},
};

// The picture button's icon is 32 x 32 at 96 dpi and grows with the screen's resolution.
constexpr int kButtonIconPixelsAt96 = 32;

COLORREF ToColorRef(Rgb color) {
  return RGB(color.red, color.green, color.blue);
}

RECT ToRect(const PixelRect& box) {
  return RECT{box.left, box.top, box.right, box.bottom};
}

bool IsCommandButton(int row) {
  return row >= 1 && row <= static_cast<int>(kControlCount) &&
         kControls[static_cast<std::size_t>(row) - 1].kind == ControlKind::CommandButton;
}

// Points to font height: negative, so that Windows matches the character height rather than the cell.
int FontHeight(float points, int dpi) {
  return -static_cast<int>(std::lround(points * dpi / 72.0f));
}

}  // namespace

// --- TitleStrip ---------------------------------------------------------------------------------------

HWND TitleStrip::Create(HWND parent, const PixelRect& box, const std::wstring& text) {
  WNDCLASSEXW windowClass{};
  windowClass.lpszClassName = kTitleStripClassName;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  RegisterClassOnce(windowClass);
  return Window::Create(0, kTitleStripClassName, text.c_str(),
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, box.left,
                        box.top, box.Width(), box.Height(), parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(Row::Picture1))));
}

bool TitleStrip::OnPaint() {
  owner_.PaintStrip(hwnd());
  return true;
}

// The strip's button reports to the strip; its clicks and drawing belong to the setup window.
bool TitleStrip::OnCommand(int id, int notification, HWND control) {
  return owner_.OnCommand(id, notification, control);
}

bool TitleStrip::OnDrawItem(const DRAWITEMSTRUCT& item) {
  return owner_.OnDrawItem(item);
}

// --- SetupWindow: creation ----------------------------------------------------------------------------

SetupWindow::SetupWindow(HINSTANCE instance) : instance_(instance), pictures_(instance) {}

SetupWindow::~SetupWindow() {
  // The tool tip first: the window owns it and would take it along, leaving a stale handle behind.
  toolTip_.reset();
  // The window goes before the members its messages still use.
  if (hwnd()) ::DestroyWindow(hwnd());
}

bool SetupWindow::Create() {
  dpi_ = win32::ScreenDpi();

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
  // size, truncated to whole pixels as the load step's placement truncates, which then keeps it.
  const PixelSize size = WindowPixelSize(kClientWidthTwips, kClientHeightTwips, dpi_);
  const int width = size.width;
  const int height = size.height;
  const int left = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  if (!Window::Create(0, kSetupWindowClassName, std::wstring(kWindowCaption).c_str(),
                      WS_POPUP | WS_CLIPCHILDREN, left, top, width, height, owner_.get(), nullptr))
    return false;

  panelBrush_.reset(::CreateSolidBrush(ToColorRef(ControlAt(Row::Text2).backColor.value_or(kWhite))));
  // Control order is also the creation order, so the stacking order of the children follows the table.
  // What the user does not see at first waits until the window has painted (CreateUnseenControls).
  for (const ControlRow& row : kControls) {
    if (SeenAtStart(row)) CreateControl(row);
  }
  return true;
}

// The hidden and the off-window child windows, each put in the stacking order where creating every row
// in control order would have put it.
void SetupWindow::CreateUnseenControls() {
  HWND above[2] = {HWND_TOP, HWND_TOP};  // the last child window so far, in the window and in the strip
  for (const ControlRow& row : kControls) {
    if (!IsChildWindow(row.kind)) continue;
    HWND& previous = above[row.Has(kInTitleStrip) ? 1 : 0];
    if (SeenAtStart(row)) {
      previous = ControlWindow(static_cast<Row>(row.row));
      continue;
    }
    for (const HWND made : CreateControl(row)) {
      if (!made) continue;
      ::SetWindowPos(made, previous, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW | SWP_NOOWNERZORDER);
      previous = made;
    }
  }
}

HWND SetupWindow::CreateChild(const ControlRow& row, DWORD exStyle, const wchar_t* className, DWORD style) {
  style |= WS_CHILD;
  if (!row.Has(kHidden)) style |= WS_VISIBLE;
  if (row.Has(kDisabled)) style |= WS_DISABLED;
  if (!row.Has(kNoTabStop)) style |= WS_TABSTOP;
  const HWND parent = row.Has(kInTitleStrip) ? controls_[ControlId(Row::Picture1)] : hwnd();
  const PixelRect box = PixelBox(row);
  const HWND child = ::CreateWindowExW(
      exStyle, className, WindowTextOf(row).c_str(), style, box.left, box.top, box.Width(), box.Height(),
      parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.row)), instance_, nullptr);
  if (child) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(Font(row.Font())), FALSE);
  return child;
}

// A control that takes its accessible name from a label gets one right before it in the stacking order,
// hidden: the window paints its texts itself and has no static controls a screen reader could use.
HWND SetupWindow::CreateNameLabel(const ControlRow& row) {
  if (!IsChildWindow(row.kind) || !NamedByLabelBefore(row.kind)) return nullptr;
  const std::wstring name = AccessibleName(row);
  if (name.empty()) return nullptr;
  const HWND parent = row.Has(kInTitleStrip) ? controls_[ControlId(Row::Picture1)] : hwnd();
  const PixelRect box = PixelBox(row);
  return ::CreateWindowExW(0, L"STATIC", name.c_str(), WS_CHILD | SS_LEFT | SS_NOPREFIX, box.left, box.top, 0,
                           0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kNameLabelId)), instance_,
                           nullptr);
}

std::array<HWND, 2> SetupWindow::CreateControl(const ControlRow& row) {
  const HWND label = CreateNameLabel(row);
  HWND& child = controls_[static_cast<std::size_t>(row.row)];
  switch (row.kind) {
    case ControlKind::TextBox: {
      DWORD style = row.Has(kMultiLine) ? ES_MULTILINE | ES_AUTOVSCROLL : ES_AUTOHSCROLL;
      if (row.Has(kVerticalScrollBar)) style |= WS_VSCROLL;
      // The notes panel is for reading: read-only, which also gives it WM_CTLCOLORSTATIC colouring.
      if (row.Has(kMultiLine)) style |= ES_READONLY;
      child = CreateChild(row, WS_EX_CLIENTEDGE, L"EDIT", style);
      // The notes file may be far longer than an EDIT's default 30000 characters.
      if (child && row.Has(kMultiLine)) ::SendMessageW(child, EM_SETLIMITTEXT, 0, 0);
      break;
    }
    case ControlKind::PictureBox: {
      PixelRect box = PixelBox(row);
      if (row.Has(kDockTop)) {  // docked: full client width, its own height
        RECT client{};
        ::GetClientRect(hwnd(), &client);
        box = PixelRect{0, 0, client.right, box.Height()};
      }
      child = strip_.Create(hwnd(), box, WindowTextOf(row));
      break;
    }
    case ControlKind::CommandButton: {
      DWORD style = BS_NOTIFY;
      if (row.Has(kGraphical))
        style |= BS_OWNERDRAW;
      else
        style |= row.Has(kDefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
      child = CreateChild(row, 0, L"BUTTON", style);
      break;
    }
    case ControlKind::ListBox:
      child = CreateChild(row, WS_EX_CLIENTEDGE, L"LISTBOX",
                          WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS);
      if (child && row.row == ControlId(Row::lstGroups)) {
        const std::wstring entry(kGroupListEntry);
        const LRESULT index = ::SendMessageW(child, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
        if (index >= 0)
          ::SendMessageW(child, LB_SETITEMDATA, static_cast<WPARAM>(index), kGroupListEntryData);
      }
      break;
    case ControlKind::DirListBox: {
      child = CreateChild(row, WS_EX_CLIENTEDGE, L"LISTBOX",
                          WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS);
      // The folders of the current directory; the file pattern alone leaves the directory unchanged.
      wchar_t pattern[] = L"*.*";
      if (child) ::DlgDirListW(hwnd(), pattern, row.row, 0, DDL_DIRECTORY | DDL_EXCLUSIVE);
      break;
    }
    case ControlKind::Timer:  // never enabled, so never created as a running timer
    case ControlKind::Label:  // labels, lines and images are painted by their container
    case ControlKind::Line:
    case ControlKind::Image:
      break;
  }
  return {label, child};
}

HFONT SetupWindow::Font(const FontSpec& spec) {
  auto& font = fonts_[&spec];
  if (!font) {
    font.reset(::CreateFontW(FontHeight(spec.points, dpi_), 0, 0, 0, spec.weight, FALSE, FALSE, FALSE,
                             kGb2312Charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, std::wstring(spec.face).c_str()));
  }
  return font.get();
}

// --- Load step and showing ----------------------------------------------------------------------------

void SetupWindow::RunLoadStep() {
  baseDirectory_ = BaseDirectoryFrom(ApplicationDirectoryOf(win32::ExecutablePath()));

  // The placement goes through twips and back, with the rounding the launcher has always used; whatever
  // fails there leaves the window where it is, not topmost, and says nothing. It reads the window where
  // it stands now (centred, at its design size) in whole twips per pixel, so that it keeps that box at
  // every resolution.
  RECT window{};
  if (!::GetWindowRect(hwnd(), &window)) return;
  const PixelRect box{window.left, window.top, window.right, window.bottom};
  if (const auto pixels = PlacementPixels(PlacementTwipsOf(box, dpi_, win32::VerticalScreenDpi())))
    ::SetWindowPos(hwnd(), HWND_TOPMOST, pixels->x, pixels->y, pixels->cx, pixels->cy, 0);
}

void SetupWindow::Show() {
  ::ShowWindow(hwnd(), SW_SHOWNORMAL);
  ::SetForegroundWindow(hwnd());
  // Focus rectangles show from the start, not only after the first key press.
  ::SendMessageW(hwnd(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
  ::SetFocus(ControlWindow(Row::cmdCancel));
  // The whole window, children and focus included, paints before anything else is done.
  ::RedrawWindow(hwnd(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  // Then what the user does not see at first, before the message loop hands the window any input, so
  // that the first key already finds the whole Tab cycle.
  CreateUnseenControls();
  CreateToolTip();
}

void SetupWindow::CreateToolTip() {
  if (toolTip_) return;
  commonControls_ = win32::LoadCommonControls(ICC_BAR_CLASSES);
  if (!commonControls_) return;
  toolTip_.reset(::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                   WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr, instance_, nullptr));
  if (!toolTip_) return;
  // The tip speaks Chinese: the system's message font need not have the glyphs, the window's font does.
  ::SendMessageW(toolTip_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(Font(kWindowFont)), FALSE);
  for (const ControlRow& row : kControls) {
    const HWND control = controls_[static_cast<std::size_t>(row.row)];
    if (row.toolTip.empty() || !control) continue;
    toolTipText_ = row.toolTip;
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;  // understood by every comctl32 version
    tool.uFlags = TTF_SUBCLASS | TTF_IDISHWND;
    tool.hwnd = ::GetParent(control);
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = toolTipText_.data();
    ::SendMessageW(toolTip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

// --- Painting -----------------------------------------------------------------------------------------

void SetupWindow::PaintRows(win32::Surface& surface, bool inTitleStrip) {
  for (auto row = kControls.rbegin(); row != kControls.rend(); ++row) {
    if (row->Has(kInTitleStrip) != inTitleStrip) continue;
    switch (row->kind) {
      case ControlKind::Label:
        PaintLabel(surface, *row);
        break;
      case ControlKind::Image:
        PaintImage(surface, *row);
        break;
      case ControlKind::Line:
        PaintLine(surface, *row);
        break;
      default:
        break;
    }
  }
}

void SetupWindow::PaintLabel(win32::Surface& surface, const ControlRow& row) {
  if (row.Has(kHidden)) return;
  const HDC dc = surface.dc();
  win32::SelectScope font(dc, Font(row.Font()));
  const std::wstring text(row.text);
  UINT format = DT_LEFT | DT_TOP | DT_NOPREFIX;
  RECT box = ToRect(PixelBox(row));
  if (row.Has(kAutoSize)) {
    // An AutoSize label takes the size of its text: wrapped within its width when WordWrap is on.
    RECT measured = box;
    const UINT measure = format | DT_CALCRECT | (row.Has(kWordWrap) ? DT_WORDBREAK : 0u);
    if (!row.Has(kWordWrap)) measured.right = measured.left + 0x7FFF;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measured, measure);
    box.right = measured.right;
    box.bottom = measured.bottom;
    if (row.Has(kWordWrap)) format |= DT_WORDBREAK;
  } else {
    format |= DT_WORDBREAK;  // a fixed label breaks its text within its width and clips to its height
  }
  if (!row.Has(kTransparent))
    surface.Fill(box, row.backColor ? ToColorRef(*row.backColor) : ::GetSysColor(COLOR_BTNFACE));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ToColorRef(row.foreColor.value_or(kDefaultForeColor)));
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, format);
}

void SetupWindow::PaintImage(win32::Surface& surface, const ControlRow& row) {
  if (row.Has(kHidden) || row.picture == Picture::None) return;
  const PixelRect box = PixelBox(row);
  if (const Bitmap32* picture = pictures_.Scaled(row.picture, box.Width(), box.Height()))
    CompositeOver(surface.Pixels(), box.left, box.top, *picture);
}

void SetupWindow::PaintLine(win32::Surface& surface, const ControlRow& row) {
  if (row.Has(kHidden)) return;
  const int width = ScalePixels(row.lineWidthPixels, dpi_);
  const COLORREF color = ToColorRef(row.foreColor.value_or(kDefaultForeColor));
  win32::UniquePen pen;
  if (width <= 1) {
    pen.reset(::CreatePen(PS_SOLID, 1, color));
  } else {
    const LOGBRUSH brush{BS_SOLID, color, 0};
    pen.reset(::ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT, static_cast<DWORD>(width), &brush, 0,
                             nullptr));
  }
  const PixelPoint from = TwipsToPixels(row.line.x1, row.line.y1, dpi_);
  const PixelPoint to = TwipsToPixels(row.line.x2, row.line.y2, dpi_);
  win32::SelectScope selected(surface.dc(), pen.get());
  ::MoveToEx(surface.dc(), from.x, from.y, nullptr);
  ::LineTo(surface.dc(), to.x, to.y);
}

bool SetupWindow::OnPaint() {
  PaintPaintedRows(hwnd(), background_, kWindowBackColor, false);
  return true;
}

void SetupWindow::PaintStrip(HWND strip) {
  PaintPaintedRows(strip, stripBackground_, ControlAt(Row::Picture1).backColor.value_or(kWhite), true);
}

// The painted rows never change, so each container draws them once into a buffer and copies it after.
void SetupWindow::PaintPaintedRows(HWND container, std::unique_ptr<win32::Surface>& buffer, Rgb backColor,
                                   bool inTitleStrip) {
  win32::PaintScope paint(container);
  if (!buffer) {
    RECT client{};
    ::GetClientRect(container, &client);
    buffer = std::make_unique<win32::Surface>(client.right, client.bottom);
    buffer->Fill(client, ToColorRef(backColor));
    PaintRows(*buffer, inTitleStrip);
  }
  buffer->CopyTo(paint.dc(), 0, 0);
}

// A graphical command button: its colour, a raised edge (sunken with the content moved by one pixel
// while pressed), the dark frame of the button that Enter presses, and a focus rectangle.
void SetupWindow::DrawCommandButton(const DRAWITEMSTRUCT& item) {
  const int row = static_cast<int>(item.CtlID);
  if (!IsCommandButton(row)) return;
  const ControlRow& design = kControls[static_cast<std::size_t>(row) - 1];
  const int width = item.rcItem.right - item.rcItem.left;
  const int height = item.rcItem.bottom - item.rcItem.top;
  win32::Surface surface(width, height);
  if (!surface.valid()) return;
  const HDC dc = surface.dc();
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool focused = (item.itemState & ODS_FOCUS) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;

  RECT face{0, 0, width, height};
  const Rgb background =
      row == ControlId(Row::Command4) ? pictureButtonColor_ : design.backColor.value_or(kWhite);
  surface.Fill(face, ToColorRef(background));
  if (focused || pressed) {
    win32::UniqueBrush frame(::CreateSolidBrush(RGB(0, 0, 0)));
    ::FrameRect(dc, &face, frame.get());
    ::InflateRect(&face, -1, -1);
  }
  if (pressed) {
    win32::UniqueBrush shadow(::CreateSolidBrush(::GetSysColor(COLOR_BTNSHADOW)));
    ::FrameRect(dc, &face, shadow.get());
  } else {
    ::DrawEdge(dc, &face, EDGE_RAISED, BF_RECT);
  }
  RECT content = face;
  ::InflateRect(&content, -2, -2);
  if (pressed) ::OffsetRect(&content, 1, 1);

  if (!design.text.empty()) {
    const std::wstring text(design.text);
    win32::SelectScope font(dc, Font(design.Font()));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &content,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  if (design.picture != Picture::None) {
    const int side = ScalePixels(kButtonIconPixelsAt96, dpi_);
    if (const Bitmap32* icon = pictures_.Scaled(design.picture, side, side)) {
      const int left = content.left + (content.right - content.left - side) / 2;
      const int top = content.top + (content.bottom - content.top - side) / 2;
      CompositeOver(surface.Pixels(), left, top, *icon);
    }
  }
  if (focused) {
    RECT focus = face;
    ::InflateRect(&focus, -3, -3);
    ::SetTextColor(dc, RGB(0, 0, 0));
    ::SetBkColor(dc, RGB(255, 255, 255));
    ::DrawFocusRect(dc, &focus);
  }
  surface.CopyTo(item.hDC, item.rcItem.left, item.rcItem.top);
}

bool SetupWindow::OnDrawItem(const DRAWITEMSTRUCT& item) {
  if (item.CtlType != ODT_BUTTON) return false;
  DrawCommandButton(item);
  return true;
}

HBRUSH SetupWindow::OnControlColor(UINT /*message*/, HDC dc, HWND control) {
  if (control != ControlWindow(Row::Text2)) return nullptr;
  ::SetBkColor(dc, ToColorRef(ControlAt(Row::Text2).backColor.value_or(kWhite)));
  ::SetTextColor(dc, ToColorRef(kDefaultForeColor));
  return panelBrush_.get();
}

void SetupWindow::SetPictureButtonColor(Rgb color) {
  pictureButtonColor_ = color;
  if (const HWND button = ControlWindow(Row::Command4)) ::InvalidateRect(button, nullptr, FALSE);
}

// --- What the controller changes ----------------------------------------------------------------------

// Showing a control must not take the focus from the button that was just clicked: Enter right after
// the click presses that button again.
bool SetupWindow::SetVisibleKeepingFocus(Row row, bool visible) {
  const HWND control = ControlWindow(row);
  if (!::IsWindow(control)) return false;
  ::ShowWindow(control, visible ? SW_SHOWNA : SW_HIDE);
  return true;
}

bool SetupWindow::ShowNotesPanel() {
  return SetVisibleKeepingFocus(Row::Text2, true);
}

bool SetupWindow::HideNotesPanel() {
  return SetVisibleKeepingFocus(Row::Text2, false);
}

bool SetupWindow::SetNotesText(const std::wstring& text) {
  return win32::SetEditText(ControlWindow(Row::Text2), text);
}

bool SetupWindow::AppendNotesText(std::wstring_view text) {
  return win32::AppendEditText(ControlWindow(Row::Text2), text);
}

bool SetupWindow::EnableConfirm() {
  const HWND confirm = ControlWindow(Row::cmdContinue);
  if (!::IsWindow(confirm)) return false;
  ::EnableWindow(confirm, TRUE);
  return true;
}

bool SetupWindow::ShowConfirm() {
  return SetVisibleKeepingFocus(Row::cmdContinue, true);
}

bool SetupWindow::ShowPictureButtonRead() {
  SetPictureButtonColor(kPictureButtonReadColor);
  return true;
}

// --- Controls, focus and keys -------------------------------------------------------------------------

HWND SetupWindow::ControlWindow(Row row) const {
  const auto index = static_cast<std::size_t>(row);
  return index < controls_.size() ? controls_[index] : nullptr;
}

bool SetupWindow::OnCommand(int id, int notification, HWND /*control*/) {
  if (!IsCommandButton(id)) return false;
  switch (notification) {
    case BN_SETFOCUS:
      RefreshDefaultButton();
      return true;
    case BN_KILLFOCUS:
      ::PostMessageW(hwnd(), kRefreshDefaultButtonMessage, 0, 0);
      return true;
    case BN_CLICKED:
    case BN_DOUBLECLICKED:  // the second click of a double click is a click of its own
      break;
    default:
      return false;
  }
  for (const auto& [row, event] : kButtonEvents) {
    if (id == ControlId(row)) Deliver(event);
  }
  return true;
}

// --- The controller's events, steps and answers -------------------------------------------------------

void SetupWindow::Deliver(actions::Event event) {
  if (controller_ && !ending_) Carry(controller_->Handle(event));
}

void SetupWindow::RunStep() {
  if (!StepPending()) return;
  stepPending_ = false;
  Carry(controller_->Step());
}

void SetupWindow::Carry(actions::Next next) {
  if (actions::Ends(next)) {
    ending_ = next;
    // The message loop may be waiting in GetMessage, which a sent click does not wake.
    ::PostMessageW(hwnd(), WM_NULL, 0, 0);
    return;
  }
  stepPending_ = next == actions::Next::RunStep;
}

bool SetupWindow::OnClose() {
  Deliver(actions::Event::CloseRequest);
  return true;  // the window is not destroyed: the launcher ends from the controller's answer
}

// The push button with the default look is the focused command button, or "确认" while no command button
// has the focus.
void SetupWindow::RefreshDefaultButton() {
  const std::optional<int> focused = FocusedRow();
  const bool commandButtonFocused = focused && IsCommandButton(*focused);
  for (Row row : {Row::cmdCancel, Row::cmdContinue}) {
    const HWND button = ControlWindow(row);
    if (!button) continue;
    const bool isDefault = commandButtonFocused ? *focused == ControlId(row) : row == Row::cmdContinue;
    const LONG_PTR style = ::GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK;
    const LONG_PTR wanted = isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    if (style != wanted) ::SendMessageW(button, BM_SETSTYLE, static_cast<WPARAM>(wanted), TRUE);
  }
}

std::optional<int> SetupWindow::FocusedRow() const {
  HWND focus = ::GetFocus();
  if (!focus || !::IsChild(hwnd(), focus)) return std::nullopt;
  const int id = ::GetDlgCtrlID(focus);
  if (id < 1 || id > static_cast<int>(kControlCount) || controls_[static_cast<std::size_t>(id)] != focus)
    return std::nullopt;
  return id;
}

bool SetupWindow::CanTakeFocus(int row) const {
  const HWND control = ControlWindow(static_cast<Row>(row));
  return control && ::IsWindowVisible(control) && ::IsWindowEnabled(control);
}

void SetupWindow::Press(Row row) {
  const HWND button = ControlWindow(row);
  if (button && ::IsWindowEnabled(button)) ::SendMessageW(button, BM_CLICK, 0, 0);
}

bool SetupWindow::RouteKey(const MSG& message) {
  if (message.message != WM_KEYDOWN) return false;
  if (message.hwnd != hwnd() && !::IsChild(hwnd(), message.hwnd)) return false;
  if (::GetKeyState(VK_CONTROL) < 0 || ::GetKeyState(VK_MENU) < 0) return false;
  const int current = FocusedRow().value_or(0);
  switch (message.wParam) {
    case VK_TAB: {
      const bool forward = ::GetKeyState(VK_SHIFT) >= 0;
      if (const auto next = NextTabStop(current, forward, [this](int row) { return CanTakeFocus(row); }))
        ::SetFocus(ControlWindow(static_cast<Row>(*next)));
      return true;
    }
    case VK_ESCAPE:
      Press(static_cast<Row>(RowPressedByEscape()));
      return true;
    case VK_RETURN:
      if (const auto row =
              RowPressedByEnter(current, ::IsWindowEnabled(ControlWindow(Row::cmdContinue)) != FALSE))
        Press(static_cast<Row>(*row));
      return true;
    default:
      return false;
  }
}

// Focus comes back to the control that had it when the window was last deactivated.
bool SetupWindow::OnActivate(WORD state, HWND /*other*/) {
  if (state == WA_INACTIVE) {
    const HWND focus = ::GetFocus();
    if (focus && ::IsChild(hwnd(), focus)) focusBeforeDeactivation_ = focus;
  }
  return false;
}

bool SetupWindow::OnSetFocus(HWND /*previous*/) {
  HWND target = focusBeforeDeactivation_;
  if (!target || !::IsChild(hwnd(), target) || !::IsWindowVisible(target) || !::IsWindowEnabled(target))
    target = ControlWindow(Row::cmdCancel);
  if (target) ::SetFocus(target);
  return true;
}

bool SetupWindow::OnOtherMessage(UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/, LRESULT& result) {
  switch (message) {
    case kRefreshDefaultButtonMessage:
      RefreshDefaultButton();
      result = 0;
      return true;
    default:
      return false;
  }
}

}  // namespace setup
