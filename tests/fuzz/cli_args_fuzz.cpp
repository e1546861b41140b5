// vorsal-cli's command line: the fuzzer's bytes, cut at zero bytes, are the
// arguments. A refused line must give a one-line error text; an accepted one must
// hold only values a command can run with (addresses and counts in range, a
// network for write and batch, no address 0 in the working network, a key
// name that is the strict Windows-1251 form of the trimmed text typed), and
// written out again in canonical form it must parse to the same options.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cp1251_oracle.h"
#include "fuzz_support.h"

namespace {

using vorsal::cli::CliOptions;
using vorsal::cli::Command;

const char* CommandName(Command c) {
  switch (c) {
    case Command::Ports: return "ports";
    case Command::Read: return "read";
    case Command::Write: return "write";
    case Command::SetKey: return "set-key";
    case Command::Footprint: return "footprint";
    case Command::Batch: return "batch";
    case Command::Journal: return "journal";
    case Command::Report: return "report";
    case Command::Registry: return "registry";
    default: return nullptr;
  }
}

const char* NetworkText(int network) { return network == 1 ? "working" : "service"; }

bool Blank(char c) { return static_cast<std::uint8_t>(c) <= 32; }

void CheckValues(const CliOptions& o, const std::string& line) {
  FUZZ_CHECK(o.connectionType == 0 || o.connectionType == 1, "connection type out of range", line);
  FUZZ_CHECK(o.retries >= 0 && o.retries <= 100, "retries out of range", line);
  const bool addressed = o.command == Command::Write || o.command == Command::Batch;
  if (addressed) {
    const int address = o.command == Command::Write ? o.address : o.start;
    FUZZ_CHECK(address >= 0 && address <= 4095, "address out of range", line);
    FUZZ_CHECK(o.network == 0 || o.network == 1, "no network", line);
    FUZZ_CHECK(!(o.network == 1 && address == 0), "address 0 in the working network", line);
  }
  FUZZ_CHECK(o.count >= 0 && o.count <= 4096, "count out of range", line);
  if (o.command == Command::SetKey) FUZZ_CHECK(o.keyGiven, "set-key without a key", line);
  if (o.command == Command::Report) FUZZ_CHECK(!o.output.empty(), "report without -o", line);
  FUZZ_CHECK(o.since.has_value() == !o.sinceText.empty() && o.until.has_value() == !o.untilText.empty(),
             "a time bound without its text, or the other way round", line);
  FUZZ_CHECK(!o.since || !o.until || *o.since <= *o.until, "--since after --until", line);
  if (o.keyGiven && o.keyFile.empty()) {
    const std::string& typed = o.keyNameUtf8;
    FUZZ_CHECK(!typed.empty() && !Blank(typed.front()) && !Blank(typed.back()), "key name not trimmed", line);
    FUZZ_CHECK(fuzz::Cp1251OfUtf8(typed) == o.keyName, "key name is not the Windows-1251 form of the text",
               line + "\n" + fuzz::Hex(o.keyName));
  }
}

// The options written out as a command line of their own.
std::vector<std::string> Canonical(const CliOptions& o) {
  if (o.command == Command::Version) return {"--version"};
  if (o.command == Command::Help) {
    std::vector<std::string> argv;
    if (o.helpFor) argv.push_back(CommandName(*o.helpFor));
    argv.push_back("--help");
    return argv;
  }
  std::vector<std::string> argv = {"--connection-type=" + std::to_string(o.connectionType),
                                   "--retries=" + std::to_string(o.retries), "--port=" + o.port};
  if (o.json) argv.push_back("--json");
  if (o.noJournal) argv.push_back("--no-journal");
  if (!o.journal.empty()) argv.push_back("--journal=" + o.journal);
  argv.push_back(CommandName(o.command));
  if (!o.registry.empty()) argv.push_back("--registry=" + o.registry);
  if (o.command == Command::Write) {
    argv.push_back("--address=" + std::to_string(o.address));
    argv.push_back(std::string("--network=") + NetworkText(o.network));
  }
  if (o.command == Command::Batch) {
    argv.push_back("--start=" + std::to_string(o.start));
    argv.push_back(std::string("--network=") + NetworkText(o.network));
    if (o.count > 0) argv.push_back("--count=" + std::to_string(o.count));
    if (o.keyGiven && o.keyFile.empty()) argv.push_back("--key=" + o.keyNameUtf8);
  }
  if (!o.keyFile.empty()) argv.push_back("--key-file=" + o.keyFile);
  if (o.command == Command::SetKey && o.keyFile.empty()) {
    argv.push_back("--");
    argv.push_back(o.keyNameUtf8);
  }
  if (!o.sinceText.empty()) argv.push_back("--since=" + o.sinceText);
  if (!o.untilText.empty()) argv.push_back("--until=" + o.untilText);
  if (!o.runId.empty()) argv.push_back("--run=" + o.runId);
  if (!o.station.empty()) argv.push_back("--station=" + o.station);
  if (o.spreadsheet) argv.push_back("--spreadsheet");
  else if (o.csv) argv.push_back("--csv");
  if (!o.output.empty()) argv.push_back("--output=" + o.output);
  if (o.command == Command::Registry) argv.push_back("init");
  return argv;
}

bool Same(const CliOptions& a, const CliOptions& b) {
  return a.command == b.command && a.helpFor == b.helpFor && a.port == b.port &&
         a.connectionType == b.connectionType && a.json == b.json && a.retries == b.retries &&
         a.journal == b.journal && a.noJournal == b.noJournal && a.address == b.address && a.network == b.network &&
         a.start == b.start && a.count == b.count && a.keyGiven == b.keyGiven && a.keyName == b.keyName &&
         a.keyNameUtf8 == b.keyNameUtf8 && a.keyFile == b.keyFile && a.registry == b.registry &&
         a.sinceText == b.sinceText && a.untilText == b.untilText && a.since == b.since && a.until == b.until &&
         a.runId == b.runId && a.station == b.station && a.csv == b.csv && a.spreadsheet == b.spreadsheet &&
         a.output == b.output;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> argv = fuzz::Arguments(data, size);

  const auto parsed = vorsal::cli::ParseCommandLine(argv);
  const std::string line = fuzz::Describe(argv);
  if (!parsed.ok()) {
    FUZZ_CHECK(!parsed.error.empty(), "refused without an error text", line);
    FUZZ_CHECK(parsed.error.find_first_of("\r\n") == std::string::npos, "error text spans lines", line);
    return 0;
  }
  const CliOptions& o = parsed.options;
  if (o.command == Command::Help) {
    FUZZ_CHECK(!vorsal::cli::HelpText(o.helpFor).empty(), "empty help text", line);
  } else if (o.command != Command::Version) {
    CheckValues(o, line);
  }
  // Options that do not matter for help and version are not compared there.
  const std::vector<std::string> again = Canonical(o);
  const auto reparsed = vorsal::cli::ParseCommandLine(again);
  FUZZ_CHECK(reparsed.ok(), "the canonical form of an accepted line is refused",
             line + "\ncanonical " + fuzz::Describe(again) + "\n" + reparsed.error);
  const bool plain = o.command != Command::Help && o.command != Command::Version;
  FUZZ_CHECK(plain ? Same(reparsed.options, o)
                   : reparsed.options.command == o.command && reparsed.options.helpFor == o.helpFor,
             "the canonical form parses to other options", line + "\ncanonical " + fuzz::Describe(again));
  return 0;
}
