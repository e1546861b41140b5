#include "cli/commands.h"

#include "app/program_paths.h"
#include "cli/journal.h"
#include "cli/json_text.h"
#include "keys/cp1251.h"
#include "keys/gost_hash.h"
#include "keys/hex_utils.h"
#include "keys/key_store.h"
#include "platform/files.h"
#include "serial/com_port.h"
#include "serial/port_diagnosis.h"
#include "serial/usb_identity.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace vorsal::cli {

namespace {

constexpr int PollPauseMs = 500;     // between parameter reads while a modem stays connected
constexpr int ReopenPauseMs = 500;   // between attempts to open a port that went away

std::string DescribeOutcome(Outcome outcome, const ModemLink& link) {
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
std::string PortOpenAdvice(const std::string& path, int systemCode) {
  const PortOpenDiagnosis diagnosis = DiagnosePortOpen(path, systemCode);
  std::string text;
  if (systemCode > 0) text += "\n  reason: " + platform::SystemErrorText(systemCode);
  if (!diagnosis.deviceExists) {
    text += "\n  the device does not exist: is the adapter plugged in? ('vorsal-cli ports' lists the ports)";
  }
  for (const PortHolder& holder : diagnosis.holders) {
    text += "\n  in use by process " + std::to_string(holder.pid) +
            (holder.command.empty() ? "" : " (" + holder.command + ")") + "; close it first";
  }
  if (diagnosis.busy && diagnosis.holders.empty()) {
    text += "\n  the port is in use by another program; close it first";
  }
  if (diagnosis.permissionDenied) {
    const std::string& group = diagnosis.grantingGroup;
    if (group.empty()) {
      text += "\n  no group may read and write the device; ask the administrator for access";
    } else if (diagnosis.userInGroup && !diagnosis.sessionHasGroup) {
      text += "\n  you were added to group '" + group + "', but this session predates it: log out and back in";
    } else if (!diagnosis.userInGroup) {
      text += "\n  join group '" + group + "', which may read and write the device: sudo usermod -aG " + group +
              " $USER, then log in again";
    }
  }
  return text;
}

std::string YesNo(bool value) { return value ? "yes" : "no"; }

// Runs one command with the environment's streams, port and journal.
class Runner {
 public:
  Runner(const CliOptions& options, CliEnvironment& env)
      : options_(options), env_(env), out_(*env.out), err_(*env.err),
        sleep_(env.sleep ? env.sleep : [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }),
        link_(sleep_, options.retries) {}

  int Run() {
    switch (options_.command) {
      case Command::Help:
        out_ << HelpText(options_.helpFor);
        return ExitOk;
      case Command::Version:
        out_ << VersionText("vorsal-cli");
        return ExitOk;
      case Command::Ports:
        return Ports();
      default:
        break;
    }
    if (const int status = PickPort(); status != ExitOk) return status;
    switch (options_.command) {
      case Command::Read:
        return Read();
      case Command::Footprint:
        return Footprint();
      case Command::Write:
        return Write();
      case Command::SetKey:
        return SetKey();
      case Command::Batch:
        return Batch();
      default:
        return ExitUsage;
    }
  }

 private:
  // ---- Messages and results --------------------------------------------------

  std::ostream& Message() { return err_ << "vorsal-cli: "; }

  void Result(const JsonObject& json, const std::string& text) {
    out_ << (options_.json ? json.Text() : text) << '\n';
    out_.flush();
  }

  int Fail(int status, const std::string& message) {
    Message() << message << '\n';
    return status;
  }

  int FailExchange(Outcome outcome, const std::string& what) {
    return Fail(ExitCodeOf(outcome), what + ": " + OutcomeText(outcome));
  }

  std::string OutcomeText(Outcome outcome) const {
    std::string text = DescribeOutcome(outcome, link_);
    if (outcome == Outcome::NoReply && options_.retries > 0) {
      text += " (" + std::to_string(options_.retries + 1) + " attempts)";
    }
    return text;
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
      adapterSerial_ = ReadUsbIdentity(portPath_, env_.sysfsRoot, env_.byIdDir).serial;
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
    adapterSerial_ = adapters[0].usb.serial;
    Message() << "using " << Describe(adapters[0]) << '\n';
    return ExitOk;
  }

  bool TryOpen(std::string* failure) {
    try {
      link_.Open(portPath_, options_.connectionType);
      return true;
    } catch (const EComPort& e) {
      if (failure != nullptr) {
        *failure = "cannot open " + portPath_ + ": " + e.what() + PortOpenAdvice(portPath_, e.SystemCode());
      }
      return false;
    }
  }

  int OpenPort() {
    std::string failure;
    return TryOpen(&failure) ? ExitOk : Fail(ExitPortFailed, failure);
  }

  // ---- Journal -------------------------------------------------------------------

  int OpenJournal() {
    if (options_.noJournal) return ExitOk;
    std::filesystem::path file = platform::PathFromUtf8(options_.journal);
    if (file.empty()) {
      const std::filesystem::path dir = UserDataDir();
      if (dir.empty()) return Fail(ExitStoreFailed, "no journal location: set XDG_DATA_HOME or HOME, or use --journal");
      file = dir / "journal.csv";
    }
    std::string error;
    if (!journal_.Open(file, &error)) return Fail(ExitStoreFailed, error);
    return ExitOk;
  }

  JournalEntry Entry(std::string operation) const {
    JournalEntry entry;
    entry.port = portPath_;
    entry.adapterSerial = adapterSerial_;
    entry.operation = std::move(operation);
    return entry;
  }

  static void SetOld(JournalEntry& entry, const ModemParams& params) {
    if (params.address < 0) return;
    entry.oldAddress = std::to_string(params.address);
    entry.oldNetwork = std::string(NetworkName(params.network));
    entry.firmware = params.firmware;
  }

  // Appends the entry; a journal that fails turns a success into status 6.
  int Journal(JournalEntry entry, int status, const std::string& message) {
    entry.result = status == ExitOk ? "ok" : "failed";
    entry.message = message;
    if (!journal_.IsOpen()) return status;
    std::string error;
    if (!journal_.Append(entry, &error)) {
      Message() << error << '\n';
      return status == ExitOk ? ExitStoreFailed : status;
    }
    return status;
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
    if (const Outcome outcome = link_.ReadParams(params); outcome != Outcome::Ok) {
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
    if (const Outcome outcome = link_.ReadFootprint(footprint); outcome != Outcome::Ok) {
      return FailExchange(outcome, "footprint read");
    }
    Result(JsonObject().Add("footprint", footprint), footprint);
    return ExitOk;
  }

  int Write() {
    if (const int status = OpenJournal(); status != ExitOk) return status;
    if (const int status = OpenPort(); status != ExitOk) return status;
    JournalEntry entry = Entry("write");
    entry.newAddress = std::to_string(options_.address);
    entry.newNetwork = std::string(NetworkName(options_.network));
    ModemParams current;
    if (const Outcome outcome = link_.ReadParams(current); outcome != Outcome::Ok) {
      // Nothing was changed or verified: no journal line.
      return FailExchange(outcome, "read before the write");
    }
    SetOld(entry, current);
    std::string unusedFootprint;
    const ModemStep step = ConfigureModem(link_, current, options_.address, options_.network, nullptr, unusedFootprint);
    if (step.exitCode != ExitOk) {
      Message() << step.message << '\n';
      return Journal(entry, step.exitCode, step.message);
    }
    JsonObject json;
    json.Add("old_address", current.address).Add("old_network", NetworkName(current.network));
    json.Add("address", options_.address).Add("network", NetworkName(options_.network)).Add("verified", true);
    Result(json, "address " + entry.newAddress + ", " + entry.newNetwork + " network (was " + entry.oldAddress +
                     ", " + entry.oldNetwork + "); verified");
    return Journal(entry, ExitOk, "");
  }

  // ---- Keys ------------------------------------------------------------------------

  void Progress(const std::string& what, int done, int total) {
    if (env_.errIsTerminal) {
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

  // Looks the key up in Keys.ini or derives and stores it.
  int ObtainKey() {
    const std::filesystem::path store = KeyStorePath();
    const std::string stored = KeyStoreLookup(store, options_.keyName);
    if (!stored.empty()) {
      HexToBytes(stored, key_.data(), static_cast<int>(key_.size()));
      Message() << "key '" << options_.keyNameUtf8 << "' found in " << platform::Utf8FromPath(store) << '\n';
      return ExitOk;
    }
    BeginKeyDerivation(options_.keyName);
    for (int chunk = 1; chunk <= KeyDerivationChunks; ++chunk) {
      ContinueKeyDerivation();
      Progress("deriving key", chunk, KeyDerivationChunks);
    }
    std::copy(std::begin(BinaryKey), std::end(BinaryKey), key_.begin());
    if (!KeyNameStorable(options_.keyName)) {
      Message() << "key name cannot be kept in Keys.ini as it is; the key is written but not stored\n";
      return ExitOk;
    }
    std::string error;
    // A key that Keys.ini cannot keep still goes to the modem: that is what
    // was asked for, and the same name derives the same key next time.
    if (!KeyStoreSave(store, options_.keyName, BytesToHex(key_.data(), static_cast<int>(key_.size())), &error)) {
      Message() << error << "; the key goes to the modem but is not stored\n";
      return ExitOk;
    }
    Message() << "key '" << options_.keyNameUtf8 << "' stored in " << platform::Utf8FromPath(store) << '\n';
    return ExitOk;
  }

  std::function<void(int)> KeyProgress() {
    return [this](int parts) { Progress("key parts acknowledged", parts, KeyPartCount); };
  }

  int SetKey() {
    if (const int status = OpenJournal(); status != ExitOk) return status;
    if (const int status = OpenPort(); status != ExitOk) return status;
    ModemParams current;
    if (const Outcome outcome = link_.ReadParams(current); outcome != Outcome::Ok) {
      return FailExchange(outcome, "read before the key");
    }
    JournalEntry entry = Entry("set-key");
    SetOld(entry, current);
    entry.keyName = options_.keyNameUtf8;
    if (!current.keyFunctions) {
      const std::string message = "firmware " + current.firmware + " does not offer the key functions";
      Message() << message << '\n';
      return Journal(entry, ExitRefused, message);
    }
    if (const int status = ObtainKey(); status != ExitOk) return status;
    if (const Outcome outcome = link_.SendKey(key_.data(), KeyProgress()); outcome != Outcome::Ok) {
      const std::string message = "key transfer: " + OutcomeText(outcome);
      Message() << message << '\n';
      return Journal(entry, ExitCodeOf(outcome), message);
    }
    if (const Outcome outcome = link_.ReadFootprint(entry.footprint); outcome != Outcome::Ok) {
      const std::string message = "footprint read after the key: " + OutcomeText(outcome);
      Message() << message << '\n';
      return Journal(entry, ExitCodeOf(outcome), message);
    }
    Result(JsonObject().Add("key_name", options_.keyNameUtf8).Add("footprint", entry.footprint),
           "key '" + options_.keyNameUtf8 + "' written; footprint " + entry.footprint);
    return Journal(entry, ExitOk, "");
  }

  // ---- Batch -----------------------------------------------------------------------

  bool StopRequested() const { return env_.stopRequested != nullptr && *env_.stopRequested != 0; }

  // Reads until a modem answers; false when stopped first. A port that went
  // away (an adapter unplugged with its modem) is opened again and again.
  bool AwaitModem(ModemParams& params) {
    while (!StopRequested()) {
      if (!link_.IsOpen()) {
        link_.Close();
        if (!TryOpen(nullptr)) {
          sleep_(ReopenPauseMs);
          continue;
        }
      }
      if (link_.ReadParams(params) == Outcome::Ok) return true;
    }
    return false;
  }

  // Reads until the modem stops answering (or its port goes away); false
  // when stopped first.
  bool AwaitDisconnect() {
    while (!StopRequested()) {
      ModemParams params;
      const Outcome outcome = link_.ReadParams(params);
      if (outcome == Outcome::NoReply || outcome == Outcome::PortLost) return true;
      sleep_(PollPauseMs);
    }
    return false;
  }

  int Batch() {
    if (options_.keyGiven) {
      if (const int status = ObtainKey(); status != ExitOk) return status;
    }
    if (const int status = OpenJournal(); status != ExitOk) return status;
    if (const int status = OpenPort(); status != ExitOk) return status;

    int next = options_.start;
    int done = 0, failed = 0, status = ExitOk;
    std::set<std::pair<int, int>> written;  // address and network this run gave a modem
    std::string referenceFootprint;
    while (!StopRequested() && (options_.count == 0 || done < options_.count) && next <= MaxAddress) {
      Message() << "waiting for a modem on " << portPath_ << " (next address " << next << ")\n";
      ModemParams current;
      if (!AwaitModem(current)) break;
      if (written.count({current.address, current.network}) != 0) {
        Message() << "this modem already got address " << current.address << " in this run; disconnect it\n";
      } else {
        const int result = BatchModem(current, next, referenceFootprint);
        if (result == ExitOk) {
          written.insert({next, options_.network});
          ++done;
          ++next;
        } else {
          ++failed;
          status = result;
          if (result == ExitStoreFailed) break;
        }
        // The last modem of --count K is done: nothing more to wait for.
        if (options_.count != 0 && done == options_.count) break;
        Message() << "disconnect the modem\n";
      }
      if (!AwaitDisconnect()) break;
    }
    if (StopRequested()) Message() << "stopped\n";
    Result(JsonObject().Add("done", done).Add("failed", failed).Add("next_address", next),
           "done " + std::to_string(done) + ", failed " + std::to_string(failed) + ", next address " +
               std::to_string(next));
    return status;
  }

  int BatchModem(const ModemParams& current, int address, std::string& referenceFootprint) {
    JournalEntry entry = Entry("batch");
    SetOld(entry, current);
    entry.newAddress = std::to_string(address);
    entry.newNetwork = std::string(NetworkName(options_.network));
    if (options_.keyGiven) entry.keyName = options_.keyNameUtf8;
    ModemStep step;
    if (options_.keyGiven && !current.keyFunctions) {
      step.exitCode = ExitRefused;
      step.message = "firmware " + current.firmware + " does not offer the key functions";
    } else {
      step = ConfigureModem(link_, current, address, options_.network, options_.keyGiven ? &key_ : nullptr,
                            referenceFootprint, KeyProgress());
    }
    entry.footprint = step.footprint;
    JsonObject json;
    json.Add("old_address", current.address).Add("old_network", NetworkName(current.network));
    json.Add("address", address).Add("network", entry.newNetwork).Add("firmware", current.firmware);
    if (options_.keyGiven) json.Add("footprint", step.footprint);
    json.Add("result", step.exitCode == ExitOk ? "ok" : "failed").Add("message", step.message);
    std::string text = "address " + entry.newAddress + " " + entry.newNetwork + " (was " + entry.oldAddress + " " +
                       entry.oldNetwork + ", firmware " + current.firmware + ")";
    if (options_.keyGiven && !step.footprint.empty()) text += " footprint " + step.footprint;
    text += step.exitCode == ExitOk ? ": ok" : ": failed: " + step.message;
    Result(json, text);
    return Journal(entry, step.exitCode, step.message);
  }

  const CliOptions& options_;
  CliEnvironment& env_;
  std::ostream& out_;
  std::ostream& err_;
  std::function<void(int)> sleep_;
  ModemLink link_;
  cli::Journal journal_;
  std::string portPath_;
  std::string adapterSerial_;
  BinaryKeyBytes key_{};
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

ModemStep ConfigureModem(ModemLink& link, const ModemParams& current, int address, int network,
                         const BinaryKeyBytes* key, std::string& referenceFootprint,
                         const std::function<void(int)>& keyProgress) {
  ModemStep step;
  const auto fail = [&](Outcome outcome, const std::string& what) {
    step.outcome = outcome;
    step.exitCode = ExitCodeOf(outcome);
    step.message = what + ": " + DescribeOutcome(outcome, link);
    return step;
  };
  if (const Outcome outcome = link.WriteAddress(current, address, network); outcome != Outcome::Ok) {
    return fail(outcome, "address write");
  }
  if (key != nullptr) {
    if (const Outcome outcome = link.SendKey(key->data(), keyProgress); outcome != Outcome::Ok) {
      return fail(outcome, "key transfer");
    }
  }
  ModemParams after;
  if (const Outcome outcome = link.ReadParams(after); outcome != Outcome::Ok) return fail(outcome, "read-back");
  if (after.address != address || after.network != network) {
    step.outcome = Outcome::NotAccepted;
    step.exitCode = ExitRefused;
    step.message = "verification failed: the modem reports address " + std::to_string(after.address) + " " +
                   std::string(NetworkName(after.network));
    return step;
  }
  if (key != nullptr) {
    if (const Outcome outcome = link.ReadFootprint(step.footprint); outcome != Outcome::Ok) {
      return fail(outcome, "footprint read");
    }
    if (referenceFootprint.empty()) referenceFootprint = step.footprint;
    if (step.footprint != referenceFootprint) {
      step.outcome = Outcome::NotAccepted;
      step.exitCode = ExitRefused;
      step.message = "verification failed: footprint " + step.footprint + ", earlier modems with this key report " +
                     referenceFootprint;
    }
  }
  return step;
}

int RunCli(const CliOptions& options, CliEnvironment& env) { return Runner(options, env).Run(); }

}  // namespace vorsal::cli
