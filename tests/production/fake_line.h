// Stand-in modems for the production batch (each port's modems arrive in
// turn, with the faults a modem can show); the journal it writes is read
// back with tests/production/journal_lines.h.
#pragma once

#include "production/journal.h"
#include "production/modem_steps.h"
#include "tests/production/journal_lines.h"
#include "tests/support/temp_files.h"
#include "sim/modem_model.h"

#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <string>

namespace vorsal::testing {

using production::ModemParams;
using production::Outcome;

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
  // Unanswered reads between the one before and this one: 0 for a flaky
  // modem that drops off the line and is back at once.
  int silentBefore = 1;

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
// reply tell; the next arrives after its `silentBefore` reads more.
class FakeLine : public production::ModemLine {
 public:
  // `idle` is called while no modem is left on the port.
  FakeLine(std::deque<FakeModem>* modems, std::function<void()> idle = {}) : modems_(modems), idle_(std::move(idle)) {}
  bool Open(std::string*) override {
    if (absentOpens > 0) return --absentOpens, open_ = false;
    return open_ = true;
  }
  bool Missing() const override { return !open_; }
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
      lostReads_ = 1 + (modems_->empty() ? 0 : modems_->front().silentBefore);
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

  int absentOpens = 0;  // the device is not there for this many openings

 private:
  bool Abandoned() const { return abandon_ && abandon_(); }
  std::deque<FakeModem>* modems_;
  std::function<void()> idle_;
  std::function<bool()> abandon_;
  bool open_ = false;
  int readsSinceChange_ = 0;
  int lostReads_ = 0;
};

}  // namespace vorsal::testing
