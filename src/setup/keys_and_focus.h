// Tab, Shift+Tab, Enter and Esc for the setup window and all its children, which button looks like the
// default one, where the focus starts and where it comes back to after the window was deactivated.
// Why the setup window routes its keys itself rather than through the dialog manager is told in the
// architecture notes.
#pragma once

#include <windows.h>

#include <optional>

#include "setup/child_controls.h"
#include "setup/layout.h"
#include "win32/dialog_behaviour.h"

namespace setup {

class KeysAndFocus {
 public:
  explicit KeysAndFocus(const ChildControls& controls) : controls_(controls) {}

  // The window whose keys these are; before any other call.
  void Attach(HWND window) { window_ = window; }

  // Returns true when the key was taken, in which case the message must be neither translated nor
  // dispatched (so no WM_CHAR follows).
  bool RouteKey(const MSG& message);

  // The focus on the control the table names first.
  void TakeFirstFocus();

  // A command button gained or lost the focus (BN_SETFOCUS, BN_KILLFOCUS). The default look can only
  // be judged once a focus change has completed, so a loss is judged from a posted message.
  void CommandButtonFocusChanged(bool gained);
  // The posted message; true when message is it.
  bool OnPostedMessage(UINT message);

  // WM_ACTIVATE and WM_SETFOCUS of the window.
  void Activated(WORD state);
  void WindowFocused();

 private:
  std::optional<Row> FocusedRow() const;
  bool CanTakeFocus(Row row) const;
  void Press(Row row);
  void RefreshDefaultButton();

  const ChildControls& controls_;
  HWND window_ = nullptr;
  win32::KeptFocus keptFocus_;
};

}  // namespace setup
