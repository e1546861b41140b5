// The command line of the window program when it opens in production:
// `vorsal --production [--run]` with vorsal-cli batch's options -p,
// --network, --start, --key-file, --count, --registry and --journal, in
// the same meanings and limits. The production window opens filled in with
// them (and with --run starts at once); a bad option is a text for the
// window's box, and then nothing opens or starts.
#pragma once

#include "app/option_table.h"
#include "window/production_model.h"

#include <optional>
#include <string>
#include <vector>

namespace vorsal {

struct ProductionOptions {
  bool production = false;         // --production: open the production window
  bool run = false;                // --run: and start the run
  std::vector<std::string> ports;  // every -p in order, each once; empty: all USB adapters
  std::optional<int> network, start, count;
  std::optional<std::string> keyName;   // read from --key-file, as typed (UTF-8); a secret
  std::optional<std::string> registry;  // connection string or URI
  std::string journal;                  // empty: the default journal
  std::string error;  // what the box says (Russian); empty when the line is good
  bool ok() const { return error.empty(); }
};

// `args` without the program name. No arguments: the main window as ever.
// With --run, --start and --network are required, as vorsal-cli batch
// requires them. The key name file is read only when everything else is
// right.
ProductionOptions ParseProductionOptions(const std::vector<std::string>& args);

// The options it takes, each declared once (the manual page is checked
// against them).
const OptionTable& ProductionOptionTable();

// What the box says about a bad line: the reason, then the whole line as
// the program takes it ("vorsal --production [--run] [-p ПОРТ]... ...").
std::string ProductionOptionsMessage(const ProductionOptions& options);

// Lays what the command line gave over `settings` (the remembered ones):
// -p ports replace "all USB adapters", the rest replaces what it names.
void ApplyProductionOptions(const ProductionOptions& options, ProductionSettings& settings);

}  // namespace vorsal
