#include "keys/key_tool_args.h"

#include "app/command_line.h"

#include <string_view>

namespace vorsal {

KeyToolArgs ParseKeyToolArgs(const std::vector<std::string>& args) {
  KeyToolArgs result;
  bool options = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--keys-ini") {
      result.keysIni = true;
    } else if (options && arg == "--cp1251") {
      result.cp1251Output = true;
    } else if (options && arg == "--store") {
      if (++i == args.size()) {
        result.error = "--store needs a file";
        return result;
      }
      result.store = true;
      result.storeFile = args[i];
    } else if (options && arg == "--key-file") {
      if (++i == args.size() || args[i].empty()) {
        result.error = "--key-file needs a file";
        return result;
      }
      result.keyFile = args[i];
    } else if (options && (arg == "--help" || arg == "-h")) {
      result.action = KeyToolArgs::Action::Help;
      return result;
    } else if (options && arg == "--version") {
      result.action = KeyToolArgs::Action::Version;
      return result;
    } else if (options && arg.size() > 1 && arg.front() == '-') {
      result.error = "unknown option " + QuotedArgument(arg);
      return result;
    } else {
      result.names.push_back(args[i]);
    }
  }
  if (result.store && result.keysIni) {
    result.error = "--store and --keys-ini cannot be used together";
  } else if (!result.keyFile.empty() && (result.keysIni || result.cp1251Output)) {
    result.error = "--key-file prints no name: --keys-ini and --cp1251 do not go with it";
  } else if (!result.keyFile.empty() && !result.names.empty()) {
    result.error = "--key-file and names on the command line exclude each other";
  } else if (result.names.empty() && result.keyFile.empty()) {
    result.error = "no key name given";
  }
  return result;
}

}  // namespace vorsal
