// One address taken from the production registry, as a batch takes one for
// every modem: a transaction with the network's lock, the search for the
// lowest free address and its insert. Against a server of the benchmark's
// own (a fresh cluster on a Unix socket), or the one VORSAL_REGISTRY names.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "production/journal_record.h"
#include "registry/registry.h"
#include "support/postgres_server.h"

namespace {

using vorsal::registry::Registry;
using vorsal::registry::Status;

std::unique_ptr<vorsal::test::PostgresServer> server;

// Started once, whichever thread asks first.
std::string Target() {
  static const std::string target = [] {
    if (const char* given = std::getenv("VORSAL_REGISTRY")) return std::string(given);
    server = std::make_unique<vorsal::test::PostgresServer>();
    std::string problem;
    if (!server->Start(problem) || !server->CreateDatabase("bench")) {
      std::cerr << "registry_bench: " << problem << "\n";
      std::exit(1);
    }
    return server->ConnectionString("bench");
  }();
  return target;
}

void BM_TakeAddress(benchmark::State& state) {
  Registry registry(vorsal::production::RegistryColumns());
  std::string error;
  if (registry.Connect(Target(), error, true) != Status::Ok || registry.Init(error) != Status::Ok) {
    state.SkipWithError(error.c_str());
    return;
  }
  // A network of its own whenever one is full, so that the table grows to
  // a full network's worth of addresses and every address is a fresh one.
  // Stations running at once share one network, as they do in production.
  static std::atomic<int> sharedNetwork{100};
  int network = sharedNetwork.load();
  int taken = 0;
  for (auto _ : state) {
    int address = -1;
    Status status = registry.TakeAddress(network, 1, 4095, {"bench", "host", "op", "port"}, address, error);
    if (status == Status::Exhausted) {
      sharedNetwork.compare_exchange_strong(network, network + 1);
      network = sharedNetwork.load();
      status = registry.TakeAddress(network, 1, 4095, {"bench", "host", "op", "port"}, address, error);
    }
    if (status != Status::Ok) {
      state.SkipWithError(error.c_str());
      break;
    }
    ++taken;
  }
  state.counters["addresses"] = taken;
}
// One station, and four stations taking addresses of one network at once
// (each with its own connection).
BENCHMARK(BM_TakeAddress)->Unit(benchmark::kMillisecond)->Threads(1)->Threads(4)->UseRealTime();

}  // namespace
