#include "setup/tab_order.h"

#include <algorithm>
#include <cstddef>

namespace setup {
namespace {

const ControlRow* FindRow(std::optional<Row> row) {
  if (!row || !RowOfControlId(ControlId(*row))) return nullptr;
  return &ControlAt(*row);
}

const ControlRow& OnlyRowFlagged(ControlFlag flag) {
  return *std::find_if(kControls.begin(), kControls.end(),
                       [flag](const ControlRow& row) { return row.Has(flag); });
}

bool IsFocusedCommandButton(const ControlRow* focused) {
  return focused != nullptr && focused->kind == ControlKind::CommandButton;
}

}  // namespace

std::vector<Row> TabCycleRows() {
  std::vector<const ControlRow*> cycle;
  for (const ControlRow& control : kControls) {
    if (IsChildWindow(control.kind) && control.tabIndex != kNoTabIndex && !control.Has(kNoTabStop)) {
      cycle.push_back(&control);
    }
  }
  std::sort(cycle.begin(), cycle.end(),
            [](const ControlRow* a, const ControlRow* b) { return a->tabIndex < b->tabIndex; });
  std::vector<Row> rows;
  rows.reserve(cycle.size());
  for (const ControlRow* control : cycle) rows.push_back(control->row);
  return rows;
}

std::optional<Row> NextTabStop(std::optional<Row> currentRow, bool forward,
                               const std::function<bool(Row row)>& canTakeFocus) {
  const std::vector<Row> cycle = TabCycleRows();
  if (cycle.empty()) return std::nullopt;
  const auto count = static_cast<std::ptrdiff_t>(cycle.size());

  // The first candidate: the next tab position after the current control's own, whether or not that
  // control is itself in the cycle. Walking count steps from there visits every other row once and
  // ends on the current row when it is in the cycle.
  const ControlRow* current = FindRow(currentRow);
  std::ptrdiff_t position = forward ? 0 : count - 1;
  if (current != nullptr && current->tabIndex != kNoTabIndex) {
    const int tabIndex = current->tabIndex;
    const auto tabIndexOf = [](Row row) { return ControlAt(row).tabIndex; };
    const auto firstAfter =
        std::find_if(cycle.begin(), cycle.end(), [&](Row row) { return tabIndexOf(row) > tabIndex; });
    const auto firstAtOrAfter =
        std::find_if(cycle.begin(), cycle.end(), [&](Row row) { return tabIndexOf(row) >= tabIndex; });
    position = forward ? (firstAfter - cycle.begin()) % count
                       : ((firstAtOrAfter - cycle.begin()) - 1 + count) % count;
  }

  const std::ptrdiff_t step = forward ? 1 : -1;
  for (std::ptrdiff_t visited = 0; visited < count; ++visited) {
    const Row candidate = cycle[static_cast<std::size_t>(position)];
    if (canTakeFocus(candidate)) return candidate;
    position = (position + step + count) % count;
  }
  return std::nullopt;
}

Row FirstFocusRow() {
  const std::optional<Row> first = NextTabStop(std::nullopt, true, [](Row row) {
    return !ControlAt(row).Has(kHidden) && !ControlAt(row).Has(kDisabled);
  });
  return first.value_or(RowPressedByEscape());
}

Row DefaultButtonRow() {
  return OnlyRowFlagged(kDefaultButton).row;
}

Row RowPressedByEscape() {
  return OnlyRowFlagged(kCancelButton).row;
}

std::optional<Row> RowPressedByEnter(std::optional<Row> focusedRow, bool defaultButtonEnabled) {
  const ControlRow* focused = FindRow(focusedRow);
  if (IsFocusedCommandButton(focused)) {
    // A disabled button cannot really hold the focus; should the caller claim it does, Enter still must
    // not press the default button while it is disabled.
    if (focused->row == DefaultButtonRow() && !defaultButtonEnabled) return std::nullopt;
    return focused->row;
  }
  if (defaultButtonEnabled) return DefaultButtonRow();
  return std::nullopt;
}

Row RowWithDefaultLook(std::optional<Row> focusedRow) {
  const ControlRow* focused = FindRow(focusedRow);
  return IsFocusedCommandButton(focused) ? focused->row : DefaultButtonRow();
}

}  // namespace setup
