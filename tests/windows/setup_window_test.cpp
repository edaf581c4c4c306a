// The setup window built in-process: what the layout table says must be what the window creates, the
// load step's results, and the key routing that replaces the dialog manager.
#include "setup/setup_window.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "actions/controller.h"
#include "actions/run_state.h"
#include "import_hook.h"
#include "setup/accessible_name.h"
#include "setup/picture_cache.h"
#include "win32/dpi.h"

namespace {

using setup::ControlId;
using setup::Row;

std::wstring TextOf(HWND window) {
  std::array<wchar_t, 256> text{};
  ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  return text.data();
}

LONG Style(HWND window) {
  return ::GetWindowLongW(window, GWL_STYLE);
}

void PumpMessages() {
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

// The window's controller reads no files: the click tests need none.
class NoFiles : public actions::FileSystem {
 public:
  actions::FileRead ReadWholeFile(const std::wstring&) override { return {}; }
  std::unique_ptr<actions::HeldFile> OpenForReading(const std::wstring&) override { return nullptr; }
  actions::CopyOutcome CopyReplacing(const std::wstring&, const std::wstring&) override { return {}; }
  actions::CopyOutcome WriteReplacing(const actions::FileRead&, const std::wstring&) override { return {}; }
};

class SetupWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window_.Create());
    window_.Connect(run_);
  }

  HWND Control(Row row) const { return window_.ControlWindow(row); }

  bool PressKey(HWND target, WPARAM key) {
    const MSG message{target, WM_KEYDOWN, key, 1, 0, {}};
    return window_.RouteKey(message);
  }

  std::optional<int> FocusedId() const {
    const HWND focus = ::GetFocus();
    if (!focus) return std::nullopt;
    return ::GetDlgCtrlID(focus);
  }

  setup::SetupWindow window_{::GetModuleHandleW(nullptr)};
  NoFiles files_;
  const std::wstring baseDirectory_ = L"C:\\medium\\";
  actions::Controller controller_{
      {baseDirectory_, window_.Notes(), files_, [] { return std::wstring(L"C:\\WINDOWS"); },
       [](std::string_view bytes) { return std::wstring(bytes.begin(), bytes.end()); }}};
  actions::RunState run_{controller_};
};

TEST_F(SetupWindowTest, TheWindowIsABorderlessPopupOffTheTaskBar) {
  const HWND window = window_.hwnd();
  EXPECT_EQ(TextOf(window), L"* #");
  EXPECT_TRUE(Style(window) & WS_POPUP);
  EXPECT_FALSE(Style(window) & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU));
  EXPECT_FALSE(::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW);
  const HWND owner = ::GetWindow(window, GW_OWNER);
  ASSERT_NE(owner, nullptr);
  EXPECT_FALSE(::IsWindowVisible(owner));

  RECT client{};
  ::GetClientRect(window, &client);
  EXPECT_EQ(client.right, common::TwipsToPixels(setup::kClientWidthTwips, win32::ScreenDpi()));
  EXPECT_EQ(client.bottom, common::TwipsToPixels(setup::kClientHeightTwips, win32::ScreenDpi()));
  RECT outer{};
  ::GetWindowRect(window, &outer);
  EXPECT_EQ(outer.right - outer.left, client.right);  // no frame
  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
  EXPECT_LE(std::abs(outer.left - (screenWidth - outer.right)), 1);  // centred
}

