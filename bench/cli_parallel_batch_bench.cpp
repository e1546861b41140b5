// vorsal-cli's batch on 1, 2 and 4 ports at once, each port a modem
// simulator over a pty, with the program's real 100 ms tick pacing.
//
// The simulator's --delay-ms 267 stands in for the wire at 600 baud (a
// request and its reply, 8 bytes each at 10 bits a byte, take 267 ms). A
// simulator cannot be unplugged, so a stand-in "technician" swaps modems:
// once a modem has been read back, the next poll for its disconnection
// sets it back to the factory address (one more exchange) and reports it
// gone for two polls; the next poll finds a "new" modem at address 1. A modem thus costs
// four exchanges: its first read, the address write, the read-back and the
// reset.
//
// Counter "modems_per_minute"; "x_one_port" is the speed over that of one
// port (4 ports should come to 3.5 or more, 16 ports to 14 or more).
//
// BM_WindowBatch runs the same batch as the production window runs it
// (ProductionRun with its ProductionModel, the model read for drawing every
// 100 ms as the window's timer does); "x_cli" is its time per modem over
// vorsal-cli's on as many ports (at most 1.05).
#include "cli/commands.h"
#include "support/sim_process.h"
#include "window/production_run.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using vorsal::cli::ModemLine;
using vorsal::cli::ModemParams;
using vorsal::cli::Outcome;

constexpr int WireDelayMs = 267;
constexpr int ModemsPerPort = 4;
constexpr int SilentPollsWhenSwapped = 2;  // the batch counts a modem gone after two silent polls

// A real line whose modem is "swapped" after it was read back.
class SwappingLine : public ModemLine {
 public:
  explicit SwappingLine(std::unique_ptr<ModemLine> line) : line_(std::move(line)) {}
  bool Open(std::string* failure) override { return line_->Open(failure); }
  bool IsOpen() const override { return line_->IsOpen(); }
  void Close() override { line_->Close(); }
  std::string PortError() const override { return line_->PortError(); }
  Outcome ReadParams(ModemParams& params) override {
    if (readsSinceWrite_ >= 0 && ++readsSinceWrite_ >= 2) {
      // Unplugged: the modem goes back to the factory address and stays
      // silent for as many polls as the batch needs to count it gone.
      if (readsSinceWrite_ == 2) line_->WriteAddress(written_, 1, vorsal::NetworkService);
      if (readsSinceWrite_ == 1 + SilentPollsWhenSwapped) readsSinceWrite_ = -1;
      return Outcome::NoReply;
    }
    const Outcome outcome = line_->ReadParams(params);
    if (outcome == Outcome::Ok) written_ = params;
    return outcome;
  }
  Outcome WriteAddress(const ModemParams& current, int address, int network) override {
    readsSinceWrite_ = 0;
    return line_->WriteAddress(current, address, network);
  }
  Outcome SendKey(const std::uint8_t* key32, const std::function<void(int)>& progress) override {
    return line_->SendKey(key32, progress);
  }
  Outcome ReadFootprint(std::string& footprint) override { return line_->ReadFootprint(footprint); }
  void SetAbandon(std::function<bool()> abandon) override { line_->SetAbandon(std::move(abandon)); }

 private:
  std::unique_ptr<ModemLine> line_;
  ModemParams written_;
  int readsSinceWrite_ = -1;
};

double onePortRate = 0;
std::map<int, double> cliSecondsPerModem;  // by port count

// The simulators of one run, and the links they serve.
struct Sims {
  std::vector<std::unique_ptr<vorsal::SimProcess>> processes;
  std::vector<std::string> links;
  bool Start(int portCount, benchmark::State& state) {
    for (int i = 0; i < portCount; ++i) {
      const std::string link = "/tmp/vorsal-batch-bench-" + std::to_string(::getpid()) + "-" + std::to_string(i);
      processes.push_back(std::make_unique<vorsal::SimProcess>());
      if (!processes.back()->Start(VORSAL_SIM_EXE, {"--link", link, "--delay-ms", std::to_string(WireDelayMs)})) {
        state.SkipWithError(processes.back()->Error().c_str());
        return false;
      }
      links.push_back(link);
    }
    return true;
  }
  ~Sims() {
    for (auto& sim : processes) sim->Stop();
  }
};

