#include "setup/tab_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "setup/layout.h"

namespace setup {
namespace {

constexpr int RowOf(Row row) {
  return static_cast<int>(row);
}

// Which controls can take the focus as the window stands: the initial state of the table, with the
// confirm button enabled or not.
struct WindowState {
  bool continueEnabled = false;
  std::set<int> alsoHidden{};

  bool CanTakeFocus(int row) const {
    const ControlRow& control = kControls[static_cast<std::size_t>(row) - 1];
    if (control.Has(kHidden) || alsoHidden.contains(row)) return false;
    if (row == RowOf(Row::cmdContinue)) return continueEnabled;
    return !control.Has(kDisabled);
  }
  std::function<bool(int)> Predicate() const {
    return [this](int row) { return CanTakeFocus(row); };
  }
};

// The rows visited by pressing Tab (or Shift+Tab) repeatedly from a start row, until the start comes round.
std::vector<int> Walk(int start, bool forward, const WindowState& state, int presses) {
  std::vector<int> visited;
  int current = start;
  for (int press = 0; press < presses; ++press) {
    const std::optional<int> next = NextTabStop(current, forward, state.Predicate());
    if (!next) break;
    visited.push_back(*next);
    current = *next;
  }
  return visited;
}

TEST(TabCycleRowsTest, HoldsTheFocusableControlsWithATabStopInTabIndexOrder) {
  const std::vector<int> expected{RowOf(Row::txtGroup),  RowOf(Row::lstGroups),   RowOf(Row::cmdContinue),
                                  RowOf(Row::cmdCancel), RowOf(Row::dir95Groups), RowOf(Row::Command4),
                                  RowOf(Row::Picture1),  RowOf(Row::Command1)};
  EXPECT_EQ(TabCycleRows(), expected);
}

TEST(NextTabStopTest, FirstFocusOfTheWindowIsCancel) {
  EXPECT_EQ(NextTabStop(0, true, WindowState{}.Predicate()), RowOf(Row::cmdCancel));
}

TEST(NextTabStopTest, TabCyclesFromCancelWhileConfirmIsDisabled) {
  const WindowState state;
  EXPECT_EQ(Walk(RowOf(Row::cmdCancel), true, state, 5),
            (std::vector{RowOf(Row::dir95Groups), RowOf(Row::Command4), RowOf(Row::Picture1),
                         RowOf(Row::Command1), RowOf(Row::cmdCancel)}));
}

TEST(NextTabStopTest, ConfirmJoinsTheCycleOnceEnabled) {
  const WindowState state{.continueEnabled = true};
  EXPECT_EQ(Walk(RowOf(Row::Command4), true, state, 6),
            (std::vector{RowOf(Row::Picture1), RowOf(Row::Command1), RowOf(Row::cmdContinue),
                         RowOf(Row::cmdCancel), RowOf(Row::dir95Groups), RowOf(Row::Command4)}));
}

TEST(NextTabStopTest, ShiftTabRunsTheCycleBackwards) {
  EXPECT_EQ(Walk(RowOf(Row::cmdCancel), false, WindowState{}, 5),
            (std::vector{RowOf(Row::Command1), RowOf(Row::Picture1), RowOf(Row::Command4),
                         RowOf(Row::dir95Groups), RowOf(Row::cmdCancel)}));
  EXPECT_EQ(Walk(RowOf(Row::cmdCancel), false, WindowState{.continueEnabled = true}, 2),
            (std::vector{RowOf(Row::cmdContinue), RowOf(Row::Command1)}));
  EXPECT_EQ(NextTabStop(0, false, WindowState{}.Predicate()), RowOf(Row::Command1));
}

TEST(NextTabStopTest, HiddenGroupControlsAreNeverReached) {
  for (const bool forward : {true, false}) {
    for (const bool continueEnabled : {false, true}) {
      for (const int start : TabCycleRows()) {
        const std::vector<int> visited =
            Walk(start, forward, WindowState{.continueEnabled = continueEnabled}, 20);
        EXPECT_EQ(std::count(visited.begin(), visited.end(), RowOf(Row::txtGroup)), 0);
        EXPECT_EQ(std::count(visited.begin(), visited.end(), RowOf(Row::lstGroups)), 0);
        EXPECT_EQ(std::count(visited.begin(), visited.end(), RowOf(Row::Text2)), 0);
        EXPECT_EQ(std::count(visited.begin(), visited.end(), RowOf(Row::cmdContinue)) > 0, continueEnabled);
      }
    }
  }
}

TEST(NextTabStopTest, FromTheTextPanelTabMovesOnByItsTabPosition) {
  // The text panel holds tab index 21, beyond every Tab stop: forward wraps to the first, backward
  // steps to the last.
  const WindowState state;
  EXPECT_EQ(NextTabStop(RowOf(Row::Text2), true, state.Predicate()), RowOf(Row::cmdCancel));
  EXPECT_EQ(NextTabStop(RowOf(Row::Text2), false, state.Predicate()), RowOf(Row::Command1));
  EXPECT_EQ(NextTabStop(RowOf(Row::Text2), true, WindowState{.continueEnabled = true}.Predicate()),
            RowOf(Row::cmdContinue));
}

TEST(NextTabStopTest, ARowWithoutTabIndexStartsFromTheEnds) {
  const WindowState state;
  EXPECT_EQ(NextTabStop(RowOf(Row::Label2), true, state.Predicate()), RowOf(Row::cmdCancel));
  EXPECT_EQ(NextTabStop(RowOf(Row::Label2), false, state.Predicate()), RowOf(Row::Command1));
  EXPECT_EQ(NextTabStop(99, true, state.Predicate()), RowOf(Row::cmdCancel));
  EXPECT_EQ(NextTabStop(-3, false, state.Predicate()), RowOf(Row::Command1));
}

TEST(NextTabStopTest, SkipsControlsThatCannotTakeTheFocusRightNow) {
  const WindowState state{.alsoHidden = {RowOf(Row::dir95Groups), RowOf(Row::Command4)}};
  EXPECT_EQ(NextTabStop(RowOf(Row::cmdCancel), true, state.Predicate()), RowOf(Row::Picture1));
  EXPECT_EQ(NextTabStop(RowOf(Row::Picture1), false, state.Predicate()), RowOf(Row::cmdCancel));
}

TEST(NextTabStopTest, StaysOnTheOnlyFocusableControlAndGivesNoneWhenNothingCan) {
  const auto onlyCancel = [](int row) { return row == RowOf(Row::cmdCancel); };
  EXPECT_EQ(NextTabStop(RowOf(Row::cmdCancel), true, onlyCancel), RowOf(Row::cmdCancel));
  EXPECT_EQ(NextTabStop(RowOf(Row::cmdCancel), false, onlyCancel), RowOf(Row::cmdCancel));
  EXPECT_EQ(NextTabStop(0, true, onlyCancel), RowOf(Row::cmdCancel));
  const auto nothing = [](int) { return false; };
  EXPECT_EQ(NextTabStop(RowOf(Row::cmdCancel), true, nothing), std::nullopt);
  EXPECT_EQ(NextTabStop(0, false, nothing), std::nullopt);
}

TEST(RowPressedByEnterTest, FocusedCommandButtonTakesEnter) {
  for (const bool continueEnabled : {false, true}) {
    EXPECT_EQ(RowPressedByEnter(RowOf(Row::cmdCancel), continueEnabled), RowOf(Row::cmdCancel));
    EXPECT_EQ(RowPressedByEnter(RowOf(Row::Command4), continueEnabled), RowOf(Row::Command4));
    EXPECT_EQ(RowPressedByEnter(RowOf(Row::Command1), continueEnabled), RowOf(Row::Command1));
  }
  EXPECT_EQ(RowPressedByEnter(RowOf(Row::cmdContinue), true), RowOf(Row::cmdContinue));
}

TEST(RowPressedByEnterTest, OtherwiseTheEnabledConfirmButton) {
  EXPECT_EQ(RowPressedByEnter(RowOf(Row::dir95Groups), true), RowOf(Row::cmdContinue));
  EXPECT_EQ(RowPressedByEnter(RowOf(Row::Picture1), true), RowOf(Row::cmdContinue));
  EXPECT_EQ(RowPressedByEnter(0, true), RowOf(Row::cmdContinue));
}

TEST(RowPressedByEnterTest, NeverPressesADisabledConfirmButton) {
  for (int row = 0; row <= static_cast<int>(kControlCount) + 1; ++row) {
    EXPECT_NE(RowPressedByEnter(row, false), std::optional<int>(RowOf(Row::cmdContinue)))
        << "focus on row " << row;
  }
  EXPECT_EQ(RowPressedByEnter(RowOf(Row::dir95Groups), false), std::nullopt);
  EXPECT_EQ(RowPressedByEnter(RowOf(Row::Text2), false), std::nullopt);
}

TEST(RowPressedByEscapeTest, PressesCancel) {
  EXPECT_EQ(RowPressedByEscape(), RowOf(Row::cmdCancel));
}

}  // namespace
}  // namespace setup
