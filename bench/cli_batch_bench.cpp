// One batch step of vorsal-cli (read, write, verify) against the modem
// simulator over a pty, with the program's real 100 ms tick pacing.
//
// A pty moves bytes at once whatever its line speed, so the simulator's
// --delay-ms stands in for the wire: 267 ms per reply is what a request and
// its reply (8 bytes each, 10 bits a byte at 600 baud, 133 ms each way) take
// on a real line. The lower bound of a step is then three exchanges of
// 267 ms plus the 8 ms pause after each request: 824 ms. The counter
// "x_bound" is the measured time over that bound.
#include "cli/commands.h"
#include "cli/modem_link.h"
#include "sim/sim_process.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <unistd.h>

#include <string>

namespace {

constexpr double WireMsPerExchange = 2 * 8 * 10 * 1000.0 / 600;  // both frames
constexpr int ExchangesPerStep = 3;

void BM_BatchStep(benchmark::State& state) {
  const int wireDelayMs = static_cast<int>(state.range(0));
  const std::string link = "/tmp/vorsal-modem-bench-" + std::to_string(::getpid());
  vorsal::SimProcess sim;
  if (!sim.Start(VORSAL_SIM_EXE, {"--link", link, "--delay-ms", std::to_string(wireDelayMs)})) {
    state.SkipWithError(sim.Error().c_str());
    return;
  }
  vorsal::cli::ModemLink modem;
  modem.Open(link, 0);
  int address = 100;
  for (auto _ : state) {
    vorsal::cli::ModemParams current;
    if (modem.ReadParams(current) != vorsal::cli::Outcome::Ok) {
      state.SkipWithError("no reply to the read");
      break;
    }
    vorsal::cli::ModemParams after;
    if (modem.WriteAddress(current, address, vorsal::NetworkService) != vorsal::cli::Outcome::Ok ||
        modem.ReadParams(after) != vorsal::cli::Outcome::Ok || after.address != address) {
      state.SkipWithError("the address was not written");
      break;
    }
    address = address == 100 ? 101 : 100;
  }
  modem.Close();
  sim.Stop();
  const double boundMs = ExchangesPerStep * (WireMsPerExchange + vorsal::RequestPauseMs);
  state.counters["bound_ms"] = boundMs;
  // Seconds per step over the bound's seconds: the measured time as a
  // multiple of the bound.
  state.counters["x_bound"] = benchmark::Counter(static_cast<double>(state.iterations()) * boundMs / 1000.0,
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
// 0: the program's own time alone; 267: the wire's time at 600 baud.
BENCHMARK(BM_BatchStep)->Arg(0)->Arg(267)->Iterations(6)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
