#include "setup/keys_and_focus.h"

#include "setup/tab_order.h"

namespace setup {
namespace {

constexpr UINT kRefreshDefaultButtonMessage = WM_APP + 1;

}  // namespace

bool KeysAndFocus::RouteKey(const MSG& message) {
  if (message.message != WM_KEYDOWN) return false;
  if (message.hwnd != window_ && !::IsChild(window_, message.hwnd)) return false;
  if (::GetKeyState(VK_CONTROL) < 0 || ::GetKeyState(VK_MENU) < 0) return false;
  const std::optional<Row> current = FocusedRow();
  switch (message.wParam) {
    case VK_TAB: {
      const bool forward = ::GetKeyState(VK_SHIFT) >= 0;
      if (const auto next = NextTabStop(current, forward, [this](Row row) { return CanTakeFocus(row); }))
        ::SetFocus(controls_.WindowOf(*next));
      return true;
    }
    case VK_ESCAPE:
      Press(RowPressedByEscape());
      return true;
    case VK_RETURN:
      if (const auto row =
              RowPressedByEnter(current, ::IsWindowEnabled(controls_.WindowOf(DefaultButtonRow())) != FALSE))
        Press(*row);
      return true;
    default:
      return false;
  }
}

void KeysAndFocus::TakeFirstFocus() {
  ::SetFocus(controls_.WindowOf(FirstFocusRow()));
}

void KeysAndFocus::CommandButtonFocusChanged(bool gained) {
  if (gained)
    RefreshDefaultButton();
  else
    ::PostMessageW(window_, kRefreshDefaultButtonMessage, 0, 0);
}

bool KeysAndFocus::OnPostedMessage(UINT message) {
  if (message != kRefreshDefaultButtonMessage) return false;
  RefreshDefaultButton();
  return true;
}

// Focus comes back to the control that had it when the window was last deactivated.
void KeysAndFocus::Activated(WORD state) {
  if (state == WA_INACTIVE) keptFocus_.Deactivated(window_);
}

void KeysAndFocus::WindowFocused() {
  if (const HWND target = keptFocus_.Target(window_, controls_.WindowOf(FirstFocusRow()))) ::SetFocus(target);
}

// Push buttons show the default look as the table and the focus say; graphical buttons draw their own.
void KeysAndFocus::RefreshDefaultButton() {
  const Row withLook = RowWithDefaultLook(FocusedRow());
  for (const ControlRow& row : kControls) {
    const HWND button = controls_.WindowOf(row.row);
    if (row.kind != ControlKind::CommandButton || row.Has(kGraphical) || !button) continue;
    const LONG_PTR style = ::GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK;
    const LONG_PTR wanted = row.row == withLook ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    if (style != wanted) ::SendMessageW(button, BM_SETSTYLE, static_cast<WPARAM>(wanted), TRUE);
  }
}

std::optional<Row> KeysAndFocus::FocusedRow() const {
  const HWND focus = ::GetFocus();
  if (!focus || !::IsChild(window_, focus)) return std::nullopt;
  return controls_.RowOf(focus);
}

bool KeysAndFocus::CanTakeFocus(Row row) const {
  const HWND control = controls_.WindowOf(row);
  return control && ::IsWindowVisible(control) && ::IsWindowEnabled(control);
}

void KeysAndFocus::Press(Row row) {
  const HWND button = controls_.WindowOf(row);
  if (button && ::IsWindowEnabled(button)) ::SendMessageW(button, BM_CLICK, 0, 0);
}

}  // namespace setup
