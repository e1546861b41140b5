// Where a serial port's event thread hands its events to the thread that owns
// the port. Each client implements it: the Qt window with a queued call, the
// command line with its own loop, the Win32 window with a posted message.
#pragma once

#include <functional>

namespace vorsal {

class EventQueue {
 public:
  virtual ~EventQueue() = default;
  // Called from any thread. `call` runs later on the owning thread, calls in
  // the order they were posted. A queue outlives every port that posts to it;
  // a call posted for a port that is gone by then must do nothing (the port
  // guards its own calls).
  virtual void Post(std::function<void()> call) = 0;
};

}  // namespace vorsal
