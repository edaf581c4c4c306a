#include "actions/controller.h"

namespace actions {

Next Controller::Handle(Event event) {
  switch (event) {
    case Event::Cancel:
    case Event::TitleStripButton:
    case Event::CloseRequest:
      return Next::End;
    case Event::PictureButton:
      if (!Busy()) return RunClickPiece([this] { return button_.Click(context_); });
      ++clicksWaiting_;
      return Next::RunStep;
    case Event::Confirm:
      // Only where the enabled button stands: a click posted to it while it is disabled, or one that
      // comes while a click runs or waits, changes nothing.
      // Nor once a file of the medium has failed its check: its button was disabled then.
      if (button_.NotesRead() && !Busy() && !MediumUntrusted()) return Next::StartInstallerThenEnd;
      return Busy() ? Next::RunStep : Next::Wait;
  }
  return Next::Wait;
}

Next Controller::Step() {
  if (button_.Filling()) return RunClickPiece([this] { return button_.Continue(context_); });
  if (clicksWaiting_ > 0) {
    --clicksWaiting_;
    return RunClickPiece([this] { return button_.Click(context_); });
  }
  return Next::Wait;
}

template <typename Piece>
Next Controller::RunClickPiece(Piece piece) {
  std::optional<ClickOutcome> finished;
  try {
    finished = piece();
  } catch (...) {
    button_.Abandon();
    finished =
        ClickOutcome{button_.ToggleCounter() == 1 ? ClickBranch::Show : ClickBranch::Hide, ClickEnd::Failed};
  }
  if (finished) lastClick_ = finished;
  return Busy() ? Next::RunStep : Next::Wait;
}

}  // namespace actions
