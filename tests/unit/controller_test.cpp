#include "actions/controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "actions/panel_slices.h"
#include "actions/run_state.h"
#include "payload_fakes.h"
#include "text_codecs.h"

namespace {

namespace fs = std::filesystem;
using actions::ClickBranch;
using actions::ClickEnd;
using actions::ClickOutcome;
using actions::Event;
using actions::FileRead;
using actions::Next;
using actions::ReadStatus;

// The three controls, with a log of every change, an optional refusal and an optional failure.
class FakeView : public actions::NotesView {
 public:
  bool panelVisible = false;
  std::wstring panelText;
  bool continueEnabled = false;
  bool continueVisible = true;
  bool pictureButtonRead = false;
  std::vector<std::string> log;
  std::optional<std::string> refuse;  // the name of a call that fails from now on
  std::optional<std::string> fail;    // the name of a call that throws std::bad_alloc from now on

  bool ShowNotesPanel() override {
    return Record("show panel", [&] { panelVisible = true; });
  }
  bool HideNotesPanel() override {
    return Record("hide panel", [&] { panelVisible = false; });
  }
  bool SetNotesText(const std::wstring& text) override {
    return Record(text.empty() ? "empty panel" : "fill panel", [&] { panelText = text; });
  }
  bool AppendNotesText(std::wstring_view text) override {
    return Record("append to panel", [&] { panelText += text; });
  }
  bool EnableConfirm() override {
    return Record("enable continue", [&] { continueEnabled = true; });
  }
  bool ShowConfirm() override {
    return Record("show continue", [&] { continueVisible = true; });
  }
  bool ShowPictureButtonRead() override {
    return Record("colour picture button", [&] { pictureButtonRead = true; });
  }

 private:
  template <typename Change>
  bool Record(const std::string& call, Change change) {
    log.push_back(call);
    if (fail == call) throw std::bad_alloc();
    if (refuse == call) return false;
    change();
    return true;
  }
};

class HeldBytes final : public actions::HeldFile {
 public:
  HeldBytes(std::string bytes, bool failsAtEnd) : bytes_(std::move(bytes)), failsAtEnd_(failsAtEnd) {}
  std::optional<std::size_t> Read(std::span<char> buffer) override {
    const std::size_t got = bytes_.copy(buffer.data(), buffer.size(), next_);
    next_ += got;
    if (got == 0 && failsAtEnd_) return std::nullopt;
    return got;
  }

 private:
  std::string bytes_;
  bool failsAtEnd_;
  std::size_t next_ = 0;
};

// Windows paths "C:\dir\file" live under root/C/dir/file of a real temporary folder.
class TempFolderFileSystem : public actions::FileSystem {
 public:
  explicit TempFolderFileSystem(fs::path root) : root_(std::move(root)) {}

  fs::path HostPath(std::wstring_view windowsPath) const {
    fs::path host = root_;
    std::string part;
    for (wchar_t unit : windowsPath) {
      if (unit == L':') continue;
      if (unit == L'\\') {
        if (!part.empty()) host /= part;
        part.clear();
      } else {
        part.push_back(static_cast<char>(unit));
      }
    }
    if (!part.empty()) host /= part;
    return host;
  }

  FileRead ReadWholeFile(const std::wstring& path) override {
    readPaths.push_back(path);
    if (readThrows) throw std::bad_alloc();
    std::ifstream file(HostPath(path), std::ios::binary);
    if (!file) return {};
    FileRead read{ReadStatus::Complete, {std::istreambuf_iterator<char>(file), {}}};
    if (readFailsAfter && read.bytes.size() > *readFailsAfter) {
      read.bytes.resize(*readFailsAfter);
      read.status = ReadStatus::CutShort;
    }
    return read;
  }

  // The file as ReadWholeFile reads it, handed out in pieces; a read cut short fails after its bytes.
  std::unique_ptr<actions::HeldFile> OpenForReading(const std::wstring& path) override {
    FileRead read = ReadWholeFile(path);
    if (read.status == ReadStatus::NotOpened) return nullptr;
    return std::make_unique<HeldBytes>(std::move(read.bytes), read.status == ReadStatus::CutShort);
  }

  actions::CopyOutcome CopyReplacing(const std::wstring& source, const std::wstring& destination) override {
    copies.emplace_back(source, destination);
    std::error_code error;
    const bool copied =
        fs::copy_file(HostPath(source), HostPath(destination), fs::copy_options::overwrite_existing, error);
    return {copied, static_cast<actions::SystemError>(error.value())};
  }

  actions::CopyOutcome WriteReplacing(const FileRead& source, const std::wstring& destination) override {
    writes.emplace_back(source.bytes, destination);
    std::ofstream file(HostPath(destination), std::ios::binary | std::ios::trunc);
    file << source.bytes;
    return {static_cast<bool>(file), 0};
  }

  std::vector<std::wstring> readPaths;
  std::vector<std::pair<std::wstring, std::wstring>> copies;
  std::vector<std::pair<std::string, std::wstring>> writes;  // bytes read before, and where they went
  std::optional<std::size_t> readFailsAfter;
  bool readThrows = false;  // as reading a huge file can in a 32-bit process

