#include "setup/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <string_view>

namespace setup {
namespace {

using common::TwipBox;
using common::TwipLine;

bool HasNoBox(const TwipBox& box) {
  return box.left == 0 && box.top == 0 && box.width == 0 && box.height == 0;
}
bool HasNoLine(const TwipLine& line) {
  return line.x1 == 0 && line.y1 == 0 && line.x2 == 0 && line.y2 == 0;
}

bool Contains(const TwipBox& outer, const TwipBox& inner) {
  return inner.left >= outer.left && inner.top >= outer.top &&
         inner.left + inner.width <= outer.left + outer.width &&
         inner.top + inner.height <= outer.top + outer.height;
}

bool Overlaps(const TwipBox& a, const TwipBox& b) {
  return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
         b.top < a.top + a.height;
}

std::string NameOf(const ControlRow& control) {
  return std::string(control.name);
}

TEST(LayoutTest, RowsAreNumberedInControlOrder) {
  for (std::size_t index = 0; index < kControls.size(); ++index) {
    EXPECT_EQ(ControlId(kControls[index].row), static_cast<int>(index) + 1) << NameOf(kControls[index]);
  }
}

TEST(LayoutTest, NamesAndTabIndicesAreUnique) {
  std::set<std::string_view> names;
  std::set<int> tabIndices;
  for (const ControlRow& control : kControls) {
    EXPECT_FALSE(control.name.empty()) << "row " << ControlId(control.row);
    EXPECT_TRUE(names.insert(control.name).second) << "name used twice: " << NameOf(control);
    if (control.tabIndex != kNoTabIndex) {
      EXPECT_TRUE(tabIndices.insert(control.tabIndex).second) << "tab index used twice: " << NameOf(control);
      // The labels hold the other positions from 0 to 24.
      EXPECT_GE(control.tabIndex, 0) << NameOf(control);
      EXPECT_LE(control.tabIndex, 24) << NameOf(control);
    }
  }
}

TEST(LayoutTest, NamedRowsPointAtTheirControls) {
  const std::pair<Row, std::string_view> named[] = {
      {Row::Timer1, "Timer1"},       {Row::Text2, "Text2"},         {Row::Picture1, "Picture1"},
      {Row::Command1, "Command1"},   {Row::Label2, "Label2"},       {Row::Image2, "Image2"},
      {Row::Command4, "Command4"},   {Row::cmdCancel, "cmdCancel"}, {Row::cmdContinue, "cmdContinue"},
      {Row::lstGroups, "lstGroups"}, {Row::txtGroup, "txtGroup"},   {Row::dir95Groups, "dir95Groups"},
      {Row::Image3, "Image3"},       {Row::Image1, "Image1"},
  };
  for (const auto& [row, name] : named) {
    EXPECT_EQ(ControlAt(row).name, name);
    EXPECT_EQ(ControlAt(row).row, row);
  }
}

TEST(LayoutTest, OnlyRowsFourToEightLieInTheTitleStrip) {
  const ControlRow& strip = ControlAt(Row::Picture1);
  EXPECT_EQ(strip.kind, ControlKind::PictureBox);
  EXPECT_TRUE(strip.Has(kDockTop));
  EXPECT_EQ(strip.box.width, kClientWidthTwips);  // docked: the full client width
  const TwipBox stripArea{0, 0, strip.box.width, strip.box.height};
  // Lines of the strip may stick out by a few pixels' worth of twips; nothing else may.
  constexpr float kSlack = 60;
  for (const ControlRow& control : kControls) {
    const bool inStrip = ControlId(control.row) >= 4 && ControlId(control.row) <= 8;
    EXPECT_EQ(control.Has(kInTitleStrip), inStrip) << NameOf(control);
    if (!inStrip) continue;
    if (control.kind == ControlKind::Line) {
      for (const float x : {control.line.x1, control.line.x2}) {
        EXPECT_GE(x, -kSlack) << NameOf(control);
        EXPECT_LE(x, stripArea.width + kSlack) << NameOf(control);
      }
      for (const float y : {control.line.y1, control.line.y2}) {
        EXPECT_GE(y, -kSlack) << NameOf(control);
        EXPECT_LE(y, stripArea.height + kSlack) << NameOf(control);
      }
    } else {
      EXPECT_TRUE(Contains(stripArea, control.box)) << NameOf(control);
    }
  }
}

TEST(LayoutTest, EachKindCarriesTheGeometryItNeeds) {
  for (const ControlRow& control : kControls) {
    switch (control.kind) {
      case ControlKind::Timer:
        EXPECT_TRUE(HasNoBox(control.box) && HasNoLine(control.line)) << NameOf(control);
        break;
      case ControlKind::Line:
        EXPECT_TRUE(HasNoBox(control.box)) << NameOf(control);
        EXPECT_FALSE(HasNoLine(control.line)) << NameOf(control);
        EXPECT_TRUE(control.text.empty()) << NameOf(control);
        EXPECT_GE(control.lineWidthPixels, 1) << NameOf(control);
        break;
      default:
        EXPECT_TRUE(HasNoLine(control.line)) << NameOf(control);
        EXPECT_GT(control.box.width, 0) << NameOf(control);
        EXPECT_GT(control.box.height, 0) << NameOf(control);
        break;
    }
    if (control.kind != ControlKind::Line) {
      EXPECT_EQ(control.lineWidthPixels, 1) << NameOf(control);
    }
    if (IsChildWindow(control.kind)) {
      EXPECT_FALSE(HasNoBox(control.box)) << NameOf(control);
    }
  }
}

TEST(LayoutTest, FlagsAndAttributesBelongToKindsThatUseThem) {
  for (const ControlRow& control : kControls) {
    const ControlKind kind = control.kind;
    if (control.Has(kTransparent) || control.Has(kAutoSize) || control.Has(kWordWrap)) {
      EXPECT_EQ(kind, ControlKind::Label) << NameOf(control);
    }
    if (control.Has(kGraphical) || control.Has(kDefaultButton) || control.Has(kCancelButton)) {
      EXPECT_EQ(kind, ControlKind::CommandButton) << NameOf(control);
    }
    if (control.Has(kMultiLine) || control.Has(kVerticalScrollBar)) {
      EXPECT_EQ(kind, ControlKind::TextBox);
    }
    if (control.Has(kStretch)) {
      EXPECT_EQ(kind, ControlKind::Image) << NameOf(control);
    }
    if (control.Has(kDockTop)) {
      EXPECT_EQ(kind, ControlKind::PictureBox) << NameOf(control);
    }
    if (control.tabIndex != kNoTabIndex) {
      EXPECT_TRUE(IsChildWindow(kind)) << NameOf(control);
    }
    if (!control.toolTip.empty()) {
      EXPECT_EQ(kind, ControlKind::CommandButton) << NameOf(control);
    }
    if (kind == ControlKind::Image) {
      EXPECT_NE(control.picture, Picture::None) << NameOf(control);
    }
    if (control.picture != Picture::None) {
      EXPECT_TRUE(kind == ControlKind::Image ||
                  (kind == ControlKind::CommandButton && control.Has(kGraphical)))
          << NameOf(control);
    }
    // A command button shows its background colour only in the graphical style.
    if (kind == ControlKind::CommandButton && control.backColor) {
      EXPECT_TRUE(control.Has(kGraphical)) << NameOf(control);
    }
    if (kind == ControlKind::Image || kind == ControlKind::Timer) {
      EXPECT_TRUE(control.text.empty()) << NameOf(control);
    }
  }
}

// The design's pure whites and blacks: a white one shade off shows as a grey box on the white window.
TEST(LayoutTest, TheWhitesAndBlacksAreRgb255And0) {
  constexpr common::Rgb white{255, 255, 255};
  constexpr common::Rgb black{0, 0, 0};
  const auto named = [](std::string_view name) {
    const auto row = std::find_if(kControls.begin(), kControls.end(),
                                  [name](const ControlRow& control) { return control.name == name; });
    return row == kControls.end() ? ControlRow{} : *row;
  };
  EXPECT_EQ(kWindowBackColor, white);
  EXPECT_EQ(kPictureButtonReadColor, white);
  EXPECT_EQ(named("Label2").foreColor, white);
  EXPECT_EQ(named("Label7").backColor, white);
  EXPECT_EQ(kDefaultForeColor, black);
  for (const std::string_view name : {"Label6", "Label4", "Label3", "Label14", "Label15"}) {
    EXPECT_EQ(named(name).foreColor, black) << name;
  }
}

TEST(LayoutTest, ExactlyOneDefaultAndOneCancelButton) {
  int defaults = 0;
  int cancels = 0;
  for (const ControlRow& control : kControls) {
    defaults += control.Has(kDefaultButton) ? 1 : 0;
    cancels += control.Has(kCancelButton) ? 1 : 0;
  }
  EXPECT_EQ(defaults, 1);
  EXPECT_EQ(cancels, 1);
  EXPECT_TRUE(ControlAt(Row::cmdContinue).Has(kDefaultButton));
  EXPECT_TRUE(ControlAt(Row::cmdCancel).Has(kCancelButton));
}

TEST(LayoutTest, EveryPictureIsUsedExactlyOnce) {
  std::multiset<Picture> used;
  for (const ControlRow& control : kControls) {
    if (control.picture != Picture::None) used.insert(control.picture);
  }
  for (const Picture picture :
       {Picture::TitleStripIcon, Picture::PictureButtonIcon, Picture::BottomPicture, Picture::LeftPicture}) {
    EXPECT_EQ(used.count(picture), 1u) << static_cast<int>(picture);
  }
}

TEST(LayoutTest, TextPanelCoversTheNotesAndNothingElseThatShows) {
  const ControlRow& panel = ControlAt(Row::Text2);
  const std::set<std::string_view> notes{"Label5", "Label4", "Label3", "Label12", "Label15"};
  const TwipBox client{0, 0, kClientWidthTwips, kClientHeightTwips};
  for (const ControlRow& control : kControls) {
    if (notes.contains(control.name)) {
      EXPECT_TRUE(Contains(panel.box, control.box)) << NameOf(control) << " peeks out from under the panel";
      continue;
    }
    if (control.row == panel.row || control.kind == ControlKind::Line || HasNoBox(control.box)) continue;
    // Everything else the user can see (text, a picture, a child window) stays uncovered. The title
    // strip's contents are relative to a strip at the window's origin, so their boxes compare as they are.
    const bool shows =
        !control.Has(kHidden) && Overlaps(client, control.box) &&
        (!control.text.empty() || control.picture != Picture::None || IsChildWindow(control.kind));
    if (shows) {
      EXPECT_FALSE(Overlaps(panel.box, control.box)) << NameOf(control) << " is covered";
    }
  }
}

TEST(LayoutTest, ControlsTheUserSeesLieInsideTheClientArea) {
  const TwipBox client{0, 0, kClientWidthTwips, kClientHeightTwips};
  for (const ControlRow& control : kControls) {
    if (HasNoBox(control.box) || control.Has(kHidden) || control.Has(kInTitleStrip)) continue;
    const bool visibleContent = !control.text.empty() || control.picture != Picture::None ||
                                control.kind == ControlKind::CommandButton;
    // Rows placed outside on purpose carry the placeholder "#" or lie wholly outside; nothing may straddle
    // the edge by accident.
    if (Overlaps(client, control.box) && visibleContent) {
      EXPECT_TRUE(Contains(client, control.box)) << NameOf(control) << " straddles the window's edge";
    }
  }
}

TEST(LayoutTest, OnlyTheHiddenAndTheOffWindowChildWindowsWaitForTheFirstPaint) {
  std::set<std::string_view> later;
  for (const ControlRow& control : kControls) {
    if (IsChildWindow(control.kind) && !SeenAtStart(control)) later.insert(control.name);
  }
  EXPECT_EQ(later, (std::set<std::string_view>{"Text2", "lstGroups", "txtGroup", "dir95Groups"}));
}

}  // namespace
}  // namespace setup
