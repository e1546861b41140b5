#include "cli/commands.h"

#include "app/command_line.h"
#include "app/program_paths.h"
#include "cli/json_text.h"
#include "cli/port_wording.h"
#include "keys/cp1251.h"
#include "keys/key_store.h"
#include "keys/obtain_key.h"
#include "platform/files.h"
#include "production/journal.h"
#include "production/registry_link.h"
#include "serial/com_port.h"
#include "serial/port_open_advice.h"
#include "serial/usb_identity.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <latch>
#include <mutex>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace vorsal::cli {

using namespace vorsal::production;

namespace {

constexpr int PollPauseMs = 500;     // between parameter reads while a modem stays connected
constexpr int ReopenPauseMs = 500;   // between attempts to open a port that went away

std::string DescribeOutcome(Outcome outcome, const ModemLine& link) {
  switch (outcome) {
    case Outcome::NoReply:
      return "no reply within " + std::to_string(ReplyTimeoutSeconds) + " s";
    case Outcome::NotAccepted:
      return "reply not accepted (wrong echo or another command)";
    case Outcome::PortLost:
      return "port lost: " + link.PortError();
    default:
      return "ok";
  }
}

// The system's reason and what the user can do about it, one indented line
// each.
std::string PortOpenAdviceText(const std::string& path, int systemCode) {
  std::string text;
  if (systemCode > 0) text += "\n  reason: " + platform::SystemErrorText(systemCode);
  const PortOpenAdvice advice = AdvisePortOpen(DiagnosePortOpen(path, systemCode));
  const std::string& group = advice.group;
  switch (advice.kind) {
    case PortOpenAdviceKind::DeviceMissing:
      text += "\n  " VORSAL_CLI_DEVICE_MISSING;
      break;
    case PortOpenAdviceKind::InUse:
      for (const PortHolder& holder : advice.holders) {
        text += "\n  in use by process " + std::to_string(holder.pid) +
                (holder.command.empty() ? "" : " (" + holder.command + ")") + "; close it first";
      }
      if (advice.holders.empty()) text += "\n  the port is in use by another program; close it first";
      break;
    case PortOpenAdviceKind::NoGroupGrantsAccess:
      text += "\n  no group may read and write the device; ask the administrator for access";
      break;
    case PortOpenAdviceKind::SessionLacksGroup:
      text += "\n  you were added to group '" + group + "', but this session predates it: log out and back in";
      break;
    case PortOpenAdviceKind::DeniedDespiteGroup:
      text += "\n  you are in group '" + group + "', which may read and write the device, and still have no "
              "access; ask the administrator";
      break;
    case PortOpenAdviceKind::JoinGroup:
      text += "\n  join group '" + group + "', which may read and write the device: sudo usermod -aG " + group +
              " $USER, then log in again";
      break;
    case PortOpenAdviceKind::SystemReason:
      break;
  }
  return text;
}

std::string YesNo(bool value) { return value ? "yes" : "no"; }

// A ModemLink on a device as the commands' ModemLine.
class LinkLine : public ModemLine {
 public:
  LinkLine(std::string path, int connectionType, LinkClock* clock, int retries)
      : path_(std::move(path)), connectionType_(connectionType), link_(retries, clock) {}

  bool Open(std::string* failure) override {
    try {
      link_.Open(path_, connectionType_);
      return true;
    } catch (const EComPort& e) {
      if (failure != nullptr) {
        *failure = "cannot open " + path_ + ": " + e.what() + PortOpenAdviceText(path_, e.SystemCode());
      }
      return false;
    }
  }
  bool IsOpen() const override { return link_.IsOpen(); }
  void Close() override { link_.Close(); }
  std::string PortError() const override { return link_.PortError(); }
  Outcome ReadParams(ModemParams& params) override { return link_.ReadParams(params); }
  Outcome WriteAddress(const ModemParams& current, int address, int network) override {
    return link_.WriteAddress(current, address, network);
  }
  Outcome SendKey(const std::uint8_t* key32, const std::function<void(int)>& progress) override {
    return link_.SendKey(key32, progress);
  }
  Outcome ReadFootprint(std::string& footprint) override { return link_.ReadFootprint(footprint); }
  void SetAbandon(std::function<bool()> abandon) override { link_.SetAbandon(std::move(abandon)); }

 private:
  std::string path_;
  int connectionType_;
  ModemLink link_;
};

// How far a stop has gone: the signals that abandon an exchange at each stage.
constexpr int AbandonWhileWaiting = 1;      // nothing is half done while waiting for a modem
constexpr int AbandonWhileConfiguring = 2;  // the first signal lets the modem in hand finish
constexpr int AbandonReadBack = 3;          // after an abandoned exchange, what the modem holds

constexpr const char* KeyRefusedByFirmware = " does not offer the key functions";

std::string AdapterIdentity(const UsbIdentity& usb) {
  if (!usb.IsUsb()) return {};
  std::string text = usb.vendorId + ":" + usb.productId;
  if (!usb.serial.empty()) text += " serial " + usb.serial;
  else if (!usb.byIdLink.empty()) text += " " + usb.byIdLink;
  return text;
}

// The addresses of one batch, handed out to all its ports: an address is
// reserved for one modem at a time, taken for good once a modem holds it,
// and given back when the modem it was offered did not take it.
class AddressPool {
 public:
  explicit AddressPool(int start) : start_(start) {}
  std::optional<int> Reserve() {
    const int address = Next();
    if (address > MaxAddress) return std::nullopt;
    reserved_.insert(address);
    return address;
  }
  // Reserves an address handed out elsewhere (by the registry).
  void Reserve(int address) { reserved_.insert(address); }
  void Take(int address) {
    reserved_.erase(address);
    taken_.insert(address);
  }
  void GiveBack(int address) { reserved_.erase(address); }
  bool Taken(int address) const { return taken_.count(address) != 0; }
  // The lowest address neither taken nor reserved.
  int Next() const {
    int address = start_;
    while (taken_.count(address) != 0 || reserved_.count(address) != 0) ++address;
    return address;
  }

