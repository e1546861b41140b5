#include "platform/terminal_input.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace vorsal::platform {

namespace {

termios savedSettings{};
struct sigaction savedInterrupt {};

// Ctrl+C at the prompt: the echo comes back, then the signal does what it
// would have done.
void RestoreAndInterrupt(int signal) {
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedSettings);
  ::sigaction(SIGINT, &savedInterrupt, nullptr);
  ::raise(signal);
}

}  // namespace


std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  std::cerr << prompt << std::flush;
  const bool terminal = ::tcgetattr(STDIN_FILENO, &savedSettings) == 0;
  if (terminal) {
    struct sigaction action {};
    action.sa_handler = RestoreAndInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &savedInterrupt);
    termios quiet = savedSettings;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  bool complete = false;
  for (;;) {
    char c = 0;
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (c == '\n') {
      complete = true;
      break;
    }
    line += c;
  }
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedSettings);
    ::sigaction(SIGINT, &savedInterrupt, nullptr);
  }
  if (!complete && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace vorsal::platform
