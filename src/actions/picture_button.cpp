#include "actions/picture_button.h"

#include <optional>

#include "actions/notes_text.h"
#include "common/components.h"

namespace actions {

namespace {

std::wstring Join(std::wstring_view head, std::wstring_view tail) {
  std::wstring joined;
  joined.reserve(head.size() + tail.size());
  joined.append(head).append(tail);
  return joined;
}

// Shows the panel and fills it from the notes file. Returns where the click ended when it must not go
// on to the deployment.
std::optional<ClickEnd> ShowNotes(const PictureButtonContext& context) {
  NotesView& view = context.view;
  if (!view.SetPanelVisible(true)) return ClickEnd::ControlRefused;
  const std::wstring notesPath = Join(context.baseDirectory, kNotesFileName);
  if (!view.SetPanelText({})) return ClickEnd::ControlRefused;

  // From here on a failure ends the click, deployment included.
  const FileRead notes = context.files.ReadWholeFile(notesPath);
  if (notes.status == ReadStatus::NotOpened) return ClickEnd::NotesUnreadable;
  const ReadExtent extent =
      notes.status == ReadStatus::Complete ? ReadExtent::WholeFile : ReadExtent::CutShort;
  // The text is built once and handed over once: appending line by line would cost the square of
  // the file's size in the text control.
  if (!view.SetPanelText(NotesPanelText(notes.bytes, extent, context.decodeAnsi))) {
    return ClickEnd::ControlRefused;
  }
  if (notes.status == ReadStatus::CutShort) return ClickEnd::NotesCutShort;

  if (!view.SetContinueEnabled(true) || !view.SetContinueVisible(true) || !view.ShowPictureButtonRead()) {
    return ClickEnd::ControlRefused;
  }
  return std::nullopt;
}

// Each path takes its own fresh look at the Windows directory, and so does the "NT" test.
ClickEnd DeployComponents(const PictureButtonContext& context) {
  std::wstring source = Join(context.baseDirectory, common::kDaoLibrary.source);
  std::wstring destination = Join(context.getWinDir(), common::kDaoLibrary.destination);

  if (context.getWinDir().find(kDeploymentMarker) == std::wstring::npos) return ClickEnd::NotWindowsNt;

  if (!context.files.CopyReplacing(source, destination)) return ClickEnd::FirstCopyFailed;

  source = Join(context.baseDirectory, common::kJetExpressionService.source);
  destination = Join(context.getWinDir(), common::kJetExpressionService.destination);
  if (!context.files.CopyReplacing(source, destination)) return ClickEnd::SecondCopyFailed;
  return ClickEnd::Deployed;
}

}  // namespace

ClickOutcome PictureButton::Click(const PictureButtonContext& context) {
  // The counter only ever holds 0 or 1 between clicks, so this cannot overflow.
  ++toggleCounter_;
  if (toggleCounter_ == 1) {
    if (const std::optional<ClickEnd> stopped = ShowNotes(context)) return {ClickBranch::Show, *stopped};
    return {ClickBranch::Show, DeployComponents(context)};
  }
  // Hiding leaves the panel's text, the confirm button and the picture button's colour as they are.
  // The counter goes back to 0 even if the panel refuses, so that it keeps to 0 and 1 between clicks.
  const bool hidden = context.view.SetPanelVisible(false);
  toggleCounter_ = 0;
  if (!hidden) return {ClickBranch::Hide, ClickEnd::ControlRefused};
  return {ClickBranch::Hide, DeployComponents(context)};
}

}  // namespace actions
