// The commands of vorsal-cli. Single commands run on the calling thread; a
// batch (production/batch.h) serves each of its ports on a thread of its
// own. Each modem link receives its serial port's events on the thread that
// uses it.
#pragma once

#include "cli/cli_args.h"
#include "production/modem_steps.h"
#include "keys/key_derivation.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace vorsal::cli {

using production::LinkClock;
using production::ModemLine;
using production::ModemLink;
using production::ModemParams;
using production::Outcome;

struct CliEnvironment {
  std::ostream* out = nullptr;  // results
  std::ostream* err = nullptr;  // progress and messages
  bool errIsTerminal = false;   // a progress bar instead of progress lines
  std::function<void(int ms)> sleep;  // paces the batch's polls; empty: real sleeps
  LinkClock* clock = nullptr;         // the modem link's time; null: the system's
  std::string sysfsRoot = "/sys";
  std::string byIdDir = "/dev/serial/by-id";
  std::filesystem::path keyStore;  // Keys.ini; empty: where the program keeps it
  // Stop signals (SIGINT, SIGTERM) counted so far; null when none are
  // caught. The first stops after the modems in hand, the second abandons
  // the exchanges in progress.
  const std::atomic<int>* stopSignals = nullptr;
  // Called once, just before a command that changes modems starts talking
  // to one, to start counting stop signals; empty: nothing to start.
  std::function<void(Command)> catchStops;
  // Standard input, for a key name piped in; null: none.
  std::istream* in = nullptr;
  // Reads a line typed on the terminal without showing it, after a prompt;
  // empty when standard input is no terminal.
  std::function<std::optional<std::string>(const std::string& prompt)> readSecret;
  // Asks a question on the terminal and returns the answer; empty when
  // there is no terminal to ask on.
  std::function<std::optional<std::string>(const std::string& question)> ask;
  // The line to the modem at a device path, created on the thread that
  // uses it; empty: a ModemLink on the device.
  std::function<std::unique_ptr<ModemLine>(const std::string& path)> openLine;
};

int RunCli(const CliOptions& options, CliEnvironment& env);

// Exit status of an exchange's outcome, and of how an operation ended.
int ExitCodeOf(Outcome outcome);
int ExitCodeOf(production::Verdict verdict);

// A ModemLink on the device at `path` as a ModemLine.
// `clock`: null for the system clock.
std::unique_ptr<ModemLine> MakeLinkLine(const std::string& path, int connectionType, LinkClock* clock,
                                        int retries);

}  // namespace vorsal::cli
