// The fixed design of the setup window frmGroup2: the window itself and its 37 controls in control
// order (top of the stacking order first). The window is built and painted by walking kControls.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "actions/controller.h"
#include "common/geometry.h"

namespace setup {

enum class ControlKind {
  Timer,
  TextBox,
  PictureBox,
  CommandButton,
  Line,
  Label,
  Image,
  ListBox,
  DirListBox,
};

// Kinds that are child windows (and so can take the focus); the others are painted by their container
// or, as the timer, not shown at all.
constexpr bool IsChildWindow(ControlKind kind) {
  switch (kind) {
    case ControlKind::TextBox:
    case ControlKind::PictureBox:
    case ControlKind::CommandButton:
    case ControlKind::ListBox:
    case ControlKind::DirListBox:
      return true;
    case ControlKind::Timer:
    case ControlKind::Line:
    case ControlKind::Label:
    case ControlKind::Image:
      return false;
  }
  return false;
}

// Every font of the window names character set 134 (GB2312).
inline constexpr int kGb2312Charset = 134;
inline constexpr int kNormalWeight = 400;
inline constexpr int kBoldWeight = 700;

struct FontSpec {
  std::wstring_view face;
  float points = 0;
  int weight = kNormalWeight;
};

// The window's own font; the labels' boxes are sized for it. Used by every control that names none.
inline constexpr FontSpec kWindowFont{L"宋体", 9.0f, kNormalWeight};
inline constexpr FontSpec kHeiti14{L"黑体", 14.25f, kNormalWeight};
inline constexpr FontSpec kHeiti10Bold{L"黑体", 10.5f, kBoldWeight};
inline constexpr FontSpec kSongti9Bold{L"宋体", 9.0f, kBoldWeight};
inline constexpr FontSpec kSongti10Bold{L"宋体", 10.5f, kBoldWeight};

// The pictures that are part of the program (the window's picture cache knows each one's resource).
enum class Picture {
  None,
  TitleStripIcon,     // 32 x 32, 256 colours: a yellow crescent with a star
  PictureButtonIcon,  // 32 x 32, 256 colours: a blue cartoon figure
  BottomPicture,      // JPEG 410 x 274: two line renderings of building interiors
  LeftPicture,        // JPEG 90 x 303: a tall rendering of a lit interior
};

// Attributes that differ from the toolkit's defaults (visible, enabled, Tab stop where the kind allows,
// opaque label background, default colours).
enum ControlFlag : unsigned {
  kHidden = 1u << 0,
  kDisabled = 1u << 1,
  kNoTabStop = 1u << 2,
  kTransparent = 1u << 3,  // label: BackStyle 0, paints only its text
  kGraphical = 1u << 4,    // command button: Style 1, shows its background colour and picture
  kMultiLine = 1u << 5,
  kVerticalScrollBar = 1u << 6,
  kAutoSize = 1u << 7,
  kWordWrap = 1u << 8,
  kStretch = 1u << 9,         // image: scaled to fill its box
  kDefaultButton = 1u << 10,  // Enter presses it while it is enabled and no other command button has focus
  kCancelButton = 1u << 11,   // Esc presses it
  kInTitleStrip = 1u << 12,   // contained by Picture1; the box is relative to the strip
  kDockTop = 1u << 13,        // Align top: spans the container's client width
};

inline constexpr std::size_t kControlCount = 37;

// A control by its row number, 1 to 37 in control order; the rows that the window code and the
// handlers name have names. Row numbers are also the child windows' control identifiers.
enum class Row : int {
  Timer1 = 1,
  Text2 = 2,
  Picture1 = 3,
  Command1 = 4,
  Label2 = 6,
  Image2 = 8,
  Command4 = 9,
  cmdCancel = 10,
  cmdContinue = 11,
  lstGroups = 12,
  txtGroup = 13,
  dir95Groups = 14,
  Label12 = 25,
  Image3 = 29,
  Image1 = 30,
};

// The one way rows are counted: kControls holds row n at index n - 1.
constexpr std::size_t IndexOf(Row row) {
  return static_cast<std::size_t>(row) - 1;
}

// Control identifier of a row's child window: its row number, so that anyone outside can find it.
constexpr int ControlId(Row row) {
  return static_cast<int>(row);
}

// The row whose child window carries a control identifier; none for identifiers of no row.
constexpr std::optional<Row> RowOfControlId(int id) {
  if (id < 1 || id > static_cast<int>(kControlCount)) return std::nullopt;
  return static_cast<Row>(id);
}

inline constexpr int kNoTabIndex = -1;

struct ControlRow {
  Row row{};
  std::string_view name{};
  ControlKind kind = ControlKind::Label;
  common::TwipBox box{};                   // boxes of everything but lines
  common::TwipLine line{};                 // lines only
  std::wstring_view text{};                // caption or contents; lines, images and pictures have none
  std::optional<common::Rgb> foreColor{};  // text or line colour; none means the default (black)
  std::optional<common::Rgb> backColor{};  // none means the default
  int lineWidthPixels = 1;                 // lines only
  const FontSpec* font = nullptr;          // none means the window's font
  Picture picture = Picture::None;
  unsigned flags = 0;
  int tabIndex = kNoTabIndex;
  std::wstring_view toolTip{};
  // What a click on a command button means to the controller.
  std::optional<actions::Event> click{};

