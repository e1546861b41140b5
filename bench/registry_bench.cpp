// One address taken from the production registry, as a batch takes one for
// every modem: a transaction with the network's lock, the search for the
// lowest free address and its insert. Against a server of the benchmark's
// own (a fresh cluster on a Unix socket), or the one VORSAL_REGISTRY names.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "registry/registry.h"
#include "support/postgres_server.h"

namespace {

using vorsal::registry::Registry;
using vorsal::registry::Status;

std::unique_ptr<vorsal::test::PostgresServer> server;

std::string Target() {
  if (const char* target = std::getenv("VORSAL_REGISTRY")) return target;
  if (!server) {
    server = std::make_unique<vorsal::test::PostgresServer>();
    std::string problem;
    if (!server->Start(problem) || !server->CreateDatabase("bench")) {
      std::cerr << "registry_bench: " << problem << "\n";
      std::exit(1);
    }
  }
  return server->ConnectionString("bench");
}

void BM_TakeAddress(benchmark::State& state) {
  Registry registry;
  std::string error;
  if (registry.Connect(Target(), error, true) != Status::Ok || registry.Init(error) != Status::Ok) {
    state.SkipWithError(error.c_str());
    return;
  }
  // A network of its own whenever one is full, so that the table grows to
  // a full network's worth of addresses and every address is a fresh one.
  static int network = 100;
  int taken = 0;
  for (auto _ : state) {
    int address = -1;
    Status status = registry.TakeAddress(network, 1, 4095, {"bench", "host", "op", "port"}, address, error);
    if (status == Status::Exhausted) {
      ++network;
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
BENCHMARK(BM_TakeAddress)->Unit(benchmark::kMillisecond);

}  // namespace
