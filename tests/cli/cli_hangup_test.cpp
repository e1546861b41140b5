// vorsal-cli whose terminal goes away mid key transfer (a closed terminal
// window, a dropped remote session): the program runs on a pseudo-terminal
// as its controlling terminal, and the test closes the terminal's master
// while the key parts go out. The hang-up must not end the run half-way.
#include "tests/cli/cli_fixture.h"

#include <gmock/gmock.h>

#include <poll.h>
#include <stdlib.h>

using ::testing::HasSubstr;

namespace vorsal::testing {
namespace {

constexpr int KeyPartCommands[] = {0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF};

// The program in a session of its own whose controlling terminal is a fresh
// pseudo-terminal; the test holds the master.
class TerminalProcess {
 public:
  TerminalProcess(const fs::path& exe, const std::vector<std::string>& args, const std::string& xdg) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    const std::string slave = ::ptsname(master_);
    std::vector<std::string> argStrings{exe.string()};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings{"XDG_DATA_HOME=" + xdg, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
    std::vector<char*> argv, envp;
    for (std::string& arg : argStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);
    for (std::string& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls between fork and exec.
      ::setsid();
      const int tty = ::open(slave.c_str(), O_RDWR);  // the session's controlling terminal
      if (tty < 0) ::_exit(127);
      ::dup2(tty, 0);
      ::dup2(tty, 1);
      ::dup2(tty, 2);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
  }
  ~TerminalProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    HangUp();
  }

  // Reads what the program wrote until `text` shows (false after 30 s).
  bool AwaitOutput(const std::string& text) {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         std::chrono::steady_clock::now() < end;) {
      if (output_.find(text) != std::string::npos) return true;
      pollfd ready{master_, POLLIN, 0};
      if (::poll(&ready, 1, 100) <= 0) continue;
      char buffer[256];
      const ssize_t got = ::read(master_, buffer, sizeof buffer);
      if (got <= 0) return false;
      output_.append(buffer, static_cast<std::size_t>(got));
    }
    return false;
  }
  void HangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  int Wait() { return WaitForExit(pid_, 60000); }
  const std::string& Output() const { return output_; }

 private:
  int master_ = -1;
  pid_t pid_ = -1;
  std::string output_;
};

TEST_F(CliSimTest, AClosedTerminalMidKeyTransferLetsTheModemGetTheWholeKeyAndIsJournaled) {
  // Slow replies, so that the terminal closes with parts still to go.
  StartModem({"--delay-ms", "150"});
  test::WriteAll(dir / "name", "Plant 7\n");
  TerminalProcess run(exe, {"-p", link, "set-key", "--key-file", (dir / "name").string()}, xdg.string());
  ASSERT_TRUE(run.AwaitOutput("key parts acknowledged [####")) << run.Output();
  run.HangUp();
  const int status = run.Wait();
  EXPECT_NE(status, 128 + SIGHUP) << "the hang-up ended the program";
  EXPECT_NE(status, -1);
  EXPECT_THAT(LoggedCommands(), ::testing::IsSupersetOf(KeyPartCommands)) << "the modem did not get every part";
  ASSERT_EQ(JournalLines().size(), 1u) << Journal();
  EXPECT_THAT(JournalLines()[0], HasSubstr(",set-key,"));
  EXPECT_THAT(JournalLines()[0], HasSubstr(",ok,"));
}

}  // namespace
}  // namespace vorsal::testing
