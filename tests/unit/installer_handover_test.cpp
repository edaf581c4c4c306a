#include "actions/installer_handover.h"

#include <gtest/gtest.h>

#include <vector>

#include "setup/base_directory.h"

namespace {

using actions::HandOver;
using actions::HandOverToInstaller;
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

// Answers every process start with a given result and records what it was asked to do.
class ScriptedStarter final : public actions::ProgramStarter {
 public:
  ScriptedStarter(actions::StartResult processResult, bool shellResult)
      : processResult_{processResult, processResult == actions::StartResult::kStarted ? 0u : kProcessError},
        shellResult_{shellResult ? actions::StartResult::kStarted : actions::StartResult::kFailed,
                     shellResult ? 0u : kShellError} {}

  actions::StartOutcome StartProcess(const std::wstring& applicationPath,
                                     const std::wstring& commandLine) override {
    processStarts.push_back({applicationPath, commandLine});
    return processResult_;
  }
  actions::StartOutcome OpenThroughShell(const std::wstring& applicationPath) override {
    shellOpens.push_back(applicationPath);
    return shellResult_;
  }

  // The causes that the failed calls give (ERROR_FILE_NOT_FOUND and ERROR_CANCELLED on Windows).
  static constexpr actions::SystemError kProcessError = 2;
  static constexpr actions::SystemError kShellError = 1223;

  struct ProcessStart {
    std::wstring applicationPath;
    std::wstring commandLine;
  };
  std::vector<ProcessStart> processStarts;
  std::vector<std::wstring> shellOpens;

 private:
  actions::StartOutcome processResult_;
  actions::StartOutcome shellResult_;
};

constexpr std::wstring_view kMediumWithBlank = L"D:\\My Setup\\";
constexpr wchar_t kInstallerWithBlank[] = L"D:\\My Setup\\vorncopy\\tarvinxp.exe";

TEST(HandOverToInstaller, StartsTheInstallerByItsFullPathOnceAndNothingElse) {
  ScriptedStarter starter(actions::StartResult::kStarted, true);
  EXPECT_EQ(HandOverToInstaller(kMediumWithBlank, starter).how, HandOver::kStarted);
  ASSERT_EQ(starter.processStarts.size(), 1u);
  EXPECT_EQ(starter.processStarts[0].applicationPath, kInstallerWithBlank);
  // Quoted, so that "D:\My" is never taken for the program, and no arguments follow.
  EXPECT_EQ(starter.processStarts[0].commandLine, L"\"D:\\My Setup\\vorncopy\\tarvinxp.exe\"");
  EXPECT_TRUE(starter.shellOpens.empty());
}

TEST(HandOverToInstaller, AnInstallerAskingForElevationGoesThroughTheShell) {
  ScriptedStarter starter(actions::StartResult::kElevationRequired, true);
  EXPECT_EQ(HandOverToInstaller(kMediumWithBlank, starter).how, HandOver::kStartedThroughShell);
  EXPECT_EQ(starter.processStarts.size(), 1u);
  ASSERT_EQ(starter.shellOpens.size(), 1u);
  EXPECT_EQ(starter.shellOpens[0], kInstallerWithBlank);

  ScriptedStarter refused(actions::StartResult::kElevationRequired, false);
  const actions::HandOverOutcome notOpened = HandOverToInstaller(kMediumWithBlank, refused);
  EXPECT_EQ(notOpened.how, HandOver::kNotStarted);
  EXPECT_EQ(notOpened.error, ScriptedStarter::kShellError) << "the shell's cause, not the process start's";
  EXPECT_EQ(refused.shellOpens.size(), 1u) << "a refused elevation is not asked for again";
}

TEST(HandOverToInstaller, EveryOtherFailureStaysAFailureWithoutTheShell) {
  // A missing installer, one that is no program, a folder of that name: the shell would only show an
  // error box or open the folder.
  ScriptedStarter starter(actions::StartResult::kFailed, true);
  const actions::HandOverOutcome notStarted = HandOverToInstaller(kMediumWithBlank, starter);
  EXPECT_EQ(notStarted.how, HandOver::kNotStarted);
  EXPECT_EQ(notStarted.error, ScriptedStarter::kProcessError);
  EXPECT_EQ(starter.processStarts.size(), 1u);
  EXPECT_TRUE(starter.shellOpens.empty());
}

}  // namespace
