#include "platform/stop_signals.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

namespace vorsal::platform {

namespace {

std::atomic<int> stopSignals{0};
static_assert(std::atomic<int>::is_always_lock_free, "the counter is written from a signal handler");

const char* notices[2] = {nullptr, nullptr};

void CountStop(int) {
  const int saved = errno;
  const int before = stopSignals.fetch_add(1);
  if (before < 2 && notices[before] != nullptr) {
    // write() is async-signal-safe; what it cannot write is not retried.
    [[maybe_unused]] const ssize_t unused = ::write(STDERR_FILENO, notices[before], std::strlen(notices[before]));
  }
  errno = saved;
}

void CountSignals(std::initializer_list<int> signals) {
  struct sigaction action {};
  action.sa_handler = CountStop;
  // Every further signal is counted too: nothing ends the program while a
  // modem is half configured.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signal : signals) ::sigaction(signal, &action, nullptr);
}

}  // namespace

void CatchStopSignals(const char* firstNotice, const char* secondNotice) {
  notices[0] = firstNotice;
  notices[1] = secondNotice;
  // SIGHUP is a closed terminal or a dropped remote session: the run must
  // end as after any other stop, with what the modem got journaled.
  CountSignals({SIGINT, SIGTERM, SIGHUP});
}

void CatchWindowCloseSignals() {
  notices[0] = notices[1] = nullptr;
  CountSignals({SIGINT, SIGTERM, SIGHUP});
}

const std::atomic<int>& StopSignalCounter() { return stopSignals; }

void IgnoreBrokenPipe() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGPIPE, &action, nullptr);
}

}  // namespace vorsal::platform
