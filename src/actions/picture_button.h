// The click of the picture button Command4: it toggles the notes panel Text2 (show and fill it from
// "voabc.txt", or hide it) and then deploys the two database engine components when the Windows
// directory's path holds "NT". Written against small view and file-system interfaces so that the same
// state machine runs on the real window and in the unit tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/ansi_decoder.h"

namespace actions {

inline constexpr std::wstring_view kNotesFileName = L"voabc.txt";

// Only a Windows directory with these capital letters in its path, as C:\WINNT has, gets the components.
inline constexpr std::wstring_view kDeploymentMarker = L"NT";

// The attributes of Text2, cmdContinue and Command4 that the click changes. Each call reports whether
// the control took the change; a refusal ends the click where it happened.
class NotesView {
 public:
  virtual ~NotesView() = default;
  virtual bool SetPanelVisible(bool visible) = 0;
  virtual bool SetPanelText(const std::wstring& text) = 0;
  virtual bool SetContinueEnabled(bool enabled) = 0;
  virtual bool SetContinueVisible(bool visible) = 0;
  // The picture button takes the look of notes read to their end.
  virtual bool ShowPictureButtonRead() = 0;
};

enum class ReadStatus {
  NotOpened,  // missing or unreadable: nothing was read
  CutShort,   // opened, but a read failed part-way: bytes holds what came before the failure
  Complete,   // read to its end
};

struct FileRead {
  ReadStatus status = ReadStatus::NotOpened;
  std::string bytes;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The file is closed again before this returns, whatever happened, so no click leaves it open.
  virtual FileRead ReadWholeFile(const std::wstring& path) = 0;
  // Replaces an existing destination.
  virtual bool CopyReplacing(const std::wstring& source, const std::wstring& destination) = 0;
};

// GetWinDir: asked afresh for every path it takes part in.
using WindowsDirectoryFunction = std::function<std::wstring()>;

// Everything a click uses besides the toggle counter, which the button keeps.
struct PictureButtonContext {
  std::wstring_view baseDirectory;  // ends with a backslash
  NotesView& view;
  FileSystem& files;
  const WindowsDirectoryFunction& getWinDir;
  const common::AnsiDecoder& decodeAnsi;
};

enum class ClickBranch { Show, Hide };

// Where the click ended. Every failure is silent; the outcome only tells the caller (and the tests)
// which road was taken.
enum class ClickEnd {
  ControlRefused,    // a control did not take a change: the rest of the click was left out
  NotesUnreadable,   // the notes file did not open: panel visible and empty, nothing deployed
  NotesCutShort,     // reading failed part-way: the complete lines stay, nothing deployed
  NotWindowsNt,      // no "NT" in the Windows directory: nothing copied
  FirstCopyFailed,   // the second copy was not attempted
  SecondCopyFailed,  // the first copy stays in place
  Deployed,
};

struct ClickOutcome {
  ClickBranch branch = ClickBranch::Show;
  ClickEnd end = ClickEnd::NotWindowsNt;
  friend constexpr bool operator==(const ClickOutcome&, const ClickOutcome&) = default;
};

class PictureButton {
 public:
  ClickOutcome Click(const PictureButtonContext& context);

  // 0 while the panel is hidden (or before the first click), 1 after a show-click.
  std::int16_t ToggleCounter() const { return toggleCounter_; }

 private:
  std::int16_t toggleCounter_ = 0;
};

}  // namespace actions
