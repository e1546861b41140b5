#include "cli/cli_args.h"

#include "cli/port_wording.h"

#include "app/command_line.h"
#include "app/option_table.h"
#include "keys/hex_utils.h"
#include "keys/key_derivation.h"
#include "platform/serial_device.h"
#include "production/batch.h"
#include "production/journal_record.h"
#include "protocol/frame.h"

#include <algorithm>

namespace vorsal::cli {

namespace {

#ifdef VORSAL_HAVE_REGISTRY
constexpr bool HaveRegistry = true;
#else
constexpr bool HaveRegistry = false;
#endif

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

enum class Id { Help, Version, Json, NoJournal, Port, Journal, ConnectionType, Retries, Registry,
                Address, Network, Start, Count, Key, KeyFile, Since, Until, Run, Station, Csv, Spreadsheet,
                Output };

// An option's scope: the commands that take it (Bit()s), or Anywhere.
constexpr unsigned Bit(Command command) { return 1u << static_cast<unsigned>(command); }
constexpr unsigned Anywhere = 0;  // a global option: before or after the command
constexpr unsigned RegistryOnly = 1u << 31;  // left out of the help where the registry is not built

Id IdOf(const OptionSpec& option) { return static_cast<Id>(option.id); }
unsigned CommandsOf(const OptionSpec& option) { return option.scope & ~RegistryOnly; }

// Every option of vorsal-cli, declared once: the parser, the general help's
// option list and the manual page's check read this table.
const OptionTable& Options() {
  static const OptionTable options = {
      {int(Id::Port), "-p", "--port", "PORT", 0, -1,
       std::string(wording::PortOption) + "\nwithout it the only USB serial adapter is used;\nbatch takes several"},
      {int(Id::ConnectionType), "", "--connection-type", "0|1", 0, 1,
       "0: 600 baud, plain checksum (default);\n1: 9600 baud, complemented checksum"},
      {int(Id::Retries), "", "--retries", "N", 0, 100, "repeat an exchange that got no reply N times (default 0)"},
      {int(Id::Json), "", "--json", "", 0, -1, "one JSON object per result"},
      {int(Id::Journal), "", "--journal", "FILE", 0, -1,
       "journal file (default " + std::string(wording::JournalDefault) + ")"},
      {int(Id::NoJournal), "", "--no-journal", "", 0, -1, "keep no journal"},
      {int(Id::Registry), "", "--registry", "URL", 0, -1,
       "the PostgreSQL registry several stations share\n(batch, journal, registry; default $VORSAL_REGISTRY)",
       RegistryOnly},
      {int(Id::Help), "-h", "--help", "", 0, -1, "this text; COMMAND --help for one command"},
      {int(Id::Version), "", "--version", "", 0, -1, "the program's version"},
      {int(Id::Address), "", "--address", "N", 0, MaxAddress, {}, Bit(Command::Write)},
      {int(Id::Network), "", "--network", "service|working", 0, -1, {}, Bit(Command::Write) | Bit(Command::Batch)},
      {int(Id::Start), "", "--start", "N", 0, MaxAddress, {}, Bit(Command::Batch)},
      {int(Id::Count), "", "--count", "K", production::MinBatchCount, production::MaxBatchCount, {}, Bit(Command::Batch)},
      {int(Id::Key), "", "--key", "NAME", 0, -1, {}, Bit(Command::Batch)},
      {int(Id::KeyFile), "", "--key-file", "FILE", 0, -1, {}, Bit(Command::SetKey) | Bit(Command::Batch)},
      {int(Id::Since), "", "--since", "DATE", 0, -1, {}, Bit(Command::Journal) | Bit(Command::Report)},
      {int(Id::Until), "", "--until", "DATE", 0, -1, {}, Bit(Command::Journal) | Bit(Command::Report)},
      {int(Id::Run), "", "--run", "ID", 0, -1, {}, Bit(Command::Journal) | Bit(Command::Report)},
      {int(Id::Station), "", "--station", "HOST", 0, -1, {}, Bit(Command::Journal) | Bit(Command::Report)},
      {int(Id::Csv), "", "--csv", "", 0, -1, {}, Bit(Command::Journal)},
      {int(Id::Spreadsheet), "", "--spreadsheet", "", 0, -1, {}, Bit(Command::Journal)},
      {int(Id::Output), "-o", "--output", "FILE", 0, -1, {}, Bit(Command::Journal) | Bit(Command::Report)},
  };
  return options;
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : scanner_(Options(), args) {}

  ParsedCommandLine Run() {
    std::optional<Command> command;
    std::vector<std::string> operands;
    bool help = false;
    for (ScannedArgument arg; result_.ok() && scanner_.Next(arg);) {
      if (arg.kind == ScannedArgument::Kind::Operand) {
        if (!command) {
          command = FindCommand(arg.text);
          if (!command) Fail("unknown command " + QuotedArgument(arg.text) + " (try --help)");
        } else {
          operands.emplace_back(arg.text);
        }
        continue;
      }
      const OptionSpec* option = arg.option;
      if (option == nullptr ||
          (CommandsOf(*option) != Anywhere && !(command && (CommandsOf(*option) & Bit(*command))))) {
        Fail("unknown option " + QuotedArgument(arg.name) + (command ? " for this command" : ""));
        continue;
      }
      if (IdOf(*option) == Id::Help) {
        help = true;
      } else if (IdOf(*option) == Id::Version) {
        return Finish(Command::Version);
      } else {
        Take(arg);
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

  // Sets what the option `arg` names says.
  void Take(const ScannedArgument& arg) {
    CliOptions& options = result_.options;
    const OptionSpec& option = *arg.option;
    const std::string& name = arg.name;
    const Id id = IdOf(option);
    if (option.value.empty()) {
      if (id == Id::Json) options.json = true;
      if (id == Id::NoJournal) options.noJournal = true;
      if (id == Id::Csv) options.csv = true;
      if (id == Id::Spreadsheet) options.csv = options.spreadsheet = true;
      return;
    }
    const std::optional<std::string> value = scanner_.Value(arg);
    if (!value) return Fail(name + " needs a value");
    if (option.number()) {
      const std::optional<int> number = ParseWholeNumber(*value, option.low, option.high);
      if (!number) {
        return Fail(name + " takes a whole number from " + std::to_string(option.low) + " to " +
                    std::to_string(option.high) + ", not " + QuotedArgument(*value));
      }
      switch (id) {
        case Id::ConnectionType: options.connectionType = *number; break;
        case Id::Retries: options.retries = *number; break;
        case Id::Address: options.address = *number; break;
        case Id::Start: options.start = *number; break;
        case Id::Count: options.count = *number; break;
        default: break;
      }
      return;
    }
    switch (id) {
      case Id::Port: {
        options.port = *value;
        // The same port named twice (ttyUSB0 and /dev/ttyUSB0) is served once.
        const std::string path = platform::SerialDevicePath(*value);
        const bool named = std::any_of(options.ports.begin(), options.ports.end(),
                                       [&](const std::string& port) { return platform::SerialDevicePath(port) == path; });
        if (!named) options.ports.push_back(*value);
        break;
      }
      case Id::Journal:
        if (value->empty()) return Fail("--journal needs a file name");
        // One journal at a time: a second one would be read or written instead
        // of the first without a word.
        if (!options.journal.empty()) return Fail("--journal is given twice (one journal at a time)");
        options.journal = *value;
        break;
      case Id::Network:
        if (const std::optional<int> network = production::NetworkFromName(*value)) {
          options.network = *network;
        } else {
          Fail("unknown network " + QuotedArgument(*value) + " (service or working)");
        }
        break;
      case Id::Key: Key(*value); break;
      case Id::Registry:
        if (value->empty()) return Fail("--registry needs a connection string or URI");
        options.registry = *value;
        break;
      case Id::KeyFile:
        if (value->empty()) return Fail("--key-file needs a file name (- for standard input)");
        options.keyFile = *value;
        options.keyGiven = true;
        break;
      case Id::Since:
      case Id::Until: {
        const bool until = id == Id::Until;
        const std::optional<long long> moment = production::ParseFilterTime(*value, until);
        if (!moment) {
          return Fail(name + " takes a date or time (2026-03-01, 2026-03-01T15:00, 2026-03-01T15:00:00+03:00), not " +
                      QuotedArgument(*value));
        }
        (until ? options.untilText : options.sinceText) = *value;
        (until ? options.until : options.since) = moment;
        break;
      }
      case Id::Run:
      case Id::Station:
        if (value->empty()) return Fail(name + " needs a value");
        (id == Id::Run ? options.runId : options.station) = *value;
        break;
      case Id::Output:
        if (value->empty()) return Fail(name + " needs a file name");
        options.output = *value;
        break;
      default: break;
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
        return Failed(std::string(option) + " " + std::to_string(address) + " is not an address in the " +
                      std::string(NetworkName(options.network)) + " network (" +
                      std::to_string(LowestAddress(options.network)) + ".." + std::to_string(MaxAddress) + ")");
      }
    }
    return Finish(command);
  }

  ArgumentScanner scanner_;
  ParsedCommandLine result_;
};

// The filters of journal and report, for their help texts.
constexpr std::string_view FilterHelp =
    "--since and --until (inclusive) take a local date (2026-03-01: the whole day),\n"
    "a local time (2026-03-01T15:00) or a time with its offset; --run takes a run\n"
    "id, --station a host name.\n";

// The general help: the commands, the option table's global options, the
// exit statuses. Where the registry is not built, nothing of it is offered.
std::string GeneralHelp() {
  std::string text =
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
      "  report -o FILE.html      the production report: totals, charts, address plan\n";
  if (HaveRegistry) text += "  registry init            create (or check) the production registry's tables\n";
  if (!HaveRegistry) {
    text += "\nThis build has no production registry (--registry, registry init):\n" + std::string(wording::NoRegistry) +
            ".\n";
  }
  text += "\nOptions:\n";
  text += OptionHelp(Options(), 27, [](const OptionSpec& option) {
    return HaveRegistry || !(option.scope & RegistryOnly);
  });
  text +=
      "\n"
      "Results go to standard output, progress and messages to standard error.\n"
      "\n"
      "Exit status:\n"
      "  0  success\n"
      "  1  the results could not be written (standard output, or the output file)\n"
      "  2  usage error (nothing was sent)\n"
      "  3  the port cannot be opened, or was lost\n"
      "  4  no reply within the time-out\n"
      "  5  the modem refused, or verification failed\n";
  text += HaveRegistry ? "  6  Keys.ini, journal or registry error\n" : "  6  Keys.ini or journal error\n";
  text += "  130  a second Ctrl+C (or " + std::string(wording::OtherStop) + ") abandoned an exchange\n";
  return text;
}

std::string CommandHelp(Command command) {
  switch (command) {
    case Command::Ports:
      return "Usage: vorsal-cli ports [--json]\n"
             "\n" +
             std::string(wording::PortsHelp) + "Paths in VORSAL_EXTRA_PORTS (colon-separated) are listed too.\n";
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
             "prints a summary: done, failed, next address.\n" +
             std::string(!HaveRegistry ? "" :
             "With --registry URL (or VORSAL_REGISTRY) each address comes from the shared\n"
             "registry before it is written, and every journal line goes there too; when the\n"
             "registry cannot be reached the batch stops after the modem in progress, and the\n"
             "lines it could not send are sent by the next run that reaches it.\n");
    case Command::Journal:
      return std::string(HaveRegistry ? "Usage: vorsal-cli journal [--journal FILE | --registry URL] [--since DATE]\n"
                                      : "Usage: vorsal-cli journal [--journal FILE] [--since DATE]\n") +
             "                  [--until DATE] [--run ID] [--station HOST]\n"
             "                  [--json | --csv | --spreadsheet] [-o FILE]\n"
             "\n"
             "One line per run of the journal: its start, operator and host, modems done,\n"
             "failed and skipped, the range of addresses given, and how long it took.\n" +
             (HaveRegistry ? "With --registry URL (or VORSAL_REGISTRY), the runs of every station there.\n" : "") +
             std::string(FilterHelp) +
             "--csv prints the chosen lines themselves, in the journal's own format;\n"
             "--spreadsheet prints them for a spreadsheet set to a Russian locale (UTF-8\n"
             "with a byte order mark, fields separated by semicolons, a field that would\n"
             "start a formula prefixed with an apostrophe). -o FILE writes them to FILE\n"
             "(replaced whole) instead of standard output.\n";
    case Command::Report:
      return std::string(HaveRegistry ? "Usage: vorsal-cli report [--journal FILE | --registry URL] [--since DATE]\n"
                                      : "Usage: vorsal-cli report [--journal FILE] [--since DATE]\n") +
             "                  [--until DATE] [--run ID] [--station HOST] -o FILE.html\n"
             "\n"
             "Writes the production report: one HTML file that needs nothing beside it and\n"
             "loads nothing from the network, for a browser, mail or print (A4). It shows\n"
             "totals per day, run, station, operator and adapter, failure reasons ranked,\n"
             "modems per hour per station, time per modem, the failure rate per adapter,\n"
             "each network's address plan (addresses given twice in red) and each modem's\n"
             "history. Torn or foreign journal lines are skipped, counted and named.\n" +
             std::string(FilterHelp) + "FILE is replaced whole, never left half-written.\n";
    case Command::Registry:
      return "Usage: vorsal-cli registry init [--registry URL]\n"
             "\n"
             "Creates the production registry's tables in the PostgreSQL database URL (a\n"
             "libpq connection string or URI; default $VORSAL_REGISTRY), or checks that\n"
             "those there are of this version. Passwords come from ~/.pgpass, PGPASSWORD or\n"
             "the service file, never from the command line.\n";
    default:
      return GeneralHelp();
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

const OptionTable& OptionTableOfCli() { return Options(); }

bool GlobalOption(const OptionSpec& option) { return CommandsOf(option) == Anywhere; }

std::string HelpText(std::optional<Command> command) {
  return command ? CommandHelp(*command) : GeneralHelp();
}

}  // namespace vorsal::cli
