#include "app/option_table.h"

#include <algorithm>

namespace vorsal {

const OptionSpec* FindOption(const OptionTable& table, std::string_view name) {
  for (const OptionSpec& option : table) {
    if (name == option.longName || (!option.shortName.empty() && name == option.shortName)) return &option;
  }
  return nullptr;
}

std::string OptionHelp(const OptionTable& table, std::size_t column,
                       const std::function<bool(const OptionSpec&)>& shown) {
  std::string text;
  for (const OptionSpec& option : table) {
    if (option.help.empty() || (shown && !shown(option))) continue;
    std::string head = "  ";
    if (!option.shortName.empty()) head += std::string(option.shortName) + ", ";
    head += option.longName;
    if (!option.value.empty()) head += " " + std::string(option.value);
    if (head.size() + 2 > column) {
      text += head + "\n";
      head.clear();
    }
    head.resize(std::max(head.size() + 1, column), ' ');
    std::string_view lines = option.help;
    for (bool first = true; !lines.empty(); first = false) {
      const std::size_t end = std::min(lines.find('\n'), lines.size());
      text += (first ? head : std::string(column, ' ')) + std::string(lines.substr(0, end)) + "\n";
      lines.remove_prefix(std::min(end + 1, lines.size()));
    }
  }
  return text;
}

ArgumentScanner::ArgumentScanner(const OptionTable& table, const std::vector<std::string>& args, ScanRules rules)
    : table_(table), args_(args), rules_(rules) {}

bool ArgumentScanner::Next(ScannedArgument& argument) {
  while (next_ < args_.size()) {
    const std::string& arg = args_[next_++];
    argument = ScannedArgument{};
    argument.text = arg;
    if (optionsEnded_ || arg.size() < 2 || arg[0] != '-') return true;
    if (rules_.endMark && arg == "--") {
      optionsEnded_ = true;
      continue;
    }
    argument.name = arg;
    if (const std::size_t equals = arg.find('=');
        rules_.attachedValues && arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      argument.name = arg.substr(0, equals);
      argument.attached = arg.substr(equals + 1);
    }
    argument.option = FindOption(table_, argument.name);
    argument.kind = argument.option ? ScannedArgument::Kind::Option : ScannedArgument::Kind::Unknown;
    return true;
  }
  return false;
}

std::optional<std::string> ArgumentScanner::Value(const ScannedArgument& argument) {
  if (argument.attached) return argument.attached;
  if (next_ >= args_.size()) return std::nullopt;
  return args_[next_++];
}

}  // namespace vorsal
