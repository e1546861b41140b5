// Stand-in modems for the production batch, and the batch run through
// vorsal-cli in-process on them (its thinnest client), with the journal's
// lines as fields.
#pragma once

#include "cli/commands.h"
#include "production/journal.h"
#include "tests/production/fake_line.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

namespace vorsal::testing {

namespace fs = std::filesystem;

struct CliRun {
  int status;
  std::string out, err;
};

class CliBatch : public ::testing::Test {
 protected:
  CliBatch() {
    // A stored key, so nothing is derived and nothing is written beside the
    // test program.
    test::WriteAll(keyStore, "[Keys]\r\nK=" + std::string(64, '5') + "\r\n");
  }

  // `closed`: standard output goes nowhere (a full disk, a closed pipe).
  CliRun Cli(std::vector<std::string> args, bool closed = false) {
    args.insert(args.begin(), {"--journal", journal.string()});
    for (const auto& [port, unused] : ports) args.insert(args.begin(), {"-p", port});
    const cli::ParsedCommandLine parsed = cli::ParseCommandLine(args);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    std::ostringstream out, err;
    if (closed) out.setstate(std::ios::badbit);
    cli::CliEnvironment env;
    env.out = &out;
    env.err = &err;
    env.sleep = [](int) {};
    env.keyStore = keyStore;
    env.stopSignals = &stops;
    env.ask = ask;
    env.openLine = [this](const std::string& path) {
      const std::string name = fs::path(path).filename().string();
      // Once every port has run out of modems, the operator presses Ctrl+C.
      return std::make_unique<FakeLine>(&ports.at(name), [this, name] {
        const std::lock_guard<std::mutex> guard(idleMutex);
        idle.insert(name);
        int none = 0;
        if (idle.size() == ports.size()) stops.compare_exchange_strong(none, 1);
      });
    };
    const int status = cli::RunCli(parsed.options, env);
    return {status, out.str(), err.str()};
  }

  // The journal's lines after the header, split into fields.
  std::vector<std::map<std::string, std::string>> Lines() const { return JournalFields(journal); }

  test::TempDir dir;
  const fs::path journal = dir / "journal.csv";
  const fs::path keyStore = dir / "Keys.ini";
  std::map<std::string, std::deque<FakeModem>> ports;
  std::atomic<int> stops{0};
  std::mutex idleMutex;
  std::set<std::string> idle;
  std::function<std::optional<std::string>(const std::string&)> ask;
};

}  // namespace vorsal::testing
