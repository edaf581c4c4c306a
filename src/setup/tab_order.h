// Keyboard navigation of the setup window, decided from the layout table alone: which control Tab and
// Shift+Tab move the focus to, which control has it first, which button Enter and Esc press and which
// one looks like the default. The window supplies only what changes at run time (which controls are
// visible and enabled right now, which one has the focus).
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "setup/layout.h"

namespace setup {

// The controls that can take the focus by Tab (focusable kinds with a tab index and a Tab stop),
// ordered by their TabIndex.
std::vector<Row> TabCycleRows();

// The control that Tab (forward) or Shift+Tab (backward) moves the focus to from current, wrapping
// around the cycle and skipping rows that canTakeFocus rejects (hidden or disabled right now).
// current may lie outside the cycle: a control with a tab index but no Tab stop continues from its
// tab position, and none or a row without a tab index starts from the first (or, backward, the last) row.
// When only current itself can take the focus the answer is current; when none can, none.
std::optional<Row> NextTabStop(std::optional<Row> current, bool forward,
                               const std::function<bool(Row row)>& canTakeFocus);

// The control that has the focus when the window first shows: the first of the Tab cycle that the
// table makes visible and enabled.
Row FirstFocusRow();

// The default button (Enter presses it while no other command button has the focus) and the cancel
// button (Esc presses it), as the table flags them.
Row DefaultButtonRow();
Row RowPressedByEscape();

// The button that Enter presses: the focused command button, else the default button while it is
// enabled, else none.
std::optional<Row> RowPressedByEnter(std::optional<Row> focused, bool defaultButtonEnabled);

// The command button that shows the default look: the focused command button, else the default button.
Row RowWithDefaultLook(std::optional<Row> focused);

}  // namespace setup
