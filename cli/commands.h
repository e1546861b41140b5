// The commands of vorsal-cli, run on the thread whose modem link receives
// the serial port's events.
#pragma once

#include "cli/cli_args.h"
#include "cli/modem_link.h"
#include "keys/key_derivation.h"

#include <csignal>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace vorsal::cli {

struct CliEnvironment {
  std::ostream* out = nullptr;  // results
  std::ostream* err = nullptr;  // progress and messages
  bool errIsTerminal = false;   // a progress bar instead of progress lines
  std::function<void(int ms)> sleep;  // paces the batch's polls; empty: real sleeps
  LinkClock* clock = nullptr;         // the modem link's time; null: the system's
  std::string sysfsRoot = "/sys";
  std::string byIdDir = "/dev/serial/by-id";
  // Set by the program's SIGINT/SIGTERM handler; batch stops between exchanges.
  const volatile std::sig_atomic_t* stopRequested = nullptr;
};

int RunCli(const CliOptions& options, CliEnvironment& env);

// Exit status of an exchange's outcome.
int ExitCodeOf(Outcome outcome);

// One modem of a batch once it has answered with `current`: writes the
// address and network (and the key), then verifies by reading back (and the
// footprint, which must equal `referenceFootprint` once that is set; the
// first verified footprint sets it).
struct ModemStep {
  Outcome outcome = Outcome::Ok;
  int exitCode = ExitOk;
  std::string message;    // what failed; empty on success
  std::string footprint;
};
ModemStep ConfigureModem(ModemLink& link, const ModemParams& current, int address, int network,
                         const BinaryKeyBytes* key, std::string& referenceFootprint,
                         const std::function<void(int)>& keyProgress = {});

}  // namespace vorsal::cli
