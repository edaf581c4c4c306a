#include "win32/edit_text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "actions/notes_text.h"
#include "win32/unique_handle.h"

namespace {

// A wrapping, read-only multi-line EDIT as the notes panel is made, in a plain top-level window.
class EditTextTest : public testing::Test {
 protected:
  void SetUp() override {
    parent_.reset(::CreateWindowExW(0, L"STATIC", L"edit text test", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400,
                                    nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(parent_);
    edit_ = ::CreateWindowExW(0, L"EDIT", L"",
                              WS_CHILD | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 10, 10,
                              380, 170, parent_.get(), nullptr, nullptr, nullptr);
    ASSERT_TRUE(edit_);
  }

  std::wstring Text() const {
    const auto length = static_cast<int>(::SendMessageW(edit_, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(edit_, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
  }

  win32::UniqueWindow parent_;
  HWND edit_ = nullptr;
};

TEST_F(EditTextTest, TakesAWholeLargeTextInOneGoAndLiftsTheLimit) {
  // Well beyond the control's default limit of 30 000 characters and beyond 64 K.
  std::wstring text;
  for (int line = 0; line < 3000; ++line)
    text += L"\r\n第" + std::to_wstring(line) + L"行 " + std::wstring(40, L'x');
  ASSERT_GT(text.size(), 100000u);
  EXPECT_TRUE(win32::SetEditText(edit_, text));
  EXPECT_EQ(Text(), text);
  // Text the user could type later is not cut back to the default limit either.
  EXPECT_GE(static_cast<std::size_t>(::SendMessageW(edit_, EM_GETLIMITTEXT, 0, 0)), text.size());
  EXPECT_TRUE(win32::SetEditText(edit_, L""));
  EXPECT_EQ(Text(), L"");
}

TEST_F(EditTextTest, KeepsTheNotesOfAFileWithANulWhole) {
  const std::wstring text = actions::NotesPanelText(
      std::string("before\0after", 12), actions::ReadExtent::WholeFile,
      [](std::string_view bytes) { return std::wstring(bytes.begin(), bytes.end()); });
  EXPECT_TRUE(win32::SetEditText(edit_, text));
  EXPECT_EQ(Text().size(), 2u + 12u);
}

TEST_F(EditTextTest, AppendingKeepsTheReadersPlaceAndLeavesTheCaretAtTheStart) {
  ASSERT_TRUE(win32::SetEditText(edit_, L""));
  // A short limit, which appending must lift as setting does.
  ::SendMessageW(edit_, EM_SETLIMITTEXT, 100, 0);
  std::wstring whole;
  LRESULT furthestFirstLine = 0;  // the reader sees the text's beginning while the rest comes in
  for (int piece = 0; piece < 40; ++piece) {
    std::wstring words;
    for (int word = 0; word < 60; ++word) words += L"说明 word" + std::to_wstring(piece * 60 + word) + L' ';
    whole += words;
    EXPECT_TRUE(win32::AppendEditText(edit_, words));
    furthestFirstLine = std::max(furthestFirstLine, ::SendMessageW(edit_, EM_GETFIRSTVISIBLELINE, 0, 0));
  }
  EXPECT_EQ(Text(), whole);
  EXPECT_EQ(furthestFirstLine, 0);
  // As WM_SETTEXT leaves it: the caret at the start.
  DWORD selectionStart = 1;
  DWORD selectionEnd = 1;
  ::SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&selectionStart),
                 reinterpret_cast<LPARAM>(&selectionEnd));
  EXPECT_EQ(selectionStart, 0u);
  EXPECT_EQ(selectionEnd, 0u);
  // Setting the text afterwards replaces it rather than following it.
  EXPECT_TRUE(win32::SetEditText(edit_, L"\r\nshort"));
  EXPECT_EQ(Text(), L"\r\nshort");
}

// An EDIT out of room or memory: it answers EM_REPLACESEL as always but takes none of the text.
LRESULT CALLBACK DropsReplacements(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto original = reinterpret_cast<WNDPROC>(::GetPropW(edit, L"original"));
  if (message == EM_REPLACESEL) return 0;
  return ::CallWindowProcW(original, edit, message, wParam, lParam);
}

TEST_F(EditTextTest, AnAppendTheControlDoesNotTakeIsARefusal) {
  ASSERT_TRUE(win32::SetEditText(edit_, L"first"));
  ASSERT_TRUE(
      ::SetPropW(edit_, L"original", reinterpret_cast<HANDLE>(::GetWindowLongPtrW(edit_, GWLP_WNDPROC))));
  ::SetWindowLongPtrW(edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DropsReplacements));
  EXPECT_FALSE(win32::AppendEditText(edit_, L" second"));
  EXPECT_EQ(Text(), L"first");
}

TEST_F(EditTextTest, AControlThatIsGoneRefuses) {
  ::DestroyWindow(edit_);
  EXPECT_FALSE(win32::SetEditText(edit_, L"x"));
  EXPECT_FALSE(win32::AppendEditText(edit_, L"x"));
}

}  // namespace