TEST_F(SetupWindowTest, WhatIsNotSeenAtFirstComesAfterThePaintInItsPlaceInTheStackingOrder) {
  for (const setup::ControlRow& row : setup::kControls) {
    if (setup::IsChildWindow(row.kind)) {
      EXPECT_EQ(Control(row.row) != nullptr, setup::SeenAtStart(row)) << row.name;
    }
  }
  window_.Show();
  // Control order from the top, each name label right above the control it names.
  int previousRow = 0;
  bool labelAbove = false;
  for (HWND child = ::GetWindow(window_.hwnd(), GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    const int id = ::GetDlgCtrlID(child);
    if (id == setup::ChildControls::kNameLabelId) {
      EXPECT_FALSE(labelAbove);
      labelAbove = true;
      continue;
    }
    EXPECT_GT(id, previousRow);
    const setup::ControlRow& row = setup::ControlAt(*setup::RowOfControlId(id));
    EXPECT_EQ(labelAbove, setup::NamedByLabelBefore(row.kind) && !setup::AccessibleName(row).empty())
        << row.name;
    previousRow = id;
    labelAbove = false;
  }
  EXPECT_EQ(previousRow, setup::ControlId(Row::dir95Groups));
}

TEST_F(SetupWindowTest, EveryChildWindowCarriesItsRowNumberAndParent) {
  window_.Show();
  for (const setup::ControlRow& row : setup::kControls) {
    const HWND child = Control(row.row);
    const bool isChildWindow =
        row.kind == setup::ControlKind::TextBox || row.kind == setup::ControlKind::PictureBox ||
        row.kind == setup::ControlKind::CommandButton || row.kind == setup::ControlKind::ListBox ||
        row.kind == setup::ControlKind::DirListBox;
    if (!isChildWindow) {
      EXPECT_EQ(child, nullptr) << row.name;
      continue;
    }
    ASSERT_NE(child, nullptr) << row.name;
    EXPECT_EQ(::GetDlgCtrlID(child), ControlId(row.row)) << row.name;
    const HWND expectedParent = row.Has(setup::kInTitleStrip) ? Control(Row::Picture1) : window_.hwnd();
    EXPECT_EQ(::GetParent(child), expectedParent) << row.name;
  }
}

TEST_F(SetupWindowTest, ControlsStartInTheirDesignedState) {
  const HWND confirm = Control(Row::cmdContinue);
  EXPECT_EQ(TextOf(confirm), L"确认");
  EXPECT_FALSE(::IsWindowEnabled(confirm));
  EXPECT_TRUE(Style(confirm) & WS_VISIBLE);
  EXPECT_EQ(Style(confirm) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  EXPECT_EQ(TextOf(Control(Row::cmdCancel)), L"取消");
  EXPECT_TRUE(::IsWindowEnabled(Control(Row::cmdCancel)));
  EXPECT_EQ(Style(Control(Row::Command1)) & BS_TYPEMASK, BS_OWNERDRAW);
  EXPECT_EQ(Style(Control(Row::Command4)) & BS_TYPEMASK, BS_OWNERDRAW);

  window_.Show();
  const HWND panel = Control(Row::Text2);
  EXPECT_FALSE(Style(panel) & WS_VISIBLE);
  EXPECT_TRUE(Style(panel) & ES_MULTILINE);
  EXPECT_TRUE(Style(panel) & ES_READONLY);
  EXPECT_TRUE(Style(panel) & WS_VSCROLL);
  EXPECT_FALSE(Style(panel) & WS_TABSTOP);
  // The limit is unsigned: past 2 GB it reads as negative in a 32-bit LRESULT.
  EXPECT_GT(static_cast<UINT>(::SendMessageW(panel, EM_GETLIMITTEXT, 0, 0)), 30000u);

  const HWND groups = Control(Row::lstGroups);
  EXPECT_FALSE(Style(groups) & WS_VISIBLE);
  ASSERT_EQ(::SendMessageW(groups, LB_GETCOUNT, 0, 0), 1);
  std::array<wchar_t, 32> entry{};
  ::SendMessageW(groups, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(entry.data()));
  EXPECT_STREQ(entry.data(), L"lstGroups");
  EXPECT_EQ(::SendMessageW(groups, LB_GETITEMDATA, 0, 0), 0);

  EXPECT_EQ(TextOf(Control(Row::txtGroup)), L"*");
  EXPECT_FALSE(Style(Control(Row::txtGroup)) & WS_VISIBLE);

  const HWND folders = Control(Row::dir95Groups);
  EXPECT_TRUE(Style(folders) & WS_VISIBLE);
  EXPECT_TRUE(::IsWindowEnabled(folders));
  EXPECT_TRUE(Style(folders) & WS_TABSTOP);

  const HWND strip = Control(Row::Picture1);
  EXPECT_TRUE(Style(strip) & WS_TABSTOP);
  RECT stripBox{};
  RECT client{};
  ::GetClientRect(strip, &stripBox);
  ::GetClientRect(window_.hwnd(), &client);
  EXPECT_EQ(stripBox.right, client.right);
}

TEST_F(SetupWindowTest, LoadStepMakesTheWindowTopmost) {
  RECT before{};
  ::GetWindowRect(window_.hwnd(), &before);
  window_.RunLoadStep();
  EXPECT_TRUE(::GetWindowLongW(window_.hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  RECT after{};
  ::GetWindowRect(window_.hwnd(), &after);
  EXPECT_TRUE(::EqualRect(&before, &after));
}

TEST_F(SetupWindowTest, TabCyclesThroughTheFocusableControlsInTabOrder) {
  window_.RunLoadStep();
  window_.Show();
  // The first key finds the whole cycle, before the window has handled any message.
  ASSERT_EQ(FocusedId(), ControlId(Row::cmdCancel));
  for (Row expected : {Row::dir95Groups, Row::Command4, Row::Picture1, Row::Command1, Row::cmdCancel}) {
    EXPECT_TRUE(PressKey(::GetFocus(), VK_TAB));
    EXPECT_EQ(FocusedId(), ControlId(expected));
  }

  // Shift+Tab goes back, from whichever child gets the key.
  BYTE keys[256] = {};
  ::GetKeyboardState(keys);
  keys[VK_SHIFT] = 0x80;
  ::SetKeyboardState(keys);
  EXPECT_TRUE(PressKey(window_.hwnd(), VK_TAB));
  keys[VK_SHIFT] = 0;
  ::SetKeyboardState(keys);
  EXPECT_EQ(FocusedId(), ControlId(Row::Command1));
}

TEST_F(SetupWindowTest, TheDefaultLookFollowsTheFocusedCommandButton) {
  window_.Show();
  PumpMessages();
  const auto isDefault = [this](Row row) { return (Style(Control(row)) & BS_TYPEMASK) == BS_DEFPUSHBUTTON; };
  EXPECT_TRUE(isDefault(Row::cmdCancel));
  EXPECT_FALSE(isDefault(Row::cmdContinue));

  ::SetFocus(Control(Row::dir95Groups));
  PumpMessages();
  EXPECT_FALSE(isDefault(Row::cmdCancel));
  EXPECT_TRUE(isDefault(Row::cmdContinue));

  ::SetFocus(Control(Row::Command4));
  PumpMessages();
  EXPECT_FALSE(isDefault(Row::cmdCancel));
  EXPECT_FALSE(isDefault(Row::cmdContinue));
}

TEST_F(SetupWindowTest, EnterPressesTheFocusedPictureButtonAndOtherKeysPassThrough) {
  window_.RunLoadStep();
  window_.Show();
  PumpMessages();
  ::SetFocus(Control(Row::Command4));
  // There is no notes file: the click shows the empty panel and enables nothing.
  EXPECT_TRUE(PressKey(Control(Row::Command4), VK_RETURN));
  PumpMessages();
  EXPECT_TRUE(::IsWindowVisible(Control(Row::Text2)));
  EXPECT_FALSE(::IsWindowEnabled(Control(Row::cmdContinue)));

  EXPECT_FALSE(PressKey(Control(Row::Command4), 'A'));
  EXPECT_FALSE(PressKey(Control(Row::Command4), VK_SPACE));
  // Keys of windows that are not the setup window's are none of its business.
  EXPECT_FALSE(PressKey(::GetDesktopWindow(), VK_TAB));
}

TEST_F(SetupWindowTest, ACloseRequestEndsTheLauncherThroughTheControllerAndDestroysNothing) {
  EXPECT_FALSE(run_.Ending());
  ::SendMessageW(window_.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_EQ(run_.Ending(), actions::Next::End);
  EXPECT_TRUE(::IsWindow(window_.hwnd()));
}

TEST_F(SetupWindowTest, TheControllersChangesShowWithoutTakingTheFocus) {
  window_.Show();
  PumpMessages();
  ::SetFocus(Control(Row::Command4));
  EXPECT_TRUE(window_.Notes().ShowNotesPanel());
  EXPECT_TRUE(Style(Control(Row::Text2)) & WS_VISIBLE);
  EXPECT_EQ(FocusedId(), ControlId(Row::Command4));
  EXPECT_TRUE(window_.Notes().HideNotesPanel());
  EXPECT_FALSE(Style(Control(Row::Text2)) & WS_VISIBLE);

  EXPECT_TRUE(window_.Notes().EnableConfirm());
  EXPECT_TRUE(window_.Notes().ShowConfirm());
  EXPECT_TRUE(::IsWindowEnabled(Control(Row::cmdContinue)));
  EXPECT_TRUE(Style(Control(Row::cmdContinue)) & WS_VISIBLE);
  EXPECT_EQ(FocusedId(), ControlId(Row::Command4));

  EXPECT_EQ(window_.PictureButtonColor(), (common::Rgb{160, 184, 201}));
  EXPECT_TRUE(window_.Notes().ShowPictureButtonRead());
  EXPECT_EQ(window_.PictureButtonColor(), common::kWhite);
}

// GDI refuses DIB sections (its quota spent, memory low) while sectionsRefused holds; every request's
// size is kept.
bool sectionsRefused = false;
std::vector<std::pair<LONG, LONG>> sectionsAsked;
using CreateDibSectionFunction = HBITMAP(WINAPI*)(HDC, const BITMAPINFO*, UINT, void**, HANDLE, DWORD);
CreateDibSectionFunction realCreateDibSection = nullptr;

HBITMAP WINAPI RefusableCreateDibSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits,
                                         HANDLE section, DWORD offset) {
  sectionsAsked.emplace_back(info->bmiHeader.biWidth, std::abs(info->bmiHeader.biHeight));
  if (!sectionsRefused) return realCreateDibSection(dc, info, usage, bits, section, offset);
  if (bits) *bits = nullptr;
  ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

TEST_F(SetupWindowTest, APaintThatGetsNoSurfacePaintsNothingThroughItAndTheNextPaintTriesAgain) {
  windows_test::ImportHook hook("gdi32.dll", "CreateDIBSection",
                                reinterpret_cast<void*>(&RefusableCreateDibSection));
  ASSERT_TRUE(hook.active());
  realCreateDibSection = reinterpret_cast<CreateDibSectionFunction>(hook.original());
  RECT client{};
  ::GetClientRect(window_.hwnd(), &client);
  const std::pair<LONG, LONG> windowSurface{client.right, client.bottom};

  sectionsRefused = true;
  sectionsAsked.clear();
  window_.Show();  // paints the window whole: its pictures would go through a surface with no pixels
  PumpMessages();
  ASSERT_EQ(std::count(sectionsAsked.begin(), sectionsAsked.end(), windowSurface), 1);

  sectionsRefused = false;
  sectionsAsked.clear();
  ::RedrawWindow(window_.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  EXPECT_EQ(std::count(sectionsAsked.begin(), sectionsAsked.end(), windowSurface), 1)
      << "the surface that could not be made stayed in place of the window's painted rows";
  sectionsAsked.clear();
  ::RedrawWindow(window_.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  EXPECT_EQ(std::count(sectionsAsked.begin(), sectionsAsked.end(), windowSurface), 0)
      << "a surface that was made is kept";
}

TEST(PictureCache, ScalesOnceAndKeepsTheIconsTransparency) {
  setup::PictureCache cache(::GetModuleHandleW(nullptr));
  const common::Bitmap32* strip = cache.Scaled(setup::Picture::BottomPicture, 410, 109);
  ASSERT_NE(strip, nullptr);
  EXPECT_EQ(strip->width, 410);
  EXPECT_EQ(strip->height, 109);
  EXPECT_EQ(cache.Scaled(setup::Picture::BottomPicture, 410, 109), strip);
  EXPECT_NE(cache.Scaled(setup::Picture::BottomPicture, 205, 55), strip);

  const common::Bitmap32* icon = cache.Scaled(setup::Picture::TitleStripIcon, 23, 22);
  ASSERT_NE(icon, nullptr);
  const auto transparent =
      std::count_if(icon->pixels.begin(), icon->pixels.end(), [](std::uint32_t p) { return p >> 24 == 0; });
  const auto opaque =
      std::count_if(icon->pixels.begin(), icon->pixels.end(), [](std::uint32_t p) { return p >> 24 == 255; });
  EXPECT_GT(transparent, 0);
  EXPECT_GT(opaque, 0);
  for (std::uint32_t p : icon->pixels) {  // premultiplied: no channel exceeds alpha
    const std::uint32_t alpha = p >> 24;
    ASSERT_LE((p >> 16) & 0xFF, alpha);
    ASSERT_LE((p >> 8) & 0xFF, alpha);
    ASSERT_LE(p & 0xFF, alpha);
  }

  EXPECT_EQ(cache.Scaled(setup::Picture::None, 10, 10), nullptr);
  EXPECT_EQ(cache.Scaled(setup::Picture::LeftPicture, 0, 10), nullptr);
}

}  // namespace
