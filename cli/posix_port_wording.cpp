#include "cli/port_wording.h"

namespace vorsal::cli::wording {

const std::string_view PortOption = "device name (ttyUSB0), path or /dev/serial/by-id link;";
const std::string_view JournalDefault = "$XDG_DATA_HOME/vorsal/journal.csv";
const std::string_view PortsHelp =
    "Lists every serial port: device path, /dev/serial/by-id link, USB vendor and\n"
    "product id, manufacturer, product and serial number. Ports that are not on USB\n"
    "show the path alone.\n";
const std::string_view NoDataDirectory = "no journal location: set XDG_DATA_HOME or HOME, or use --journal";
const std::string_view DeviceMissing =
    "the device does not exist: is the adapter plugged in? ('vorsal-cli ports' lists the ports)";
const std::string_view OtherStop = "SIGTERM";
const std::string_view NoRegistry = "it was built without libpq, PostgreSQL's client library";

}  // namespace vorsal::cli::wording
