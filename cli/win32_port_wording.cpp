#include "cli/port_wording.h"

namespace vorsal::cli::wording {

const std::string_view PortOption = "COM port name (COM3), also written \\\\.\\COM3;";
const std::string_view JournalDefault = "%APPDATA%\\Vorsal\\journal.csv";
const std::string_view PortsHelp =
    "Lists every serial port: its device path (\\\\.\\COM3, which -p takes as COM3),\n"
    "USB vendor and product id, manufacturer, product and serial number; Device\n"
    "Manager shows the same ports under \"Ports (COM & LPT)\". Ports that are not on\n"
    "USB show the path alone.\n";
const std::string_view NoDataDirectory = "no journal location: APPDATA is not set; use --journal";
const std::string_view DeviceMissing =
    "no such COM port: is the adapter plugged in? ('vorsal-cli ports' and Device Manager list the ports)";
const std::string_view OtherStop = "Ctrl+Break";
// Only the 32-bit build goes without: no 32-bit libpq.dll is shipped.
const std::string_view NoRegistry = "no 32-bit libpq.dll exists for it; the 64-bit vorsal-cli.exe has it";

}  // namespace vorsal::cli::wording
