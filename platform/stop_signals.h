// Stop requests from the terminal or the system (SIGINT, SIGTERM, SIGHUP) counted
// instead of ending the program: vorsal-cli journals what a modem got (the
// first asks to stop after the modem in hand, the second to abandon the
// exchange in progress), the window closes as its user would close it.
#pragma once

#include <atomic>

namespace vorsal::platform {

// From now on SIGINT, SIGTERM and SIGHUP (the terminal going away) add one
// to StopSignalCounter(). The first
// writes `firstNotice` to standard error at once, the second
// `secondNotice` (a write to a lost terminal fails unseen); later ones
// write nothing. The texts must outlive the
// program's run (string literals).
void CatchStopSignals(const char* firstNotice, const char* secondNotice);

// For a window, whose program must close its port before it ends: SIGINT,
// SIGTERM and SIGHUP (the terminal it was started from going away) add one
// to StopSignalCounter(), writing nothing. The window looks at the counter
// on a timer of its own.
void CatchWindowCloseSignals();

// How many stop signals came since CatchStopSignals or
// CatchWindowCloseSignals.
const std::atomic<int>& StopSignalCounter();

// A write to a closed pipe fails with EPIPE, which the program reports,
// instead of ending it with SIGPIPE.
void IgnoreBrokenPipe();

}  // namespace vorsal::platform
