// vorsal-cli against the modem simulator over a pty: one `vorsal-cli read`
// as a program, a write with verification and one batch step (read, write,
// verify) through the command line's own modem link.
//
// A pty moves bytes at once whatever its line speed, so the simulator's
// --delay-ms stands in for the wire: 267 ms per reply is what a request and
// its reply (8 bytes each, 10 bits a byte at 600 baud, 133 ms each way) take
// on a real line. The lower bound of N exchanges is then N times 267 ms plus
// the 8 ms pause after each request. The counter "x_bound" is the measured
// time over that bound.
#include "cli/commands.h"
#include "production/modem_link.h"
#include "support/sim_process.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr double WireMsPerExchange = 2 * 8 * 10 * 1000.0 / 600;  // both frames

std::string LinkPath() { return "/tmp/vorsal-modem-bench-" + std::to_string(::getpid()); }

bool StartSim(benchmark::State& state, vorsal::SimProcess& sim, int delayMs) {
  if (sim.Start(VORSAL_SIM_EXE, {"--link", LinkPath(), "--delay-ms", std::to_string(delayMs)})) return true;
  state.SkipWithError(sim.Error().c_str());
  return false;
}

void ReportBound(benchmark::State& state, int exchanges) {
  const double boundMs = exchanges * (WireMsPerExchange + vorsal::RequestPauseMs);
  state.counters["bound_ms"] = boundMs;
  // Seconds per iteration over the bound's seconds: the measured time as a
  // multiple of the bound.
  state.counters["x_bound"] = benchmark::Counter(static_cast<double>(state.iterations()) * boundMs / 1000.0,
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The whole program: start, open the port, one exchange with an instant
// modem, print, exit.
void BM_CliRead(benchmark::State& state) {
  vorsal::SimProcess sim;
  if (!StartSim(state, sim, 0)) return;
  const std::string link = LinkPath();
  std::vector<std::string> args = {VORSAL_CLI_EXE, "-p", link, "read"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  for (auto _ : state) {
    pid_t pid = -1;
    int status = 0;
    if (posix_spawn(&pid, VORSAL_CLI_EXE, &actions, nullptr, argv.data(), environ) != 0 ||
        ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("vorsal-cli read failed");
      break;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  sim.Stop();
}
BENCHMARK(BM_CliRead)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);

// A write and its verifying read: two exchanges.
void BM_WriteVerified(benchmark::State& state) {
  vorsal::SimProcess sim;
  if (!StartSim(state, sim, static_cast<int>(state.range(0)))) return;
  vorsal::production::ModemLink modem;
  modem.Open(LinkPath(), 0);
  vorsal::production::ModemParams current;
  if (modem.ReadParams(current) != vorsal::production::Outcome::Ok) state.SkipWithError("no reply to the first read");
  for (auto _ : state) {
    const int address = current.address == 100 ? 101 : 100;
    vorsal::production::ModemParams after;
    if (modem.WriteAddress(current, address, vorsal::NetworkService) != vorsal::production::Outcome::Ok ||
        modem.ReadParams(after) != vorsal::production::Outcome::Ok || after.address != address) {
      state.SkipWithError("the write was not verified");
      break;
    }
    current = after;
  }
  modem.Close();
  sim.Stop();
  ReportBound(state, 2);
}
BENCHMARK(BM_WriteVerified)->Arg(0)->Arg(267)->Iterations(6)->UseRealTime()->Unit(benchmark::kMillisecond);

// One batch step without a key: the read that finds the modem, the address
// write and the read that verifies it.
void BM_BatchStep(benchmark::State& state) {
  vorsal::SimProcess sim;
  if (!StartSim(state, sim, static_cast<int>(state.range(0)))) return;
  vorsal::production::ModemLink modem;
  modem.Open(LinkPath(), 0);
  int address = 100;
  for (auto _ : state) {
    vorsal::production::ModemParams current;
    if (modem.ReadParams(current) != vorsal::production::Outcome::Ok) {
      state.SkipWithError("no reply to the read");
      break;
    }
    vorsal::production::ModemParams after;
    if (modem.WriteAddress(current, address, vorsal::NetworkService) != vorsal::production::Outcome::Ok ||
        modem.ReadParams(after) != vorsal::production::Outcome::Ok || after.address != address) {
      state.SkipWithError("the address was not written");
      break;
    }
    address = address == 100 ? 101 : 100;
  }
  modem.Close();
  sim.Stop();
  ReportBound(state, 3);
}
// 0: the program's own time alone; 267: the wire's time at 600 baud.
BENCHMARK(BM_BatchStep)->Arg(0)->Arg(267)->Iterations(6)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
