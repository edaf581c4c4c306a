// Where the launcher's run stands between messages: whether the controller waits for a step, and the
// end it decided, once it has. The window hands events here; the message loop asks here whether to run
// a step and whether to stop.
#pragma once

#include <optional>

#include "actions/controller.h"

namespace actions {

class RunState {
 public:
  explicit RunState(Controller& controller) : controller_(controller) {}

  // Hands the event to the controller, unless the end is already decided: from then on nothing more
  // goes to it. True when this event decided the end.
  bool Deliver(Event event);

  // Whether the controller waits for a step, which the message loop runs once nothing else waits.
  bool StepPending() const { return stepPending_ && !ending_; }
  // Runs the step the controller waits for, if it waits for one.
  void RunStep();

  // The end the controller decided on (End or StartInstallerThenEnd), once it has.
  std::optional<Next> Ending() const { return ending_; }

 private:
  void Carry(Next next);

  Controller& controller_;
  bool stepPending_ = false;
  std::optional<Next> ending_;
};

}  // namespace actions
