#include "actions/run_state.h"

namespace actions {

bool RunState::Deliver(Event event) {
  if (ending_) return false;
  Carry(controller_.Handle(event));
  return ending_.has_value();
}

void RunState::RunStep() {
  if (!StepPending()) return;
  stepPending_ = false;
  Carry(controller_.Step());
}

void RunState::Carry(Next next) {
  if (Ends(next)) {
    ending_ = next;
    return;
  }
  stepPending_ = next == Next::RunStep;
}

}  // namespace actions
