#include "cli/commands.h"

#include "app/command_line.h"
#include "app/program_paths.h"
#include "cli/command_context.h"
#include "cli/key_input.h"
#include "cli/port_wording.h"
#include "platform/files.h"
#include "production/link_line.h"
#include "production/run_opening.h"
#include "serial/com_port.h"
#include "serial/port_open_advice.h"

#include <utility>
#include <vector>

namespace vorsal::cli {

using namespace vorsal::production;

namespace {

// The system's reason and what the user can do about it, one indented line
// each.
std::string PortOpenAdviceText(const std::string& path, int systemCode) {
  std::string text;
  if (systemCode > 0) text += "\n  reason: " + platform::SystemErrorText(systemCode);
  const PortOpenAdvice advice = AdvisePortOpen(DiagnosePortOpen(path, systemCode));
  const std::string& group = advice.group;
  switch (advice.kind) {
    case PortOpenAdviceKind::DeviceMissing:
      text += "\n  " + std::string(wording::DeviceMissing);
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

int RegistryInit(CommandContext& c) {
  if (const int status = c.OpenRegistry(RegistryLink::Use::Init); status != ExitOk) return status;
  std::string description, error;
  if (!c.registry.Init(description, error)) return c.output.Fail(ExitStoreFailed, error);
  c.output.Result(JsonObject().Add("registry", description).Add("result", "ok"),
                  "the registry " + description + " is ready");
  return ExitOk;
}

int Ports(CommandContext& c) {
  const std::vector<PortInfo> ports = c.ListPorts();
  for (const PortInfo& port : ports) {
    JsonObject json;
    json.Add("path", port.path).Add("by_id", port.usb.byIdLink).Add("usb", port.usb.IsUsb());
    json.Add("vendor_id", port.usb.vendorId).Add("product_id", port.usb.productId);
    json.Add("manufacturer", port.usb.manufacturer).Add("product", port.usb.product);
    json.Add("serial", port.usb.serial);
    c.output.Result(json, CommandContext::Describe(port));
  }
  if (ports.empty()) c.output.Message() << "no serial ports found\n";
  return ExitOk;
}

int RunCommand(CommandContext& c) {
  switch (c.options.command) {
    case Command::Help:
      c.output.Out() << HelpText(c.options.helpFor);
      return ExitOk;
    case Command::Version:
      c.output.Out() << VersionText("vorsal-cli");
      return ExitOk;
    case Command::Ports:
      return Ports(c);
    case Command::Journal:
      return RunJournal(c);
    case Command::Report:
      return RunReport(c);
    case Command::Registry:
      return RegistryInit(c);
    default:
      break;
  }
  if (c.options.keyGiven && c.options.keyName.empty()) {
    if (const int status = ReadKeyName(c.options, c.env, c.output); status != ExitOk) return status;
  }
  if (c.options.command == Command::Batch) return RunBatch(c);
  return RunSingleCommand(c);
}

}  // namespace

CommandContext::CommandContext(const CliOptions& options, CliEnvironment& env)
    : options(options), env(env), output(*env.out, *env.err, options.json, env.errIsTerminal), run(CurrentRun()) {}

std::unique_ptr<ModemLine> CommandContext::MakeLine(const std::string& path) const {
  if (env.openLine) return env.openLine(path);
  return cli::MakeLinkLine(path, options.connectionType, env.clock, options.retries);
}

std::vector<PortInfo> CommandContext::ListPorts() const { return ListSystemPorts(env.sysfsRoot, env.byIdDir); }

std::string CommandContext::Describe(const PortInfo& port) {
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

std::filesystem::path CommandContext::JournalPath() const {
  if (!options.journal.empty()) return platform::PathFromUtf8(options.journal);
  return DefaultJournalFile();
}

int CommandContext::OpenJournal() {
  if (options.noJournal) return ExitOk;
  const std::filesystem::path file = JournalPath();
  if (file.empty()) return output.Fail(ExitStoreFailed, std::string(wording::NoDataDirectory));
  return Said(OpenJournalFile(journal, file));
}

int CommandContext::OpenRegistry(RegistryLink::Use use) {
  const bool forInit = use == RegistryLink::Use::Init;
  const std::string target = RegistryLink::Target(options.registry);
  if (target.empty()) {
    return forInit ? output.Fail(ExitUsage, "no registry given: use --registry URL or set VORSAL_REGISTRY") : ExitOk;
  }
  return Said(OpenRegistryFor(registry, target, JournalPath(), use));
}

int CommandContext::Said(const Opening& opening) {
  for (const production::OpeningNote& note : opening.notes) output.Say(note.text);
  switch (opening.failure) {
    case Opening::Failure::None: return ExitOk;
    case Opening::Failure::Unreadable: return output.Fail(ExitUsage, opening.error);
    case Opening::Failure::NotOpened: return output.Fail(ExitStoreFailed, opening.error);
  }
  return ExitStoreFailed;
}

int ExitCodeOf(Verdict verdict) {
  switch (verdict) {
    case Verdict::Ok: return ExitOk;
    case Verdict::PortFailed: return ExitPortFailed;
    case Verdict::NoReply: return ExitNoReply;
    case Verdict::Refused: return ExitRefused;
    case Verdict::StoreFailed: return ExitStoreFailed;
    case Verdict::Interrupted: return ExitInterrupted;
  }
  return ExitRefused;
}

int ExitCodeOf(Outcome outcome) { return ExitCodeOf(VerdictOf(outcome)); }

std::unique_ptr<ModemLine> MakeLinkLine(const std::string& path, int connectionType, LinkClock* clock,
                                        int retries) {
  return production::MakeLinkLine(path, connectionType, clock, retries, PortOpenAdviceText);
}

int RunCli(const CliOptions& options, CliEnvironment& env) {
  CommandContext context(options, env);
  const int status = RunCommand(context);
  // Results a closed pipe or a full disk swallowed are a failure, even
  // when the modem took them.
  if (context.output.Failed()) {
    context.output.Say("cannot write the results to standard output");
    return status == ExitOk ? ExitOutputFailed : status;
  }
  return status;
}

}  // namespace vorsal::cli
