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
      if (!confirmWaiting_) ++clicksWaiting_;
      return Next::RunStep;
    case Event::Confirm:
      if (!Busy()) return Next::StartInstallerThenEnd;
      confirmWaiting_ = true;
      return Next::RunStep;
  }
  return Next::Wait;
}

Next Controller::Step() {
  if (button_.Filling()) return RunClickPiece([this] { return button_.Continue(context_); });
  if (clicksWaiting_ > 0) {
    --clicksWaiting_;
    return RunClickPiece([this] { return button_.Click(context_); });
  }
  return confirmWaiting_ ? Next::StartInstallerThenEnd : Next::Wait;
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
