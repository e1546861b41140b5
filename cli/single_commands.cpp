// The commands on one modem: read, footprint, write and set-key.
#include "cli/command_context.h"
#include "cli/key_input.h"
#include "production/batch.h"
#include "production/modem_steps.h"

namespace vorsal::cli {

using namespace vorsal::production;

namespace {

std::string YesNo(bool value) { return value ? "yes" : "no"; }

JsonObject ParamsJson(const ModemParams& params) {
  JsonObject json;
  json.Add("address", params.address).Add("network", NetworkName(params.network));
  json.Add("firmware", params.firmware).Add("platform", params.platform);
  json.Add("key_functions", params.keyFunctions);
  return json;
}

class SingleCommand {
 public:
  explicit SingleCommand(CommandContext& context)
      : c_(context), out_(context.output), steps_(context.options.retries, [&context] { return context.StopCount(); }) {}

  int Run() {
    if (const int status = PickPort(); status != ExitOk) return status;
    line_ = c_.MakeLine(portPath_);
    switch (c_.options.command) {
      case Command::Read: return Read();
      case Command::Footprint: return Footprint();
      case Command::Write: return Write();
      case Command::SetKey: return SetKey();
      default: return ExitUsage;
    }
  }

 private:
  // -p PORT, else the one USB adapter there is.
  int PickPort() {
    const CliEnvironment& env = c_.env;
    if (!c_.options.port.empty()) {
      portPath_ = ComPortDevicePath(c_.options.port);
      adapter_ = AdapterIdentity(ReadUsbIdentity(portPath_, env.sysfsRoot, env.byIdDir));
      return ExitOk;
    }
    std::vector<PortInfo> adapters = c_.ListPorts();
    std::erase_if(adapters, [](const PortInfo& port) { return !port.usb.IsUsb(); });
    if (adapters.size() != 1) {
      return out_.Fail(ExitUsage, adapters.empty() ? "no port given and no USB serial adapter found; use -p PORT"
                                                   : "no port given and " + std::to_string(adapters.size()) +
                                                         " USB serial adapters found; use -p PORT (see 'vorsal-cli ports')");
    }
    portPath_ = adapters[0].path;
    adapter_ = AdapterIdentity(adapters[0].usb);
    out_.Message() << "using " << CommandContext::Describe(adapters[0]) << '\n';
    return ExitOk;
  }

  int OpenPort() {
    std::string failure;
    return line_->Open(&failure) ? ExitOk : out_.Fail(ExitPortFailed, failure);
  }

  int FailExchange(Outcome outcome, const std::string& what) {
    return out_.Fail(ExitCodeOf(outcome), what + ": " + steps_.OutcomeText(outcome, *line_));
  }

  int FailureStatus(Outcome outcome) const { return ExitCodeOf(steps_.FailureVerdict(VerdictOf(outcome))); }

  // Appends the line before anything is printed about it, so a closed
  // output never costs the record. A journal that fails turns a success
  // into status 6.
  int Journal(JournalRecord entry, int status, std::string_view result, const std::string& message) {
    entry.result = std::string(result);
    entry.message = message;
    Stamp(entry, c_.run);
    std::string error;
    if (c_.journal.IsOpen() && !c_.journal.Append(entry, &error)) {
      out_.Say(error);
      status = status == ExitOk ? ExitStoreFailed : status;
    }
    return status;
  }

