// vorsal-cli: the modem functions for scripts and production batches.
#include "cli/cli_args.h"
#include "cli/commands.h"

#include <unistd.h>

#include <signal.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

// The first Ctrl+C asks for a clean stop; a second one ends the program.
void RequestStop(int) { stopRequested = 1; }

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM}) sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
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
  env.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  env.stopRequested = &stopRequested;
  return vorsal::cli::RunCli(parsed.options, env);
}