 private:
  int start_;
  std::set<int> taken_;
  std::set<int> reserved_;
};

// Runs one command with the environment's streams, ports and journal.
class Runner {
 public:
  Runner(const CliOptions& options, CliEnvironment& env)
      : options_(options), env_(env), out_(*env.out), err_(*env.err),
        sleep_(env.sleep ? env.sleep : [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }),
        pool_(options.start), run_(CurrentRun()) {}

  int Run() {
    const int status = RunCommand();
    // Results a closed pipe or a full disk swallowed are a failure, even
    // when the modem took them.
    out_.flush();
    if (outputFailed_ || !out_) {
      Say("cannot write the results to standard output");
      return status == ExitOk ? ExitOutputFailed : status;
    }
    return status;
  }

 private:
  int RunCommand() {
    switch (options_.command) {
      case Command::Help:
        out_ << HelpText(options_.helpFor);
        return ExitOk;
      case Command::Version:
        out_ << VersionText("vorsal-cli");
        return ExitOk;
      case Command::Ports:
        return Ports();
      case Command::Journal:
        return JournalSummary();
      case Command::Registry:
        return RegistryInit();
      default:
        break;
    }
    if (options_.keyGiven && options_.keyName.empty()) {
      if (const int status = ReadKeyName(); status != ExitOk) return status;
    }
    if (options_.command == Command::Batch) return Batch();
    if (const int status = PickPort(); status != ExitOk) return status;
    line_ = MakeLine(portPath_);
    switch (options_.command) {
      case Command::Read:
        return Read();
      case Command::Footprint:
        return Footprint();
      case Command::Write:
        return Write();
      case Command::SetKey:
        return SetKey();
      default:
        return ExitUsage;
    }
  }

  // ---- Messages and results --------------------------------------------------

  // Used before a batch's threads start and by single commands.
  std::ostream& Message() { return err_ << "vorsal-cli: "; }

  // One message line, whole, from any thread.
  void Say(const std::string& text) {
    const std::lock_guard<std::mutex> guard(io_);
    err_ << "vorsal-cli: " << text << '\n';
    err_.flush();
  }

  void Result(const JsonObject& json, const std::string& text) {
    const std::lock_guard<std::mutex> guard(io_);
    out_ << (options_.json ? json.Text() : text) << '\n';
    out_.flush();
    if (!out_) outputFailed_ = true;
  }

  int Fail(int status, const std::string& message) {
    Say(message);
    return status;
  }

  int FailExchange(Outcome outcome, const std::string& what) {
    return Fail(ExitCodeOf(outcome), what + ": " + OutcomeText(outcome, *line_));
  }

  std::string OutcomeText(Outcome outcome, const ModemLine& line) const {
    // An exchange a second stop signal abandoned never had its full time.
    if (outcome == Outcome::NoReply && StopCount() >= AbandonWhileConfiguring) return "stopped before the reply";
    std::string text = DescribeOutcome(outcome, line);
    if (outcome == Outcome::NoReply && options_.retries > 0) {
      text += " (" + std::to_string(options_.retries + 1) + " attempts)";
    }
    return text;
  }

  int StopCount() const { return env_.stopSignals != nullptr ? env_.stopSignals->load() : 0; }

  std::unique_ptr<ModemLine> MakeLine(const std::string& path) {
    if (env_.openLine) return env_.openLine(path);
    return MakeLinkLine(path, options_.connectionType, env_.clock, options_.retries);
  }

  void CatchStops() {
    if (env_.catchStops) env_.catchStops(options_.command);
  }

  // ---- Key name ----------------------------------------------------------------

  // The key name from --key-file: a file's first line, or standard input
  // (asked for without echo on a terminal). Kept off the command line, where
  // every user of the computer could read it.
  int ReadKeyName() {
    std::optional<std::string> typed;
    if (options_.keyFile != "-") {
      std::ifstream file(platform::PathFromUtf8(options_.keyFile), std::ios::binary);
      std::string line;
      if (!file || !std::getline(file, line)) {
        return Fail(ExitUsage, "cannot read the key name from " + QuotedArgument(options_.keyFile));
      }
      typed = line;
    } else if (env_.readSecret) {
      typed = env_.readSecret("key name: ");
    } else if (env_.in != nullptr) {
      std::string line;
      if (std::getline(*env_.in, line)) typed = line;
    }
    if (!typed) return Fail(ExitUsage, "no key name given");
    if (!typed->empty() && typed->back() == '\r') typed->pop_back();
    std::string error;
    if (!AssignKeyName(options_, *typed, &error)) return Fail(ExitUsage, error);
    return ExitOk;
  }

  // ---- Ports -------------------------------------------------------------------

  struct PortInfo {
    std::string path;
    UsbIdentity usb;
  };

  std::vector<PortInfo> ListPorts() {
    TComPort lister;
    lister.SetSysfsRoot(env_.sysfsRoot);
    lister.UpdatePortList();
    std::vector<PortInfo> ports;
    for (const std::string& name : lister.PortList()) {
      const std::string path = ComPortDevicePath(name);
      ports.push_back({path, ReadUsbIdentity(path, env_.sysfsRoot, env_.byIdDir)});
    }
    return ports;
  }

