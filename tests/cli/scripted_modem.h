// vorsal-cli's commands in-process against a modem the test plays on a pty
// pair, on a clock of the test's own: whenever the link would wait, the modem
// model answers what it has been sent, and the clock moves on to the moment
// the next reply is due, or to the link's deadline when none is. A 5 s reply
// time-out thus passes at once, and no test sleeps through one.
#pragma once

#include "app/identity.h"
#include "cli/cli_args.h"
#include "cli/commands.h"
#include "production/modem_link.h"
#include "sim/modem_model.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace vorsal::testing {

class ScriptedModem : public cli::LinkClock {
 public:
  explicit ScriptedModem(const ModemOptions& options = {}) : model(options) {}

  TimePoint Now() override { return now; }
  // The engine pauses right after each request it writes.
  void Sleep(int ms) override {
    now += std::chrono::milliseconds(ms);
    requestWritten_ = true;
  }
  void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, TimePoint deadline,
                 const std::function<bool()>& ready) override {
    if (ready()) return;
    lock.unlock();
    const bool coming = Serve(deadline);
    lock.lock();
    if (coming) {
      // The bytes are on their way through the port's event thread; the
      // bound only keeps a broken port from hanging the suite.
      wake.wait_for(lock, std::chrono::seconds(30), ready);
    } else {
      now = std::max(now, deadline);
    }
  }

  ModemModel model;
  test::PtyPair pty;
  TimePoint now{};
  // Extra delay of the Nth reply (0-based), in ms: a modem that answers late.
  std::map<int, int> lateBy;

 private:
  struct Due {
    TimePoint at;
    std::vector<std::uint8_t> bytes;
  };

  // Feeds what the link sent to the model; writes every reply byte due by
  // the earliest moment something is due, if that is before `deadline`.
  // True when it wrote something.
  bool Serve(TimePoint deadline) {
    // A request the link has just written may still be on its way through
    // the pty: give it a moment to arrive.
    TakeRequests(requestWritten_ ? 5000 : 0);
    requestWritten_ = false;
    // Bytes the link has not read yet: their delivery is on its way.
    if (Unread() > 0) return true;
    if (due_.empty() || due_.front().at > deadline) return false;
    now = std::max(now, due_.front().at);
    std::vector<std::uint8_t> bytes;
    while (!due_.empty() && due_.front().at <= now) {
      bytes.insert(bytes.end(), due_.front().bytes.begin(), due_.front().bytes.end());
      due_.pop_front();
    }
    pty.WriteMaster(bytes);
    // All of them reach the port's input queue before the link reads any,
    // so a delivery never finds part of a reply with the rest still on the
    // way (Unread() would miss it).
    for (int waited = 0; Unread() < static_cast<int>(bytes.size()) && waited < 1000; ++waited) ::usleep(1000);
    return true;
  }

  int Unread() const {
    int count = 0;
    return ::ioctl(pty.Slave(), FIONREAD, &count) == 0 ? count : 0;
  }

  void TakeRequests(int waitMs) {
    pollfd p{pty.Master(), POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return;
    std::uint8_t buffer[256];
    for (ssize_t n; (n = ::read(pty.Master(), buffer, sizeof buffer)) > 0;) {
      for (const ModemOutput& out : model.Feed(buffer, static_cast<std::size_t>(n))) {
        // Replies keep their order, as the simulator sends them.
        TimePoint at = std::max(now, due_.empty() ? now : due_.back().at);
        const auto late = lateBy.find(replies_++);
        if (late != lateBy.end()) at += std::chrono::milliseconds(late->second);
        for (const ReplyChunk& chunk : out.chunks) {
          at += std::chrono::milliseconds(chunk.pauseMs);
          due_.push_back({at, chunk.bytes});
        }
      }
    }
  }

  std::deque<Due> due_;
  int replies_ = 0;
  bool requestWritten_ = false;
};

// RunCli on the scripted modem's port, with the journal and Keys.ini in the
// test's directory.
class CliInProcess : public ::testing::Test {
 protected:
  struct Result {
    int status;
    std::string out;
    std::string err;
  };

  void SetUp() override {
    savedAppDir_ = AppDir;
    AppDir = dir.path().string() + "/";
  }
  void TearDown() override { AppDir = savedAppDir_; }

  Result Run(ScriptedModem& modem, std::vector<std::string> args) {
    args.insert(args.begin(), {"-p", modem.pty.SlavePath(), "--journal", (dir / "journal.csv").string()});
    const cli::ParsedCommandLine parsed = cli::ParseCommandLine(args);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    std::ostringstream out, err;
    cli::CliEnvironment env;
    env.out = &out;
    env.err = &err;
    env.clock = &modem;
    env.sleep = [&modem](int ms) { modem.Sleep(ms); };
    const int status = cli::RunCli(parsed.options, env);
    return {status, out.str(), err.str()};
  }
  // The journal's last line.
  std::string LastJournalLine() const {
    std::string text = test::ReadAll(dir / "journal.csv");
    if (text.size() >= 2) text.resize(text.size() - 2);
    return text.substr(text.rfind("\r\n") + 2);
  }

  test::TempDir dir;

 private:
  std::string savedAppDir_;
};

}  // namespace vorsal::testing
