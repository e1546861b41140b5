// Runs vorsal-modem-sim as a child process: starts it, learns its device
// path from its first line of output, reads its --log lines, and stops it
// with SIGTERM. Used by the suites that talk to the simulator over a pty.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace vorsal {

class SimProcess {
 public:
  SimProcess() = default;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  ~SimProcess();

  // Starts `exe` with `args` and waits up to timeoutMs for the device path.
  // False, with Error() set, when it does not start or prints no path.
  bool Start(const std::string& exe, const std::vector<std::string>& args, int timeoutMs = 10000);

  const std::string& DevicePath() const { return devicePath_; }
  pid_t Pid() const { return pid_; }
  const std::string& Error() const { return error_; }

  // The next line of standard output without its newline; nullopt when none
  // comes within timeoutMs or the output has ended.
  std::optional<std::string> ReadLine(int timeoutMs);

  // SIGTERM, then waits up to timeoutMs for the exit (SIGKILL after that).
  // Returns the exit code, 128 + the signal number when killed by a signal,
  // or -1 when the simulator was not running.
  int Stop(int timeoutMs = 10000);

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string buffered_;
  std::string devicePath_;
  std::string error_;
};

}  // namespace vorsal
