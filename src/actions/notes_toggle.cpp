#include "actions/notes_toggle.h"

#include "actions/notes_text.h"
#include "actions/panel_slices.h"

namespace actions {

namespace {

ClickEnd EndOf(Deployment deployment) {
  switch (deployment) {
    case Deployment::NotWindowsNt:
      return ClickEnd::NotWindowsNt;
    case Deployment::FirstCopyFailed:
      return ClickEnd::FirstCopyFailed;
    case Deployment::SecondCopyFailed:
      return ClickEnd::SecondCopyFailed;
    case Deployment::Refused:
      return ClickEnd::Refused;
    case Deployment::Deployed:
      break;
  }
  return ClickEnd::Deployed;
}

ClickEnd Deploy(const PictureButtonContext& context) {
  return EndOf(
      actions::DeployComponents(context.baseDirectory, context.getWinDir, context.files, context.guard));
}

ClickOutcome Shown(ClickEnd end) {
  return {ClickBranch::Show, end};
}

}  // namespace

std::optional<ClickOutcome> PictureButton::Click(const PictureButtonContext& context) {
  fill_.reset();
  // The counter only ever holds 0 or 1 between clicks, so this cannot overflow.
  ++toggleCounter_;
  if (toggleCounter_ == 1) return ShowNotes(context);

  // Hiding leaves the panel's text, the confirm button and the picture button's colour as they are.
  // The counter goes back to 0 even if the panel refuses, so that it keeps to 0 and 1 between clicks.
  const bool hidden = context.view.HideNotesPanel();
  toggleCounter_ = 0;
  if (!hidden) return ClickOutcome{ClickBranch::Hide, ClickEnd::ControlRefused};
  return ClickOutcome{ClickBranch::Hide, Deploy(context)};
}

// Shows the panel and fills it from the notes file.
std::optional<ClickOutcome> PictureButton::ShowNotes(const PictureButtonContext& context) {
  NotesView& view = context.view;
  if (!view.ShowNotesPanel()) return Shown(ClickEnd::ControlRefused);
  const std::wstring notesPath = Join(context.baseDirectory, kNotesFileName);
  if (!view.SetNotesText({})) return Shown(ClickEnd::ControlRefused);

  // From here on a failure ends the click, deployment included. With a payload list, only the bytes the
  // publisher signed reach the panel: the whole file is checked before any of it is shown, and a read cut
  // short cannot be checked, and shows nothing. A file beyond the bound shows its head, as a read cut
  // short would.
  const bool checked = context.guard && context.guard->Checks();
  NotesReading notes =
      ReadNotes(context.files, notesPath, context.notesBound, checked ? context.guard : nullptr);
  if (notes.end == NotesReading::End::NotOpened) return Shown(ClickEnd::NotesUnreadable);
  if (notes.end == NotesReading::End::Refused) return Shown(ClickEnd::Refused);
  if (checked && notes.end == NotesReading::End::CutShort) return Shown(ClickEnd::NotesCutShort);
  const bool cutShort = notes.end != NotesReading::End::Whole;
  // The text is built once and handed over once: appending line by line would cost the square of
  // the file's size in the text control. Only long lines go in slices, which the control would
  // otherwise wrap for minutes in one piece.
  std::wstring text =
      NotesPanelText(notes.head, cutShort ? ReadExtent::CutShort : ReadExtent::WholeFile, context.decodeAnsi);
  notes.head = std::string();  // the bytes are not needed beside the text and the control's copy of it
  if (NeedsSlicing(text)) {
    Fill& fill = fill_.emplace(Fill{std::move(text), {}, 0, cutShort});
    fill.slices = PanelSlices(fill.text);
    return std::nullopt;
  }
  if (!view.SetNotesText(text)) return Shown(ClickEnd::ControlRefused);
  return FinishShowing(context, cutShort);
}

std::optional<ClickOutcome> PictureButton::Continue(const PictureButtonContext& context) {
  if (!fill_) return std::nullopt;
  if (fill_->nextSlice < fill_->slices.size()) {
    if (!context.view.AppendNotesText(fill_->slices[fill_->nextSlice++])) {
      fill_.reset();
      return Shown(ClickEnd::ControlRefused);
    }
    if (fill_->nextSlice < fill_->slices.size()) return std::nullopt;
  }
  const bool cutShort = fill_->cutShort;
  fill_.reset();
  return FinishShowing(context, cutShort);
}

// The notes are in the panel: what a complete read enables, then the deployment.
std::optional<ClickOutcome> PictureButton::FinishShowing(const PictureButtonContext& context, bool cutShort) {
  if (cutShort) return Shown(ClickEnd::NotesCutShort);
  NotesView& view = context.view;
  if (!view.EnableConfirm()) return Shown(ClickEnd::ControlRefused);
  notesRead_ = true;
  if (!view.ShowConfirm() || !view.ShowPictureButtonRead()) return Shown(ClickEnd::ControlRefused);
  return Shown(Deploy(context));
}

}  // namespace actions
