// The command line of vorsal-cli: global options, one command and its
// options. Parsing never touches a port or a file, so it can be run on any
// input (and fuzzed).
#pragma once

#include "protocol/frame.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorsal::cli {

enum class Command { Ports, Read, Write, SetKey, Footprint, Batch, Help, Version };

// Exit statuses.
constexpr int ExitOk = 0;
constexpr int ExitUsage = 2;
constexpr int ExitPortFailed = 3;
constexpr int ExitNoReply = 4;
constexpr int ExitRefused = 5;
constexpr int ExitStoreFailed = 6;

using vorsal::MaxAddress;  // the protocol's address bounds

struct CliOptions {
  Command command = Command::Help;
  std::optional<Command> helpFor;  // COMMAND --help
  std::string port;                // as given to -p; empty: pick the one USB adapter
  int connectionType = 0;
  bool json = false;
  int retries = 0;
  std::string journal;             // empty: the default journal
  bool noJournal = false;
  int address = -1;                // write --address
  int network = -1;                // write/batch --network: 0 service, 1 working
  int start = -1;                  // batch --start
  int count = 0;                   // batch --count; 0: until stopped
  bool keyGiven = false;
  std::string keyName;             // Windows-1251 KeyName of set-key NAME or batch --key
  std::string keyNameUtf8;         // the same, as typed
};

struct ParsedCommandLine {
  CliOptions options;
  std::string error;  // one line naming the problem; empty when the line is good
  bool ok() const { return error.empty(); }
};

// `args` without the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// "service" or "working" for network code 0 or 1.
std::string_view NetworkName(int network);

// The --help text of the program (no command) or of one command.
std::string HelpText(std::optional<Command> command);

}  // namespace vorsal::cli