 private:
  fs::path root_;
};

class PictureButtonTest : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("picture-button-" + std::to_string(random()));
    fs::create_directories(root_);
    files_.emplace(root_);
    Write(L"C:\\medium\\vorncopy\\Dao350.dll", "dao 3.5");
    Write(L"C:\\medium\\vorncopy\\msjter35.dll", "jet expression service");
    for (auto windowsDirectory : {L"C:\\WINNT", L"C:\\WINDOWS", L"C:\\winnt", L"C:\\WinNT"}) {
      fs::create_directories(files_->HostPath(std::wstring(windowsDirectory) + L"\\system32"));
    }
    const actions::WindowsDirectoryFunction getWinDir = [this] {
      ++windowsDirectoryQueries;
      if (windowsDirectoryAnswers.empty()) return windowsDirectory;
      std::wstring answer = windowsDirectoryAnswers.front();
      windowsDirectoryAnswers.erase(windowsDirectoryAnswers.begin());
      return answer;
    };
    controller.emplace(actions::PictureButtonContext{baseDirectory, view, *files_, getWinDir,
                                                     test_text::DecodeCp936, nullptr, notesBound});
  }
  void TearDown() override { fs::remove_all(root_); }

  void Write(std::wstring_view windowsPath, const std::string& bytes) {
    const fs::path host = files_->HostPath(windowsPath);
    fs::create_directories(host.parent_path());
    std::ofstream(host, std::ios::binary | std::ios::trunc) << bytes;
  }
  std::optional<std::string> Contents(std::wstring_view windowsPath) {
    std::ifstream file(files_->HostPath(windowsPath), std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  void WriteNotes(const std::string& bytes) { Write(L"C:\\medium\\voabc.txt", bytes); }

  // A click of the picture button and every step it takes, as the window's message loop runs them.
  ClickOutcome Click() {
    EXPECT_EQ(StepsUntilWaiting(controller->Handle(Event::PictureButton)), Next::Wait);
    return controller->LastClick().value_or(ClickOutcome{ClickBranch::Show, ClickEnd::Failed});
  }
  Next StepsUntilWaiting(Next next) {
    while (next == Next::RunStep) next = controller->Step();
    return next;
  }
  int ToggleCounter() const { return controller->pictureButton().ToggleCounter(); }

  std::wstring baseDirectory = L"C:\\medium\\";
  std::wstring windowsDirectory = L"C:\\WINDOWS";
  std::size_t notesBound = actions::kNotesBoundBytes;  // taken at SetUp
  std::vector<std::wstring> windowsDirectoryAnswers;   // one per query, before falling back to the above
  int windowsDirectoryQueries = 0;
  FakeView view;

  fs::path root_;
  std::optional<TempFolderFileSystem> files_;
  std::optional<actions::Controller> controller;
};

constexpr ClickOutcome kShown{ClickBranch::Show, ClickEnd::NotWindowsNt};
constexpr ClickOutcome kHidden{ClickBranch::Hide, ClickEnd::NotWindowsNt};

// --- The show and hide branches ----------------------------------------------------------------

TEST_F(PictureButtonTest, ShowClickFillsThePanelThenEnablesContinueAndWhitensTheButton) {
  WriteNotes("a\r\nb");
  EXPECT_EQ(Click(), kShown);
  EXPECT_TRUE(view.panelVisible);
  EXPECT_EQ(view.panelText, L"\r\na\r\nb");
  EXPECT_TRUE(view.continueEnabled);
  EXPECT_TRUE(view.continueVisible);
  EXPECT_TRUE(view.pictureButtonRead);
  EXPECT_EQ(ToggleCounter(), 1);
  EXPECT_EQ(view.log, (std::vector<std::string>{"show panel", "empty panel", "fill panel", "enable continue",
                                                "show continue", "colour picture button"}));
  EXPECT_EQ(files_->readPaths, std::vector<std::wstring>{L"C:\\medium\\voabc.txt"});
}

TEST_F(PictureButtonTest, GbkNotesAreDecodedInTheAnsiCodePage) {
  WriteNotes(test_text::Cp936("安装须知:\r\n本软件需要电子表格的支持。\n\r完成"));
  Click();
  EXPECT_EQ(view.panelText, L"\r\n安装须知:\r\n本软件需要电子表格的支持。\n\r\n完成");
}

TEST_F(PictureButtonTest, EmptyNotesFileStillEnablesContinue) {
  WriteNotes("");
  EXPECT_EQ(Click(), kShown);
  EXPECT_TRUE(view.panelVisible);
  EXPECT_EQ(view.panelText, L"");
  EXPECT_TRUE(view.continueEnabled);
  EXPECT_TRUE(view.pictureButtonRead);
}

TEST_F(PictureButtonTest, HideClickOnlyHidesThePanel) {
  WriteNotes("a");
  Click();
  view.log.clear();
  EXPECT_EQ(Click(), kHidden);
  EXPECT_FALSE(view.panelVisible);
  EXPECT_EQ(view.panelText, L"\r\na");
  EXPECT_TRUE(view.continueEnabled);
  EXPECT_TRUE(view.pictureButtonRead);
  EXPECT_EQ(ToggleCounter(), 0);
  EXPECT_EQ(view.log, std::vector<std::string>{"hide panel"});
}

TEST_F(PictureButtonTest, ThirdClickReloadsTheFileFromTheStart) {
  WriteNotes("first");
  Click();
  Click();
  WriteNotes("second\r\nversion");
  EXPECT_EQ(Click(), kShown);
  EXPECT_TRUE(view.panelVisible);
  EXPECT_EQ(view.panelText, L"\r\nsecond\r\nversion");
  EXPECT_EQ(ToggleCounter(), 1);
  EXPECT_EQ(files_->readPaths.size(), 2u);
}

TEST_F(PictureButtonTest, ClicksAlternateBetweenShowAndHide) {
  WriteNotes("a");
  for (int pair = 0; pair < 3; ++pair) {
    EXPECT_EQ(Click().branch, ClickBranch::Show);
    EXPECT_TRUE(view.panelVisible);
    EXPECT_EQ(Click().branch, ClickBranch::Hide);
    EXPECT_FALSE(view.panelVisible);
  }
}

// --- Failures of the show branch ---------------------------------------------------------------

TEST_F(PictureButtonTest, MissingNotesLeaveAnEmptyPanelAndCopyNothingUntilTheHideClick) {
  windowsDirectory = L"C:\\WINNT";
  view.panelText = L"stale";
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::NotesUnreadable}));
  EXPECT_TRUE(view.panelVisible);
  EXPECT_EQ(view.panelText, L"");
  EXPECT_FALSE(view.continueEnabled);
  EXPECT_FALSE(view.pictureButtonRead);
  EXPECT_EQ(windowsDirectoryQueries, 0);
  EXPECT_FALSE(Contents(L"C:\\WINNT\\system32\\Dao350.dll"));
  EXPECT_EQ(ToggleCounter(), 1);

  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Hide, ClickEnd::Deployed}));
  EXPECT_FALSE(view.panelVisible);
  EXPECT_FALSE(view.continueEnabled);
  EXPECT_EQ(Contents(L"C:\\WINNT\\system32\\Dao350.dll"), "dao 3.5");
  EXPECT_EQ(Contents(L"C:\\WINNT\\system32\\msjter35.dll"), "jet expression service");
}

