#include "common/ansi_code_page_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "actions/notes_text.h"
#include "common/windows_directory_win32.h"

namespace {

using namespace std::string_literals;

// GBK bytes of "安装须知" and "确认".
const std::string kGbkNotesHeading = "\xB0\xB2\xD7\xB0\xD0\xEB\xD6\xAA";
const std::string kGbkConfirm = "\xC8\xB7\xC8\xCF";

TEST(AnsiCodePage, EmptyBytesGiveTheEmptyString) {
  EXPECT_EQ(common::DecodeAnsiCodePage(""), L"");
}

TEST(AnsiCodePage, AsciiAndNulPassThroughInAnyCodePage) {
  EXPECT_EQ(common::DecodeAnsiCodePage("C:\\a\0b"s), L"C:\\a\0b"s);
}

TEST(AnsiCodePage, GbkTextUnderCodePage936) {
  if (::GetACP() != 936)
    GTEST_SKIP() << "needs the ANSI code page 936 (run with a zh_CN locale); it is " << ::GetACP();
  EXPECT_EQ(common::DecodeAnsiCodePage(kGbkNotesHeading), L"安装须知");
  // Lines with every kind of end, decoded one by one.
  const std::string file =
      kGbkNotesHeading + "\r\n" + kGbkConfirm + "\n" + kGbkConfirm + "\r\r\n" + kGbkConfirm;
  EXPECT_EQ(actions::NotesPanelText(file, actions::ReadExtent::WholeFile, common::DecodeAnsiCodePage),
            L"\r\n安装须知\r\n确认\n确认\r\n\r\n确认");
}

TEST(AnsiCodePage, BrokenDoubleByteCharacterStillGivesText) {
  if (::GetACP() != 936)
    GTEST_SKIP() << "needs the ANSI code page 936 (run with a zh_CN locale); it is " << ::GetACP();
  const std::wstring decoded = common::DecodeAnsiCodePage("a\xB0");
  ASSERT_FALSE(decoded.empty());
  EXPECT_EQ(decoded.front(), L'a');
}

TEST(WindowsDirectory, GetWinDirIsTheSystemsWindowsDirectoryWithNothingAfterIt) {
  wchar_t expected[MAX_PATH] = {};
  const UINT length = ::GetWindowsDirectoryW(expected, MAX_PATH);
  ASSERT_GT(length, 0u);
  const std::wstring directory = common::GetWinDir();
  EXPECT_EQ(directory, std::wstring(expected, length));
  EXPECT_EQ(directory.find(L'\0'), std::wstring::npos);
  EXPECT_NE(directory.back(), L' ');
  // Asked afresh each time, and the same answer each time.
  EXPECT_EQ(common::GetWinDir(), directory);
}

}  // namespace
