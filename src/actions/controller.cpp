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
      waiting_.push_back(event);
      return Next::RunStep;
    case Event::Confirm:
      // A click posted to the disabled button changes nothing, not even later.
      if (!ConfirmEnabled()) return Busy() ? Next::RunStep : Next::Wait;
      if (!Busy()) return Confirm();
      waiting_.push_back(event);
      return Next::RunStep;
  }
  return Next::Wait;
}

Next Controller::Step() {
  if (button_.Filling()) return RunClickPiece([this] { return button_.Continue(context_); });
  if (waiting_.empty()) return Next::Wait;
  const Event next = waiting_.front();
  waiting_.erase(waiting_.begin());
  if (next == Event::Confirm) {
    const Next confirmed = Confirm();
    if (Ends(confirmed)) return confirmed;
    return Busy() ? Next::RunStep : Next::Wait;
  }
  return RunClickPiece([this] { return button_.Click(context_); });
}

bool Controller::ConfirmEnabled() const {
  // Once a file has failed its check, the button was disabled for good.
  return button_.NotesRead() && !(context_.guard && context_.guard->Untrusted());
}

Next Controller::Confirm() const {
  return ConfirmEnabled() ? Next::StartInstallerThenEnd : Next::Wait;
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
