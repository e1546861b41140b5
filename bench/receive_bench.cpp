// Speed of the receive path: bytes through the received-characters handler
// and the receive tick, for a stream of back-to-back valid replies (one frame
// per 8 bytes) and for pure noise (a checksum test at every byte). The line
// brings at most 960 bytes per second.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "protocol/exchange_engine.h"
#include "tests/support/null_exchange_view.h"

namespace {

using namespace vorsal;
using vorsal::testing::LoopPort;
using vorsal::testing::NullExchangeView;

std::vector<std::uint8_t> ValidFrames() {
  std::vector<std::uint8_t> stream;
  for (int i = 0; i < 512; ++i) {
    ModemFrame frame{0, 0, 0, CmdReadFootprint, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 0x5A, 0xA5};
    PutFrameCrc(frame.data(), 0);
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
  NullExchangeView view;
  LoopPort port(std::move(stream));
  ExchangeEngine engine(view, port, {}, &view, [](int) {});
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
