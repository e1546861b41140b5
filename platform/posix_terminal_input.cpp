#include "platform/terminal_input.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace vorsal::platform {

namespace {

// Every signal that stops a program from its terminal or from outside.
constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int StopSignalCount = sizeof StopSignals / sizeof StopSignals[0];

termios savedSettings{};
struct sigaction savedActions[StopSignalCount] {};
volatile sig_atomic_t stopped = 0;

void RestoreActions() {
  for (int i = 0; i < StopSignalCount; ++i) ::sigaction(StopSignals[i], &savedActions[i], nullptr);
}

// A stop at the prompt: the echo comes back, then the signal does what it
// would have done (ends the program, or is counted and ends the prompt).
void RestoreAndInterrupt(int signal) {
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedSettings);
  RestoreActions();
  stopped = 1;
  ::raise(signal);
}

}  // namespace


std::optional<std::string> ReadSecretLine(const std::string& prompt, std::size_t maxBytes) {
  std::cerr << prompt << std::flush;
  const bool terminal = ::tcgetattr(STDIN_FILENO, &savedSettings) == 0;
  stopped = 0;
  if (terminal) {
    struct sigaction action {};
    action.sa_handler = RestoreAndInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the read ends when a counted stop comes.
    for (int i = 0; i < StopSignalCount; ++i) ::sigaction(StopSignals[i], &action, &savedActions[i]);
    termios quiet = savedSettings;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  bool complete = false;
  while (line.size() < maxBytes) {
    char c = 0;
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR && !stopped) continue;
    if (got <= 0) break;
    if (c == '\n') {
      complete = true;
      break;
    }
    line += c;
  }
  if (terminal && !stopped) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedSettings);
    RestoreActions();
  }
  if (stopped || (!complete && line.empty())) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace vorsal::platform
