// The click of the picture button Command4: the notes toggle. It shows the notes panel Text2 and fills it
// from "voabc.txt" (enabling "确认" once the notes are read to their end), or hides it again, and then
// hands over to the deployment of the components (component_deployment.h). Written against small view
// and file-system interfaces so that the same steps run on the real window and in the unit tests.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "actions/component_deployment.h"
#include "actions/file_system.h"
#include "actions/notes_read.h"
#include "actions/payload_check.h"
#include "common/ansi_decoder.h"

namespace actions {

inline constexpr std::wstring_view kNotesFileName = L"voabc.txt";

// What the user sees the click change: the notes panel, the confirm button "确认" and the picture
// button's own look. Each call reports whether the change took; a refusal ends the click where it
// happened.
class NotesView {
 public:
  virtual ~NotesView() = default;
  virtual bool ShowNotesPanel() = 0;
  virtual bool HideNotesPanel() = 0;
  // The panel's whole text, replacing what it held ("" empties it).
  virtual bool SetNotesText(const std::wstring& text) = 0;
  // More text at the end of the panel; what the reader sees of the panel stays where it was.
  virtual bool AppendNotesText(std::wstring_view text) = 0;
  virtual bool EnableConfirm() = 0;
  virtual bool ShowConfirm() = 0;
  // The picture button takes the look of notes read to their end.
  virtual bool ShowPictureButtonRead() = 0;
};

// Everything a click uses besides the toggle counter, which the button keeps.
struct PictureButtonContext {
  const std::wstring& baseDirectory;  // fixed by the load step; ends with a backslash
  NotesView& view;
  FileSystem& files;
  WindowsDirectoryFunction getWinDir;
  common::AnsiDecoder decodeAnsi;
  // Checks the notes and the components against the program's payload list; none: used unchecked.
  PayloadGuard* guard = nullptr;
  // The most bytes of the notes the panel takes (notes_read.h); tests set a smaller one.
  std::size_t notesBound = kNotesBoundBytes;
};

enum class ClickBranch { Show, Hide };

// Where the click ended. Every failure is silent; the outcome only tells the caller (and the tests)
// which road was taken.
enum class ClickEnd {
  ControlRefused,    // a control did not take a change: the rest of the click was left out
  NotesUnreadable,   // the notes file did not open: panel visible and empty, nothing deployed
  NotesCutShort,     // reading failed part-way: the complete lines stay, nothing deployed
  Failed,            // a step failed outright (it threw): the rest of the click was left out
  NotWindowsNt,      // no "NT" in the Windows directory: nothing copied
  FirstCopyFailed,   // the second copy was not attempted
  SecondCopyFailed,  // the first copy stays in place
  Refused,           // a file of the medium failed its check, or an earlier one did: the notes not shown
                     // (panel visible and empty) or nothing copied
  Deployed,
};

struct ClickOutcome {
  ClickBranch branch = ClickBranch::Show;
  ClickEnd end = ClickEnd::NotWindowsNt;
  friend constexpr bool operator==(const ClickOutcome&, const ClickOutcome&) = default;
};

// One click at a time. A text with long lines goes into the panel in slices, one per call of
// Continue, so that whoever drives the click can handle input between them; everything else of the
// click happens within Click, or within the Continue that adds the last slice.
class PictureButton {
 public:
  PictureButton() = default;
  PictureButton(const PictureButton&) = delete;
  PictureButton& operator=(const PictureButton&) = delete;

  // Starts a click. Returns where it ended, or nothing while the panel still takes the notes.
  std::optional<ClickOutcome> Click(const PictureButtonContext& context);
  // Adds the next slice; after the last one, the click goes on to its end, which it returns.
  std::optional<ClickOutcome> Continue(const PictureButtonContext& context);
  // Whether a click waits for Continue.
  bool Filling() const { return fill_.has_value(); }
  // Ends a click that cannot go on (one of its steps threw): nothing more of it happens. The toggle
  // counter keeps the value the click gave it, as after any click that ended part-way.
  void Abandon() { fill_.reset(); }

  // 0 while the panel is hidden (or before the first click), 1 after a show-click.
  std::int16_t ToggleCounter() const { return toggleCounter_; }
  // Whether a click has read the notes to their end and enabled "确认" (which nothing disables again).
  bool NotesRead() const { return notesRead_; }

 private:
  // The notes on their way into the panel.
  struct Fill {
    std::wstring text;
    std::vector<std::wstring_view> slices;  // into text
    std::size_t nextSlice = 0;
    bool cutShort = false;  // the file's reading failed part-way
  };

  std::optional<ClickOutcome> ShowNotes(const PictureButtonContext& context);
  std::optional<ClickOutcome> FinishShowing(const PictureButtonContext& context, bool cutShort);

  std::int16_t toggleCounter_ = 0;
  bool notesRead_ = false;
  std::optional<Fill> fill_;
};

}  // namespace actions
