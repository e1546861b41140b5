// Stop requests from the terminal or the system (SIGINT, SIGTERM) counted
// instead of ending the program, so that what a modem got is always
// journaled: the first asks to stop after the modem in hand, the second to
// abandon the exchange in progress.
#pragma once

#include <atomic>

namespace vorsal::platform {

// From now on SIGINT and SIGTERM add one to StopSignalCounter(). The first
// writes `firstNotice` to standard error at once, the second
// `secondNotice`; later ones write nothing. The texts must outlive the
// program's run (string literals).
void CatchStopSignals(const char* firstNotice, const char* secondNotice);

// How many stop signals came since CatchStopSignals.
const std::atomic<int>& StopSignalCounter();

// A write to a closed pipe fails with EPIPE, which the program reports,
// instead of ending it with SIGPIPE.
void IgnoreBrokenPipe();

}  // namespace vorsal::platform
