#include "window/production_options.h"

#include "app/command_line.h"
#include "app/option_table.h"
#include "keys/cp1251.h"
#include "keys/key_name_input.h"
#include "platform/files.h"
#include "production/batch.h"
#include "production/journal_record.h"
#include "protocol/frame.h"
#include "serial/com_port.h"
#include "window/texts.h"

#include <algorithm>

namespace vorsal {

namespace {

enum class Id { Production, Run, Port, Network, Start, Count, KeyFile, Registry, Journal };

// How an option stands in the usage line.
constexpr unsigned Required = 1;  // without brackets
constexpr unsigned Repeated = 2;  // may be given several times

// Every option of the window program, declared once: the parser and the
// usage line read this table, the manual page is checked against it.
const OptionTable& Options() {
  static const OptionTable options = {
      {int(Id::Production), "", "--production", "", 0, -1, {}, Required},
      {int(Id::Run), "", "--run", ""},
      {int(Id::Port), "-p", "--port", "ПОРТ", 0, -1, {}, Repeated},
      {int(Id::Network), "", "--network", "service|working"},
      {int(Id::Start), "", "--start", "N", MinAddress, MaxAddress},
      {int(Id::Count), "", "--count", "K", production::MinBatchCount, production::MaxBatchCount},
      {int(Id::KeyFile), "", "--key-file", "ФАЙЛ"},
      {int(Id::Registry), "", "--registry", "URL"},
      {int(Id::Journal), "", "--journal", "ФАЙЛ"},
  };
  return options;
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args)
      : scanner_(Options(), args, {.attachedValues = true, .endMark = false}) {}

  ProductionOptions Run() {
    std::string firstOption;
    for (ScannedArgument arg; result_.ok() && scanner_.Next(arg);) {
      if (arg.kind == ScannedArgument::Kind::Operand) {
        Fail(texts::Worded(texts::OptionUnexpected, {QuotedArgument(arg.text)}));
      } else if (arg.kind == ScannedArgument::Kind::Unknown) {
        Fail(arg.name == "--key" ? std::string(texts::OptionKeyOnCommandLine)
                                 : texts::Worded(texts::OptionUnknown, {QuotedArgument(arg.name)}));
      } else {
        if (firstOption.empty() && Id(arg.option->id) != Id::Production) firstOption = arg.name;
        Take(arg);
      }
    }
    if (!result_.ok()) return result_;
    if (!result_.production && !firstOption.empty())
      return Failed(texts::Worded(texts::OptionWithoutProduction, {firstOption}));
    if (result_.run && (!result_.start || !result_.network)) return Failed(texts::OptionRunNeeds);
    // The start address belongs to the network it is given with.
    if (result_.start && result_.network && !AddressAllowed(*result_.start, *result_.network)) {
      const int network = *result_.network;
      return Failed(texts::Worded(texts::OptionStartNotInNetwork,
                                  {std::to_string(*result_.start),
                                   network == NetworkWorking ? texts::NetworkWorkingName : texts::NetworkServiceName,
                                   std::to_string(LowestAddress(network)), std::to_string(MaxAddress)}));
    }
    if (!keyFile_.empty()) ReadKeyName();
    return result_;
  }

 private:
  ProductionOptions Failed(const std::string& message) {
    Fail(message);
    return result_;
  }
  void Fail(const std::string& message) {
    if (result_.ok()) result_.error = message;
  }

  void Take(const ScannedArgument& arg) {
    const OptionSpec& option = *arg.option;
    const std::string& name = arg.name;
    if (option.value.empty()) {
      // "--run=no" must not start a run.
      if (arg.attached) return Fail(texts::Worded(texts::OptionTakesNoValue, {name}));
      (Id(option.id) == Id::Run ? result_.run : result_.production) = true;
      return;
    }
    const std::optional<std::string> given = scanner_.Value(arg);
    if (!given || given->empty()) return Fail(texts::Worded(texts::OptionNeedsValue, {name}));
    const std::string& value = *given;
    std::optional<int> number;
    if (option.number()) {
      number = ParseWholeNumber(value, option.low, option.high);
      if (!number) {
        return Fail(texts::Worded(texts::OptionNumber, {name, std::to_string(option.low), std::to_string(option.high),
                                                        QuotedArgument(value)}));
      }
    }
    switch (Id(option.id)) {
      case Id::Port: {
        // The same port named twice (COM3 and \\.\COM3) is served once.
        const std::string path = ComPortDevicePath(value);
        const bool named = std::any_of(result_.ports.begin(), result_.ports.end(),
                                       [&](const std::string& port) { return ComPortDevicePath(port) == path; });
        if (!named) result_.ports.push_back(value);
        break;
      }
      case Id::Network:
        result_.network = production::NetworkFromName(value);
        if (!result_.network) Fail(texts::Worded(texts::OptionNetwork, {QuotedArgument(value)}));
        break;
      case Id::Start: result_.start = number; break;
      case Id::Count: result_.count = number; break;
      case Id::KeyFile: keyFile_ = value; break;
      case Id::Registry: result_.registry = value; break;
      case Id::Journal: result_.journal = value; break;
      case Id::Production:
      case Id::Run: break;
    }
  }

  // Kept off the command line, where every user of the computer could read
  // it; the reasons quote nothing of the name.
  void ReadKeyName() {
    const std::string quoted = QuotedArgument(keyFile_);
    if (keyFile_ == "-") return Fail(texts::OptionKeyFileStdin);
    std::string error;
    const std::optional<std::string> name = ReadKeyNameFile(platform::PathFromUtf8(keyFile_), &error);
    if (!name) return Fail(texts::Worded(texts::OptionKeyFileUnread, {quoted, error}));
    // An empty name would write the all-zero key.
    if (name->empty()) return Fail(texts::Worded(texts::OptionKeyFileEmpty, {quoted}));
    result_.keyName = Cp1251ToUtf8(*name);
  }

  ArgumentScanner scanner_;
  std::string keyFile_;
  ProductionOptions result_;
};

// The whole line as the program takes it, from the table.
std::string ProductionUsage() {
  std::string line = "vorsal";
  for (const OptionSpec& option : Options()) {
    std::string word = option.shortName.empty() ? std::string(option.longName) : std::string(option.shortName);
    if (!option.value.empty()) word += " " + std::string(option.value);
    line += " " + ((option.scope & Required) ? word : "[" + word + "]");
    if (option.scope & Repeated) line += "...";
  }
  return texts::Worded(texts::OptionUsage, {line});
}

}  // namespace

ProductionOptions ParseProductionOptions(const std::vector<std::string>& args) { return Parser(args).Run(); }

const OptionTable& ProductionOptionTable() { return Options(); }

std::string ProductionOptionsMessage(const ProductionOptions& options) {
  return options.error + "\n\n" + ProductionUsage();
}

void ApplyProductionOptions(const ProductionOptions& options, ProductionSettings& settings) {
  if (!options.ports.empty()) {
    settings.ports.clear();
    for (const std::string& port : options.ports) settings.ports.push_back(ComPortDevicePath(port));
    settings.allUsbAdapters = false;
  }
  if (options.network) settings.network = *options.network;
  if (options.start) settings.start = *options.start;
  if (options.count) settings.count = options.count;
  if (options.keyName) settings.keyName = *options.keyName;
  if (options.registry) settings.registry = *options.registry;
}

}  // namespace vorsal
