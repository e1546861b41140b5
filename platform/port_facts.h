// What the system tells about its serial ports: the names it offers, and the
// facts behind a failed open (who holds the device, which group would grant
// it, which USB adapter it is). Plain facts for whoever tells the user (the
// window in Russian, the command line in English); nothing here formats text.
#pragma once

#include <string>
#include <vector>

namespace vorsal::platform {

// The names of the system's serial ports, in the system's own order. On
// Linux: the tty class entries under `systemRoot` (normally "/sys") that
// are backed by a device, leaving out legacy UARTs whose type reads 0 (no
// hardware). On Windows: the registry's table of serial ports (`systemRoot`
// unused). Empty when the table can't be read.
std::vector<std::string> SystemPortNames(const std::string& systemRoot);

// A process that has the device open.
struct PortHolder {
  int pid = 0;
  std::string command;  // the process's command name, may be empty
};

// Other processes with `devicePath` open, where this user may see them
// (processes of other users usually stay hidden); the calling process is
// never listed. In pid order; empty when the device does not exist.
std::vector<PortHolder> FindPortHolders(const std::string& devicePath);

struct PortOpenDiagnosis {
  std::string devicePath;
  int systemCode = -1;                // the system code of the failed open, -1 when none
  bool deviceExists = false;
  bool permissionDenied = false;      // access refused by permissions
  bool busy = false;                  // in use elsewhere, or holders found
  std::vector<PortHolder> holders;
  // A group (never root) whose permission bits on the device grant both read
  // and write; empty when no such group exists.
  std::string grantingGroup;
  bool userInGroup = false;           // the group database lists this user in it
  bool sessionHasGroup = false;       // this process already runs with that group
};

// Gathers the facts after an open of `devicePath` failed with `systemCode`.
PortOpenDiagnosis DiagnosePortOpen(const std::string& devicePath, int systemCode);

// What identifies the USB adapter behind a serial device: its stable by-id
// link and the USB device's vendor and product ids, manufacturer, product
// and serial number. Ports that are not on USB (a pty, a plain UART) have
// none of these.
struct UsbIdentity {
  std::string byIdLink;      // full path of the by-id link, empty when none names the device
  std::string vendorId;      // four hex digits, as the system gives them
  std::string productId;
  std::string manufacturer;
  std::string product;
  std::string serial;
  bool IsUsb() const { return !vendorId.empty(); }
};

// The identity of the device at `devicePath` (a /dev path, or a link to
// one). `sysfsRoot` is normally "/sys" and `byIdDir` "/dev/serial/by-id";
// tests pass a fake tree. The USB device is the nearest ancestor of the
// tty's `device` directory that has an idVendor file.
UsbIdentity ReadUsbIdentity(const std::string& devicePath, const std::string& sysfsRoot = "/sys",
                            const std::string& byIdDir = "/dev/serial/by-id");

}  // namespace vorsal::platform
