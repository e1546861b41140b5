// vorsal-cli run as a user runs it, against the modem simulator over a pty:
// a copy of the program in the test's own directory (so Keys.ini beside it
// is the test's), XDG_DATA_HOME there too (so is the default journal), and
// standard output and error captured in files.
#pragma once

#include "support/sim_process.h"
#include "tests/production/journal_lines.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vorsal::testing {

namespace fs = std::filesystem;

// The exit status of the child `pid` (128 + signal for one a signal ended;
// `pid` is then -1), or -1 when it has not ended within timeoutMs.
inline int WaitForExit(pid_t& pid, int timeoutMs) {
  for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
       pid > 0 && std::chrono::steady_clock::now() < end;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

class CliProcess {
 public:
  CliProcess(const fs::path& exe, const std::vector<std::string>& args, const std::vector<std::string>& env,
             const fs::path& outFile, const fs::path& errFile)
      : out_(outFile), err_(errFile) {
    std::vector<std::string> argStrings{exe.string()};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (std::string& arg : argStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      if (text.rfind("XDG_DATA_HOME=", 0) != 0 && text.rfind("VORSAL_EXTRA_PORTS=", 0) != 0) envStrings.push_back(text);
    }
    for (std::string& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~CliProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  void Signal(int signal) const {
    if (pid_ > 0) ::kill(pid_, signal);
  }
  // The exit status; -1 when the program has not ended within timeoutMs.
  int Wait(int timeoutMs = 60000) { return WaitForExit(pid_, timeoutMs); }
  std::string Out() const { return test::ReadAll(out_); }
  std::string Err() const { return test::ReadAll(err_); }
  // Waits until standard output or error holds `text`.
  bool AwaitOutput(const std::string& text, int timeoutMs = 30000) const {
    for (auto end = Now() + std::chrono::milliseconds(timeoutMs); Now() < end;) {
      if (Out().find(text) != std::string::npos || Err().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

 private:
  static std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }
  fs::path out_, err_;
  pid_t pid_ = -1;
};

struct CliResult {
  int status;
  std::string out;
  std::string err;
};

class CliSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(VORSAL_CLI_EXE, exe);
    fs::permissions(exe, fs::perms::owner_all);
  }
  void TearDown() override { sim.Stop(); }

  void StartModem(std::vector<std::string> args = {}) {
    args.insert(args.end(), {"--link", link, "--log"});
    ASSERT_TRUE(sim.Start(VORSAL_SIM_EXE, args)) << sim.Error();
  }
  std::unique_ptr<CliProcess> Start(std::vector<std::string> args) const {
    return std::make_unique<CliProcess>(exe, args, std::vector<std::string>{"XDG_DATA_HOME=" + xdg.string()},
                                        dir / "out", dir / "err");
  }
  // Runs the program on the simulator's port to its end.
  CliResult Run(std::vector<std::string> args) const {
    args.insert(args.begin(), {"-p", link});
    std::unique_ptr<CliProcess> process = Start(args);
    const int status = process->Wait();
    return {status, process->Out(), process->Err()};
  }
  std::string Journal() const { return test::ReadAll(xdg / "vorsal" / "journal.csv"); }
  // The journal's lines about modems, without their CRLF.
  std::vector<std::string> JournalLines() const {
    std::vector<std::string> lines;
    for (ModemJournalLine& line : ModemJournalLines(xdg / "vorsal" / "journal.csv")) lines.push_back(std::move(line.text));
    return lines;
  }
  // Command bytes of the requests the modem logged so far (waits briefly
  // for each further line).
  std::vector<int> LoggedCommands() {
    std::vector<int> commands;
    while (std::optional<std::string> line = sim.ReadLine(300)) {
      if (line->rfind("rx ", 0) == 0 && line->size() >= 14) commands.push_back(std::stoi(line->substr(12, 2), nullptr, 16));
    }
    return commands;
  }

  test::TempDir dir;
  const fs::path exe = dir / "vorsal-cli";
  const fs::path xdg = dir / "xdg";
  const std::string link = (dir / "modem").string();
  SimProcess sim;
};

}  // namespace vorsal::testing
