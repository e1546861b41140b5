// vorsal-cli: the modem functions for scripts and production batches.
#include "cli/cli_args.h"
#include "cli/commands.h"
#include "keys/key_name_input.h"
#include "platform/process.h"
#include "platform/stop_signals.h"
#include "platform/terminal_input.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  using namespace vorsal;
  platform::UseUtf8Console();
  const std::vector<std::string> args = platform::ProgramArguments(argc, argv);
  const cli::ParsedCommandLine parsed = cli::ParseCommandLine(args);
  if (!parsed.ok()) {
    std::cerr << "vorsal-cli: " << parsed.error << '\n';
    return cli::ExitUsage;
  }
  // A closed output pipe is reported as an error, after the journal line.
  platform::IgnoreBrokenPipe();
  cli::CliEnvironment env;
  env.out = &std::cout;
  env.err = &std::cerr;
  env.in = &std::cin;
  env.errIsTerminal = platform::IsTerminal(platform::StandardStream::Error);
  env.stopSignals = &platform::StopSignalCounter();
  env.catchStops = [](cli::Command command) {
    if (command == cli::Command::Batch) {
      platform::CatchStopSignals("\nvorsal-cli: stopping after this modem (Ctrl+C again to stop at once)\n",
                                 "\nvorsal-cli: stopping now; what the modem got is journaled\n");
    } else {
      platform::CatchStopSignals("\nvorsal-cli: finishing the exchange with the modem (Ctrl+C again to stop at once)\n",
                                 "\nvorsal-cli: stopping now; what the modem got is journaled\n");
    }
  };
  if (platform::IsTerminal(platform::StandardStream::Input)) {
    env.readSecret = [](const std::string& prompt) {
      return platform::ReadSecretLine(prompt, KeyNameLineMaxBytes + 1);
    };
    env.ask = [](const std::string& question) -> std::optional<std::string> {
      std::cerr << question << std::flush;
      std::string answer;
      if (!std::getline(std::cin, answer)) return std::nullopt;
      return answer;
    };
  }
  return cli::RunCli(parsed.options, env);
}
