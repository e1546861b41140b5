#include "support/event_pump.h"

namespace vorsal::test {

namespace {

std::function<void()>& AddedPump() {
  static std::function<void()> pump;
  return pump;
}

}  // namespace

PolledEventQueue& PortEvents() {
  static PolledEventQueue queue;
  return queue;
}

void SetEventPump(std::function<void()> pump) { AddedPump() = std::move(pump); }

void PumpEvents() {
  PortEvents().RunPosted();
  if (AddedPump()) AddedPump()();
}

}  // namespace vorsal::test
