// Stand-in modems for the production batch, and the batch run through
// vorsal-cli in-process on them (its thinnest client), with the journal's
// lines as fields.
#pragma once

#include "cli/commands.h"
#include "production/journal.h"
#include "sim/modem_model.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

namespace vorsal::testing {

namespace fs = std::filesystem;
using cli::ModemParams;
using cli::Outcome;

// One modem as the batch meets it, with the faults it can show.
struct FakeModem {
  int address = 1;  // factory default
  int network = NetworkService;
  ModemKey key{};
  bool keyFunctions = true;
  int keyPartLost = -1;          // this part of the key is never acknowledged
  bool addressReplyWrong = false;  // takes the address, answers with a wrong echo
  bool addressRefused = false;     // keeps its address, answers with a wrong echo
  bool writeUnanswered = false;    // takes the address; neither the write nor the read-back is answered
  std::function<void(int acknowledged)> onKeyPart;

  std::string Footprint() const {
    const ModemFootprintBytes bytes = ModemFootprint(key.data());
    char text[16];
    std::snprintf(text, sizeof text, "%02X.%02X.%02X.%02X", bytes[3], bytes[2], bytes[1], bytes[0]);
    return text;
  }
};

// The modems connected to one port in turn. A modem is disconnected at the
// second parameter read after it arrived or was last written to: the batch
// reads it back once, then waits for it to go, which two reads without a
// reply tell.
class FakeLine : public cli::ModemLine {
 public:
  // `idle` is called while no modem is left on the port.
  FakeLine(std::deque<FakeModem>* modems, std::function<void()> idle = {}) : modems_(modems), idle_(std::move(idle)) {}
  bool Open(std::string*) override { return open_ = true; }
  bool IsOpen() const override { return open_; }
  void Close() override { open_ = false; }
  std::string PortError() const override { return {}; }
  Outcome ReadParams(ModemParams& params) override {
    if (modems_->empty() && idle_) idle_();
    if (modems_->empty() || Abandoned()) return Outcome::NoReply;
    if (lostReads_ > 0) {
      --lostReads_;
      return Outcome::NoReply;
    }
    if (++readsSinceChange_ > 2) {
      // Unplugged: the port stays silent for a while before the next one.
      modems_->pop_front();
      readsSinceChange_ = 0;
      lostReads_ = 1;
      return Outcome::NoReply;
    }
    const FakeModem& modem = modems_->front();
    params = {modem.address, modem.network, "2.31", "", modem.keyFunctions};
    return Outcome::Ok;
  }
  Outcome WriteAddress(const ModemParams&, int address, int network) override {
    if (Abandoned()) return Outcome::NoReply;
    FakeModem& modem = modems_->front();
    if (modem.addressRefused) return Outcome::NotAccepted;
    modem.address = address;
    modem.network = network;
    readsSinceChange_ = 0;
    if (modem.writeUnanswered) {
      lostReads_ = 1;  // the read-back goes unanswered too
      return Outcome::NoReply;
    }
    return modem.addressReplyWrong ? Outcome::NotAccepted : Outcome::Ok;
  }
  Outcome SendKey(const std::uint8_t* key32, const std::function<void(int)>& progress) override {
    FakeModem& modem = modems_->front();
    readsSinceChange_ = 0;
    for (int part = 0; part < KeyPartCount; ++part) {
      if (Abandoned() || part == modem.keyPartLost) return Outcome::NoReply;
      std::copy(key32 + 4 * part, key32 + 4 * part + 4, modem.key.begin() + 4 * part);
      progress(part + 1);
      if (modem.onKeyPart) modem.onKeyPart(part + 1);
    }
    return Outcome::Ok;
  }
  Outcome ReadFootprint(std::string& footprint) override {
    if (modems_->empty() || Abandoned()) return Outcome::NoReply;
    footprint = modems_->front().Footprint();
    return Outcome::Ok;
  }
  void SetAbandon(std::function<bool()> abandon) override { abandon_ = std::move(abandon); }

 private:
  bool Abandoned() const { return abandon_ && abandon_(); }
  std::deque<FakeModem>* modems_;
  std::function<void()> idle_;
  std::function<bool()> abandon_;
  bool open_ = false;
  int readsSinceChange_ = 0;
  int lostReads_ = 0;
};

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
  std::vector<std::map<std::string, std::string>> Lines() const {
    std::vector<std::map<std::string, std::string>> lines;
    std::vector<std::string> header;
    for (const std::vector<std::string>& record : production::ParseCsv(test::ReadAll(journal))) {
      if (record[0] == "time") {
        header = record;
        continue;
      }
      std::map<std::string, std::string> fields;
      for (std::size_t i = 0; i < record.size() && i < header.size(); ++i) fields[header[i]] = record[i];
      lines.push_back(fields);
    }
    return lines;
  }

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
