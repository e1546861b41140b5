// The window's event queue: a serial port's deliveries run on the GUI
// thread as queued Qt calls, served by the event loop, by every
// processEvents and by the port's Close.
#pragma once

#include "serial/event_queue.h"

#include <QObject>

namespace vorsal {

class QtEventQueue final : public EventQueue {
 public:
  // Create it on the GUI thread: its calls run on the thread that made it.
  QtEventQueue() = default;
  // Calls still queued when it goes are dropped.
  void Post(std::function<void()> call) override;

 private:
  QObject receiver_;
};

}  // namespace vorsal
