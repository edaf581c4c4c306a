#include "setup/accessible_name.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace setup {
namespace {

// Child windows that can hold the focus at some time: the notes panel is the one hidden control that
// shows later; the hidden group box and list never show.
bool CanEverTakeFocus(const ControlRow& row) {
  return IsChildWindow(row.kind) && (!row.Has(kHidden) || row.row == Row::Text2);
}

TEST(AccessibleNameTest, EveryControlThatCanTakeTheFocusHasADistinctName) {
  std::set<std::wstring> names;
  int named = 0;
  for (const ControlRow& row : kControls) {
    if (!CanEverTakeFocus(row)) continue;
    const std::wstring name = AccessibleName(row);
    EXPECT_FALSE(name.empty()) << row.name;
    EXPECT_TRUE(names.insert(name).second) << row.name << " shares its name with another control";
    ++named;
  }
  // Text2, Picture1, Command1, Command4, cmdCancel, cmdContinue, dir95Groups.
  EXPECT_EQ(named, 7);
}

TEST(AccessibleNameTest, NamesCarryNoSurroundingBlanksOrQuotes) {
  for (const ControlRow& row : kControls) {
    const std::wstring name = AccessibleName(row);
    if (name.empty()) continue;
    for (const wchar_t end : {name.front(), name.back()}) {
      EXPECT_NE(end, L' ') << row.name;
      EXPECT_NE(end, L'"') << row.name;
      EXPECT_NE(end, L':') << row.name;
    }
  }
}

TEST(AccessibleNameTest, PictureButtonSpeaksTheWordsOfItsToolTip) {
  const ControlRow& button = ControlAt(Row::Command4);
  ASSERT_TRUE(button.text.empty());
  EXPECT_EQ(AccessibleName(button), L"按下我知道的更多...");
  EXPECT_NE(button.toolTip.find(AccessibleName(button)), std::wstring_view::npos);
}

TEST(AccessibleNameTest, CaptionedButtonsAreNamedByTheirCaptions) {
  EXPECT_EQ(AccessibleName(ControlAt(Row::cmdCancel)), L"取消");
  EXPECT_EQ(AccessibleName(ControlAt(Row::cmdContinue)), L"确认");
  EXPECT_EQ(AccessibleName(ControlAt(Row::Command1)), L"><");
}

TEST(AccessibleNameTest, PanelAndStripTakeTheTextsShownWhereTheyAre) {
  EXPECT_EQ(AccessibleName(ControlAt(Row::Text2)), L"安装须知");
  EXPECT_EQ(AccessibleName(ControlAt(Row::Picture1)), L"岫川安装提示");
  EXPECT_EQ(AccessibleName(ControlAt(Row::dir95Groups)), L"文件夹");
}

TEST(AccessibleNameTest, PaintedAndNeverShownRowsHaveNone) {
  for (const Row row : {Row::Label2, Row::Label12, Row::Image1, Row::lstGroups, Row::txtGroup})
    EXPECT_TRUE(AccessibleName(ControlAt(row)).empty()) << ControlAt(row).name;
}

TEST(NameCarrierTest, EditsAreNamedByALabelListsBothWaysOthersByTheirText) {
  EXPECT_TRUE(NamedByLabelBefore(ControlKind::TextBox));
  EXPECT_FALSE(NamedByWindowText(ControlKind::TextBox));  // its window text is what it shows
  for (const ControlKind list : {ControlKind::ListBox, ControlKind::DirListBox}) {
    EXPECT_TRUE(NamedByLabelBefore(list));
    EXPECT_TRUE(NamedByWindowText(list));
  }
  for (const ControlKind plain : {ControlKind::CommandButton, ControlKind::PictureBox}) {
    EXPECT_TRUE(NamedByWindowText(plain));
    EXPECT_FALSE(NamedByLabelBefore(plain));
  }
}

TEST(WindowTextOfTest, NamesGoIntoTheWindowTextOnlyWhereNothingElseIsThere) {
  // Captions and contents stay what the design says.
  EXPECT_EQ(WindowTextOf(ControlAt(Row::cmdCancel)), L"取消");
  EXPECT_EQ(WindowTextOf(ControlAt(Row::Command1)), L"><");
  EXPECT_EQ(WindowTextOf(ControlAt(Row::txtGroup)), L"*");
  // The notes panel starts empty: its name must not become its text.
  EXPECT_EQ(WindowTextOf(ControlAt(Row::Text2)), L"");
  EXPECT_EQ(WindowTextOf(ControlAt(Row::lstGroups)), L"");
  // Owner-drawn, custom and list windows, which do not paint their window text, carry their names in it.
  EXPECT_EQ(WindowTextOf(ControlAt(Row::dir95Groups)), L"文件夹");
  EXPECT_EQ(WindowTextOf(ControlAt(Row::Command4)), L"按下我知道的更多...");
  EXPECT_EQ(WindowTextOf(ControlAt(Row::Picture1)), L"岫川安装提示");
}

}  // namespace
}  // namespace setup
