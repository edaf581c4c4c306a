// What happens in the launcher, decided in one place: the window turns the user's input into events,
// hands them here, and does what the answer asks. The picture button's clicks run one at a time, in
// the order they came; a click whose notes go into the panel in slices takes several steps, between
// which the window handles its input. "取消", Esc, "><" and a close request end the launcher at once,
// even in the middle of a click. "确认" counts only while its button stands enabled (a click has read
// the notes to their end, and no file of the medium has failed its payload check): one that comes while
// a click runs or waits takes its turn behind it, and starts the installer only if, by then, that still
// holds; one that comes while the button is disabled is ignored, as the button itself would ignore it.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "actions/notes_toggle.h"

namespace actions {

// The window's layout table says which button's click is which event.
enum class Event {
  PictureButton,
  Confirm,
  Cancel,
  TitleStripButton,
  CloseRequest,  // the system asks the window to close
};

// What the window does after an event or a step.
enum class Next {
  Wait,                   // nothing until the next event
  RunStep,                // call Step once no input or painting is waiting (asked for as long as
                          // any click is busy or waiting)
  End,                    // end the launcher at once
  StartInstallerThenEnd,  // start the second-stage installer, then end the launcher at once
};

constexpr bool Ends(Next next) {
  return next == Next::End || next == Next::StartInstallerThenEnd;
}

class Controller {
 public:
  explicit Controller(PictureButtonContext context) : context_(std::move(context)) {}

  Next Handle(Event event);
  Next Step();

  // For whoever looks on: the toggle counter, and where the last click that finished ended.
  const PictureButton& pictureButton() const { return button_; }
  std::optional<ClickOutcome> LastClick() const { return lastClick_; }

 private:
  bool Busy() const { return button_.Filling() || !waiting_.empty(); }
  // What the enabled "确认" stands for.
  bool ConfirmEnabled() const;
  // Starts the installer where "确认" counts, else changes nothing.
  Next Confirm() const;
  // Runs a piece of the click. A piece that throws (std::bad_alloc from a huge notes file, say) ends
  // the click as a failed statement would, silently, and the clicks after it go on.
  template <typename Piece>
  Next RunClickPiece(Piece piece);

  PictureButtonContext context_;
  PictureButton button_;
  // The picture button's clicks and the confirmations that came while a click was busy, in order.
  std::vector<Event> waiting_;
  std::optional<ClickOutcome> lastClick_;
};

}  // namespace actions
