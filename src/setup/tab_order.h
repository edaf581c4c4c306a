// Keyboard navigation of the setup window, decided from the layout table alone: which control Tab and
// Shift+Tab move the focus to, and which button Enter and Esc press. The window supplies only what
// changes at run time (which controls are visible and enabled right now).
#pragma once

#include <functional>
#include <optional>
#include <vector>

namespace setup {

// Rows of the controls that can take the focus by Tab (focusable kinds with a tab index and a Tab stop),
// ordered by their TabIndex.
std::vector<int> TabCycleRows();

// The row that Tab (forward) or Shift+Tab (backward) moves the focus to from currentRow, wrapping
// around the cycle and skipping rows that canTakeFocus rejects (hidden or disabled right now).
// currentRow may lie outside the cycle: a control with a tab index but no Tab stop continues from its
// tab position, and 0 or a row without a tab index starts from the first (or, backward, the last) row.
// When only currentRow itself can take the focus the answer is currentRow; when none can, none.
std::optional<int> NextTabStop(int currentRow, bool forward,
                               const std::function<bool(int row)>& canTakeFocus);

// The button that Enter presses: the focused command button, else the default button while it is
// enabled, else none.
std::optional<int> RowPressedByEnter(int focusedRow, bool continueEnabled);

// The button that Esc presses: the cancel button.
int RowPressedByEscape();

}  // namespace setup