  static std::string Describe(const PortInfo& port) {
    std::string text = port.path;
    const UsbIdentity& usb = port.usb;
    if (!usb.IsUsb()) return text;
    text += "  " + usb.vendorId + ":" + usb.productId;
    for (const std::string* field : {&usb.manufacturer, &usb.product}) {
      if (!field->empty()) text += " " + *field;
    }
    if (!usb.serial.empty()) text += " serial " + usb.serial;
    if (!usb.byIdLink.empty()) text += "  " + usb.byIdLink;
    return text;
  }

  int Ports() {
    const std::vector<PortInfo> ports = ListPorts();
    for (const PortInfo& port : ports) {
      JsonObject json;
      json.Add("path", port.path).Add("by_id", port.usb.byIdLink).Add("usb", port.usb.IsUsb());
      json.Add("vendor_id", port.usb.vendorId).Add("product_id", port.usb.productId);
      json.Add("manufacturer", port.usb.manufacturer).Add("product", port.usb.product);
      json.Add("serial", port.usb.serial);
      Result(json, Describe(port));
    }
    if (ports.empty()) Message() << "no serial ports found\n";
    return ExitOk;
  }

  int PickPort() {
    if (!options_.port.empty()) {
      portPath_ = ComPortDevicePath(options_.port);
      adapter_ = AdapterIdentity(ReadUsbIdentity(portPath_, env_.sysfsRoot, env_.byIdDir));
      return ExitOk;
    }
    std::vector<PortInfo> adapters = ListPorts();
    std::erase_if(adapters, [](const PortInfo& port) { return !port.usb.IsUsb(); });
    if (adapters.size() != 1) {
      return Fail(ExitUsage, adapters.empty() ? "no port given and no USB serial adapter found; use -p PORT"
                                              : "no port given and " + std::to_string(adapters.size()) +
                                                    " USB serial adapters found; use -p PORT (see 'vorsal-cli ports')");
    }
    portPath_ = adapters[0].path;
    adapter_ = AdapterIdentity(adapters[0].usb);
    Message() << "using " << Describe(adapters[0]) << '\n';
    return ExitOk;
  }

  int OpenPort() {
    std::string failure;
    return line_->Open(&failure) ? ExitOk : Fail(ExitPortFailed, failure);
  }

  // ---- Journal -------------------------------------------------------------------

  std::filesystem::path JournalPath() {
    if (!options_.journal.empty()) return platform::PathFromUtf8(options_.journal);
    const std::filesystem::path dir = UserDataDir();
    return dir.empty() ? dir : dir / "journal.csv";
  }

  int OpenJournal() {
    if (options_.noJournal) return ExitOk;
    const std::filesystem::path file = JournalPath();
    if (file.empty()) return Fail(ExitStoreFailed, VORSAL_CLI_NO_DATA_DIRECTORY);
    std::string error;
    if (!journal_.Open(file, &error)) return Fail(ExitStoreFailed, error);
    if (journal_.OthersMayRead()) {
      Say("warning: other users may read " + platform::Utf8FromPath(file) +
          "; journals of earlier versions hold key names (chmod 600 it)");
    }
    return ExitOk;
  }

  static JournalRecord Entry(std::string operation, const std::string& port, const std::string& adapter) {
    JournalRecord entry;
    entry.port = port;
    entry.adapter = adapter;
    entry.operation = std::move(operation);
    return entry;
  }

  static void SetOld(JournalRecord& entry, const ModemParams& params) {
    if (params.address < 0) return;
    entry.oldAddress = entry.newAddress = std::to_string(params.address);
    entry.oldNetwork = entry.newNetwork = std::string(NetworkName(params.network));
    entry.firmware = params.firmware;
  }

  static void SetNew(JournalRecord& entry, const ModemParams& params) {
    entry.newAddress = std::to_string(params.address);
    entry.newNetwork = std::string(NetworkName(params.network));
  }

  // Appends the line before anything is printed about it, so a closed
  // output never costs the record. A journal that fails turns a success
  // into status 6.
  int Journal(JournalRecord entry, int status, std::string_view result, const std::string& message) {
    entry.result = std::string(result);
    entry.message = message;
    Stamp(entry, run_);
    std::string error;
    if (journal_.IsOpen() && !journal_.Append(entry, &error)) {
      Say(error);
      status = status == ExitOk ? ExitStoreFailed : status;
    }
    if (registry_.Active() && !registry_.Record(entry, error)) {
      RegistryLost(error);
      status = status == ExitOk ? ExitStoreFailed : status;
    }
    return status;
  }

  // ---- Registry ------------------------------------------------------------------

  // Where journal lines wait while the registry cannot be reached.
  std::filesystem::path RegistrySpool() {
    const std::filesystem::path journal = JournalPath();
    return journal.empty() ? journal : journal.parent_path() / "registry-pending.tsv";
  }

  // Connects to the registry named by --registry or VORSAL_REGISTRY (none:
  // nothing to do) and sends the lines an earlier run could not.
  int OpenRegistry(bool forInit) {
    const std::string target = RegistryLink::Target(options_.registry);
    if (target.empty()) {
      return forInit ? Fail(ExitUsage, "no registry given: use --registry URL or set VORSAL_REGISTRY") : ExitOk;
    }
    const std::filesystem::path spool = RegistrySpool();
    if (spool.empty()) return Fail(ExitStoreFailed, "no place for the registry's pending lines: set XDG_DATA_HOME or HOME, or use --journal");
    int sent = 0;
    std::string error;
    if (!registry_.Open(target, spool, forInit, sent, error)) return Fail(ExitStoreFailed, error);
    if (!error.empty()) Say("warning: " + error);
    if (sent > 0) Say("sent " + std::to_string(sent) + " journal line(s) of an earlier run to the registry");
    return ExitOk;
  }

