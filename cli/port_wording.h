// The texts of the command line that name ports, devices and the user's
// data folder, in the words of the system it runs on: COM ports and
// %APPDATA% on Windows, device files and the XDG folders on Linux. The one
// place where vorsal-cli's texts differ by system. (Literals, so that the
// help texts can be joined from them.)
#pragma once

#ifdef _WIN32

// -p's line of the general help.
#define VORSAL_CLI_PORT_OPTION_HELP \
  "  -p, --port PORT          COM port name (COM3), also written \\\\.\\COM3;\n"
// What --journal defaults to.
#define VORSAL_CLI_JOURNAL_DEFAULT "%APPDATA%\\Vorsal\\journal.csv"
// The first lines of `ports --help`: what each port's line shows.
#define VORSAL_CLI_PORTS_HELP                                                      \
  "Lists every serial port: its device path (\\\\.\\COM3, which -p takes as COM3),\n" \
  "USB vendor and product id, manufacturer, product and serial number; Device\n"      \
  "Manager shows the same ports under \"Ports (COM & LPT)\". Ports that are not on\n" \
  "USB show the path alone.\n"
// Where the journal would go when the system gives no folder.
#define VORSAL_CLI_NO_DATA_DIRECTORY "no journal location: APPDATA is not set; use --journal"
// A port that does not exist.
#define VORSAL_CLI_DEVICE_MISSING \
  "no such COM port: is the adapter plugged in? ('vorsal-cli ports' and Device Manager list the ports)"

#else

#define VORSAL_CLI_PORT_OPTION_HELP \
  "  -p, --port PORT          device name (ttyUSB0), path or /dev/serial/by-id link;\n"
#define VORSAL_CLI_JOURNAL_DEFAULT "$XDG_DATA_HOME/vorsal/journal.csv"
#define VORSAL_CLI_PORTS_HELP                                                      \
  "Lists every serial port: device path, /dev/serial/by-id link, USB vendor and\n" \
  "product id, manufacturer, product and serial number. Ports that are not on USB\n" \
  "show the path alone.\n"
#define VORSAL_CLI_NO_DATA_DIRECTORY "no journal location: set XDG_DATA_HOME or HOME, or use --journal"
#define VORSAL_CLI_DEVICE_MISSING \
  "the device does not exist: is the adapter plugged in? ('vorsal-cli ports' lists the ports)"

#endif