std::filesystem::path BenchJournal(const char* name) {
  auto path = std::filesystem::temp_directory_path() / (std::string(name) + std::to_string(::getpid()) + ".csv");
  std::filesystem::remove(path);
  return path;
}

void BM_ParallelBatch(benchmark::State& state) {
  const int portCount = static_cast<int>(state.range(0));
  Sims sims;
  if (!sims.Start(portCount, state)) return;
  std::vector<std::string> args;
  for (const auto& link : sims.links) args.insert(args.end(), {"-p", link});
  const int modems = ModemsPerPort * portCount;
  const auto journal = BenchJournal("vorsal-cli-bench-");
  args.insert(args.end(), {"--journal", journal.string(), "batch", "--start", "100", "--network", "service",
                           "--count", std::to_string(modems)});
  const vorsal::cli::ParsedCommandLine parsed = vorsal::cli::ParseCommandLine(args);
  double seconds = 0;
  for (auto _ : state) {
    std::ostringstream out, err;
    vorsal::cli::CliEnvironment env;
    env.out = &out;
    env.err = &err;
    env.openLine = [&](const std::string& path) {
      return std::make_unique<SwappingLine>(vorsal::cli::MakeLinkLine(path, 0, {}, 0));
    };
    const auto start = std::chrono::steady_clock::now();
    const int status = vorsal::cli::RunCli(parsed.options, env);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0 || out.str().find("done " + std::to_string(modems) + ",") == std::string::npos) {
      state.SkipWithError(("batch failed: " + out.str() + err.str()).c_str());
      break;
    }
  }
  std::filesystem::remove(journal);
  const double rate = static_cast<double>(state.iterations()) * modems * 60.0 / seconds;
  if (portCount == 1) onePortRate = rate;
  cliSecondsPerModem[portCount] = seconds / (static_cast<double>(state.iterations()) * modems);
  state.counters["modems_per_minute"] = rate;
  if (onePortRate > 0) state.counters["x_one_port"] = rate / onePortRate;
}
BENCHMARK(BM_ParallelBatch)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(16)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

void BM_WindowBatch(benchmark::State& state) {
  const int portCount = static_cast<int>(state.range(0));
  Sims sims;
  if (!sims.Start(portCount, state)) return;
  const int modems = ModemsPerPort * portCount;
  const auto journal = BenchJournal("vorsal-window-bench-");
  double seconds = 0;
  for (auto _ : state) {
    vorsal::ProductionModel model;
    vorsal::ProductionRunEnvironment environment;
    environment.openLine = [&](const std::string& path) -> std::unique_ptr<vorsal::production::ModemLine> {
      return std::make_unique<SwappingLine>(vorsal::cli::MakeLinkLine(path, 0, {}, 0));
    };
    vorsal::ProductionRun run(model, environment);
    vorsal::ProductionRunSetup setup;
    setup.settings.allUsbAdapters = false;
    setup.settings.ports = sims.links;
    setup.settings.network = vorsal::NetworkService;
    setup.settings.start = 100;
    setup.settings.count = modems;
    for (const auto& link : sims.links) setup.ports.push_back(vorsal::production::BatchPort{link, {}});
    setup.journal = journal;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    if (!run.Start(setup, {}, error)) {
      state.SkipWithError(("window run failed: " + error).c_str());
      break;
    }
    // The window's timer: draw the model every 100 ms until the run returns.
    std::size_t drawn = 0;
    while (!run.Poll()) {
      drawn += model.Tiles().size() + model.JournalLines().size() + model.Counters().next.size();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    benchmark::DoNotOptimize(drawn);
    if (model.Counters().done != modems) {
      state.SkipWithError(("window run done " + std::to_string(model.Counters().done)).c_str());
      break;
    }
  }
  std::filesystem::remove(journal);
  const double perModem = seconds / (static_cast<double>(state.iterations()) * modems);
  state.counters["modems_per_minute"] = 60.0 / perModem;
  if (cliSecondsPerModem.count(portCount)) state.counters["x_cli"] = perModem / cliSecondsPerModem[portCount];
}
BENCHMARK(BM_WindowBatch)->Arg(1)->Arg(4)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
