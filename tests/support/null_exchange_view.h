// Stand-ins for the main window and the serial port that show and record
// nothing, for measuring the engine and for checking that its own work
// allocates no memory. Header-only and free of GoogleTest, so the benchmarks
// use them as well.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "protocol/exchange_view.h"

namespace vorsal::testing {

class NullExchangeView : public ReplyListener, public SupervisionView {
 public:
  void ParamsRead(const ParamsReply&) override {}
  void AddressWritten(const AddressReply&) override {}
  void FootprintRead(const KeyFootprint&) override {}
  void KeyPartAcknowledged(int) override {}
  void ShowByteCountPanel(int) override {}
  void ShowPortPanel(bool) override {}
  void ShowExchangePanel(std::uint8_t) override {}
  void SetGaugeMaximum(int) override {}
  int GaugeMaximum() const override { return 50; }
  void SetGaugeProgress(int) override {}
  int GaugeProgress() const override { return 1; }
  void SetGaugeColors(GaugeColor, GaugeColor) override {}
  void SetGaugeTimerEnabled(bool) override {}
};

// Serves a fixed byte stream over and over; `pending` bytes are waiting to
// be read. Writes are swallowed.
class LoopPort : public ModemPort {
 public:
  explicit LoopPort(std::vector<std::uint8_t> stream) : stream_(std::move(stream)) {}
  int pending = 0;

  bool Connected() const override { return true; }
  int Write(const std::uint8_t*, int count) override { return count; }
  int Read(std::uint8_t* buffer, int count) override {
    const int n = std::min(count, pending);
    for (int done = 0; done < n;) {
      const int run = std::min(n - done, static_cast<int>(stream_.size() - position_));
      std::memcpy(buffer + done, stream_.data() + position_, static_cast<std::size_t>(run));
      done += run;
      position_ = (position_ + static_cast<std::size_t>(run)) % stream_.size();
    }
    pending -= n;
    return n;
  }

 private:
  std::vector<std::uint8_t> stream_;
  std::size_t position_ = 0;
};

}  // namespace vorsal::testing
