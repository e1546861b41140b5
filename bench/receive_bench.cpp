// Speed of the receive path: bytes through the received-characters handler
// and the receive tick, for a stream of back-to-back valid replies (one frame
// per 8 bytes) and for pure noise (a checksum test at every byte). The line
// brings at most 960 bytes per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "protocol/exchange_engine.h"

namespace {

using namespace vorsal;

class SilentView : public ExchangeView {
 public:
  void SetAddressText(std::string_view) override {}
  void SetNetworkBoxes(bool) override {}
  void SetVersionText(std::string_view) override {}
  void SetFootprintText(std::string_view) override {}
  bool AutoIncrementChecked() const override { return false; }
  int NewAddress() const override { return 0; }
  void SetNewAddress(int) override {}
  void ShowParametersPanels(bool) override {}
  void SetGaugeMaximum(int) override {}
  int GaugeMaximum() const override { return 50; }
  void SetGaugeProgress(int) override {}
  int GaugeProgress() const override { return 1; }
  void SetGaugeColors(GaugeColor, GaugeColor) override {}
  void SetGaugeTimerEnabled(bool) override {}
  void SetStatusText(int, std::string_view) override {}
};

// Serves a fixed stream over and over; `pending` bytes are waiting.
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

std::vector<std::uint8_t> ValidFrames() {
  std::vector<std::uint8_t> stream;
  for (int i = 0; i < 512; ++i) {
    ModemFrame frame{0, 0, 0, CmdReadFootprint, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 0x5A, 0xA5};
    PutFrameCrc(frame.data());
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  return stream;
}

std::vector<std::uint8_t> Noise() {
  std::mt19937 random(7);
  std::vector<std::uint8_t> stream(4096);
  for (auto& b : stream) b = static_cast<std::uint8_t>(random());
  return stream;
}

// range(0): bytes per received-characters event, one tick after each event.
void Receive(benchmark::State& state, std::vector<std::uint8_t> stream) {
  SilentView view;
  LoopPort port(std::move(stream));
  ExchangeEngine engine(view, port, [](int) {});
  const int chunk = static_cast<int>(state.range(0));
  for (auto _ : state) {
    port.pending = chunk;
    engine.CommPortRxChar();
    engine.TimerRXTimer();
  }
  benchmark::DoNotOptimize(engine.ReceivedByteCount);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * chunk);
}

void BM_ReceiveValidFrames(benchmark::State& state) { Receive(state, ValidFrames()); }
void BM_ReceiveNoise(benchmark::State& state) { Receive(state, Noise()); }

BENCHMARK(BM_ReceiveValidFrames)->Arg(8)->Arg(96)->Arg(255);
BENCHMARK(BM_ReceiveNoise)->Arg(8)->Arg(96)->Arg(255);

}  // namespace
