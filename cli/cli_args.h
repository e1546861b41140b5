// The command line of vorsal-cli: global options, one command and its
// options. Parsing never touches a port or a file, so it can be run on any
// input (and fuzzed).
#pragma once

#include "app/option_table.h"
#include "production/journal_record.h"
#include "protocol/frame.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorsal::cli {

enum class Command { Ports, Read, Write, SetKey, Footprint, Batch, Journal, Report, Registry, Help, Version };

// Exit statuses.
constexpr int ExitOk = 0;
constexpr int ExitOutputFailed = 1;  // the results could not be written (standard output, the report's file)
constexpr int ExitUsage = 2;
constexpr int ExitPortFailed = 3;
constexpr int ExitNoReply = 4;
constexpr int ExitRefused = 5;
constexpr int ExitStoreFailed = 6;
constexpr int ExitInterrupted = 130;  // a second stop signal abandoned an exchange

using vorsal::MaxAddress;  // the protocol's address bounds

struct CliOptions {
  Command command = Command::Help;
  std::optional<Command> helpFor;  // COMMAND --help
  std::string port;                // as given to the last -p; empty: pick the one USB adapter
  std::vector<std::string> ports;  // every -p in order (batch takes several)
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
  // Where the key name is read from when it is not on the command line:
  // a file's first line, or "-" for standard input (a no-echo prompt on a
  // terminal). keyGiven is set and keyName stays empty until it is read.
  std::string keyFile;
  // The production registry (batch, journal, registry init): a PostgreSQL
  // connection string or URI; empty: VORSAL_REGISTRY, else none.
  std::string registry;
  // Which journal lines journal and report cover: --since and --until as
  // typed and as moments (inclusive), --run, --station.
  std::string sinceText, untilText;
  std::optional<long long> since, until;
  std::string runId, station;
  bool csv = false;          // journal --csv: the lines themselves, in the journal's format
  bool spreadsheet = false;  // journal --spreadsheet: the same for a spreadsheet (BOM, semicolons)
  std::string output;        // -o FILE: report (and journal --csv) output; empty: standard output
};

// Sets the key name from text as typed (trimmed, converted to
// Windows-1251). False with `error` set when it has no Windows-1251 form or
// is empty.
bool AssignKeyName(CliOptions& options, std::string_view typed, std::string* error);

struct ParsedCommandLine {
  CliOptions options;
  std::string error;  // one line naming the problem; empty when the line is good
  bool ok() const { return error.empty(); }
};

// `args` without the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

using production::NetworkName;

// The --help text of the program (no command) or of one command.
std::string HelpText(std::optional<Command> command);

// Every option vorsal-cli takes.
const OptionTable& OptionTableOfCli();
// Whether `option` (of that table) is taken before or after any command.
bool GlobalOption(const OptionSpec& option);

}  // namespace vorsal::cli
