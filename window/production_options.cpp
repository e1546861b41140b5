#include "window/production_options.h"

#include "app/command_line.h"
#include "keys/cp1251.h"
#include "keys/key_name_input.h"
#include "platform/files.h"
#include "production/batch.h"
#include "production/journal_record.h"
#include "protocol/frame.h"
#include "serial/com_port.h"
#include "window/texts.h"

#include <algorithm>
#include <initializer_list>

namespace vorsal {

namespace {

// The options and how many values each takes.
struct Option {
  std::string_view name;
  bool takesValue;
};
constexpr Option Options[] = {
    {"--production", false}, {"--run", false},   {"-p", true},       {"--port", true},     {"--network", true},
    {"--start", true},       {"--count", true},  {"--key-file", true}, {"--registry", true}, {"--journal", true},
};

const Option* FindOption(std::string_view name) {
  const auto found = std::find_if(std::begin(Options), std::end(Options), [&](const Option& o) { return o.name == name; });
  return found == std::end(Options) ? nullptr : found;
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : args_(args) {}

  ProductionOptions Run() {
    std::string firstOption;
    for (index_ = 0; index_ < args_.size() && result_.ok(); ++index_) {
      const std::string& arg = args_[index_];
      auto [name, inlineValue] = SplitOption(arg);
      const Option* option = FindOption(name);
      if (option == nullptr) {
        if (name == "--key") Fail(texts::OptionKeyOnCommandLine);
        else if (arg.empty() || arg[0] != '-') Fail(texts::Worded(texts::OptionUnexpected, {QuotedArgument(arg)}));
        else Fail(texts::Worded(texts::OptionUnknown, {QuotedArgument(name)}));
        break;
      }
      if (firstOption.empty() && name != "--production") firstOption = name;
      if (!option->takesValue) {
        (name == "--run" ? result_.run : result_.production) = true;
        continue;
      }
      if (!inlineValue && index_ + 1 < args_.size()) inlineValue = args_[++index_];
      if (!inlineValue || inlineValue->empty()) {
        Fail(texts::Worded(texts::OptionNeedsValue, {name}));
        break;
      }
      Take(name, *inlineValue);
    }
    if (!result_.ok()) return result_;
    if (!result_.production && !firstOption.empty()) return Failed(texts::Worded(texts::OptionWithoutProduction, {firstOption}));
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

  std::optional<int> Number(const std::string& name, const std::string& value, int low, int high) {
    const std::optional<int> number = ParseWholeNumber(value);
    if (number && *number >= low && *number <= high) return number;
    Fail(texts::Worded(texts::OptionNumber, {name, std::to_string(low), std::to_string(high), QuotedArgument(value)}));
    return std::nullopt;
  }

  void Take(const std::string& name, const std::string& value) {
    if (name == "-p" || name == "--port") {
      // The same port named twice (COM3 and \\.\COM3) is served once.
      const std::string path = ComPortDevicePath(value);
      const bool named = std::any_of(result_.ports.begin(), result_.ports.end(),
                                     [&](const std::string& port) { return ComPortDevicePath(port) == path; });
      if (!named) result_.ports.push_back(value);
    } else if (name == "--network") {
      result_.network = production::NetworkFromName(value);
      if (!result_.network) Fail(texts::Worded(texts::OptionNetwork, {QuotedArgument(value)}));
    } else if (name == "--start") {
      result_.start = Number(name, value, MinAddress, MaxAddress);
    } else if (name == "--count") {
      result_.count = Number(name, value, production::MinBatchCount, production::MaxBatchCount);
    } else if (name == "--key-file") {
      keyFile_ = value;
    } else if (name == "--registry") {
      result_.registry = value;
    } else if (name == "--journal") {
      result_.journal = value;
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

  const std::vector<std::string>& args_;
  std::size_t index_ = 0;
  std::string keyFile_;
  ProductionOptions result_;
};

}  // namespace

ProductionOptions ParseProductionOptions(const std::vector<std::string>& args) { return Parser(args).Run(); }

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