// A file beyond the bound is shown up to it, as a read cut short there would be.
TEST_F(PictureButtonTest, ReadCutShortOrBeyondTheBoundKeepsTheCompleteLinesAndStopsTheClick) {
  const std::string longLine(40000, 'x');
  const std::size_t kNoFailure = std::string::npos;
  const struct {
    const char* what;
    std::string notes;
    std::size_t readFailsAfter;
    std::size_t bound;
    std::wstring panel;
  } cases[] = {
      {"short lines, in one piece", "one\r\ntwo\r\nthree", 8 /* inside "two" */, notesBound, L"\r\none"},
      {"a long line, in slices", longLine + "\r\n" + longLine, longLine.size() + 4, notesBound,
       L"\r\n" + std::wstring(longLine.begin(), longLine.end())},
      {"beyond the bound, inside a line", "one\r\ntwo\r\nthree", kNoFailure, 8, L"\r\none"},
      {"beyond the bound by its last byte", "one\r\ntwo", kNoFailure, 7, L"\r\none"},
  };
  for (const auto& [what, notes, readFailsAfter, bound, panel] : cases) {
    TearDown();  // a fresh medium and run for each
    notesBound = bound;
    SetUp();
    windowsDirectory = L"C:\\WINNT";
    WriteNotes(notes);
    if (readFailsAfter != kNoFailure) files_->readFailsAfter = readFailsAfter;
    EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::NotesCutShort})) << what;
    EXPECT_TRUE(view.panelVisible) << what;
    EXPECT_EQ(view.panelText, panel) << what;
    EXPECT_FALSE(view.continueEnabled) << what;
    EXPECT_FALSE(view.pictureButtonRead) << what;
    EXPECT_FALSE(Contents(L"C:\\WINNT\\system32\\Dao350.dll")) << what;
    EXPECT_EQ(controller->Handle(Event::Confirm), Next::Wait) << what;
  }
  // Exactly as long as the bound: read whole.
  notesBound = 8;
  TearDown();
  SetUp();
  windowsDirectory = L"C:\\WINNT";
  WriteNotes("one\r\ntwo");
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::Deployed}));
}

TEST_F(PictureButtonTest, ControlThatRefusesEndsTheClickWhereItHappened) {
  windowsDirectory = L"C:\\WINNT";
  WriteNotes("a");
  view.refuse = "fill panel";
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::ControlRefused}));
  EXPECT_FALSE(view.continueEnabled);
  EXPECT_FALSE(Contents(L"C:\\WINNT\\system32\\Dao350.dll"));

  view.refuse = "enable continue";
  Click();  // hides
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::ControlRefused}));
  EXPECT_FALSE(view.pictureButtonRead);
  EXPECT_EQ(view.log.back(), "enable continue");

  // Showing "确认" or the read colour refused: the click ends there, before the deployment.
  for (const char* refused : {"show continue", "colour picture button"}) {
    view.refuse = refused;
    Click();  // hides, and deploys as every press does
    std::filesystem::remove(files_->HostPath(L"C:\\WINNT\\system32\\Dao350.dll"));
    EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::ControlRefused})) << refused;
    EXPECT_EQ(view.log.back(), refused);
    EXPECT_FALSE(Contents(L"C:\\WINNT\\system32\\Dao350.dll")) << refused;
  }
}

TEST_F(PictureButtonTest, PanelThatRefusesToHideStillLeavesTheCounterReadyToShow) {
  WriteNotes("a");
  Click();
  view.refuse = "hide panel";
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Hide, ClickEnd::ControlRefused}));
  EXPECT_EQ(ToggleCounter(), 0);
  view.refuse.reset();
  EXPECT_EQ(Click().branch, ClickBranch::Show);
}

TEST_F(PictureButtonTest, FilesAreNamedDirectlyAfterTheBaseDirectory) {
  baseDirectory = L"C:\\A\\";
  windowsDirectory = L"C:\\WINNT";
  Write(L"C:\\A\\voabc.txt", "x");
  Write(L"C:\\A\\vorncopy\\Dao350.dll", "dao");
  Write(L"C:\\A\\vorncopy\\msjter35.dll", "jet");
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::Deployed}));
  EXPECT_EQ(files_->readPaths, std::vector<std::wstring>{L"C:\\A\\voabc.txt"});
  using Copy = std::pair<std::wstring, std::wstring>;
  EXPECT_EQ(files_->copies,
            (std::vector<Copy>{{L"C:\\A\\vorncopy\\Dao350.dll", L"C:\\WINNT\\system32\\Dao350.dll"},
                               {L"C:\\A\\vorncopy\\msjter35.dll", L"C:\\WINNT\\system32\\msjter35.dll"}}));
}

// --- Deployment ------------------------------------------------------------------------------------

class WindowsDirectoryMarker : public PictureButtonTest,
                               public testing::WithParamInterface<std::pair<std::wstring, bool>> {};

TEST_P(WindowsDirectoryMarker, OnlyCapitalNtDeploys) {
  const auto [directory, deploys] = GetParam();
  windowsDirectory = directory;
  WriteNotes("a");
  EXPECT_EQ(Click().end, deploys ? ClickEnd::Deployed : ClickEnd::NotWindowsNt);
  EXPECT_EQ(Click().end, deploys ? ClickEnd::Deployed : ClickEnd::NotWindowsNt);
  EXPECT_EQ(Contents(windowsDirectory + L"\\system32\\Dao350.dll").has_value(), deploys);
  EXPECT_EQ(Contents(windowsDirectory + L"\\system32\\msjter35.dll").has_value(), deploys);
  EXPECT_EQ(windowsDirectoryQueries, 2);  // once per click
}

INSTANTIATE_TEST_SUITE_P(PictureButton, WindowsDirectoryMarker,
                         testing::Values(std::pair<std::wstring, bool>{L"C:\\WINNT", true},
                                         std::pair<std::wstring, bool>{L"C:\\WinNT", true},
                                         std::pair<std::wstring, bool>{L"C:\\WINDOWS", false},
                                         std::pair<std::wstring, bool>{L"C:\\winnt", false}));

TEST_F(PictureButtonTest, EveryClickCopiesAgainAndReplacesWhatIsThere) {
  windowsDirectory = L"C:\\WINNT";
  WriteNotes("a");
  Write(L"C:\\WINNT\\system32\\Dao350.dll", "an older dao that is longer than the new one");
  Write(L"C:\\WINNT\\system32\\msjter35.dll", "older jet");
  const std::vector<std::string> versions = {"dao v1", "dao v2", "dao v3"};
  for (const std::string& version : versions) {
    Write(L"C:\\medium\\vorncopy\\Dao350.dll", version);
    EXPECT_EQ(Click().end, ClickEnd::Deployed);
    EXPECT_EQ(Contents(L"C:\\WINNT\\system32\\Dao350.dll"), version);
    EXPECT_EQ(Contents(L"C:\\WINNT\\system32\\msjter35.dll"), "jet expression service");
  }
}

TEST_F(PictureButtonTest, MissingFirstSourceEndsTheClickBeforeTheSecondCopy) {
  windowsDirectory = L"C:\\WINNT";
  WriteNotes("a");
  fs::remove(files_->HostPath(L"C:\\medium\\vorncopy\\Dao350.dll"));
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::FirstCopyFailed}));
  EXPECT_FALSE(Contents(L"C:\\WINNT\\system32\\msjter35.dll"));
  EXPECT_EQ(files_->copies.size(), 1u);
  EXPECT_EQ(windowsDirectoryQueries, 1);
  // The panel was filled before the deployment began.
  EXPECT_TRUE(view.continueEnabled);
}

