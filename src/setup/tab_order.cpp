#include "setup/tab_order.h"

#include <algorithm>
#include <cstddef>

#include "setup/layout.h"

namespace setup {
namespace {

const ControlRow* FindRow(int row) {
  if (row < 1 || row > static_cast<int>(kControlCount)) return nullptr;
  return &kControls[static_cast<std::size_t>(row) - 1];
}

const ControlRow& OnlyRowFlagged(ControlFlag flag) {
  return *std::find_if(kControls.begin(), kControls.end(),
                       [flag](const ControlRow& row) { return row.Has(flag); });
}

}  // namespace

std::vector<int> TabCycleRows() {
  std::vector<const ControlRow*> cycle;
  for (const ControlRow& control : kControls) {
    if (IsChildWindow(control.kind) && control.tabIndex != kNoTabIndex && !control.Has(kNoTabStop)) {
      cycle.push_back(&control);
    }
  }
  std::sort(cycle.begin(), cycle.end(),
            [](const ControlRow* a, const ControlRow* b) { return a->tabIndex < b->tabIndex; });
  std::vector<int> rows;
  rows.reserve(cycle.size());
  for (const ControlRow* control : cycle) rows.push_back(control->row);
  return rows;
}

std::optional<int> NextTabStop(int currentRow, bool forward,
                               const std::function<bool(int row)>& canTakeFocus) {
  const std::vector<int> cycle = TabCycleRows();
  if (cycle.empty()) return std::nullopt;
  const auto count = static_cast<std::ptrdiff_t>(cycle.size());

  // The first candidate: the next tab position after the current control's own, whether or not that
  // control is itself in the cycle. Walking count steps from there visits every other row once and
  // ends on the current row when it is in the cycle.
  const ControlRow* current = FindRow(currentRow);
  std::ptrdiff_t position = forward ? 0 : count - 1;
  if (current != nullptr && current->tabIndex != kNoTabIndex) {
    const int tabIndex = current->tabIndex;
    const auto tabIndexOf = [](int row) { return kControls[static_cast<std::size_t>(row) - 1].tabIndex; };
    const auto firstAfter =
        std::find_if(cycle.begin(), cycle.end(), [&](int row) { return tabIndexOf(row) > tabIndex; });
    const auto firstAtOrAfter =
        std::find_if(cycle.begin(), cycle.end(), [&](int row) { return tabIndexOf(row) >= tabIndex; });
    position = forward ? (firstAfter - cycle.begin()) % count
                       : ((firstAtOrAfter - cycle.begin()) - 1 + count) % count;
  }

  const std::ptrdiff_t step = forward ? 1 : -1;
  for (std::ptrdiff_t visited = 0; visited < count; ++visited) {
    const int candidate = cycle[static_cast<std::size_t>(position)];
    if (canTakeFocus(candidate)) return candidate;
    position = (position + step + count) % count;
  }
  return std::nullopt;
}

std::optional<int> RowPressedByEnter(int focusedRow, bool continueEnabled) {
  const ControlRow* focused = FindRow(focusedRow);
  const ControlRow& defaultButton = OnlyRowFlagged(kDefaultButton);
  if (focused != nullptr && focused->kind == ControlKind::CommandButton) {
    // A disabled button cannot really hold the focus; should the caller claim it does, Enter still must
    // not press the default button while it is disabled.
    if (focused->row == defaultButton.row && !continueEnabled) return std::nullopt;
    return focused->row;
  }
  if (continueEnabled) return defaultButton.row;
  return std::nullopt;
}

int RowPressedByEscape() {
  return OnlyRowFlagged(kCancelButton).row;
}

}  // namespace setup