  // The registry went away: no more addresses, so no more modems.
  void RegistryLost(const std::string& error) {
    if (registryLostSaid_.exchange(true)) return;
    finished_ = true;
    Say(error);
    Say("the registry cannot be reached: the batch stops after the modems in hand. Their lines are in the "
        "local journal and in " + registry_.SpoolFile().string() + "; once the registry answers again, start "
        "the batch again (or run vorsal-cli journal --registry): they are sent first, once");
  }

  int RegistryInit() {
    if (const int status = OpenRegistry(true); status != ExitOk) return status;
    std::string description, error;
    if (!registry_.Init(description, error)) return Fail(ExitStoreFailed, error);
    Result(JsonObject().Add("registry", description).Add("result", "ok"), "the registry " + description + " is ready");
    return ExitOk;
  }

  // A failure's journal result: interrupted when a second stop abandoned it.
  std::string_view FailureResult() const { return StopCount() >= AbandonWhileConfiguring ? ResultInterrupted : ResultFailed; }
  int FailureStatus(int status) const { return StopCount() >= AbandonWhileConfiguring ? ExitInterrupted : status; }

  // The local journal's runs; with --registry (or VORSAL_REGISTRY without
  // --journal), every station's runs in the registry.
  int JournalSummary() {
    std::vector<RunSummary> runs;
    std::string text, error;
    if (!options_.registry.empty() || (options_.journal.empty() && !RegistryLink::Target("").empty())) {
      if (const int status = OpenRegistry(false); status != ExitOk) return status;
      if (!registry_.Summary(runs, error)) return Fail(ExitStoreFailed, error);
    } else {
      const std::filesystem::path file = JournalPath();
      if (file.empty()) return Fail(ExitStoreFailed, VORSAL_CLI_NO_DATA_DIRECTORY);
      if (!ReadJournalFile(file, text, &error)) return Fail(ExitStoreFailed, error);
      runs = SummarizeJournal(text);
    }
    for (const RunSummary& run : runs) {
      JsonObject json;
      json.Add("run_id", run.runId).Add("started", run.started).Add("operator", run.operatorName);
      json.Add("host", run.host).Add("done", run.done).Add("failed", run.failed).Add("skipped", run.skipped);
      std::string range = "none";
      if (run.lowestAddress >= 0) {
        json.Add("lowest_address", run.lowestAddress).Add("highest_address", run.highestAddress);
        range = std::to_string(run.lowestAddress) + "-" + std::to_string(run.highestAddress);
      }
      json.Add("seconds", static_cast<int>(run.seconds));
      char duration[32];
      std::snprintf(duration, sizeof duration, "%lld:%02lld:%02lld", run.seconds / 3600, run.seconds / 60 % 60,
                    run.seconds % 60);
      Result(json, run.started + "  run " + (run.runId.empty() ? "(earlier journal)" : run.runId) + "  " +
                       (run.operatorName.empty() ? "?" : run.operatorName) + "@" + (run.host.empty() ? "?" : run.host) +
                       "  done " + std::to_string(run.done) + ", failed " + std::to_string(run.failed) +
                       ", skipped " + std::to_string(run.skipped) + ", addresses " + range + ", " + duration);
    }
    return ExitOk;
  }

  // ---- Single commands -----------------------------------------------------------

  static JsonObject ParamsJson(const ModemParams& params) {
    JsonObject json;
    json.Add("address", params.address).Add("network", NetworkName(params.network));
    json.Add("firmware", params.firmware).Add("platform", params.platform);
    json.Add("key_functions", params.keyFunctions);
    return json;
  }

  int Read() {
    if (const int status = OpenPort(); status != ExitOk) return status;
    ModemParams params;
    if (const Outcome outcome = line_->ReadParams(params); outcome != Outcome::Ok) {
      return FailExchange(outcome, "read");
    }
    Result(ParamsJson(params), "address: " + std::to_string(params.address) +
                                   "\nnetwork: " + std::string(NetworkName(params.network)) +
                                   "\nfirmware: " + params.firmware + "\nplatform: " + params.platform +
                                   "\nkey functions: " + YesNo(params.keyFunctions));
    return ExitOk;
  }

  int Footprint() {
    if (const int status = OpenPort(); status != ExitOk) return status;
    std::string footprint;
    if (const Outcome outcome = line_->ReadFootprint(footprint); outcome != Outcome::Ok) {
      return FailExchange(outcome, "footprint read");
    }
    Result(JsonObject().Add("footprint", footprint), footprint);
    return ExitOk;
  }

  // Writes the address and network and reads them back. After a failure,
  // `after` holds what the modem reports when it could be read (`readBack`).
  struct AddressWrite {
    Outcome outcome = Outcome::Ok;
    std::string message;  // empty when the modem holds the new word
    ModemParams after;    // read back, or as the modem's own answer to the write has it
    bool readBack = false;
    bool acknowledged = false;  // the modem answered that it took the write
  };
  AddressWrite WriteVerified(ModemLine& line, const ModemParams& current, int address, int network) {
    AddressWrite result;
    const Outcome written = line.WriteAddress(current, address, network);
    if (written != Outcome::Ok) {
      result.outcome = written;
      result.message = "address write: " + OutcomeText(written, line);
    }
    // The read-back verifies a write that was answered and tells what a
    // modem holds after one that was not.
    line.SetAbandon([this] { return StopCount() >= AbandonReadBack; });
    const Outcome read = line.ReadParams(result.after);
    result.readBack = read == Outcome::Ok;
    if (written == Outcome::Ok) {
      if (!result.readBack) {
        // The write itself was answered: the modem holds the new word even
        // though the verifying read got no answer.
        result.acknowledged = true;
        result.after = current;
        result.after.address = address;
        result.after.network = network;
        result.outcome = read;
        result.message = "read-back: " + OutcomeText(read, line);
      } else if (result.after.address != address || result.after.network != network) {
        result.outcome = Outcome::NotAccepted;
        result.message = "verification failed: the modem reports address " + std::to_string(result.after.address) +
                         " " + std::string(NetworkName(result.after.network));
      }
    }
    return result;
  }

