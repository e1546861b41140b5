#include "cli/cli_args.h"
#include "cli/port_wording.h"

#include "keys/hex_utils.h"
#include "keys/key_derivation.h"
#include "production/journal_record.h"
#include "protocol/frame.h"

#include <charconv>

namespace vorsal::cli {

namespace {

struct CommandName {
  std::string_view name;
  Command command;
};
constexpr CommandName CommandNames[] = {
    {"ports", Command::Ports},         {"read", Command::Read},   {"write", Command::Write},
    {"set-key", Command::SetKey},      {"footprint", Command::Footprint}, {"batch", Command::Batch},
    {"journal", Command::Journal},     {"report", Command::Report},  {"registry", Command::Registry},
};

std::optional<Command> FindCommand(std::string_view name) {
  for (const CommandName& entry : CommandNames) {
    if (entry.name == name) return entry.command;
  }
  return std::nullopt;
}

std::optional<int> ParseDecimal(std::string_view text) {
  int value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

// Which options a command takes besides the global ones.
bool Takes(Command command, std::string_view option) {
  switch (command) {
    case Command::Write:
      return option == "--address" || option == "--network";
    case Command::Batch:
      return option == "--start" || option == "--network" || option == "--key" || option == "--count" ||
             option == "--key-file" || option == "--registry";
    case Command::Journal:
      return option == "--registry" || option == "--since" || option == "--until" || option == "--run" ||
             option == "--station" || option == "--csv" || option == "--spreadsheet" || option == "-o" ||
             option == "--output";
    case Command::Report:
      return option == "--registry" || option == "--since" || option == "--until" || option == "--run" ||
             option == "--station" || option == "-o" || option == "--output";
    case Command::Registry:
      return option == "--registry";
    case Command::SetKey:
      return option == "--key-file";
    default:
      return false;
  }
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : args_(args) {}

  ParsedCommandLine Run() {
    std::optional<Command> command;
    std::vector<std::string> operands;
    bool help = false;
    bool optionsEnded = false;
    for (index_ = 0; index_ < args_.size() && result_.ok(); ++index_) {
      const std::string& arg = args_[index_];
      if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
        if (!command) {
          command = FindCommand(arg);
          if (!command) Fail("unknown command " + QuotedArgument(arg) + " (try --help)");
        } else {
          operands.push_back(arg);
        }
        continue;
      }
      if (arg == "--") {
        optionsEnded = true;
        continue;
      }
      std::string name = arg;
      std::optional<std::string> inlineValue;
      if (const std::size_t equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
        name = arg.substr(0, equals);
        inlineValue = arg.substr(equals + 1);
      }
      if (name == "-h" || name == "--help") {
        help = true;
      } else if (name == "--version") {
        result_.options.command = Command::Version;
        return Finish(Command::Version);
      } else if (name == "--json") {
        result_.options.json = true;
      } else if (name == "--no-journal") {
        result_.options.noJournal = true;
      } else if (name == "-p" || name == "--port") {
        if (auto value = Value(name, inlineValue)) {
          result_.options.port = *value;
          result_.options.ports.push_back(*value);
        }
      } else if (name == "--journal") {
        if (auto value = Value(name, inlineValue)) {
          if (value->empty()) Fail("--journal needs a file name");
          result_.options.journal = *value;
        }
      } else if (name == "--connection-type") {
        result_.options.connectionType = Number(name, inlineValue, 0, 1);
      } else if (name == "--retries") {
        result_.options.retries = Number(name, inlineValue, 0, 100);
      } else if (command && Takes(*command, name)) {
        CommandOption(name, inlineValue);
      } else {
        Fail("unknown option " + QuotedArgument(name) + (command ? " for this command" : ""));
      }
    }
    if (!result_.ok()) return result_;
    if (help) {
      result_.options.command = Command::Help;
      result_.options.helpFor = command;
      return result_;
    }
    if (!command) return Failed("no command given (try --help)");
    return Check(*command, operands);
  }

 private:
  ParsedCommandLine Finish(Command command) {
    result_.options.command = command;
    return result_;
  }
  ParsedCommandLine Failed(const std::string& message) {
    Fail(message);
    return result_;
  }
  void Fail(const std::string& message) {
    if (result_.ok()) result_.error = message;
  }

  std::optional<std::string> Value(const std::string& name, const std::optional<std::string>& inlineValue) {
    if (inlineValue) return inlineValue;
    if (index_ + 1 >= args_.size()) {
      Fail(name + " needs a value");
      return std::nullopt;
    }
    return args_[++index_];
  }

  int Number(const std::string& name, const std::optional<std::string>& inlineValue, int low, int high) {
    const std::optional<std::string> text = Value(name, inlineValue);
    if (!text) return -1;
    const std::optional<int> value = ParseDecimal(*text);
    if (!value || *value < low || *value > high) {
      Fail(name + " takes a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
           ", not " + QuotedArgument(*text));
      return -1;
    }
    return *value;
  }

  void CommandOption(const std::string& name, const std::optional<std::string>& inlineValue) {
    CliOptions& options = result_.options;
    if (name == "--address") {
      options.address = Number(name, inlineValue, 0, MaxAddress);
    } else if (name == "--start") {
      options.start = Number(name, inlineValue, 0, MaxAddress);
    } else if (name == "--count") {
      options.count = Number(name, inlineValue, 1, MaxAddress + 1);
    } else if (name == "--network") {
      if (auto value = Value(name, inlineValue)) {
        if (*value == NetworkName(NetworkService)) {
          options.network = NetworkService;
        } else if (*value == NetworkName(NetworkWorking)) {
          options.network = NetworkWorking;
        } else {
          Fail("unknown network " + QuotedArgument(*value) + " (service or working)");
        }
      }
    } else if (name == "--key") {
      if (auto value = Value(name, inlineValue)) Key(*value);
    } else if (name == "--registry") {
      if (auto value = Value(name, inlineValue)) {
        if (value->empty()) Fail("--registry needs a connection string or URI");
        options.registry = *value;
      }
    } else if (name == "--key-file") {
      if (auto value = Value(name, inlineValue)) {
        if (value->empty()) Fail("--key-file needs a file name (- for standard input)");
        options.keyFile = *value;
        options.keyGiven = true;
      }
    } else if (name == "--since" || name == "--until") {
      if (auto value = Value(name, inlineValue)) {
        const bool until = name == "--until";
        const std::optional<long long> moment = production::ParseFilterTime(*value, until);
        if (!moment) {
          Fail(name + " takes a date or time (2026-03-01, 2026-03-01T15:00, 2026-03-01T15:00:00+03:00), not " +
               QuotedArgument(*value));
        }
        (until ? options.untilText : options.sinceText) = *value;
        (until ? options.until : options.since) = moment;
      }
    } else if (name == "--run" || name == "--station") {
      if (auto value = Value(name, inlineValue)) {
        if (value->empty()) Fail(name + " needs a value");
        (name == "--run" ? options.runId : options.station) = *value;
      }
    } else if (name == "--csv") {
      options.csv = true;
    } else if (name == "--spreadsheet") {
      options.csv = options.spreadsheet = true;
    } else if (name == "-o" || name == "--output") {
      if (auto value = Value(name, inlineValue)) {
        if (value->empty()) Fail(name + " needs a file name");
        options.output = *value;
      }
    }
  }

  void Key(const std::string& typed) {
    std::string error;
    if (!AssignKeyName(result_.options, typed, &error)) Fail(error);
  }

  ParsedCommandLine Check(Command command, const std::vector<std::string>& operands) {
    CliOptions& options = result_.options;
    // set-key takes its name as an operand, from --key-file, or else from
    // standard input.
    // registry takes what to do with it: init.
    const std::size_t wanted = (command == Command::SetKey && options.keyFile.empty()) || command == Command::Registry;
    if (operands.size() > wanted) return Failed("unexpected argument " + QuotedArgument(operands[wanted]));
    if (command == Command::Registry && (operands.empty() || operands[0] != "init")) {
      return Failed("registry takes init (vorsal-cli registry init --registry URL)");
    }
    if (!options.keyFile.empty() && !options.keyName.empty()) return Failed("--key and --key-file exclude each other");
    if (command == Command::SetKey && wanted == 1) {
      if (operands.empty()) {
        options.keyFile = "-";
        options.keyGiven = true;
      } else {
        Key(operands[0]);
      }
      if (!result_.ok()) return result_;
    }
    if (options.ports.size() > 1 && command != Command::Batch) return Failed("only batch takes several ports");
    if (command == Command::Report && options.output.empty()) return Failed("report needs -o FILE.html");
    if (command == Command::Journal && !options.output.empty() && !options.csv) {
      return Failed("-o goes with --csv or --spreadsheet");
    }
    if (command == Command::Journal && options.csv && options.json) return Failed("--json and --csv exclude each other");
    if (options.since && options.until && *options.since > *options.until) return Failed("--since is after --until");
    if (command == Command::Write || command == Command::Batch) {
      const int address = command == Command::Write ? options.address : options.start;
      const char* option = command == Command::Write ? "--address" : "--start";
      if (address < 0) return Failed(std::string(command == Command::Write ? "write" : "batch") + " needs " + option);
      if (options.network < 0) return Failed("--network is required (service or working)");
      if (!AddressAllowed(address, options.network)) {
        return Failed(std::string(option) + " 0 is not an address in the working network (1..4095)");
      }
    }
    return Finish(command);
  }

  const std::vector<std::string>& args_;
  std::size_t index_ = 0;
  ParsedCommandLine result_;
};

// The filters of journal and report, for their help texts.
#define VORSAL_CLI_FILTER_HELP                                                          \
  "--since and --until (inclusive) take a local date (2026-03-01: the whole day),\n" \
  "a local time (2026-03-01T15:00) or a time with its offset; --run takes a run\n"   \
  "id, --station a host name.\n"

constexpr std::string_view GeneralHelp =
    "Usage: vorsal-cli [-p PORT] [OPTIONS] COMMAND [ARGS]\n"
    "\n"
    "Configures the modems of the closed network over a serial port.\n"
    "\n"
    "Commands:\n"
    "  ports                    list the serial ports with their USB adapter details\n"
    "  read                     read address, network and firmware\n"
    "  write --address N --network service|working\n"
    "                           write a new address and network, then verify\n"
    "  set-key [NAME]           derive or look up the key, store it in Keys.ini,\n"
    "                           write it into the modem, read the footprint back;\n"
    "                           without NAME it is asked for (not shown) or read\n"
    "                           from standard input; --key-file FILE reads it there\n"
    "  footprint                read the key footprint\n"
    "  batch --start N --network service|working [--key-file FILE|--key NAME]\n"
    "        [--count K]        configure one modem after another, on every -p port\n"
    "                           (or every USB adapter) at once\n"
    "  journal                  sum up the journal per run: done, failed, addresses\n"
    "  report -o FILE.html      the production report: totals, charts, address plan\n"
    "  registry init            create (or check) the production registry's tables\n"
    "\n"
    "Options:\n"
    VORSAL_CLI_PORT_OPTION_HELP
    "                           without it the only USB serial adapter is used;\n"
    "                           batch takes several\n"
    "  --connection-type 0|1    0: 600 baud, plain checksum (default);\n"
    "                           1: 9600 baud, complemented checksum\n"
    "  --retries N              repeat an exchange that got no reply N times (default 0)\n"
    "  --json                   one JSON object per result\n"
    "  --journal FILE           journal file (default " VORSAL_CLI_JOURNAL_DEFAULT ")\n"
    "  --no-journal             keep no journal\n"
    "  --registry URL           the PostgreSQL registry several stations share\n"
    "                           (batch, journal, registry; default $VORSAL_REGISTRY)\n"
    "  -h, --help               this text; COMMAND --help for one command\n"
    "  --version                the program's version\n"
    "\n"
    "Results go to standard output, progress and messages to standard error.\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  the results could not be written (standard output, or the output file)\n"
    "  2  usage error (nothing was sent)\n"
    "  3  the port cannot be opened, or was lost\n"
    "  4  no reply within the time-out\n"
    "  5  the modem refused, or verification failed\n"
    "  6  Keys.ini, journal or registry error\n"
    "  130  a second Ctrl+C (or SIGTERM) abandoned an exchange\n";

std::string_view CommandHelp(Command command) {
  switch (command) {
    case Command::Ports:
      return "Usage: vorsal-cli ports [--json]\n"
             "\n"
             VORSAL_CLI_PORTS_HELP
             "Paths in VORSAL_EXTRA_PORTS (colon-separated) are listed too.\n";
    case Command::Read:
      return "Usage: vorsal-cli [-p PORT] read [--json]\n"
             "\n"
             "Prints the modem's address, network, firmware version, the firmware's platform\n"
             "and whether the modem offers the key functions.\n";
    case Command::Write:
      return "Usage: vorsal-cli [-p PORT] write --address N --network service|working\n"
             "\n"
             "Reads the current address, writes the new address and network, and reads them\n"
             "back to verify. N is 0..4095 (1..4095 in the working network). Journaled.\n";
    case Command::SetKey:
      return "Usage: vorsal-cli [-p PORT] set-key [NAME | --key-file FILE]\n"
             "\n"
             "Looks the key name up in Keys.ini or derives its key (about half a second) and\n"
             "stores it there, writes the key into the modem in eight acknowledged parts and\n"
             "prints the footprint the modem reports. The name must have a Windows-1251 form.\n"
             "Without NAME it is asked for on the terminal without being shown, or read from\n"
             "standard input; --key-file reads the first line of FILE (- for standard input).\n"
             "A NAME on the command line is visible to every user of the computer (ps).\n"
             "Journaled (with the footprint, never the name).\n";
    case Command::Footprint:
      return "Usage: vorsal-cli [-p PORT] footprint [--json]\n"
             "\n"
             "Prints the modem's key footprint (four hex bytes, e.g. 0B.2A.E4.45).\n";
    case Command::Batch:
      return "Usage: vorsal-cli [-p PORT]... batch --start N --network service|working\n"
             "                  [--key-file FILE | --key NAME] [--count K]\n"
             "\n"
             "For each modem connected in turn: waits until it answers, writes the key and\n"
             "checks its footprint (every modem given the key must report the same one),\n"
             "then writes the next address and verifies it by reading back, journals it,\n"
             "prints one line, and waits until the modem stops answering. After a failure\n"
             "the modem is read back and the journal tells what it holds; an address only a\n"
             "failed modem was offered goes to the next one. With a key, a modem at an\n"
             "address this run wrote and with the batch's footprint is done and left alone;\n"
             "without one, such a modem is asked about on a terminal and skipped otherwise.\n"
             "Several -p ports (none: every USB adapter) are served at once, with addresses\n"
             "from one counter. --key-file reads the key name from FILE's first line (- for\n"
             "standard input, asked for without echo on a terminal); --key NAME is visible\n"
             "to every user (ps). Stops after K modems, at address 4095, or on Ctrl+C (after\n"
             "the modems in hand; a second Ctrl+C abandons them, still journaled), and\n"
             "prints a summary: done, failed, next address.\n"
             "With --registry URL (or VORSAL_REGISTRY) each address comes from the shared\n"
             "registry before it is written, and every journal line goes there too; when the\n"
             "registry cannot be reached the batch stops after the modem in progress, and the\n"
             "lines it could not send are sent by the next run that reaches it.\n";
    case Command::Journal:
      return "Usage: vorsal-cli journal [--journal FILE | --registry URL] [--since DATE]\n"
             "                  [--until DATE] [--run ID] [--station HOST]\n"
             "                  [--json | --csv | --spreadsheet] [-o FILE]\n"
             "\n"
             "One line per run of the journal: its start, operator and host, modems done,\n"
             "failed and skipped, the range of addresses given, and how long it took.\n"
             "With --registry URL (or VORSAL_REGISTRY), the runs of every station there.\n"
             VORSAL_CLI_FILTER_HELP
             "--csv prints the chosen lines themselves, in the journal's own format;\n"
             "--spreadsheet prints them for a spreadsheet set to a Russian locale (UTF-8\n"
             "with a byte order mark, fields separated by semicolons, a field that would\n"
             "start a formula prefixed with an apostrophe). -o FILE writes them to FILE\n"
             "(replaced whole) instead of standard output.\n";
    case Command::Report:
      return "Usage: vorsal-cli report [--journal FILE | --registry URL] [--since DATE]\n"
             "                  [--until DATE] [--run ID] [--station HOST] -o FILE.html\n"
             "\n"
             "Writes the production report: one HTML file that needs nothing beside it and\n"
             "loads nothing from the network, for a browser, mail or print (A4). It shows\n"
             "totals per day, run, station, operator and adapter, failure reasons ranked,\n"
             "modems per hour per station, time per modem, the failure rate per adapter,\n"
             "each network's address plan (addresses given twice in red) and each modem's\n"
             "history. Torn or foreign journal lines are skipped, counted and named.\n"
             VORSAL_CLI_FILTER_HELP
             "FILE is replaced whole, never left half-written.\n";
    case Command::Registry:
      return "Usage: vorsal-cli registry init [--registry URL]\n"
             "\n"
             "Creates the production registry's tables in the PostgreSQL database URL (a\n"
             "libpq connection string or URI; default $VORSAL_REGISTRY), or checks that\n"
             "those there are of this version. Passwords come from ~/.pgpass, PGPASSWORD or\n"
             "the service file, never from the command line.\n";
    default:
      return GeneralHelp;
  }
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) { return Parser(args).Run(); }

bool AssignKeyName(CliOptions& options, std::string_view typed, std::string* error) {
  std::string reason;
  std::optional<std::string> name = KeyNameFromUtf8(typed, &reason);
  if (!name) {
    *error = "key name has no Windows-1251 form: " + reason;
    return false;
  }
  // An empty name would write the all-zero key; a script whose variable
  // came out empty must not do that by accident.
  if (name->empty()) {
    *error = "key name is empty";
    return false;
  }
  options.keyGiven = true;
  options.keyName = std::move(*name);
  options.keyNameUtf8 = std::string(TrimKeyName(typed));
  return true;
}

std::string HelpText(std::optional<Command> command) {
  return std::string(command ? CommandHelp(*command) : GeneralHelp);
}

}  // namespace vorsal::cli
