// The list of serial ports the system offers.
#pragma once

#include <string>
#include <vector>

namespace vorsal {

// Moves the names COM1..COM256 (any letter case, no leading zeros) to the
// front in increasing number: for n = 1..256 the first entry equal to "COM"+n
// is exchanged with the entry at the next front position. Other names keep
// the order those exchanges leave them in.
void OrderComPorts(std::vector<std::string>& names);

// Compares names with their digit runs taken as numbers: ttyS2 < ttyS10.
bool NaturalLess(const std::string& a, const std::string& b);

// The system's port names (platform::SystemPortNames: on Linux the tty class
// entries under `sysfsRoot`, normally "/sys", that are backed by a device,
// leaving out legacy UARTs whose type reads 0), in natural order. Empty when
// the system's table can't be read.
std::vector<std::string> SystemPortNames(const std::string& sysfsRoot);

// The non-empty items of a colon-separated list (null: none).
std::vector<std::string> SplitPortPaths(const char* list);

}  // namespace vorsal
