#include "support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace vorsal {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for the child's exit without sleeping in slices: a pidfd becomes
// readable when the process ends.
bool WaitExit(pid_t pid, int timeoutMs, int& status) {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd fd{pidfd, POLLIN, 0};
    const int ready = poll(&fd, 1, timeoutMs);
    close(pidfd);
    if (ready == 0) return false;
  }
  return waitpid(pid, &status, 0) == pid;
}

}  // namespace

SimProcess::~SimProcess() { Stop(); }

bool SimProcess::Start(const std::string& exe, const std::vector<std::string>& args, int timeoutMs) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    error_ = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  std::vector<char*> argv{const_cast<char*>(exe.c_str())};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const int rc = posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  output_ = pipeFds[0];
  if (rc != 0) {
    pid_ = -1;
    error_ = "cannot start " + exe + ": " + std::strerror(rc);
    return false;
  }
  const auto line = ReadLine(timeoutMs);
  if (!line || line->empty()) {
    error_ = exe + " printed no device path";
    return false;
  }
  devicePath_ = *line;
  return true;
}

std::optional<std::string> SimProcess::ReadLine(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (const auto end = buffered_.find('\n'); end != std::string::npos) {
      std::string line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      return line;
    }
    if (output_ < 0) return std::nullopt;
    pollfd fd{output_, POLLIN, 0};
    const int ready = poll(&fd, 1, MsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char chunk[1024];
    const ssize_t n = read(output_, chunk, sizeof chunk);
    if (n <= 0) return std::nullopt;
    buffered_.append(chunk, static_cast<std::size_t>(n));
  }
}

int SimProcess::Stop(int timeoutMs) {
  int result = -1;
  if (pid_ > 0) {
    int status = 0;
    kill(pid_, SIGTERM);
    if (!WaitExit(pid_, timeoutMs, status)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
  }
  if (output_ >= 0) close(output_);
  output_ = -1;
  return result;
}

}  // namespace vorsal