  int Write() {
    if (const int status = OpenJournal(); status != ExitOk) return status;
    if (const int status = OpenPort(); status != ExitOk) return status;
    CatchStops();
    JournalRecord entry = Entry("write", portPath_, adapter_);
    ModemParams current;
    if (const Outcome outcome = line_->ReadParams(current); outcome != Outcome::Ok) {
      // Nothing was changed or verified: no journal line.
      return FailExchange(outcome, "read before the write");
    }
    SetOld(entry, current);
    if (StopCount() > 0) return Fail(ExitInterrupted, "stopped before the write; the modem is unchanged");
    line_->SetAbandon([this] { return StopCount() >= AbandonWhileConfiguring; });
    const AddressWrite write = WriteVerified(*line_, current, options_.address, options_.network);
    if (write.readBack || write.acknowledged) SetNew(entry, write.after);
    if (!write.message.empty()) {
      const int status = Journal(entry, FailureStatus(ExitCodeOf(write.outcome)), FailureResult(), write.message);
      Say(write.message);
      return status;
    }
    const int status = Journal(entry, ExitOk, ResultOk, "");
    JsonObject json;
    json.Add("old_address", current.address).Add("old_network", NetworkName(current.network));
    json.Add("address", options_.address).Add("network", NetworkName(options_.network)).Add("verified", true);
    Result(json, "address " + entry.newAddress + ", " + entry.newNetwork + " network (was " + entry.oldAddress +
                     ", " + entry.oldNetwork + "); verified");
    return status;
  }

  // ---- Keys ------------------------------------------------------------------------

  void Progress(const std::string& what, int done, int total) {
    const std::lock_guard<std::mutex> guard(io_);
    if (env_.errIsTerminal && !severalPorts_) {
      constexpr int Width = 30;
      const int filled = done * Width / total;
      err_ << '\r' << what << " [" << std::string(static_cast<std::size_t>(filled), '#')
           << std::string(static_cast<std::size_t>(Width - filled), ' ') << "] " << done * 100 / total << '%';
      if (done == total) err_ << '\n';
      err_.flush();
    } else if (total <= 10) {
      err_ << what << ' ' << done << '/' << total << '\n';
    } else if (done == total || (done * 10 / total) != ((done - 1) * 10 / total)) {
      err_ << what << ' ' << done * 100 / total << "%\n";
    }
  }

  // Looks the key up in Keys.ini or derives and stores it. A key that
  // Keys.ini cannot keep still goes to the modem: that is what was asked
  // for, and the same name derives the same key next time; keyNotStored_
  // remembers it for the exit status.
  int ObtainKey() {
    const std::filesystem::path store = env_.keyStore.empty() ? KeyStorePath() : env_.keyStore;
    KeyObtainHooks hooks;
    hooks.progress = [this](int chunk) { Progress("deriving key", chunk, KeyDerivationChunks); };
    const ObtainedKey obtained = vorsal::ObtainKey(options_.keyName, store, hooks);
    key_ = obtained.key;
    // A name kept off the command line (typed or read from a file) is not
    // shown on the screen either.
    const std::string name = options_.keyFile.empty() ? "key '" + options_.keyNameUtf8 + "'" : "the key";
    if (obtained.source == KeySourceKind::Store) {
      Message() << name << " found in " << platform::Utf8FromPath(store) << '\n';
      return ExitOk;
    }
    switch (obtained.storing) {
      case KeyStoring::Stored:
        Message() << name << " stored in " << platform::Utf8FromPath(store) << '\n';
        break;
      case KeyStoring::KeptOther:
        Message() << name << " is in " << platform::Utf8FromPath(store) << " with another key, left as it is\n";
        break;
      case KeyStoring::NotStorable:
        Message() << "key name cannot be kept in Keys.ini as it is; the key is written but not stored\n";
        break;
      case KeyStoring::Failed:
        Message() << obtained.storeError << "; the key goes to the modem but is not stored\n";
        keyNotStored_ = true;
        break;
      case KeyStoring::NotTried:
        break;
    }
    return ExitOk;
  }

  std::function<void(int)> KeyProgress(const std::string& prefix, int* acknowledged) {
    return [this, prefix, acknowledged](int parts) {
      *acknowledged = parts;
      Progress(prefix + "key parts acknowledged", parts, KeyPartCount);
    };
  }

  // Writes the key and reads the footprint back. On failure the message
  // says how far the transfer came, and `footprint` holds what the modem
  // reports afterwards when it could be read.
  std::string WriteKey(ModemLine& line, const std::string& prefix, std::string& footprint, Outcome& outcome) {
    int acknowledged = 0;
    outcome = line.SendKey(key_.data(), KeyProgress(prefix, &acknowledged));
    if (outcome != Outcome::Ok) {
      const std::string message = "key transfer: " + OutcomeText(outcome, line) + " after " +
                                  std::to_string(acknowledged) + " of " + std::to_string(KeyPartCount) + " parts";
      line.SetAbandon([this] { return StopCount() >= AbandonReadBack; });
      if (line.ReadFootprint(footprint) != Outcome::Ok) footprint.clear();
      return message;
    }
    outcome = line.ReadFootprint(footprint);
    if (outcome != Outcome::Ok) return "footprint read after the key: " + OutcomeText(outcome, line);
    return {};
  }

