// The test thread's stand-in for an event loop: the queue the serial suites
// give their ports, and what WaitUntil runs on each turn.
#pragma once

#include "serial/polled_event_queue.h"

#include <functional>

namespace vorsal::test {

// One per test process; its calls run on the thread that pumps.
PolledEventQueue& PortEvents();

// Adds what a suite's entry needs pumped besides PortEvents (the window's
// suites: Qt's event loop).
void SetEventPump(std::function<void()> pump);

// Runs the calls posted to PortEvents, then the added pump.
void PumpEvents();

}  // namespace vorsal::test
