// The system's serial ports with the USB adapter behind each, as a batch's
// clients offer them.
#pragma once

#include "serial/usb_identity.h"

#include <string>
#include <vector>

namespace vorsal::production {

struct SystemPort {
  std::string path;  // the device path
  UsbIdentity usb;
};

// In the system's order; `sysfsRoot` and `byIdDir` as ReadUsbIdentity takes them.
std::vector<SystemPort> ListSystemPorts(const std::string& sysfsRoot = "/sys",
                                        const std::string& byIdDir = "/dev/serial/by-id");

}  // namespace vorsal::production
