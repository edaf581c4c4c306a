#include "setup/base_directory.h"

#include <gtest/gtest.h>

#include <string>

namespace setup {
namespace {

TEST(BaseDirectoryFromTest, AddsExactlyOneBackslash) {
  EXPECT_EQ(BaseDirectoryFrom(L"C:\\A"), L"C:\\A\\");
  EXPECT_EQ(BaseDirectoryFrom(L"C:\\AB"), L"C:\\AB\\");
  EXPECT_EQ(BaseDirectoryFrom(L"D:\\Setup"), L"D:\\Setup\\");
  EXPECT_EQ(BaseDirectoryFrom(L"E:\\安装\\光盘"), L"E:\\安装\\光盘\\");
  EXPECT_EQ(BaseDirectoryFrom(L"\\\\server\\share"), L"\\\\server\\share\\");
}

TEST(BaseDirectoryFromTest, NeverDoublesASeparator) {
  EXPECT_EQ(BaseDirectoryFrom(L"C:\\"), L"C:\\");
  EXPECT_EQ(BaseDirectoryFrom(L"D:\\Setup\\"), L"D:\\Setup\\");
  EXPECT_EQ(BaseDirectoryFrom(L"\\\\server\\share\\"), L"\\\\server\\share\\");
  EXPECT_EQ(BaseDirectoryFrom(L"D:/Setup/"), L"D:/Setup/");
}

TEST(BaseDirectoryFromTest, EmptyStaysEmpty) {
  EXPECT_EQ(BaseDirectoryFrom(L""), L"");
}

TEST(ApplicationDirectoryOfTest, StripsTheFileName) {
  EXPECT_EQ(ApplicationDirectoryOf(L"D:\\Setup\\setup.exe"), L"D:\\Setup");
  EXPECT_EQ(ApplicationDirectoryOf(L"C:\\A\\setup.exe"), L"C:\\A");
  EXPECT_EQ(ApplicationDirectoryOf(L"E:\\安装\\光盘\\setup.exe"), L"E:\\安装\\光盘");
  EXPECT_EQ(ApplicationDirectoryOf(L"\\\\server\\share\\setup.exe"), L"\\\\server\\share");
  EXPECT_EQ(ApplicationDirectoryOf(L"\\\\server\\share\\disk1\\setup.exe"), L"\\\\server\\share\\disk1");
  EXPECT_EQ(ApplicationDirectoryOf(L"D:/Setup/setup.exe"), L"D:/Setup");
}

TEST(ApplicationDirectoryOfTest, KeepsTheBackslashOnlyAtADriveRoot) {
  EXPECT_EQ(ApplicationDirectoryOf(L"C:\\setup.exe"), L"C:\\");
  EXPECT_EQ(ApplicationDirectoryOf(L"\\\\?\\C:\\setup.exe"), L"\\\\?\\C:\\");
  EXPECT_EQ(ApplicationDirectoryOf(L"\\\\?\\C:\\Setup\\setup.exe"), L"\\\\?\\C:\\Setup");
  EXPECT_EQ(ApplicationDirectoryOf(L"\\\\?\\UNC\\server\\share\\setup.exe"), L"\\\\?\\UNC\\server\\share");
  // A directory whose name merely ends in a colon-like pattern is no drive.
  EXPECT_EQ(ApplicationDirectoryOf(L"C:\\A:\\setup.exe"), L"C:\\A:");
}

TEST(ApplicationDirectoryOfTest, PathWithoutDirectoryGivesNone) {
  EXPECT_EQ(ApplicationDirectoryOf(L"setup.exe"), L"");
  EXPECT_EQ(ApplicationDirectoryOf(L""), L"");
}

TEST(ApplicationDirectoryOfTest, HandlesPathsFarBeyondTheOldLengthLimit) {
  std::wstring directory = L"\\\\?\\D:";
  for (int level = 0; level < 200; ++level)
    directory += L"\\a folder with a fairly long name " + std::to_wstring(level);
  ASSERT_GT(directory.size(), 4096u);
  EXPECT_EQ(ApplicationDirectoryOf(directory + L"\\setup.exe"), directory);
}

TEST(BaseDirectoryTest, NamesFilesBesideTheExecutable) {
  // The base directory followed by a file name must give back the file beside the launcher, wherever the
  // launcher lies: no separator lost, none doubled.
  for (const std::wstring executable :
       {L"C:\\setup.exe", L"C:\\A\\setup.exe", L"C:\\AB\\setup.exe", L"D:\\Setup\\setup.exe",
        L"\\\\server\\share\\setup.exe", L"\\\\?\\C:\\setup.exe", L"\\\\?\\D:\\x\\y\\setup.exe"}) {
    const std::wstring base = BaseDirectoryFrom(ApplicationDirectoryOf(executable));
    EXPECT_EQ(base + L"setup.exe", executable);
    EXPECT_EQ(base + ProgramFileNameOf(executable), executable);
  }
  EXPECT_EQ(ProgramFileNameOf(L"E:/安装/光盘 1.exe"), L"光盘 1.exe");
  EXPECT_EQ(ProgramFileNameOf(L"SETUP.EXE"), L"SETUP.EXE");
}

}  // namespace
}  // namespace setup