  constexpr bool Has(ControlFlag flag) const { return (flags & flag) != 0; }
  constexpr const FontSpec& Font() const { return font ? *font : kWindowFont; }
};

// The window.
inline constexpr std::wstring_view kWindowCaption = L"* #";
// The words of the title strip (Label2). The borderless window shows its caption nowhere, so the
// launcher's own message boxes take these words, without the trailing blank, as their title.
inline constexpr std::wstring_view kTitleStripText = L"岫川安装提示 ";
inline constexpr std::wstring_view kMessageBoxTitle =
    kTitleStripText.substr(0, kTitleStripText.find_last_not_of(L' ') + 1);
inline constexpr float kClientWidthTwips = 7575;
inline constexpr float kClientHeightTwips = 5265;
inline constexpr common::Rgb kWindowBackColor = common::kWhite;
inline constexpr common::Rgb kDefaultForeColor = common::kBlack;

// The items of the hidden group list: text and item data.
inline constexpr std::wstring_view kGroupListEntry = L"lstGroups";
inline constexpr int kGroupListEntryData = 0;

// The picture button's colour once the notes have been read to the end.
inline constexpr common::Rgb kPictureButtonReadColor = common::kWhite;

inline constexpr common::Rgb kNavy{0, 0, 128};
inline constexpr common::Rgb kTitleButtonBlue{192, 192, 255};
inline constexpr common::Rgb kPictureButtonBlueGrey{160, 184, 201};
inline constexpr common::Rgb kPanelBackColor{241, 243, 233};
inline constexpr common::Rgb kDarkRed{192, 0, 0};
inline constexpr common::Rgb kPaleYellow{255, 255, 128};
inline constexpr common::Rgb kLightYellow{255, 255, 192};
inline constexpr common::Rgb kPaleBlue{217, 226, 244};
inline constexpr common::Rgb kTeal{0, 128, 128};
inline constexpr common::Rgb kPaleGreen{226, 235, 222};

using enum ControlKind;

// clang-format off
inline constexpr std::array<ControlRow, kControlCount> kControls{{
  {.row = Row{1}, .name = "Timer1", .kind = Timer, .flags = kDisabled},
  {.row = Row{2}, .name = "Text2", .kind = TextBox, .box = {1560, 600, 5790, 2616},
   .backColor = kPanelBackColor, .flags = kHidden | kMultiLine | kVerticalScrollBar | kNoTabStop,
   .tabIndex = 21},
  {.row = Row{3}, .name = "Picture1", .kind = PictureBox, .box = {0, 0, 7575, 435},
   .backColor = kNavy, .flags = kDockTop, .tabIndex = 10},
  {.row = Row{4}, .name = "Command1", .kind = CommandButton, .box = {7110, 90, 315, 270}, .text = L"><",
   .backColor = kTitleButtonBlue, .font = &kHeiti14, .flags = kGraphical | kInTitleStrip, .tabIndex = 11,
   .click = actions::Event::TitleStripButton},
  {.row = Row{5}, .name = "Line8", .kind = Line, .line = {7560, 420, 7590, 450}, .lineWidthPixels = 2,
   .flags = kInTitleStrip},
  {.row = Row{6}, .name = "Label2", .kind = Label, .box = {576, 120, 2940, 252}, .text = kTitleStripText,
   .foreColor = common::kWhite, .font = &kSongti9Bold, .flags = kTransparent | kInTitleStrip},
  {.row = Row{7}, .name = "Line4", .kind = Line, .line = {7510, 480, 0, 480}, .foreColor = kPaleYellow,
   .flags = kInTitleStrip},
  {.row = Row{8}, .name = "Image2", .kind = Image, .box = {90, 30, 345, 330}, .picture = Picture::TitleStripIcon,
   .flags = kStretch | kInTitleStrip},
  {.row = Row{9}, .name = "Command4", .kind = CommandButton, .box = {360, 4320, 675, 645},
   .backColor = kPictureButtonBlueGrey, .picture = Picture::PictureButtonIcon, .flags = kGraphical,
   .tabIndex = 9, .toolTip = L" \"按下我知道的更多...\" ", .click = actions::Event::PictureButton},
  {.row = Row{10}, .name = "cmdCancel", .kind = CommandButton, .box = {4740, 4710, 1140, 345}, .text = L"取消",
   .flags = kCancelButton, .tabIndex = 3, .click = actions::Event::Cancel},
  {.row = Row{11}, .name = "cmdContinue", .kind = CommandButton, .box = {3000, 4680, 1140, 345}, .text = L"确认",
   .flags = kDisabled | kDefaultButton, .tabIndex = 2, .click = actions::Event::Confirm},
  {.row = Row{12}, .name = "lstGroups", .kind = ListBox, .box = {90, 5490, 1050, 240}, .flags = kHidden,
   .tabIndex = 1},
  {.row = Row{13}, .name = "txtGroup", .kind = TextBox, .box = {90, 5760, 390, 330}, .text = L"*",
   .flags = kHidden, .tabIndex = 0},
  {.row = Row{14}, .name = "dir95Groups", .kind = DirListBox, .box = {240, 5610, 870, 930}, .tabIndex = 7},
  {.row = Row{15}, .name = "Label8", .kind = Label, .box = {1800, 3750, 5325, 255}, .flags = kTransparent},
  {.row = Row{16}, .name = "Label7", .kind = Label, .box = {7080, 3300, 315, 255}, .backColor = common::kWhite},
  {.row = Row{17}, .name = "Label5", .kind = Label, .box = {1950, 2160, 4635, 435},
   .text = L"   软件使用时,电脑显示器分辨率应设定在1024*768,否则影响界面效果。", .flags = kTransparent},
  {.row = Row{18}, .name = "Line7", .kind = Line, .line = {9450, 540, 9450, 6600}},
  {.row = Row{19}, .name = "Line6", .kind = Line, .line = {7560, 450, 7560, 3600}, .foreColor = kPaleBlue,
   .lineWidthPixels = 2},
  {.row = Row{20}, .name = "Line5", .kind = Line, .line = {9240, 5250, -240, 5250}, .foreColor = kTeal,
   .lineWidthPixels = 3},
  {.row = Row{21}, .name = "Label13", .kind = Label, .box = {3660, 3360, 3120, 225},
   .text = L"电子邮箱：service@tarvin-vo.com.cn", .flags = kTransparent},
  {.row = Row{22}, .name = "Label6", .kind = Label, .box = {1500, 3360, 2175, 225},
   .text = L"联系电话：0731-84452618", .foreColor = common::kBlack, .flags = kTransparent},
  {.row = Row{23}, .name = "Label4", .kind = Label, .box = {1965, 1650, 4755, 495},
   .text = L"   本软件需要电子表格的支持。如果系统中没有安装，应在本软件安装后安装电子表格2000。",
   .foreColor = common::kBlack, .flags = kTransparent},
  {.row = Row{24}, .name = "Label3", .kind = Label, .box = {1980, 1140, 4770, 435},
   .text = L"   安装分三部分: 1,从属文件安装; 2,数据库引擎安装; 3,系统文件安装。",
   .foreColor = common::kBlack, .flags = kTransparent},
  {.row = Row{25}, .name = "Label12", .kind = Label, .box = {3750, 690, 1065, 225}, .text = L"安装须知:",
   .foreColor = kDarkRed, .font = &kSongti10Bold, .flags = kTransparent},
  {.row = Row{26}, .name = "Label14", .kind = Label, .box = {60000, 45000, 1215, 225}, .text = L"安装提示:",
   .foreColor = common::kBlack, .font = &kHeiti10Bold, .flags = kTransparent},
  {.row = Row{27}, .name = "Label1", .kind = Label, .box = {60000, 45000, 1095, 225}, .text = L"安装提示",
   .foreColor = kLightYellow, .font = &kHeiti10Bold, .flags = kTransparent},
  {.row = Row{28}, .name = "Label15", .kind = Label, .box = {1950, 2670, 4230, 210},
   .text = L"   完成岫川演示版本的安装大约用 1-2 分钟。", .foreColor = common::kBlack, .flags = kTransparent},
  {.row = Row{29}, .name = "Image3", .kind = Image, .box = {1410, 3600, 6150, 1635},
   .picture = Picture::BottomPicture, .flags = kStretch},
  {.row = Row{30}, .name = "Image1", .kind = Image, .box = {0, 450, 1395, 4785}, .picture = Picture::LeftPicture,
   .flags = kStretch},
  {.row = Row{31}, .name = "lblDDE", .kind = Label, .box = {480, 6600, 705, 225}, .flags = kHidden},
  {.row = Row{32}, .name = "lblGroups", .kind = Label, .box = {690, 6630, 105, 195}, .text = L"#",
   .flags = kAutoSize},
  {.row = Row{33}, .name = "lblGroup", .kind = Label, .box = {480, 6600, 105, 195}, .text = L"#",
   .flags = kAutoSize},
  {.row = Row{34}, .name = "lblMain", .kind = Label, .box = {120, 6600, 720, 195}, .text = L"#",
   .flags = kAutoSize | kWordWrap},
  {.row = Row{35}, .name = "Line3", .kind = Line, .line = {7320, 4050, 7440, 4020}, .foreColor = kPaleGreen,
   .lineWidthPixels = 9},
  {.row = Row{36}, .name = "Line1", .kind = Line, .line = {8130, 3420, 8220, 3420}, .foreColor = kPaleGreen,
   .lineWidthPixels = 13},
  {.row = Row{37}, .name = "Line2", .kind = Line, .line = {8070, 3660, 7980, 3960}, .foreColor = kPaleGreen,
   .lineWidthPixels = 10},
}};
// clang-format on

constexpr const ControlRow& ControlAt(Row row) {
  return kControls[IndexOf(row)];
}

// Whether a row's child window is seen when the window first shows: not hidden, and within its
// container (the title strip for the rows inside it). The others are made after the first paint.
constexpr bool SeenAtStart(const ControlRow& row) {
  const common::TwipBox& strip = ControlAt(Row::Picture1).box;
  const float width = row.Has(kInTitleStrip) ? strip.width : kClientWidthTwips;
  const float height = row.Has(kInTitleStrip) ? strip.height : kClientHeightTwips;
  return IsChildWindow(row.kind) && !row.Has(kHidden) && row.box.left < width && row.box.top < height &&
         row.box.left + row.box.width > 0 && row.box.top + row.box.height > 0;
}

}  // namespace setup
