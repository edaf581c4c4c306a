#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/geometry.h"
#include "common/windows_directory.h"
#include "pathcheck/path_check.h"
#include "pathcheck/path_check_layout.h"

namespace pathcheck {
namespace {

// Each click asks the Windows directory through the real query over a scripted GetWindowsDirectoryA,
// and the shown texts are collected.
class Command1ClickTest : public testing::Test {
 protected:
  void Click() {
    ClickCommand1(
        [this] {
          return common::WindowsDirectoryFrom(
              [this](char* buffer, unsigned size) {
                ++systemCalls;
                if (directory.empty() || directory.size() >= size) return 0u;
                std::memcpy(buffer, directory.c_str(), directory.size() + 1);
                return static_cast<unsigned>(directory.size());
              },
              [](std::string_view bytes) { return std::wstring(bytes.begin(), bytes.end()); });
        },
        [this](const std::wstring& text) { shown.push_back(text); });
  }

  std::string directory;  // empty: the system call fails
  int systemCalls = 0;
  std::vector<std::wstring> shown;
};

TEST_F(Command1ClickTest, ShowsTheLibraryPathInTheWindowsDirectory) {
  directory = "C:\\WINNT";
  Click();
  EXPECT_EQ(shown, std::vector<std::wstring>{L"C:\\WINNT\\system32\\Dao350.dll"});
}

TEST_F(Command1ClickTest, FailingQueryShowsTheTailAlone) {
  Click();
  EXPECT_EQ(systemCalls, 1);
  EXPECT_EQ(shown, std::vector<std::wstring>{L"\\system32\\Dao350.dll"});
}

TEST_F(Command1ClickTest, EveryClickAsksTheSystemAfresh) {
  directory = "C:\\windows";
  Click();
  directory = "D:\\WINNT";
  Click();
  EXPECT_EQ(systemCalls, 2);
  EXPECT_EQ(shown, (std::vector<std::wstring>{L"C:\\windows\\system32\\Dao350.dll",
                                              L"D:\\WINNT\\system32\\Dao350.dll"}));
}

TEST(DaoLibraryPathTest, AppendsTheTailAsItStands) {
  // A drive root keeps its own backslash and the tail adds another, as in every system path the
  // launcher builds from the Windows directory.
  EXPECT_EQ(DaoLibraryPath(L"C:\\"), L"C:\\\\system32\\Dao350.dll");
  EXPECT_EQ(DaoLibraryPath(L"C:\\中文\\WINNT"), L"C:\\中文\\WINNT\\system32\\Dao350.dll");
}

bool Contains(const common::TwipBox& outer, const common::TwipBox& inner) {
  return inner.left >= outer.left && inner.top >= outer.top &&
         inner.left + inner.width <= outer.left + outer.width &&
         inner.top + inner.height <= outer.top + outer.height;
}

TEST(PathCheckLayoutTest, ControlsLieInsideTheClientAreaAtEveryResolution) {
  const common::TwipBox client{0, 0, kPathCheckClientWidthTwips, kPathCheckClientHeightTwips};
  for (const PathCheckControl& control : kPathCheckControls) {
    EXPECT_TRUE(Contains(client, control.box)) << control.name;
    for (const int dpi : {96, 120, 144}) {
      const common::PixelRect box = common::TwipsToPixels(control.box, dpi);
      EXPECT_GE(box.left, 0) << control.name << " at " << dpi;
      EXPECT_GE(box.top, 0) << control.name << " at " << dpi;
      EXPECT_LE(box.right, common::TwipsToPixels(kPathCheckClientWidthTwips, dpi))
          << control.name << " at " << dpi;
      EXPECT_LE(box.bottom, common::TwipsToPixels(kPathCheckClientHeightTwips, dpi))
          << control.name << " at " << dpi;
    }
  }
}

TEST(PathCheckLayoutTest, ControlIdsAreNeitherTheDialogKeysNorShared) {
  constexpr int kIdOk = 1;
  constexpr int kIdCancel = 2;
  for (const PathCheckControl& control : kPathCheckControls) {
    EXPECT_NE(control.id, kIdOk) << control.name;
    EXPECT_NE(control.id, kIdCancel) << control.name;
  }
  EXPECT_NE(kPathCheckControls[0].id, kPathCheckControls[1].id);
}

// Command1 comes second in control order but first by TabIndex.
TEST(PathCheckLayoutTest, TheButtonTakesTheFirstFocus) {
  EXPECT_EQ(FirstFocusControl().name, "Command1");
  EXPECT_EQ(FirstFocusControl().kind, PathCheckControlKind::CommandButton);
}

}  // namespace
}  // namespace pathcheck
