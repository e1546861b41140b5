// vorsal-cli batch: the production batch with its events printed.
#include "cli/command_context.h"
#include "cli/key_input.h"
#include "production/batch.h"

#include <algorithm>

namespace vorsal::cli {

using namespace vorsal::production;

namespace {

// Every -p port (each device once: the parser drops a repeated name, and a
// link is one port with the device it names), or every USB adapter when
// none is given.
bool BatchPorts(CommandContext& c, std::vector<BatchPort>& ports) {
  std::vector<std::string> paths;
  for (const std::string& port : c.options.ports) paths.push_back(ComPortDevicePath(port));
  for (const std::string& path : DistinctDevices(paths)) {
    ports.push_back({path, AdapterIdentity(ReadUsbIdentity(path, c.env.sysfsRoot, c.env.byIdDir))});
  }
  if (!ports.empty()) return true;
  for (const PortInfo& port : c.ListPorts()) {
    if (!port.usb.IsUsb()) continue;
    c.output.Message() << "using " << CommandContext::Describe(port) << '\n';
    ports.push_back({port.path, AdapterIdentity(port.usb)});
  }
  if (ports.empty()) c.output.Message() << "no port given and no USB serial adapter found; use -p PORT\n";
  return !ports.empty();
}

// The batch's events as lines: results on standard output, the rest on
// standard error, each line prefixed by its port when there are several.
class BatchPrinter : public BatchListener {
 public:
  BatchPrinter(CommandContext& context, bool severalPorts) : c_(context), out_(context.output), several_(severalPorts) {}

  void PortFailed(const std::string&, const std::string& failure) override { out_.Say(failure); }
  void Waiting(const std::string& port, std::optional<int> next) override {
    out_.Say(Prefix(port) + "waiting for a modem on " + port +
             (next ? " (next address " + std::to_string(*next) + ")" : " (its address comes from the registry)"));
  }
  void StartAddressInUse(int start) override {
    out_.Say("warning: the first modem already has address " + std::to_string(start) +
             "; new modems that arrive with it look like ones this run wrote (choose another --start, or use a key)");
  }
  void KeyParts(const std::string& port, int parts) override {
    out_.Progress(Prefix(port) + "key parts acknowledged", parts, KeyPartCount, several_);
  }
  void Ended(const ModemEnded& modem) override {
    const JournalRecord& entry = modem.record;
    const ModemParams& found = modem.found;
    JsonObject json;
    json.Add("port", modem.port).Add("old_address", found.address).Add("old_network", NetworkName(found.network));
    json.Add("address", entry.newAddress).Add("network", entry.newNetwork).Add("firmware", found.firmware);
    if (c_.options.keyGiven) json.Add("footprint", entry.footprint);
    json.Add("result", entry.result).Add("message", entry.message);
    std::string text = Prefix(modem.port) + "address " + entry.newAddress + " " + entry.newNetwork + " (was " +
                       entry.oldAddress + " " + entry.oldNetwork + ", firmware " + found.firmware + ")";
    if (!entry.footprint.empty()) text += " footprint " + entry.footprint;
    text += ": " + entry.result;
    if (!entry.message.empty()) text += ": " + entry.message;
    out_.Result(json, text);
  }
  void Counters(const BatchCounters&) override {}
  void Disconnect(const std::string& port) override { out_.Say(Prefix(port) + "disconnect the modem"); }
  void AdapterGone(const std::string& port) override {
    out_.Say("adapter " + port + " is gone; the batch keeps looking for it");
  }
  void TakeAway(const std::string& port) override {
    out_.Say(Prefix(port) + "this modem failed twice: take it away; the port waits until its line stays silent");
  }
  void AlreadyConfigured(const std::string& port, int address) override {
    out_.Say(Prefix(port) + "this modem got address " + std::to_string(address) + " and the key in this run; disconnect it");
  }
  void LeftForCount(const std::string& port, int count) override {
    out_.Say(Prefix(port) + "the batch has its " + std::to_string(count) + " modems; this one is left as it is");
  }
  void LeftAtStop(const std::string& port, int address) override {
    out_.Say(Prefix(port) + "stopping: the modem at address " + std::to_string(address) + " is left as it is");
  }
  bool RewriteSeenAddress(const std::string& port, int address) override {
    if (!c_.env.ask) return false;
    // One question on the terminal at a time.
    const std::lock_guard<std::mutex> guard(ask_);
    const std::optional<std::string> answer =
        c_.env.ask("vorsal-cli: " + Prefix(port) + "the modem answers at address " + std::to_string(address) +
                   ", which this run wrote: write the next address (w) or skip it (s)? ");
    return answer && !answer->empty() && ((*answer)[0] == 'w' || (*answer)[0] == 'W');
  }
  void JournalFailed(const std::string& error) override { out_.Say(error); }
  void RegistryLost(const std::string& error, const std::filesystem::path& spool) override {
    out_.Say(error);
    out_.Say("the registry cannot be reached: the batch stops after the modems in hand. Their lines are in the "
             "local journal and in " + spool.string() + "; once the registry answers again, start "
             "the batch again (or run vorsal-cli journal --registry): they are sent first, once");
  }

 private:
  std::string Prefix(const std::string& port) const { return several_ ? port + ": " : ""; }

  CommandContext& c_;
  Output& out_;
  bool several_;
  std::mutex ask_;
};

}  // namespace

int RunBatch(CommandContext& c) {
  BatchSettings settings;
  if (!BatchPorts(c, settings.ports)) return ExitUsage;
  const bool severalPorts = settings.ports.size() > 1;
  settings.network = c.options.network;
  settings.start = c.options.start;
  settings.count = c.options.count;
  settings.keyGiven = c.options.keyGiven;
  settings.retries = c.options.retries;
  if (settings.keyGiven) {
    const CommandKey key = ObtainCommandKey(c.options, c.env, c.output, severalPorts);
    if (key.refused) return ExitStoreFailed;
    settings.key = key.key;
  }
  // The registry first: a user it refuses leaves no trace, not even a
  // journal header.
  if (const int status = c.OpenRegistry(RegistryLink::Use::Batch); status != ExitOk) return status;
  if (const int status = c.OpenJournal(); status != ExitOk) return status;
  c.CatchStops();
  BatchEnvironment environment;
  environment.openLine = [&c](const std::string& path) { return c.MakeLine(path); };
  environment.sleep = c.env.sleep;
  environment.stopRequests = [&c] { return c.StopCount(); };
  BatchPrinter printer(c, severalPorts);
  Batch batch(std::move(settings), std::move(environment), c.journal, c.registry, c.run, printer);
  const BatchResult result = batch.Run();
  if (c.StopCount() > 0) c.output.Say("stopped");
  for (const std::string& notice : c.registry.TakeNotices()) c.output.Say("warning: " + notice);
  const BatchCounters& counters = result.counters;
  if (counters.fromRegistry) {
    // The next address is the registry's to give, whoever asks next.
    c.output.Result(JsonObject().Add("done", counters.done).Add("failed", counters.failed),
                    "done " + std::to_string(counters.done) + ", failed " + std::to_string(counters.failed) +
                        ", addresses from the registry");
  } else {
    c.output.Result(JsonObject().Add("done", counters.done).Add("failed", counters.failed).Add("next_address", counters.nextAddress),
                    "done " + std::to_string(counters.done) + ", failed " + std::to_string(counters.failed) +
                        ", next address " + std::to_string(counters.nextAddress));
  }
  return ExitCodeOf(result.verdict);
}

}  // namespace vorsal::cli