  int SetKey() {
    if (const int status = OpenJournal(); status != ExitOk) return status;
    if (const int status = OpenPort(); status != ExitOk) return status;
    CatchStops();
    ModemParams current;
    if (const Outcome outcome = line_->ReadParams(current); outcome != Outcome::Ok) {
      return FailExchange(outcome, "read before the key");
    }
    JournalRecord entry = Entry("set-key", portPath_, adapter_);
    SetOld(entry, current);
    if (!current.keyFunctions) {
      const std::string message = "firmware " + current.firmware + KeyRefusedByFirmware;
      const int status = Journal(entry, ExitRefused, ResultRefused, message);
      Say(message);
      return status;
    }
    if (const int status = ObtainKey(); status != ExitOk) return status;
    if (StopCount() > 0) return Fail(ExitInterrupted, "stopped before the key was sent; the modem is unchanged");
    line_->SetAbandon([this] { return StopCount() >= AbandonWhileConfiguring; });
    Outcome outcome = Outcome::Ok;
    const std::string failure = WriteKey(*line_, "", entry.footprint, outcome);
    if (!failure.empty()) {
      const int status = Journal(entry, FailureStatus(ExitCodeOf(outcome)), FailureResult(), failure);
      Say(failure);
      return status;
    }
    const int status = Journal(entry, ExitOk, ResultOk, "");
    // A name kept off the command line is not shown now either.
    if (!options_.keyFile.empty()) {
      Result(JsonObject().Add("footprint", entry.footprint), "key written; footprint " + entry.footprint);
    } else {
      Result(JsonObject().Add("key_name", options_.keyNameUtf8).Add("footprint", entry.footprint),
             "key '" + options_.keyNameUtf8 + "' written; footprint " + entry.footprint);
    }
    if (status == ExitOk && keyNotStored_) {
      Say("the key is in the modem, but Keys.ini could not keep it");
      return ExitStoreFailed;
    }
    return status;
  }

  // ---- Batch -----------------------------------------------------------------------

  struct BatchPort {
    std::string path;
    std::string adapter;
  };

  // Every -p port, or every USB adapter when none is given.
  bool BatchPorts(std::vector<BatchPort>& ports) {
    for (const std::string& port : options_.ports) {
      const std::string path = ComPortDevicePath(port);
      if (std::any_of(ports.begin(), ports.end(), [&](const BatchPort& p) { return p.path == path; })) continue;
      ports.push_back({path, AdapterIdentity(ReadUsbIdentity(path, env_.sysfsRoot, env_.byIdDir))});
    }
    if (!ports.empty()) return true;
    for (const PortInfo& port : ListPorts()) {
      if (!port.usb.IsUsb()) continue;
      Message() << "using " << Describe(port) << '\n';
      ports.push_back({port.path, AdapterIdentity(port.usb)});
    }
    if (ports.empty()) Message() << "no port given and no USB serial adapter found; use -p PORT\n";
    return !ports.empty();
  }

  bool Finished() const { return finished_.load(); }
  bool StopWaiting() const { return StopCount() >= AbandonWhileWaiting || Finished(); }

  // Reads until a modem answers; false when stopped first. A port that went
  // away (an adapter unplugged with its modem) is opened again and again.
  bool AwaitModem(ModemLine& line, ModemParams& params) {
    line.SetAbandon([this] { return StopWaiting(); });
    while (!StopWaiting()) {
      if (!line.IsOpen()) {
        line.Close();
        if (!OpenLine(line, nullptr)) {
          sleep_(ReopenPauseMs);
          continue;
        }
      }
      if (line.ReadParams(params) == Outcome::Ok) return true;
    }
    return false;
  }

  // Reads until the modem stops answering (or its port goes away); false
  // when stopped first.
  bool AwaitDisconnect(ModemLine& line) {
    line.SetAbandon([this] { return StopWaiting(); });
    while (!StopWaiting()) {
      ModemParams params;
      const Outcome outcome = line.ReadParams(params);
      if (StopWaiting()) break;
      if (outcome == Outcome::NoReply || outcome == Outcome::PortLost) return true;
      sleep_(PollPauseMs);
    }
    return false;
  }

  // Takes a place for one more modem unless --count is reached with the
  // modems done and in hand.
  bool BeginModem() {
    const std::lock_guard<std::mutex> guard(state_);
    if (options_.count != 0 && done_ + inHand_ >= options_.count) return false;
    ++inHand_;
    return true;
  }

  void EndModem(int status, std::string_view result) {
    const std::lock_guard<std::mutex> guard(state_);
    --inHand_;
    switch (CountOf(result)) {
      case Counted::Done: ++done_; break;
      case Counted::Failed:
        ++failed_;
        batchStatus_ = status;
        break;
      case Counted::Skipped: break;
    }
    if (status == ExitStoreFailed) {
      batchStatus_ = status;
      finished_ = true;  // nothing more without a journal
    }
    if (options_.count != 0 && done_ >= options_.count) finished_ = true;
    if (pool_.Next() > MaxAddress && inHand_ == 0) finished_ = true;
  }