TEST_F(PictureButtonTest, UnwritableDestinationFailsTheFirstCopy) {
  windowsDirectory = L"C:\\WINNT";
  WriteNotes("a");
  fs::remove_all(files_->HostPath(L"C:\\WINNT\\system32"));
  EXPECT_EQ(Click().end, ClickEnd::FirstCopyFailed);
  EXPECT_EQ(files_->copies.size(), 1u);
}

TEST_F(PictureButtonTest, FailedSecondCopyKeepsTheFirst) {
  windowsDirectory = L"C:\\WINNT";
  WriteNotes("a");
  fs::remove(files_->HostPath(L"C:\\medium\\vorncopy\\msjter35.dll"));
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::SecondCopyFailed}));
  EXPECT_EQ(Contents(L"C:\\WINNT\\system32\\Dao350.dll"), "dao 3.5");
  EXPECT_FALSE(Contents(L"C:\\WINNT\\system32\\msjter35.dll"));
}

TEST_F(PictureButtonTest, OneClickAsksForTheWindowsDirectoryOnceForTheNtTestAndBothCopies) {
  WriteNotes("a");
  fs::create_directories(files_->HostPath(L"C:\\other\\system32"));
  // The system answers differently from one question to the next: one click still takes one answer.
  windowsDirectoryAnswers = {L"C:\\WINNT", L"C:\\other", L"C:\\other"};
  EXPECT_EQ(Click().end, ClickEnd::Deployed);
  EXPECT_EQ(Contents(L"C:\\WINNT\\system32\\Dao350.dll"), "dao 3.5");
  EXPECT_EQ(Contents(L"C:\\WINNT\\system32\\msjter35.dll"), "jet expression service");
  EXPECT_FALSE(Contents(L"C:\\other\\system32\\Dao350.dll"));
  EXPECT_FALSE(Contents(L"C:\\other\\system32\\msjter35.dll"));
  EXPECT_EQ(windowsDirectoryQueries, 1);

  // An answer without "NT" copies nothing, whatever a later question would have been told.
  windowsDirectoryAnswers = {L"C:\\other", L"C:\\WINNT", L"C:\\WINNT"};
  EXPECT_EQ(Click().end, ClickEnd::NotWindowsNt);
  EXPECT_EQ(windowsDirectoryQueries, 2);
  EXPECT_EQ(files_->copies.size(), 2u);
}

TEST_F(PictureButtonTest, FailedWindowsDirectoryQueryCopiesNothing) {
  windowsDirectory = L"";
  WriteNotes("a");
  EXPECT_EQ(Click(), kShown);
  EXPECT_TRUE(files_->copies.empty());
}

// --- One click at a time, and the end ------------------------------------------------------------

// Notes of one line long enough to go into the panel in slices.
class LongNotesTest : public PictureButtonTest {
 protected:
  void SetUp() override {
    PictureButtonTest::SetUp();
    windowsDirectory = L"C:\\WINNT";
    const std::string line(40000, 'x');
    WriteNotes(line);
    panel = L"\r\n" + std::wstring(line.begin(), line.end());
    ASSERT_TRUE(actions::NeedsSlicing(panel));
  }

  std::size_t Appends() const {
    return static_cast<std::size_t>(std::count(view.log.begin(), view.log.end(), "append to panel"));
  }

  std::wstring panel;
};

TEST_F(LongNotesTest, TheNotesGoInOneSlicePerStepAndTheClickEndsAfterTheLast) {
  EXPECT_EQ(controller->Handle(Event::PictureButton), Next::RunStep);
  EXPECT_EQ(view.log, (std::vector<std::string>{"show panel", "empty panel"}));
  const std::size_t slices = actions::PanelSlices(panel).size();
  for (std::size_t step = 1; step < slices; ++step) {
    ASSERT_EQ(controller->Step(), Next::RunStep);
    EXPECT_EQ(Appends(), step);
    EXPECT_FALSE(view.continueEnabled);
    EXPECT_TRUE(files_->copies.empty());
  }
  EXPECT_EQ(controller->Step(), Next::Wait);
  EXPECT_EQ(Appends(), slices);
  EXPECT_EQ(view.panelText, panel);
  EXPECT_EQ(std::vector<std::string>(view.log.end() - 3, view.log.end()),
            (std::vector<std::string>{"enable continue", "show continue", "colour picture button"}));
  EXPECT_EQ(controller->LastClick(), (ClickOutcome{ClickBranch::Show, ClickEnd::Deployed}));
  // A step that nobody asked for starts no click.
  const std::vector<std::string> log = view.log;
  EXPECT_EQ(controller->Step(), Next::Wait);
  EXPECT_EQ(view.log, log);
  EXPECT_EQ(ToggleCounter(), 1);
}

TEST_F(LongNotesTest, PictureButtonClicksDuringAFillWaitTheirTurn) {
  EXPECT_EQ(controller->Handle(Event::PictureButton), Next::RunStep);
  EXPECT_EQ(controller->Step(), Next::RunStep);
  EXPECT_EQ(controller->Handle(Event::PictureButton), Next::RunStep);
  EXPECT_EQ(controller->Handle(Event::PictureButton), Next::RunStep);
  EXPECT_EQ(StepsUntilWaiting(Next::RunStep), Next::Wait);
  // Show and deploy, hide and deploy, show again from the start: three whole clicks, in order.
  EXPECT_EQ(files_->copies.size(), 6u);
  EXPECT_EQ(files_->readPaths.size(), 2u);
  const auto hide = std::find(view.log.begin(), view.log.end(), "hide panel");
  ASSERT_NE(hide, view.log.end());
  EXPECT_EQ(*(hide - 1), "colour picture button");
  EXPECT_EQ(*(hide + 1), "show panel");
  EXPECT_TRUE(view.panelVisible);
  EXPECT_EQ(view.panelText, panel);
  EXPECT_EQ(ToggleCounter(), 1);
}

