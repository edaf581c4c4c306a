#include "setup/child_controls.h"

#include <commctrl.h>

#include "setup/accessible_name.h"
#include "win32/system_library.h"

namespace setup {

using common::PixelRect;
using common::TwipsToPixels;

ChildControls::ChildControls(HINSTANCE instance, int dpi, Painter& painter)
    : instance_(instance), dpi_(dpi), painter_(painter), strip_(painter) {}

std::optional<Row> ChildControls::RowOf(HWND child) const {
  const std::optional<Row> row = RowOfControlId(::GetDlgCtrlID(child));
  if (!child || !row || WindowOf(*row) != child) return std::nullopt;
  return row;
}

void ChildControls::CreateSeen(HWND window) {
  window_ = window;
  for (const ControlRow& row : kControls) {
    if (SeenAtStart(row)) Create(row);
  }
}

HWND ChildControls::ContainerOf(const ControlRow& row) const {
  return row.Has(kInTitleStrip) ? WindowOf(Row::Picture1) : window_;
}

void ChildControls::CreateUnseen() {
  HWND above[2] = {HWND_TOP, HWND_TOP};  // the last child window so far, in the window and in the strip
  for (const ControlRow& row : kControls) {
    if (!IsChildWindow(row.kind)) continue;
    HWND& previous = above[row.Has(kInTitleStrip) ? 1 : 0];
    if (SeenAtStart(row)) {
      previous = WindowOf(row.row);
      continue;
    }
    for (const HWND made : Create(row)) {
      if (!made) continue;
      ::SetWindowPos(made, previous, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW | SWP_NOOWNERZORDER);
      previous = made;
    }
  }
  CreateToolTip();
}

HWND ChildControls::CreateChild(const ControlRow& row, DWORD exStyle, const wchar_t* className, DWORD style) {
  style |= WS_CHILD;
  if (!row.Has(kHidden)) style |= WS_VISIBLE;
  if (row.Has(kDisabled)) style |= WS_DISABLED;
  if (!row.Has(kNoTabStop)) style |= WS_TABSTOP;
  const PixelRect box = TwipsToPixels(row.box, dpi_);
  const HWND child = ::CreateWindowExW(exStyle, className, WindowTextOf(row).c_str(), style, box.left,
                                       box.top, box.Width(), box.Height(), ContainerOf(row),
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(row.row))),
                                       instance_, nullptr);
  if (child) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(painter_.Font(row.Font())), FALSE);
  return child;
}

// A control that takes its accessible name from a label gets one right before it in the stacking order,
// hidden: the window paints its texts itself and has no static controls a screen reader could use.
HWND ChildControls::CreateNameLabel(const ControlRow& row) {
  if (!IsChildWindow(row.kind) || !NamedByLabelBefore(row.kind)) return nullptr;
  const std::wstring name = AccessibleName(row);
  if (name.empty()) return nullptr;
  const PixelRect box = TwipsToPixels(row.box, dpi_);
  return ::CreateWindowExW(0, L"STATIC", name.c_str(), WS_CHILD | SS_LEFT | SS_NOPREFIX, box.left, box.top, 0,
                           0, ContainerOf(row), reinterpret_cast<HMENU>(static_cast<INT_PTR>(kNameLabelId)),
                           instance_, nullptr);
}

std::array<HWND, 2> ChildControls::Create(const ControlRow& row) {
  const HWND label = CreateNameLabel(row);
  HWND& child = windows_[IndexOf(row.row)];
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
      PixelRect box = TwipsToPixels(row.box, dpi_);
      if (row.Has(kDockTop)) {  // docked: full client width, its own height
        RECT client{};
        ::GetClientRect(window_, &client);
        box = PixelRect{0, 0, client.right, box.Height()};
      }
      child = strip_.Create(window_, box, WindowTextOf(row));
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
      if (child && row.row == Row::lstGroups) {
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
      if (child) ::DlgDirListW(window_, pattern, ControlId(row.row), 0, DDL_DIRECTORY | DDL_EXCLUSIVE);
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

void ChildControls::CreateToolTip() {
  if (toolTip_) return;
  commonControls_ = win32::LoadCommonControls(ICC_BAR_CLASSES);
  if (!commonControls_) return;
  toolTip_.reset(::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                   WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance_, nullptr));
  if (!toolTip_) return;
  // The tip speaks Chinese: the system's message font need not have the glyphs, the window's font does.
  ::SendMessageW(toolTip_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(painter_.Font(kWindowFont)), FALSE);
  for (const ControlRow& row : kControls) {
    const HWND control = WindowOf(row.row);
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

}  // namespace setup