  int Read() {
    if (const int status = OpenPort(); status != ExitOk) return status;
    ModemParams params;
    if (const Outcome outcome = line_->ReadParams(params); outcome != Outcome::Ok) return FailExchange(outcome, "read");
    out_.Result(ParamsJson(params), "address: " + std::to_string(params.address) +
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
    out_.Result(JsonObject().Add("footprint", footprint), footprint);
    return ExitOk;
  }

  // What a command that changes the modem does first: opens the journal and
  // the port, catches stops and reads the modem as it is, which fills the
  // journal line's old fields. A failed read changed nothing and is not
  // journaled. Returns ExitOk or the exit status to end with.
  int ReadBefore(const char* operation, const char* what, JournalRecord& entry, ModemParams& current) {
    if (const int status = c_.OpenJournal(); status != ExitOk) return status;
    if (const int status = OpenPort(); status != ExitOk) return status;
    c_.CatchStops();
    if (const Outcome outcome = line_->ReadParams(current); outcome != Outcome::Ok) {
      return FailExchange(outcome, what);
    }
    entry = Entry(operation, portPath_, adapter_);
    SetOld(entry, current);
    return ExitOk;
  }

  int Write() {
    const CliOptions& options = c_.options;
    JournalRecord entry;
    ModemParams current;
    if (const int status = ReadBefore("write", "read before the write", entry, current); status != ExitOk) {
      return status;
    }
    if (c_.StopCount() > 0) return out_.Fail(ExitInterrupted, "stopped before the write; the modem is unchanged");
    line_->SetAbandon([this] { return steps_.Abandoning(); });
    const AddressWrite write = steps_.WriteVerified(*line_, current, options.address, options.network);
    const std::string message = NoteWrite(entry, write, options.address, options.network);
    // A write the read-back shows taken is done, whatever its reply was.
    if (!write.Holds(options.address, options.network)) {
      const int status = Journal(entry, FailureStatus(write.outcome), steps_.FailureResult(), message);
      out_.Say(message);
      return status;
    }
    const int status = Journal(entry, ExitOk, ResultOk, message);
    JsonObject json;
    json.Add("old_address", current.address).Add("old_network", NetworkName(current.network));
    json.Add("address", options.address).Add("network", NetworkName(options.network)).Add("verified", true);
    out_.Result(json, "address " + entry.newAddress + ", " + entry.newNetwork + " network (was " + entry.oldAddress +
                          ", " + entry.oldNetwork + "); verified");
    return status;
  }

  int SetKey() {
    const CliOptions& options = c_.options;
    JournalRecord entry;
    ModemParams current;
    if (const int status = ReadBefore("set-key", "read before the key", entry, current); status != ExitOk) {
      return status;
    }
    if (!current.keyFunctions) {
      const std::string message = "firmware " + current.firmware + KeyRefusedByFirmware;
      const int status = Journal(entry, ExitRefused, ResultRefused, message);
      out_.Say(message);
      return status;
    }
    const CommandKey key = ObtainCommandKey(options, c_.env, out_, false);
    if (key.refused) return ExitStoreFailed;
    if (c_.StopCount() > 0) return out_.Fail(ExitInterrupted, "stopped before the key was sent; the modem is unchanged");
    line_->SetAbandon([this] { return steps_.Abandoning(); });
    Outcome outcome = Outcome::Ok;
    const std::string failure = steps_.WriteKey(
        *line_, key.key.data(), [this](int parts) { out_.Progress("key parts acknowledged", parts, KeyPartCount, false); },
        entry.footprint, outcome);
    if (!failure.empty()) {
      const int status = Journal(entry, FailureStatus(outcome), steps_.FailureResult(), failure);
      out_.Say(failure);
      return status;
    }
    const int status = Journal(entry, ExitOk, ResultOk, "");
    // A name kept off the command line is not shown now either.
    if (!options.keyFile.empty()) {
      out_.Result(JsonObject().Add("footprint", entry.footprint), "key written; footprint " + entry.footprint);
    } else {
      out_.Result(JsonObject().Add("key_name", options.keyNameUtf8).Add("footprint", entry.footprint),
                  "key '" + options.keyNameUtf8 + "' written; footprint " + entry.footprint);
    }
    if (status == ExitOk && key.notStored) {
      out_.Say("the key is in the modem, but Keys.ini could not keep it");
      return ExitStoreFailed;
    }
    return status;
  }

  CommandContext& c_;
  Output& out_;
  ModemSteps steps_;
  std::unique_ptr<ModemLine> line_;
  std::string portPath_;
  std::string adapter_;
};

}  // namespace

int RunSingleCommand(CommandContext& context) { return SingleCommand(context).Run(); }

}  // namespace vorsal::cli