TEST_F(LongNotesTest, ConfirmDuringAClickTakesItsTurnBehindTheClicksBeforeIt) {
  // The first click reads the notes to their end: from then on "确认" is enabled.
  EXPECT_EQ(StepsUntilWaiting(controller->Handle(Event::PictureButton)), Next::Wait);
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Hide, ClickEnd::Deployed}));
  // The third click fills the panel again; a fourth click and "确认" come meanwhile.
  EXPECT_EQ(controller->Handle(Event::PictureButton), Next::RunStep);
  EXPECT_EQ(controller->Handle(Event::PictureButton), Next::RunStep);
  EXPECT_EQ(controller->Handle(Event::Confirm), Next::RunStep) << "the fill must go on";
  EXPECT_EQ(controller->Handle(Event::PictureButton), Next::RunStep);
  EXPECT_EQ(StepsUntilWaiting(Next::RunStep), Next::StartInstallerThenEnd);
  // Show, hide, show, hide: four whole clicks, each of them deploying; the one after "确认" never ran.
  EXPECT_EQ(files_->copies.size(), 8u);
  EXPECT_EQ(ToggleCounter(), 0);
  EXPECT_EQ(view.panelText, panel);
}

TEST_F(LongNotesTest, CancelTheStripButtonAndACloseRequestEndAtOnceEvenDuringAFill) {
  for (Event event : {Event::Cancel, Event::TitleStripButton, Event::CloseRequest})
    EXPECT_EQ(controller->Handle(event), Next::End);
  EXPECT_EQ(controller->Handle(Event::PictureButton), Next::RunStep);
  for (Event event : {Event::Cancel, Event::TitleStripButton, Event::CloseRequest})
    EXPECT_EQ(controller->Handle(event), Next::End);
  EXPECT_TRUE(files_->copies.empty());
}

TEST_F(PictureButtonTest, ConfirmIsIgnoredUntilTheNotesWereReadToTheirEnd) {
  EXPECT_EQ(controller->Handle(Event::Confirm), Next::Wait);
  Click();  // no notes file: an empty panel
  EXPECT_EQ(controller->Handle(Event::Confirm), Next::Wait);
  Click();  // hidden again
  EXPECT_EQ(controller->Handle(Event::Confirm), Next::Wait);
  WriteNotes("one\r\ntwo");
  files_->readFailsAfter = 4;
  EXPECT_EQ(Click().end, ClickEnd::NotesCutShort);
  EXPECT_EQ(controller->Handle(Event::Confirm), Next::Wait);
  Click();
  files_->readFailsAfter.reset();
  view.refuse = "enable continue";  // read whole, but the button stays disabled
  EXPECT_EQ(Click().end, ClickEnd::ControlRefused);
  EXPECT_EQ(controller->Handle(Event::Confirm), Next::Wait);
  Click();
  view.refuse.reset();
  EXPECT_EQ(Click(), kShown);
  EXPECT_EQ(controller->Handle(Event::Confirm), Next::StartInstallerThenEnd);
  // Hiding the panel again leaves the notes read, as it leaves the button enabled.
  EXPECT_EQ(Click(), kHidden);
  EXPECT_EQ(controller->Handle(Event::Confirm), Next::StartInstallerThenEnd);
}

TEST_F(PictureButtonTest, AClickThatThrowsEndsThereAndTheNextGoesOnAsAFailedClickWould) {
  windowsDirectory = L"C:\\WINNT";
  WriteNotes("a");
  files_->readThrows = true;
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::Failed}));
  EXPECT_TRUE(view.panelVisible);
  EXPECT_TRUE(files_->copies.empty());
  // As after notes that cannot be read: the next click hides the panel, then deploys.
  files_->readThrows = false;
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Hide, ClickEnd::Deployed}));
  EXPECT_FALSE(view.panelVisible);
  EXPECT_EQ(Contents(L"C:\\WINNT\\system32\\Dao350.dll"), "dao 3.5");
}

TEST_F(LongNotesTest, AFillThatThrowsLetsTheClicksWaitingBehindItGoOn) {
  view.fail = "append to panel";
  EXPECT_EQ(controller->Handle(Event::PictureButton), Next::RunStep);
  EXPECT_EQ(controller->Handle(Event::PictureButton), Next::RunStep);
  view.log.clear();
  EXPECT_EQ(StepsUntilWaiting(controller->Step()), Next::Wait);
  EXPECT_EQ(view.log, (std::vector<std::string>{"append to panel", "hide panel"}));
  EXPECT_EQ(controller->LastClick(), (ClickOutcome{ClickBranch::Hide, ClickEnd::Deployed}));
  EXPECT_EQ(ToggleCounter(), 0);
}

// --- The run state between messages ---------------------------------------------------------------

TEST_F(LongNotesTest, TheRunStateRunsTheStepsAskedForAndHandsNothingOnAfterTheEnd) {
  actions::RunState run(*controller);
  EXPECT_FALSE(run.StepPending()) << "no step before the first event";
  EXPECT_FALSE(run.Deliver(Event::PictureButton));
  ASSERT_TRUE(run.StepPending());
  run.RunStep();
  EXPECT_EQ(Appends(), 1u);
  EXPECT_FALSE(run.Deliver(Event::Confirm));  // ignored: the notes are not in the panel yet
  EXPECT_TRUE(run.StepPending());
  while (run.StepPending()) run.RunStep();
  EXPECT_FALSE(run.Ending());
  EXPECT_EQ(files_->copies.size(), 2u);
  EXPECT_TRUE(run.Deliver(Event::Confirm));
  EXPECT_EQ(run.Ending(), Next::StartInstallerThenEnd);
  const std::vector<std::string> log = view.log;
  EXPECT_FALSE(run.Deliver(Event::PictureButton));
  EXPECT_FALSE(run.Deliver(Event::Cancel));
  EXPECT_EQ(run.Ending(), Next::StartInstallerThenEnd);
  EXPECT_EQ(view.log, log);
}

TEST_F(LongNotesTest, TheRunStateRunsNoStepOnceAnEndIsDecidedDuringAFill) {
  actions::RunState run(*controller);
  EXPECT_FALSE(run.Deliver(Event::PictureButton));
  EXPECT_TRUE(run.Deliver(Event::Cancel));
  EXPECT_EQ(run.Ending(), Next::End);
  EXPECT_FALSE(run.StepPending());
  run.RunStep();
  EXPECT_EQ(Appends(), 0u);
}

// --- Faults that a mutation run (scripts/mutate) found no test above to catch -----------------------

TEST_F(PictureButtonTest, AHideClickThatThrowsEndsAsAFailedHideClick) {
  WriteNotes("a");
  EXPECT_EQ(Click(), kShown);
  view.fail = "hide panel";
  EXPECT_EQ(controller->Handle(Event::PictureButton), Next::Wait);
  EXPECT_EQ(controller->LastClick(), (ClickOutcome{ClickBranch::Hide, ClickEnd::Failed}));
}

