// What vorsal-cli's commands share while one runs: the options, the
// environment, the output, the ports, the run's journal and registry.
#pragma once

#include "cli/commands.h"
#include "cli/output.h"
#include "production/journal.h"
#include "production/registry_link.h"
#include "production/run_opening.h"
#include "production/system_ports.h"
#include "serial/usb_identity.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vorsal::cli {

using PortInfo = production::SystemPort;

class CommandContext {
 public:
  CommandContext(const CliOptions& options, CliEnvironment& env);

  CliOptions options;
  CliEnvironment& env;
  Output output;
  production::Journal journal;
  production::RegistryLink registry;
  production::RunIdentity run;

  int StopCount() const { return env.stopSignals != nullptr ? env.stopSignals->load() : 0; }
  // Starts counting stop signals, just before a command talks to a modem it
  // may change.
  void CatchStops() {
    if (env.catchStops) env.catchStops(options.command);
  }
  std::unique_ptr<ModemLine> MakeLine(const std::string& path) const;

  // The system's serial ports with their USB identities.
  std::vector<PortInfo> ListPorts() const;
  // "PATH  VID:PID MANUFACTURER PRODUCT serial SERIAL  BY-ID".
  static std::string Describe(const PortInfo& port);

  // The journal's file (--journal, else journal.csv in the user's data
  // directory; empty when there is none).
  std::filesystem::path JournalPath() const;
  // Opens the journal unless --no-journal; ExitOk or the failure's status.
  int OpenJournal();
  // Connects to the registry named by --registry or VORSAL_REGISTRY (none:
  // nothing to do) and sends the lines an earlier run could not.
  int OpenRegistry(production::RegistryLink::Use use);

 private:
  // Says an opening's notes and its failure; ExitOk or the failure's status.
  int Said(const production::Opening& opening);
};

int RunSingleCommand(CommandContext& context);
int RunBatch(CommandContext& context);
int RunJournal(CommandContext& context);
int RunReport(CommandContext& context);

}  // namespace vorsal::cli
