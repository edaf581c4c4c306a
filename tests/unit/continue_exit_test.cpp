#include "actions/continue_exit.h"

#include <gtest/gtest.h>

#include "setup/base_directory.h"

namespace {

using actions::InstallerCommandLine;
using actions::InstallerPath;

TEST(InstallerPath, FollowsTheBaseDirectoryWithoutAnExtraSeparator) {
  EXPECT_EQ(InstallerPath(L"D:\\Setup\\"), L"D:\\Setup\\vorncopy\\tarvinxp.exe");
  EXPECT_EQ(InstallerPath(L"C:\\"), L"C:\\vorncopy\\tarvinxp.exe");
  // A directory of fewer than five characters keeps no separator, and the launcher has always glued
  // the payload name straight onto it.
  EXPECT_EQ(InstallerPath(L"C:\\A"), L"C:\\Avorncopy\\tarvinxp.exe");
}

TEST(InstallerPath, FromTheExecutableThroughTheBaseDirectory) {
  const auto fromExecutable = [](std::wstring_view executable) {
    return InstallerPath(setup::BaseDirectoryFrom(setup::ApplicationDirectoryOf(executable)));
  };
  EXPECT_EQ(fromExecutable(L"E:\\setup.exe"), L"E:\\vorncopy\\tarvinxp.exe");
  EXPECT_EQ(fromExecutable(L"D:\\Setup\\setup.exe"), L"D:\\Setup\\vorncopy\\tarvinxp.exe");
  EXPECT_EQ(fromExecutable(L"C:\\Program Files\\中文 目录\\setup.exe"),
            L"C:\\Program Files\\中文 目录\\vorncopy\\tarvinxp.exe");
}

TEST(InstallerCommandLine, IsThePathAloneInQuotes) {
  EXPECT_EQ(InstallerCommandLine(L"D:\\Setup\\vorncopy\\tarvinxp.exe"),
            L"\"D:\\Setup\\vorncopy\\tarvinxp.exe\"");
  const std::wstring withBlanks = L"C:\\My Medium\\vorncopy\\tarvinxp.exe";
  const std::wstring commandLine = InstallerCommandLine(withBlanks);
  ASSERT_EQ(commandLine.size(), withBlanks.size() + 2);
  EXPECT_EQ(commandLine.front(), L'"');
  EXPECT_EQ(commandLine.back(), L'"');
  EXPECT_EQ(commandLine.substr(1, withBlanks.size()), withBlanks);
}

}  // namespace
