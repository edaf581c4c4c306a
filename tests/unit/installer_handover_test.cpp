#include "actions/installer_handover.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "payload_fakes.h"
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
    if (heldFiles) heldAtStart.push_back(*heldFiles);
    return processResult_;
  }
  actions::StartOutcome OpenThroughShell(const std::wstring& applicationPath) override {
    shellOpens.push_back(applicationPath);
    if (heldFiles) heldAtStart.push_back(*heldFiles);
    return shellResult_;
  }
  void AnswerShellWith(actions::StartResult result) { shellResult_ = {result, 0}; }

  // The causes that the failed calls give (ERROR_FILE_NOT_FOUND and ERROR_CANCELLED on Windows).
  static constexpr actions::SystemError kProcessError = 2;
  static constexpr actions::SystemError kShellError = 1223;

  struct ProcessStart {
    std::wstring applicationPath;
    std::wstring commandLine;
  };
  std::vector<ProcessStart> processStarts;
  std::vector<std::wstring> shellOpens;
  const int* heldFiles = nullptr;  // how many files someone holds open, if anyone counts them
  std::vector<int> heldAtStart;    // that count at each start

 private:
  actions::StartOutcome processResult_;
  actions::StartOutcome shellResult_;
};

constexpr std::wstring_view kMediumWithBlank = L"D:\\My Setup\\";
constexpr wchar_t kInstallerWithBlank[] = L"D:\\My Setup\\vorncopy\\tarvinxp.exe";

TEST(HandOverToInstaller, StartsTheInstallerByItsFullPathOnceAndNothingElse) {
  ScriptedStarter starter(actions::StartResult::kStarted, true);
  const actions::HandOverOutcome started = HandOverToInstaller(kMediumWithBlank, starter);
  EXPECT_EQ(started.how, HandOver::kStarted);
  EXPECT_EQ(started.error, 0u) << "ERROR_SUCCESS";
  ASSERT_EQ(starter.processStarts.size(), 1u);
  EXPECT_EQ(starter.processStarts[0].applicationPath, kInstallerWithBlank);
  // Quoted, so that "D:\My" is never taken for the program, and no arguments follow.
  EXPECT_EQ(starter.processStarts[0].commandLine, L"\"D:\\My Setup\\vorncopy\\tarvinxp.exe\"");
  EXPECT_TRUE(starter.shellOpens.empty());
}