  // Whether a modem that answers at an address this run wrote is one this
  // run configured. With a key its footprint tells; without one the
  // operator is asked on a terminal, and it is left alone otherwise.
  enum class Seen { New, Done, Skip };
  Seen SeenBefore(ModemLine& line, const std::string& prefix, const ModemParams& current) {
    {
      const std::lock_guard<std::mutex> guard(state_);
      if (current.network != options_.network || !pool_.Taken(current.address)) return Seen::New;
    }
    if (options_.keyGiven) {
      std::string footprint;
      if (line.ReadFootprint(footprint) != Outcome::Ok) return Seen::New;
      const std::lock_guard<std::mutex> guard(state_);
      return footprint == referenceFootprint_ ? Seen::Done : Seen::New;
    }
    if (!env_.ask) return Seen::Skip;
    const std::lock_guard<std::mutex> guard(ask_);
    const std::optional<std::string> answer =
        env_.ask("vorsal-cli: " + prefix + "the modem answers at address " + std::to_string(current.address) +
                 ", which this run wrote: write the next address (w) or skip it (s)? ");
    return answer && !answer->empty() && ((*answer)[0] == 'w' || (*answer)[0] == 'W') ? Seen::New : Seen::Skip;
  }

  void LeftForCount(const std::string& prefix) {
    Say(prefix + "the batch has its " + std::to_string(options_.count) + " modems; this one is left as it is");
  }

  // One modem of the batch, from its first answer to its journal line.
  void BatchModem(ModemLine& line, const BatchPort& port, const std::string& prefix, const ModemParams& current) {
    JournalRecord entry = Entry("batch", port.path, port.adapter);
    SetOld(entry, current);
    const auto finish = [&](int status, std::string_view result, const std::string& message) {
      status = Journal(entry, status, result, message);
      JsonObject json;
      json.Add("port", port.path).Add("old_address", current.address).Add("old_network", NetworkName(current.network));
      json.Add("address", entry.newAddress).Add("network", entry.newNetwork).Add("firmware", current.firmware);
      if (options_.keyGiven) json.Add("footprint", entry.footprint);
      json.Add("result", result).Add("message", message);
      std::string text = prefix + "address " + entry.newAddress + " " + entry.newNetwork + " (was " +
                         entry.oldAddress + " " + entry.oldNetwork + ", firmware " + current.firmware + ")";
      if (!entry.footprint.empty()) text += " footprint " + entry.footprint;
      text += ": " + std::string(result);
      if (!message.empty()) text += ": " + message;
      Result(json, text);
      EndModem(status, result);
    };

    switch (SeenBefore(line, prefix, current)) {
      case Seen::Done:
        Say(prefix + "this modem got address " + std::to_string(current.address) + " and the key in this run; disconnect it");
        return;
      case Seen::Skip:
        if (!BeginModem()) return LeftForCount(prefix);
        return finish(ExitOk, ResultSkipped,
                      "answers at address " + std::to_string(current.address) +
                          ", which this run wrote; left as it is (without a key a new modem cannot be told from it)");
      case Seen::New:
        break;
    }
    if (!BeginModem()) return LeftForCount(prefix);
    line.SetAbandon([this] { return StopCount() >= AbandonWhileConfiguring; });
    if (options_.keyGiven) {
      if (!current.keyFunctions) {
        return finish(ExitRefused, ResultRefused, "firmware " + current.firmware + KeyRefusedByFirmware);
      }
      // The key first: its parts carry no address, so a modem whose key
      // fails keeps the address it came with and takes none from the next.
      Outcome outcome = Outcome::Ok;
      std::string failure = WriteKey(line, prefix, entry.footprint, outcome);
      if (failure.empty()) {
        const std::lock_guard<std::mutex> guard(state_);
        if (referenceFootprint_.empty()) referenceFootprint_ = entry.footprint;
        if (entry.footprint != referenceFootprint_) {
          outcome = Outcome::NotAccepted;
          failure = "verification failed: footprint " + entry.footprint + ", earlier modems with this key report " +
                    referenceFootprint_;
        }
      }
      if (!failure.empty()) return finish(FailureStatus(ExitCodeOf(outcome)), FailureResult(), failure);
    }
    std::optional<int> address;
    if (registry_.Active()) {
      // The registry hands out the address before the modem is written.
      int taken = -1;
      std::string error;
      switch (registry_.TakeAddress(options_.network, options_.start, MaxAddress, run_, port.path, taken, error)) {
        case RegistryLink::Take::Ok: {
          const std::lock_guard<std::mutex> guard(state_);
          pool_.Reserve(taken);
          address = taken;
          break;
        }
        case RegistryLink::Take::Exhausted:
          finished_ = true;
          return finish(ExitRefused, ResultRefused, error);
        case RegistryLink::Take::Lost:
          RegistryLost(error);
          return finish(ExitStoreFailed, ResultFailed,
                        "no address from the registry, none written: the modem keeps address " +
                            std::to_string(current.address));
      }
    } else {
      const std::lock_guard<std::mutex> guard(state_);
      address = pool_.Reserve();
    }
    if (!address) return finish(ExitRefused, ResultRefused, "no address left up to " + std::to_string(MaxAddress));
    const AddressWrite write = WriteVerified(line, current, *address, options_.network);
    const bool holds = write.readBack && write.after.address == *address && write.after.network == options_.network;
    if (write.readBack || write.acknowledged) SetNew(entry, write.after);
    else entry.newAddress = std::to_string(*address);  // it may hold it: never claim less
    {
      // An address the modem holds, or may hold, is never handed out again.
      const std::lock_guard<std::mutex> guard(state_);
      if (holds || !write.readBack) pool_.Take(*address);
      else pool_.GiveBack(*address);
    }
    if (!holds && write.readBack && registry_.Active()) registry_.Release(options_.network, *address, run_);
    if (holds) {
      // A reply that was not accepted, yet the modem took the word: it is
      // configured, and the journal says how it went.
      return finish(ExitOk, ResultOk, write.message.empty() ? "" : write.message + "; read back: taken");
    }
    std::string message = write.message;
    if (!write.readBack) message += "; not read back: the modem may hold address " + std::to_string(*address);
    finish(FailureStatus(ExitCodeOf(write.outcome)), FailureResult(), message);
  }