TEST_F(PictureButtonTest, APanelThatRefusesToShowOrToEmptyEndsTheClickBeforeTheNotesAreRead) {
  windowsDirectory = L"C:\\WINNT";
  WriteNotes("a");
  for (const char* refused : {"show panel", "empty panel"}) {
    view.refuse = refused;
    view.log.clear();
    EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::ControlRefused})) << refused;
    EXPECT_EQ(view.log.back(), refused);
    EXPECT_TRUE(files_->readPaths.empty());
    EXPECT_FALSE(view.continueEnabled);
    view.refuse.reset();
    EXPECT_EQ(Click().branch, ClickBranch::Hide);
  }
  EXPECT_EQ(view.panelText, L"");
}

TEST_F(LongNotesTest, AClickWhileTheButtonFillsThePanelEndsThatFill) {
  actions::PictureButton button;
  const actions::PictureButtonContext context{baseDirectory, view, *files_,
                                              [this] { return windowsDirectory; }, test_text::DecodeCp936};
  EXPECT_EQ(button.Click(context), std::nullopt);
  ASSERT_TRUE(button.Filling());
  EXPECT_EQ(button.Click(context), (ClickOutcome{ClickBranch::Hide, ClickEnd::Deployed}));
  EXPECT_FALSE(button.Filling());
  EXPECT_EQ(button.Continue(context), std::nullopt);
  EXPECT_EQ(Appends(), 0u);
}

TEST_F(LongNotesTest, APanelThatRefusesASliceEndsTheClickThere) {
  view.refuse = "append to panel";
  EXPECT_EQ(controller->Handle(Event::PictureButton), Next::RunStep);
  EXPECT_EQ(controller->Step(), Next::Wait);
  EXPECT_EQ(controller->LastClick(), (ClickOutcome{ClickBranch::Show, ClickEnd::ControlRefused}));
  EXPECT_EQ(Appends(), 1u);
  EXPECT_FALSE(view.continueEnabled);
  EXPECT_TRUE(files_->copies.empty());
  view.refuse.reset();
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Hide, ClickEnd::Deployed}));
}

// --- A program that carries a payload list ---------------------------------------------------------

const std::string kNotes = "genuine notes";
const std::string kDao = "dao 3.5";
const std::string kJet = "jet expression service";

// The medium of the fixture above, and a program whose list vouches for its genuine files.
class CheckedMediumTest : public PictureButtonTest {
 protected:
  void SetUp() override {
    PictureButtonTest::SetUp();
    // Afresh each time, as the tests that go through several media call this again.
    view = FakeView{};
    refusals.clear();
    reasons.clear();
    listLookups = 0;
    listFails.reset();
    hashes.unavailable = false;
    hashes.addFails = false;
    hashes.finishFails = false;
    hashes.kind = actions::DigestKind::Sha256;
    hashes.runs = 0;
    windowsDirectory = L"C:\\WINNT";
    WriteNotes(kNotes);
    list = test_payload::ListOf({{"voabc.txt", kNotes},
                                 {"vorncopy\\Dao350.dll", kDao},
                                 {"vorncopy\\msjter35.dll", kJet},
                                 {"vorncopy\\tarvinxp.exe", "installer"}});
    guard.emplace(
        [this] {
          ++listLookups;
          if (listFails == ListFailure::Throws) throw std::bad_alloc();
          if (listFails == ListFailure::Unreadable)
            return actions::CarriedList{actions::CarriedList::State::Unreadable, {}};
          return test_payload::Carried(list);
        },
        hashes,
        [this](const actions::Refusal& refusal) {
          refusals.push_back(refusal.file);
          reasons.push_back(refusal.reason);
        });
    controller.emplace(actions::PictureButtonContext{baseDirectory, view, *files_,
                                                     [this] { return windowsDirectory; },
                                                     test_text::DecodeCp936, &*guard, notesBound});
  }

  void ExpectNothingDeployed() {
    EXPECT_FALSE(Contents(L"C:\\WINNT\\system32\\Dao350.dll"));
    EXPECT_FALSE(Contents(L"C:\\WINNT\\system32\\msjter35.dll"));
    EXPECT_TRUE(files_->copies.empty());
  }

 public:
  enum class ListFailure { Unreadable, Throws };
  std::optional<std::string> list;
  std::optional<ListFailure> listFails;  // the program's list, there but failing to load
  int listLookups = 0;
  test_payload::FakeDigests hashes;
  std::vector<std::wstring> refusals;
  std::vector<actions::RefusalReason> reasons;
  std::optional<actions::PayloadGuard> guard;
};

constexpr ClickOutcome kRefusedShow{ClickBranch::Show, ClickEnd::Refused};
constexpr ClickOutcome kRefusedHide{ClickBranch::Hide, ClickEnd::Refused};

TEST_F(CheckedMediumTest, AGenuineMediumIsUsedAsAlwaysAndWhatIsWrittenIsWhatWasRead) {
  EXPECT_EQ(listLookups, 0) << "nothing is looked up before a file is used";
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::Deployed}));
  EXPECT_EQ(view.panelText, L"\r\ngenuine notes");
  EXPECT_EQ(view.log, (std::vector<std::string>{"show panel", "empty panel", "fill panel", "enable continue",
                                                "show continue", "colour picture button"}));
  // Each component read once and written from memory: no copy from the medium a second time.
  EXPECT_TRUE(files_->copies.empty());
  using Write = std::pair<std::string, std::wstring>;
  EXPECT_EQ(files_->writes, (std::vector<Write>{{kDao, L"C:\\WINNT\\system32\\Dao350.dll"},
                                                {kJet, L"C:\\WINNT\\system32\\msjter35.dll"}}));
  EXPECT_EQ(files_->readPaths,
            (std::vector<std::wstring>{L"C:\\medium\\voabc.txt", L"C:\\medium\\vorncopy\\Dao350.dll",
                                       L"C:\\medium\\vorncopy\\msjter35.dll"}));
  EXPECT_EQ(Contents(L"C:\\WINNT\\system32\\msjter35.dll"), kJet);
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Hide, ClickEnd::Deployed}));
  EXPECT_EQ(controller->Handle(Event::Confirm), Next::StartInstallerThenEnd);
  EXPECT_TRUE(refusals.empty());
  EXPECT_EQ(listLookups, 1) << "the list is looked up once";
  EXPECT_FALSE(guard->Untrusted());
}

