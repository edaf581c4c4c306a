#include "setup/tab_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "setup/layout.h"

namespace setup {
namespace {

// Which controls can take the focus as the window stands: the initial state of the table, with the
// confirm button enabled or not.
struct WindowState {
  bool continueEnabled = false;
  std::set<Row> alsoHidden{};

  bool CanTakeFocus(Row row) const {
    const ControlRow& control = ControlAt(row);
    if (control.Has(kHidden) || alsoHidden.contains(row)) return false;
    if (row == Row::cmdContinue) return continueEnabled;
    return !control.Has(kDisabled);
  }
  std::function<bool(Row)> Predicate() const {
    return [this](Row row) { return CanTakeFocus(row); };
  }
};

// The rows visited by pressing Tab (or Shift+Tab) repeatedly from a start row, until the start comes round.
std::vector<Row> Walk(Row start, bool forward, const WindowState& state, int presses) {
  std::vector<Row> visited;
  Row current = start;
  for (int press = 0; press < presses; ++press) {
    const std::optional<Row> next = NextTabStop(current, forward, state.Predicate());
    if (!next) break;
    visited.push_back(*next);
    current = *next;
  }
  return visited;
}

TEST(TabCycleRowsTest, HoldsTheFocusableControlsWithATabStopInTabIndexOrder) {
  const std::vector<Row> expected{Row::txtGroup,    Row::lstGroups, Row::cmdContinue, Row::cmdCancel,
                                  Row::dir95Groups, Row::Command4,  Row::Picture1,    Row::Command1};
  EXPECT_EQ(TabCycleRows(), expected);
}

TEST(NextTabStopTest, FirstFocusOfTheWindowIsCancel) {
  EXPECT_EQ(NextTabStop(std::nullopt, true, WindowState{}.Predicate()), Row::cmdCancel);
}

TEST(NextTabStopTest, TabCyclesFromCancelWhileConfirmIsDisabled) {
  const WindowState state;
  EXPECT_EQ(Walk(Row::cmdCancel, true, state, 5),
            (std::vector{Row::dir95Groups, Row::Command4, Row::Picture1, Row::Command1, Row::cmdCancel}));
}

TEST(NextTabStopTest, ConfirmJoinsTheCycleOnceEnabled) {
  const WindowState state{.continueEnabled = true};
  EXPECT_EQ(Walk(Row::Command4, true, state, 6),
            (std::vector{Row::Picture1, Row::Command1, Row::cmdContinue, Row::cmdCancel, Row::dir95Groups,
                         Row::Command4}));
}

TEST(NextTabStopTest, ShiftTabRunsTheCycleBackwards) {
  EXPECT_EQ(Walk(Row::cmdCancel, false, WindowState{}, 5),
            (std::vector{Row::Command1, Row::Picture1, Row::Command4, Row::dir95Groups, Row::cmdCancel}));
  EXPECT_EQ(Walk(Row::cmdCancel, false, WindowState{.continueEnabled = true}, 2),
            (std::vector{Row::cmdContinue, Row::Command1}));
  EXPECT_EQ(NextTabStop(std::nullopt, false, WindowState{}.Predicate()), Row::Command1);
}

TEST(NextTabStopTest, HiddenGroupControlsAreNeverReached) {
  for (const bool forward : {true, false}) {
    for (const bool continueEnabled : {false, true}) {
      for (const Row start : TabCycleRows()) {
        const std::vector<Row> visited =
            Walk(start, forward, WindowState{.continueEnabled = continueEnabled}, 20);
        EXPECT_EQ(std::count(visited.begin(), visited.end(), Row::txtGroup), 0);
        EXPECT_EQ(std::count(visited.begin(), visited.end(), Row::lstGroups), 0);
        EXPECT_EQ(std::count(visited.begin(), visited.end(), Row::Text2), 0);
        EXPECT_EQ(std::count(visited.begin(), visited.end(), Row::cmdContinue) > 0, continueEnabled);
      }
    }
  }
}

TEST(NextTabStopTest, FromTheTextPanelTabMovesOnByItsTabPosition) {
  // The text panel holds tab index 21, beyond every Tab stop: forward wraps to the first, backward
  // steps to the last.
  const WindowState state;
  EXPECT_EQ(NextTabStop(Row::Text2, true, state.Predicate()), Row::cmdCancel);
  EXPECT_EQ(NextTabStop(Row::Text2, false, state.Predicate()), Row::Command1);
  EXPECT_EQ(NextTabStop(Row::Text2, true, WindowState{.continueEnabled = true}.Predicate()),
            Row::cmdContinue);
}

TEST(NextTabStopTest, ARowWithoutTabIndexStartsFromTheEnds) {
  const WindowState state;
  EXPECT_EQ(NextTabStop(Row::Label2, true, state.Predicate()), Row::cmdCancel);
  EXPECT_EQ(NextTabStop(Row::Label2, false, state.Predicate()), Row::Command1);
  EXPECT_EQ(NextTabStop(Row{99}, true, state.Predicate()), Row::cmdCancel);
  EXPECT_EQ(NextTabStop(Row{-3}, false, state.Predicate()), Row::Command1);
}

TEST(NextTabStopTest, SkipsControlsThatCannotTakeTheFocusRightNow) {
  const WindowState state{.alsoHidden = {Row::dir95Groups, Row::Command4}};
  EXPECT_EQ(NextTabStop(Row::cmdCancel, true, state.Predicate()), Row::Picture1);
  EXPECT_EQ(NextTabStop(Row::Picture1, false, state.Predicate()), Row::cmdCancel);
}

TEST(NextTabStopTest, StaysOnTheOnlyFocusableControlAndGivesNoneWhenNothingCan) {
  const auto onlyCancel = [](Row row) { return row == Row::cmdCancel; };
  EXPECT_EQ(NextTabStop(Row::cmdCancel, true, onlyCancel), Row::cmdCancel);
  EXPECT_EQ(NextTabStop(Row::cmdCancel, false, onlyCancel), Row::cmdCancel);
  EXPECT_EQ(NextTabStop(std::nullopt, true, onlyCancel), Row::cmdCancel);
  const auto nothing = [](Row) { return false; };
  EXPECT_EQ(NextTabStop(Row::cmdCancel, true, nothing), std::nullopt);
  EXPECT_EQ(NextTabStop(std::nullopt, false, nothing), std::nullopt);
}

TEST(RowPressedByEnterTest, FocusedCommandButtonTakesEnter) {
  for (const bool continueEnabled : {false, true}) {
    EXPECT_EQ(RowPressedByEnter(Row::cmdCancel, continueEnabled), Row::cmdCancel);
    EXPECT_EQ(RowPressedByEnter(Row::Command4, continueEnabled), Row::Command4);
    EXPECT_EQ(RowPressedByEnter(Row::Command1, continueEnabled), Row::Command1);
  }
  EXPECT_EQ(RowPressedByEnter(Row::cmdContinue, true), Row::cmdContinue);
}

TEST(RowPressedByEnterTest, OtherwiseTheEnabledConfirmButton) {
  EXPECT_EQ(RowPressedByEnter(Row::dir95Groups, true), Row::cmdContinue);
  EXPECT_EQ(RowPressedByEnter(Row::Picture1, true), Row::cmdContinue);
  EXPECT_EQ(RowPressedByEnter(std::nullopt, true), Row::cmdContinue);
}

TEST(RowPressedByEnterTest, NeverPressesADisabledConfirmButton) {
  EXPECT_EQ(RowPressedByEnter(std::nullopt, false), std::nullopt);
  for (int row = 0; row <= static_cast<int>(kControlCount) + 1; ++row) {
    EXPECT_NE(RowPressedByEnter(Row{row}, false), std::optional<Row>(Row::cmdContinue))
        << "focus on row " << row;
  }
  EXPECT_EQ(RowPressedByEnter(Row::dir95Groups, false), std::nullopt);
  EXPECT_EQ(RowPressedByEnter(Row::Text2, false), std::nullopt);
}

TEST(RowPressedByEscapeTest, PressesCancel) {
  EXPECT_EQ(RowPressedByEscape(), Row::cmdCancel);
}

}  // namespace
}  // namespace setup