  // Opening a port sets the line's connection type for the whole program,
  // so ports are opened one at a time.
  bool OpenLine(ModemLine& line, std::string* failure) {
    const std::lock_guard<std::mutex> guard(opening_);
    return line.Open(failure);
  }

  // One port of the batch, on a thread of its own. No port talks to its
  // modem before every port is open.
  void ServePort(const BatchPort& port, std::latch& allOpen) {
    const std::string prefix = severalPorts_ ? port.path + ": " : "";
    std::unique_ptr<ModemLine> line = MakeLine(port.path);
    std::string failure;
    const bool opened = OpenLine(*line, &failure);
    allOpen.arrive_and_wait();
    if (!opened) {
      Say(failure);
      const std::lock_guard<std::mutex> guard(state_);
      batchStatus_ = ExitPortFailed;
      return;
    }
    while (!StopWaiting()) {
      int next = 0;
      {
        const std::lock_guard<std::mutex> guard(state_);
        next = pool_.Next();
      }
      Say(prefix + "waiting for a modem on " + port.path +
          (registry_.Active() ? " (its address comes from the registry)" : " (next address " + std::to_string(next) + ")"));
      ModemParams current;
      if (!AwaitModem(*line, current)) break;
      if (StopWaiting()) {
        Say(prefix + "stopping: the modem at address " + std::to_string(current.address) + " is left as it is");
        break;
      }
      WarnAboutStart(current);
      BatchModem(*line, port, prefix, current);
      // The last modem of --count K is done: nothing more to wait for.
      if (StopWaiting()) break;
      Say(prefix + "disconnect the modem");
      if (!AwaitDisconnect(*line)) break;
    }
    line->Close();
  }

  // Without a key, a modem that arrives with the start address cannot be
  // told from one this run gave it.
  void WarnAboutStart(const ModemParams& first) {
    if (options_.keyGiven || firstSeen_.exchange(true)) return;
    if (first.address == options_.start && first.network == options_.network) {
      Say("warning: the first modem already has address " + std::to_string(options_.start) +
          "; new modems that arrive with it look like ones this run wrote (choose another --start, or use a key)");
    }
  }

  int Batch() {
    std::vector<BatchPort> ports;
    if (!BatchPorts(ports)) return ExitUsage;
    severalPorts_ = ports.size() > 1;
    if (options_.keyGiven) {
      if (const int status = ObtainKey(); status != ExitOk) return status;
    }
    if (const int status = OpenJournal(); status != ExitOk) return status;
    if (const int status = OpenRegistry(false); status != ExitOk) return status;
    CatchStops();
    std::latch allOpen(static_cast<std::ptrdiff_t>(ports.size()));
    if (ports.size() == 1) {
      ServePort(ports[0], allOpen);
    } else {
      std::vector<std::thread> threads;
      for (const BatchPort& port : ports) threads.emplace_back([this, &port, &allOpen] { ServePort(port, allOpen); });
      for (std::thread& thread : threads) thread.join();
    }
    if (StopCount() > 0) Say("stopped");
    const int next = pool_.Next();
    if (registry_.Active()) {
      // The next address is the registry's to give, whoever asks next.
      Result(JsonObject().Add("done", done_).Add("failed", failed_),
             "done " + std::to_string(done_) + ", failed " + std::to_string(failed_) +
                 ", addresses from the registry");
    } else {
      Result(JsonObject().Add("done", done_).Add("failed", failed_).Add("next_address", next),
             "done " + std::to_string(done_) + ", failed " + std::to_string(failed_) + ", next address " +
                 std::to_string(next));
    }
    return batchStatus_;
  }

  CliOptions options_;
  CliEnvironment& env_;
  std::ostream& out_;
  std::ostream& err_;
  std::function<void(int)> sleep_;
  std::unique_ptr<ModemLine> line_;  // of a single command
  production::Journal journal_;
  RegistryLink registry_;
  std::atomic<bool> registryLostSaid_{false};
  std::string portPath_;
  std::string adapter_;
  BinaryKeyBytes key_{};
  bool keyNotStored_ = false;  // a derived key that Keys.ini could not take
  bool outputFailed_ = false;
  std::mutex io_;     // standard output and error
  std::mutex ask_;    // one question on the terminal at a time
  std::mutex opening_;

  // The batch's state shared by its ports, under state_.
  bool severalPorts_ = false;
  std::mutex state_;
  AddressPool pool_;
  RunIdentity run_;  // of every journal line, local and in the registry
  std::string referenceFootprint_;  // the first footprint of the batch's key
  int done_ = 0, failed_ = 0, inHand_ = 0;
  int batchStatus_ = ExitOk;
  std::atomic<bool> finished_{false};
  std::atomic<bool> firstSeen_{false};
};

}  // namespace

int ExitCodeOf(Outcome outcome) {
  switch (outcome) {
    case Outcome::Ok:
      return ExitOk;
    case Outcome::NoReply:
      return ExitNoReply;
    case Outcome::NotAccepted:
      return ExitRefused;
    case Outcome::PortLost:
      return ExitPortFailed;
  }
  return ExitRefused;
}

std::unique_ptr<ModemLine> MakeLinkLine(const std::string& path, int connectionType, LinkClock* clock,
                                        int retries) {
  return std::make_unique<LinkLine>(path, connectionType, clock, retries);
}

int RunCli(const CliOptions& options, CliEnvironment& env) { return Runner(options, env).Run(); }

}  // namespace vorsal::cli