TEST_F(CheckedMediumTest, ChangedNotesAreNotShownAndNothingMoreIsUsedForTheRestOfTheRun) {
  WriteNotes("genuine notez");  // the same size, another byte
  EXPECT_EQ(Click(), kRefusedShow);
  EXPECT_TRUE(view.panelVisible);
  EXPECT_EQ(view.panelText, L"");
  EXPECT_FALSE(view.continueEnabled);
  EXPECT_FALSE(view.pictureButtonRead);
  EXPECT_EQ(refusals, std::vector<std::wstring>{L"voabc.txt"});
  ExpectNothingDeployed();
  EXPECT_EQ(controller->Handle(Event::Confirm), Next::Wait);

  // The genuine notes back on the medium change nothing now: every later click uses nothing of it,
  // and the user was told once.
  WriteNotes(kNotes);
  EXPECT_EQ(Click(), kRefusedHide);
  EXPECT_EQ(Click(), kRefusedShow);
  EXPECT_EQ(view.panelText, L"");
  EXPECT_FALSE(view.continueEnabled);
  ExpectNothingDeployed();
  EXPECT_TRUE(files_->writes.empty());
  EXPECT_EQ(refusals.size(), 1u);
  EXPECT_EQ(controller->Handle(Event::Confirm), Next::Wait);
  EXPECT_EQ(controller->Handle(Event::Cancel), Next::End);
}

TEST_F(CheckedMediumTest, OneChangedComponentDeploysNeitherAndConfirmIsRefusedFromThenOn) {
  for (const bool secondChanged : {false, true}) {
    TearDown();  // a fresh medium and run for each
    SetUp();
    Write(secondChanged ? L"C:\\medium\\vorncopy\\msjter35.dll" : L"C:\\medium\\vorncopy\\Dao350.dll",
          secondChanged ? kJet + "!" : "dao 3.6");
    EXPECT_EQ(Click(), kRefusedShow) << secondChanged;
    // The notes were genuine and went in; "确认" was enabled, but counts no more.
    EXPECT_EQ(view.panelText, L"\r\ngenuine notes");
    ExpectNothingDeployed();
    EXPECT_TRUE(files_->writes.empty());
    EXPECT_EQ(refusals,
              std::vector<std::wstring>{secondChanged ? L"vorncopy\\msjter35.dll" : L"vorncopy\\Dao350.dll"});
    EXPECT_EQ(controller->Handle(Event::Confirm), Next::Wait);
    EXPECT_EQ(Click(), kRefusedHide);
    EXPECT_EQ(controller->Handle(Event::Confirm), Next::Wait);
  }
}

TEST_F(CheckedMediumTest, AConfirmWaitingBehindAClickCountsOnlyIfNoFileFailedMeanwhile) {
  const std::string longNotes(40000, 'x');
  for (const bool changed : {false, true}) {
    TearDown();  // a fresh medium and run for each
    SetUp();
    WriteNotes(longNotes);
    list = test_payload::ListOf(
        {{"voabc.txt", longNotes}, {"vorncopy\\Dao350.dll", kDao}, {"vorncopy\\msjter35.dll", kJet}});
    EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::Deployed})) << changed;
    EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Hide, ClickEnd::Deployed})) << changed;
    if (changed) Write(L"C:\\medium\\vorncopy\\Dao350.dll", "dao 3.6");
    EXPECT_EQ(controller->Handle(Event::PictureButton), Next::RunStep) << changed;
    EXPECT_EQ(controller->Handle(Event::Confirm), Next::RunStep) << changed;
    EXPECT_EQ(StepsUntilWaiting(Next::RunStep), changed ? Next::Wait : Next::StartInstallerThenEnd)
        << changed;
    // A confirmation that no longer counts does nothing: no click of its own.
    EXPECT_EQ(ToggleCounter(), 1) << changed;
  }
}

TEST_F(CheckedMediumTest, AChangedFirstComponentIsNotWrittenWhenTheSecondCannotBeRead) {
  Write(L"C:\\medium\\vorncopy\\Dao350.dll", "dao 3.6");
  fs::remove(files_->HostPath(L"C:\\medium\\vorncopy\\msjter35.dll"));
  EXPECT_EQ(Click(), kRefusedShow);
  ExpectNothingDeployed();
  EXPECT_TRUE(files_->writes.empty());
  // The user is told in one sentence that names the file.
  EXPECT_EQ(refusals, std::vector<std::wstring>{L"vorncopy\\Dao350.dll"});
}

TEST_F(CheckedMediumTest, AFirstWriteThatFailsEndsTheDeploymentBeforeTheSecond) {
  fs::remove_all(files_->HostPath(L"C:\\WINNT\\system32"));
  EXPECT_EQ(Click().end, ClickEnd::FirstCopyFailed);
  EXPECT_FALSE(Contents(L"C:\\WINNT\\system32\\msjter35.dll"));
  EXPECT_TRUE(refusals.empty());
}

TEST_F(CheckedMediumTest, AListedFileThatIsMissingIsHandledAsAMissingFileAlwaysWas) {
  fs::remove(files_->HostPath(L"C:\\medium\\voabc.txt"));
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::NotesUnreadable}));
  WriteNotes(kNotes);
  fs::remove(files_->HostPath(L"C:\\medium\\vorncopy\\msjter35.dll"));
  // The first component in place, the second copy failed.
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Hide, ClickEnd::SecondCopyFailed}));
  EXPECT_EQ(Contents(L"C:\\WINNT\\system32\\Dao350.dll"), kDao);
  EXPECT_FALSE(Contents(L"C:\\WINNT\\system32\\msjter35.dll"));
  fs::remove(files_->HostPath(L"C:\\medium\\vorncopy\\Dao350.dll"));
  fs::remove(files_->HostPath(L"C:\\WINNT\\system32\\Dao350.dll"));
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::FirstCopyFailed}));
  EXPECT_FALSE(Contents(L"C:\\WINNT\\system32\\Dao350.dll"));
  EXPECT_TRUE(refusals.empty());
  EXPECT_FALSE(guard->Untrusted());
  EXPECT_EQ(controller->Handle(Event::Confirm), Next::StartInstallerThenEnd);
}

TEST_F(CheckedMediumTest, NotesReadOnlyPartWayAreNotShownButRefuseNothing) {
  // A complete line comes before the failure: unchecked, even it is not shown.
  const std::string notes = "one\r\ntwo\r\nthree";
  WriteNotes(notes);
  list = test_payload::ListOf(
      {{"voabc.txt", notes}, {"vorncopy\\Dao350.dll", kDao}, {"vorncopy\\msjter35.dll", kJet}});
  files_->readFailsAfter = 8;
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::NotesCutShort}));
  EXPECT_EQ(view.panelText, L"");
  EXPECT_TRUE(refusals.empty());
  ExpectNothingDeployed();
}