TEST(HandOverToInstaller, AnInstallerAskingForElevationGoesThroughTheShell) {
  ScriptedStarter starter(actions::StartResult::kElevationRequired, true);
  const actions::HandOverOutcome elevated = HandOverToInstaller(kMediumWithBlank, starter);
  EXPECT_EQ(elevated.how, HandOver::kStartedThroughShell);
  // The shell started it: the process start's cause (the elevation it asked for) is no failure.
  EXPECT_EQ(elevated.error, 0u) << "ERROR_SUCCESS";
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

// --- The installer under the payload check ---------------------------------------------------------

// The installer's contents through a held handle, counted while it is held.
class FakeOpener final : public actions::InstallerOpener {
 public:
  std::optional<std::string> contents = std::string("installer");  // none: it cannot be opened
  std::map<std::wstring, std::string> others;                      // the other files that can be opened
  std::optional<std::size_t> readFailsAt;
  std::vector<std::wstring> opened;
  int held = 0;
  std::size_t bytesRead = 0;

  std::unique_ptr<actions::HeldFile> OpenDenyingWrites(const std::wstring& path) override {
    opened.push_back(path);
    if (path != kInstallerWithBlank) {
      const auto other = others.find(path);
      return other == others.end() ? nullptr : std::make_unique<File>(*this, other->second, false);
    }
    if (!contents) return nullptr;
    return std::make_unique<File>(*this, *contents, true);
  }

 private:
  class File final : public actions::HeldFile {
   public:
    File(FakeOpener& opener, std::string data, bool installer)
        : opener_(opener), data_(std::move(data)), installer_(installer) {
      ++opener_.held;
    }
    ~File() override { --opener_.held; }
    std::optional<std::size_t> Read(std::span<char> buffer) override {
      if (installer_ && opener_.readFailsAt && *opener_.readFailsAt <= opener_.bytesRead) return std::nullopt;
      const std::string_view rest = std::string_view(data_).substr(position_);
      const std::size_t count = std::min(rest.size(), std::min<std::size_t>(buffer.size(), 5));
      std::copy_n(rest.begin(), count, buffer.begin());
      position_ += count;
      if (installer_) opener_.bytesRead += count;
      return count;
    }

   private:
    FakeOpener& opener_;
    std::string data_;
    bool installer_;
    std::size_t position_ = 0;
  };
};

class CheckedHandOver : public testing::Test {
 protected:
  CheckedHandOver() { starter.heldFiles = &opener.held; }

  actions::HandOverOutcome HandOver() { return HandOverWith(guard); }
  actions::HandOverOutcome HandOverWith(actions::PayloadGuard& checking) {
    return actions::HandOverChecked(kMediumWithBlank, checking, opener, starter, surroundings);
  }

  std::optional<std::string> list = test_payload::ListOf({{"vorncopy\\tarvinxp.exe", "installer"}});
  test_payload::FakeDigests hashes;
  std::vector<std::wstring> refusals;
  actions::PayloadGuard guard{[this] { return test_payload::Carried(list); }, hashes,
                              [this](const actions::Refusal& refusal) { refusals.push_back(refusal.file); }};
  FakeOpener opener;
  ScriptedStarter starter{actions::StartResult::kStarted, true};
  test_payload::FakeFolders folders{test_payload::FakeFolders::Tree{
      {L"D:\\My Setup\\", {{{L"setup.exe"}}}}, {L"D:\\My Setup\\vorncopy\\", {{{L"tarvinxp.exe"}}}}}};
  std::vector<std::wstring> startRefusals;
  actions::InstallerSurroundings surroundings{
      L"setup.exe", folders, [this](const std::wstring& message) { startRefusals.push_back(message); }};
};

TEST_F(CheckedHandOver, AGenuineInstallerStartsWhileTheHandleThatWasCheckedIsHeld) {
  EXPECT_EQ(HandOver().how, HandOver::kStarted);
  EXPECT_EQ(opener.opened, std::vector<std::wstring>{kInstallerWithBlank});
  EXPECT_EQ(opener.bytesRead, 9u);
  ASSERT_EQ(starter.processStarts.size(), 1u);
  EXPECT_EQ(starter.processStarts[0].applicationPath, kInstallerWithBlank);
  EXPECT_EQ(starter.heldAtStart, std::vector<int>{1});
  EXPECT_EQ(opener.held, 0) << "closed after the start";
  EXPECT_TRUE(refusals.empty());

  // Through the shell too, when the installer asks for elevation.
  starter = ScriptedStarter(actions::StartResult::kElevationRequired, true);
  starter.heldFiles = &opener.held;
  opener.bytesRead = 0;
  EXPECT_EQ(HandOver().how, HandOver::kStartedThroughShell);
  EXPECT_EQ(starter.heldAtStart, (std::vector<int>{1, 1}));
  EXPECT_EQ(opener.held, 0);
}

TEST_F(CheckedHandOver, AChangedInstallerIsNotStartedAndTheUserIsTold) {
  const struct {
    const char* what;
    std::string contents;
    std::optional<std::size_t> readFailsAt;
  } changed[] = {
      {"a changed byte", "instollem", std::nullopt},
      {"a byte more", "installer!", std::nullopt},
      {"a byte less", "installe", std::nullopt},
      {"a read that fails", "installer", 5},
  };
  for (const auto& [what, contents, readFailsAt] : changed) {
    actions::PayloadGuard fresh{
        [this] { return test_payload::Carried(list); }, hashes,
        [this](const actions::Refusal& refusal) { refusals.push_back(refusal.file); }};
    refusals.clear();
    opener.contents = contents;
    opener.readFailsAt = readFailsAt;
    opener.bytesRead = 0;
    EXPECT_EQ(HandOverWith(fresh).how, HandOver::kNotStarted) << what;
    EXPECT_TRUE(starter.processStarts.empty()) << what;
    EXPECT_EQ(refusals, std::vector<std::wstring>{L"vorncopy\\tarvinxp.exe"}) << what;
    EXPECT_EQ(opener.held, 0) << what;
  }
  // A file longer than listed is not read past its listed size and a little.
  opener.contents = std::string(1000, 'x');
  opener.readFailsAt.reset();
  opener.bytesRead = 0;
  actions::PayloadGuard fresh{[this] { return test_payload::Carried(list); }, hashes, nullptr};
  EXPECT_EQ(HandOverWith(fresh).how, HandOver::kNotStarted);
  EXPECT_LT(opener.bytesRead, 20u);
}

TEST_F(CheckedHandOver, AnInstallerThatCannotBeOpenedIsNotStartedAsAMissingOneWasNot) {
  opener.contents.reset();
  EXPECT_EQ(HandOver().how, HandOver::kNotStarted);
  EXPECT_TRUE(starter.processStarts.empty());
  EXPECT_TRUE(refusals.empty());
  EXPECT_FALSE(guard.Untrusted());
}

TEST_F(CheckedHandOver, AfterAnEarlierRefusalTheInstallerIsNeitherOpenedNorStarted) {
  EXPECT_EQ(guard.Check(L"voabc.txt", "notes the list does not name"), actions::Verdict::Refused);
  refusals.clear();
  EXPECT_EQ(HandOver().how, HandOver::kNotStarted);
  EXPECT_TRUE(opener.opened.empty());
  EXPECT_TRUE(starter.processStarts.empty());
  EXPECT_TRUE(refusals.empty()) << "the user was told once already";
}

TEST_F(CheckedHandOver, WithoutAListTheInstallerStartsAsAlwaysUnopened) {
  list.reset();
  EXPECT_EQ(HandOver().how, HandOver::kStarted);
  EXPECT_TRUE(opener.opened.empty());
  EXPECT_EQ(hashes.runs, 0);
  EXPECT_EQ(starter.processStarts.size(), 1u);
}

TEST_F(CheckedHandOver, CodeBesideTheInstallerThatTheListDoesNotNameStartsNothingAndTheBoxNamesIt) {
  folders.tree[L"D:\\My Setup\\vorncopy\\"]->push_back({L"version.dll"});
  EXPECT_EQ(HandOver().how, HandOver::kNotStarted);
  EXPECT_TRUE(starter.processStarts.empty());
  ASSERT_EQ(startRefusals.size(), 1u);
  EXPECT_NE(startRefusals[0].find(L"vorncopy\\version.dll"), std::wstring::npos) << "names the file";
  EXPECT_EQ(startRefusals[0].find(L"损坏"), std::wstring::npos) << "the medium is not damaged";
  EXPECT_NE(startRefusals[0].find(L"不属于此安装盘"), std::wstring::npos) << "says it is not the medium's";
  EXPECT_TRUE(refusals.empty());

  // A folder that cannot be listed refuses too, naming it.
  folders.tree[L"D:\\My Setup\\vorncopy\\"].reset();
  EXPECT_EQ(HandOver().how, HandOver::kNotStarted);
  EXPECT_NE(startRefusals.back().find(L"D:\\My Setup\\vorncopy"), std::wstring::npos);
}

TEST_F(CheckedHandOver, ListedCodeBesideTheInstallerIsCheckedAndHeldUntilTheStartHasReturned) {
  list = test_payload::ListOf({{"vorncopy\\Dao350.dll", "dao"}, {"vorncopy\\tarvinxp.exe", "installer"}});
  folders.tree[L"D:\\My Setup\\vorncopy\\"]->push_back({L"Dao350.dll"});
  const std::wstring dao = L"D:\\My Setup\\vorncopy\\Dao350.dll";
  opener.others[dao] = "dao";
  EXPECT_EQ(HandOver().how, HandOver::kStarted);
  EXPECT_EQ(starter.heldAtStart, std::vector<int>{2});
  EXPECT_EQ(opener.held, 0);

  for (const auto& changed : {std::optional<std::string>("dap"), std::optional<std::string>()}) {
    changed ? void(opener.others[dao] = *changed) : void(opener.others.erase(dao));
    refusals.clear();
    actions::PayloadGuard fresh{
        [this] { return test_payload::Carried(list); }, hashes,
        [this](const actions::Refusal& refusal) { refusals.push_back(refusal.file); }};
    EXPECT_EQ(HandOverWith(fresh).how, HandOver::kNotStarted);
    EXPECT_EQ(refusals, std::vector<std::wstring>{L"vorncopy\\Dao350.dll"});
    EXPECT_EQ(starter.processStarts.size(), 1u) << "only the genuine run started";
  }
}

TEST_F(CheckedHandOver, AStartThatCannotBeMadeOfTheCheckedFileIsRefusedNamingTheInstaller) {
  using actions::StartResult;
  const struct {
    const char* what;
    StartResult process;
    StartResult shell;
    std::wstring named;
  } cases[] = {
      {"a process made of another file", StartResult::kNotTheCheckedProgram, StartResult::kStarted,
       L"vorncopy\\tarvinxp.exe"},
      {"a shell start whose path cannot be held", StartResult::kElevationRequired, StartResult::kPathNotHeld,
       kInstallerWithBlank},
  };
  for (const auto& [what, process, shell, named] : cases) {
    starter = ScriptedStarter(process, true);
    starter.AnswerShellWith(shell);
    startRefusals.clear();
    opener.bytesRead = 0;
    actions::PayloadGuard fresh{[this] { return test_payload::Carried(list); }, hashes, nullptr};
    EXPECT_EQ(HandOverWith(fresh).how, HandOver::kNotStarted) << what;
    ASSERT_EQ(startRefusals.size(), 1u) << what;
    EXPECT_NE(startRefusals[0].find(named), std::wstring::npos) << what;
  }
}

}  // namespace
