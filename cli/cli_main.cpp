// vorsal-cli: the modem functions for scripts and production batches.
#include "cli/cli_args.h"
#include "cli/commands.h"

#include "platform/process.h"

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

// The first Ctrl+C asks for a clean stop; a second one ends the program
// (the handler gives the signal back to the system).
void RequestStop(int signal) {
  stopRequested = 1;
  std::signal(signal, SIG_DFL);
}

void CatchStopSignals() {
  for (const int signal : {SIGINT, SIGTERM}) std::signal(signal, RequestStop);
}

}  // namespace

int main(int argc, char** argv) {
  vorsal::platform::UseUtf8Console();
  const std::vector<std::string> args = vorsal::platform::ProgramArguments(argc, argv);
  const vorsal::cli::ParsedCommandLine parsed = vorsal::cli::ParseCommandLine(args);
  if (!parsed.ok()) {
    std::cerr << "vorsal-cli: " << parsed.error << '\n';
    return vorsal::cli::ExitUsage;
  }
  if (parsed.options.command == vorsal::cli::Command::Batch) {
    CatchStopSignals();
  }
  vorsal::cli::CliEnvironment env;
  env.out = &std::cout;
  env.err = &std::cerr;
  env.errIsTerminal = vorsal::platform::IsTerminal(vorsal::platform::StandardStream::Error);
  env.stopRequested = &stopRequested;
  return vorsal::cli::RunCli(parsed.options, env);
}