// The whole file is hashed on the one pass that keeps its head: a byte changed past the bound refuses it.
TEST_F(CheckedMediumTest, NotesBeyondTheBoundAreCheckedWholeThenShownUpToIt) {
  const std::string notes = "one\r\ntwo\r\nthree";
  for (const bool changed : {false, true}) {
    notesBound = 8;
    TearDown();
    SetUp();
    WriteNotes(changed ? "one\r\ntwo\r\nthreE" : notes);
    list = test_payload::ListOf({{"voabc.txt", notes}});
    EXPECT_EQ(Click(),
              (ClickOutcome{ClickBranch::Show, changed ? ClickEnd::Refused : ClickEnd::NotesCutShort}))
        << changed;
    EXPECT_EQ(view.panelText, changed ? L"" : L"\r\none") << changed;
    EXPECT_EQ(refusals.size(), changed ? 1u : 0u) << changed;
    ExpectNothingDeployed();
  }
}

TEST_F(CheckedMediumTest, ADamagedListAFileItDoesNotNameOrNoHashRefuseEveryFileForTheRun) {
  using Reason = actions::RefusalReason;
  const struct {
    const char* what;
    std::function<void(CheckedMediumTest&)> arrange;
    Reason reason;
  } cases[] = {
      {"a damaged list", [](CheckedMediumTest& test) { test.list = *test.list + "\n"; }, Reason::ListDamaged},
      {"an empty resource", [](CheckedMediumTest& test) { test.list = ""; }, Reason::ListDamaged},
      {"a list that cannot be loaded",
       [](CheckedMediumTest& test) { test.listFails = ListFailure::Unreadable; }, Reason::ListDamaged},
      {"a lookup that throws", [](CheckedMediumTest& test) { test.listFails = ListFailure::Throws; },
       Reason::ListDamaged},
      {"notes the list does not name",
       [](CheckedMediumTest& test) {
         test.list = test_payload::ListOf({{"vorncopy\\Dao350.dll", kDao}});
       },
       Reason::FileDiffers},
      {"a platform with neither hash", [](CheckedMediumTest& test) { test.hashes.unavailable = true; },
       Reason::CannotHash},
      {"a digest the platform fails to finish",
       [](CheckedMediumTest& test) { test.hashes.finishFails = true; }, Reason::CannotHash},
  };
  for (const auto& [what, arrange, reason] : cases) {
    TearDown();  // a fresh medium and run for each
    SetUp();
    arrange(*this);
    EXPECT_EQ(Click(), kRefusedShow) << what;
    EXPECT_EQ(view.panelText, L"") << what;
    EXPECT_EQ(refusals, std::vector<std::wstring>{L"voabc.txt"}) << what;
    EXPECT_EQ(reasons, std::vector<Reason>{reason}) << what;
    // The next click, which finds a list that loads now, still uses nothing: the run stays refused.
    listFails.reset();
    EXPECT_EQ(Click(), kRefusedHide) << what;
    EXPECT_EQ(Click(), kRefusedShow) << what;
    ExpectNothingDeployed();
    EXPECT_EQ(listLookups, 1) << what;
    EXPECT_EQ(controller->Handle(Event::Confirm), Next::Wait) << what;
  }
}

// Where the platform offers SHA-1 alone, the list's SHA-1 vouches for the genuine medium, and a changed
// byte is still refused.
TEST_F(CheckedMediumTest, WithSha1AloneTheGenuineMediumIsUsedAsAlways) {
  hashes.kind = actions::DigestKind::Sha1;
  WriteNotes("genuine notez");
  EXPECT_EQ(Click(), kRefusedShow);
  EXPECT_EQ(reasons, std::vector<actions::RefusalReason>{actions::RefusalReason::FileDiffers});
  TearDown();
  SetUp();
  hashes.kind = actions::DigestKind::Sha1;
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::Deployed}));
  EXPECT_EQ(Contents(L"C:\\WINNT\\system32\\msjter35.dll"), kJet);
  EXPECT_EQ(controller->Handle(Event::Confirm), Next::StartInstallerThenEnd);
  EXPECT_TRUE(refusals.empty());
}

TEST(RefusalMessage, NamesTheChangedFileOrForADamagedListTheProgramCarryingIt) {
  using Reason = actions::RefusalReason;
  const std::wstring changed =
      actions::RefusalMessage({Reason::FileDiffers, L"vorncopy\\Dao350.dll"}, L"setup.exe");
  EXPECT_NE(changed.find(L"vorncopy\\Dao350.dll"), std::wstring::npos);
  EXPECT_EQ(changed.find(L"setup.exe"), std::wstring::npos);
  const std::wstring damaged = actions::RefusalMessage({Reason::ListDamaged, L"voabc.txt"}, L"SETUP2.EXE");
  EXPECT_NE(damaged.find(L"SETUP2.EXE"), std::wstring::npos);
  EXPECT_EQ(damaged.find(L"voabc.txt"), std::wstring::npos) << "the notes themselves may be intact";
  // Both say what follows: nothing of the medium is copied or started.
  for (const std::wstring& message : {changed, damaged})
    EXPECT_NE(message.find(L"复制或启动"), std::wstring::npos);
  // It is the platform that fails, not the medium: no file is named.
  EXPECT_EQ(actions::RefusalMessage({Reason::CannotHash, L"voabc.txt"}, L"setup.exe").find(L"voabc.txt"),
            std::wstring::npos);
}

// Asked directly, a guard without a list checks nothing and refuses nothing.
TEST(PayloadGuard, WithoutAListAFileIsUncheckedAndNothingIsRefused) {
  test_payload::FakeDigests hashes;
  int refusals = 0;
  actions::PayloadGuard guard([] { return actions::CarriedList{}; }, hashes,
                              [&refusals](const actions::Refusal&) { ++refusals; });
  EXPECT_EQ(guard.Check(L"voabc.txt", std::string_view("notes")), actions::Verdict::Unchecked);
  EXPECT_FALSE(guard.Checks());
  EXPECT_FALSE(guard.Untrusted());
  EXPECT_EQ(refusals, 0);
}

TEST_F(CheckedMediumTest, AProgramWithoutAListUsesTheMediumAsAlways) {
  list.reset();
  WriteNotes("notes nobody signed");
  EXPECT_EQ(Click(), (ClickOutcome{ClickBranch::Show, ClickEnd::Deployed}));
  EXPECT_EQ(view.panelText, L"\r\nnotes nobody signed");
  // Copied file to file, as always, and nothing hashed.
  EXPECT_EQ(files_->copies.size(), 2u);
  EXPECT_TRUE(files_->writes.empty());
  EXPECT_EQ(hashes.runs, 0);
  EXPECT_EQ(controller->Handle(Event::Confirm), Next::StartInstallerThenEnd);
}

}  // namespace
