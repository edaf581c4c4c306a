#include "actions/notes_view_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

#include "actions/notes_text.h"
#include "actions/panel_slices.h"
#include "win32/unique_handle.h"

namespace {

// A plain top-level window with the panel and the confirm button as the setup window creates them.
class NotesViewTest : public testing::Test {
 protected:
  void SetUp() override {
    parent_.reset(::CreateWindowExW(0, L"STATIC", L"notes view test", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400,
                                    nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(parent_);
    panel_ = ::CreateWindowExW(0, L"EDIT", L"",
                               WS_CHILD | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 10, 10,
                               380, 170, parent_.get(), nullptr, nullptr, nullptr);
    button_ = ::CreateWindowExW(0, L"BUTTON", L"确认", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_PUSHBUTTON,
                                10, 200, 80, 24, parent_.get(), nullptr, nullptr, nullptr);
    picture_ = ::CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 100,
                                 200, 40, 40, parent_.get(), nullptr, nullptr, nullptr);
    ASSERT_TRUE(panel_ && button_ && picture_);
  }

  std::wstring PanelText() const {
    const auto length = static_cast<int>(::SendMessageW(panel_, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(panel_, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
  }
  static bool HasVisibleStyle(HWND window) { return (::GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0; }

  win32::UniqueWindow parent_;
  HWND panel_ = nullptr;
  HWND button_ = nullptr;
  HWND picture_ = nullptr;
  bool pictureButtonRead_ = false;
  actions::Win32NotesView View() {
    return actions::Win32NotesView(panel_, button_, [this] { pictureButtonRead_ = true; });
  }
};

TEST_F(NotesViewTest, PanelShowsAndHidesWithoutTakingTheFocus) {
  actions::Win32NotesView view = View();
  ::SetFocus(picture_);
  ASSERT_EQ(::GetFocus(), picture_);
  EXPECT_TRUE(view.SetPanelVisible(true));
  EXPECT_TRUE(HasVisibleStyle(panel_));
  EXPECT_EQ(::GetFocus(), picture_);
  EXPECT_TRUE(view.SetPanelVisible(false));
  EXPECT_FALSE(HasVisibleStyle(panel_));
}

TEST_F(NotesViewTest, PanelTakesAWholeLargeTextInOneGo) {
  actions::Win32NotesView view = View();
  // Well beyond the control's default limit of 30 000 characters and beyond 64 K.
  std::wstring text;
  for (int line = 0; line < 3000; ++line)
    text += L"\r\n第" + std::to_wstring(line) + L"行 " + std::wstring(40, L'x');
  ASSERT_GT(text.size(), 100000u);
  EXPECT_TRUE(view.SetPanelText(text));
  EXPECT_EQ(PanelText(), text);
  // Text the user could type later is not cut back to the default limit either.
  EXPECT_GE(static_cast<std::size_t>(::SendMessageW(panel_, EM_GETLIMITTEXT, 0, 0)), text.size());
  EXPECT_TRUE(view.SetPanelText(L""));
  EXPECT_EQ(PanelText(), L"");
}

TEST_F(NotesViewTest, VisibleNulKeepsTheTextWhole) {
  actions::Win32NotesView view = View();
  const std::wstring text = actions::NotesPanelText(
      std::string("before\0after", 12), actions::ReadExtent::WholeFile,
      [](std::string_view bytes) { return std::wstring(bytes.begin(), bytes.end()); });
  EXPECT_TRUE(view.SetPanelText(text));
  EXPECT_EQ(PanelText().size(), 2u + 12u);
}

TEST_F(NotesViewTest, ConfirmButtonIsEnabledAndStaysVisible) {
  actions::Win32NotesView view = View();
  ASSERT_FALSE(::IsWindowEnabled(button_));
  EXPECT_TRUE(view.SetContinueEnabled(true));
  EXPECT_TRUE(view.SetContinueVisible(true));
  EXPECT_TRUE(::IsWindowEnabled(button_));
  EXPECT_TRUE(HasVisibleStyle(button_));
}

TEST_F(NotesViewTest, PictureButtonColourGoesToItsPainter) {
  actions::Win32NotesView view = View();
  EXPECT_TRUE(view.ShowPictureButtonRead());
  EXPECT_TRUE(pictureButtonRead_);
}

TEST_F(NotesViewTest, DestroyedControlsRefuse) {
  actions::Win32NotesView view = View();
  ::DestroyWindow(panel_);
  ::DestroyWindow(button_);
  EXPECT_FALSE(view.SetPanelVisible(true));
  EXPECT_FALSE(view.SetPanelText(L"x"));
  EXPECT_FALSE(view.SetContinueEnabled(true));
}

TEST_F(NotesViewTest, LongLinesGoInSlicesWithTheWindowsInputHandledBetweenThem) {
  int pumps = 0;
  LRESULT furthestFirstLine = 0;  // the reader sees the text's beginning while the rest comes in
  actions::Win32NotesView view(
      panel_, button_, [] {},
      [&] {
        ++pumps;
        furthestFirstLine = std::max(furthestFirstLine, ::SendMessageW(panel_, EM_GETFIRSTVISIBLELINE, 0, 0));
      });
  // A CR LF pair and a surrogate pair right where a fixed cut would part them, then one long line.
  std::wstring text = L"\r\n" + std::wstring(actions::kPanelSliceUnits - 3, L'a') + L"\r\n";
  text += std::wstring(actions::kPanelSliceUnits - 3, L'b') + L"\xD83D\xDE00";
  for (int word = 0; text.size() < 6 * actions::kPanelSliceUnits; ++word)
    text += L"说明 word" + std::to_wstring(word) + L' ';
  ASSERT_TRUE(actions::NeedsSlicing(text));
  EXPECT_TRUE(view.SetPanelText(text));
  EXPECT_EQ(PanelText(), text);
  EXPECT_EQ(static_cast<std::size_t>(pumps), actions::PanelSlices(text).size());
  EXPECT_EQ(furthestFirstLine, 0);
  // As WM_SETTEXT leaves it: the caret at the start, the first line at the top.
  DWORD selectionStart = 1;
  DWORD selectionEnd = 1;
  ::SendMessageW(panel_, EM_GETSEL, reinterpret_cast<WPARAM>(&selectionStart),
                 reinterpret_cast<LPARAM>(&selectionEnd));
  EXPECT_EQ(selectionStart, 0u);
  EXPECT_EQ(selectionEnd, 0u);
  EXPECT_EQ(::SendMessageW(panel_, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  // The next text replaces it rather than following it.
  EXPECT_TRUE(view.SetPanelText(L"\r\nshort"));
  EXPECT_EQ(PanelText(), L"\r\nshort");
}

}  // namespace
