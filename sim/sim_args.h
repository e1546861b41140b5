// Command line of vorsal-modem-sim.
#pragma once

#include <string>
#include <vector>

#include "app/option_table.h"
#include "sim/modem_model.h"

namespace vorsal {

constexpr const char* DefaultSimLink = "/tmp/vorsal-modem";

struct SimArgs {
  ModemOptions modem;
  std::string link = DefaultSimLink;
  bool log = false;
  bool help = false;
  bool version = false;
  std::string error;  // set when the command line is refused
};

// Parses the arguments after the program name. Both "--switch VALUE" and
// "--switch=VALUE" are accepted; a bad switch or value sets `error`.
SimArgs ParseSimArgs(const std::vector<std::string>& args);

std::string SimUsage();

// Every switch the simulator takes (for the manual page's check).
const OptionTable& SimSwitches();

}  // namespace vorsal
