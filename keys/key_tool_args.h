// Command line of vorsal-key.
#pragma once

#include "app/option_table.h"

#include <string>
#include <vector>

namespace vorsal {

struct KeyToolArgs {
  enum class Action { Keys, Help, Version };
  Action action = Action::Keys;
  bool keysIni = false;       // --keys-ini: NAME=HEX lines
  bool cp1251Output = false;  // --cp1251: names written as Windows-1251 bytes
  bool store = false;         // --store FILE
  std::string storeFile;
  std::string keyFile;             // --key-file FILE: the one name is FILE's first line
  std::vector<std::string> names;  // as typed, in order
  std::string error;               // one line; set when the command line is refused
};

// Parses the arguments after the program name, left to right: --help and
// --version end the parse where they stand; after "--" every argument is a
// name. Refused: an unknown option, --store without a file, --store together
// with --keys-ini, --key-file with names or with an option that prints the
// name, and no name at all.
KeyToolArgs ParseKeyToolArgs(const std::vector<std::string>& args);

// The --help text; its option list is the table's.
std::string KeyToolUsage();
// Every option vorsal-key takes (for the manual page's check).
const OptionTable& KeyToolOptions();

}  // namespace vorsal
