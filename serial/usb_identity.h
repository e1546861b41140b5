// What identifies the USB adapter behind a serial device: its stable
// /dev/serial/by-id link and the USB device's vendor and product ids,
// manufacturer, product and serial number, read from sysfs. Ports that are
// not on USB (a pty, a plain UART) have none of these.
#pragma once

#include <string>

namespace vorsal {

struct UsbIdentity {
  std::string byIdLink;      // full path of the by-id link, empty when none names the device
  std::string vendorId;      // four hex digits, as sysfs gives them
  std::string productId;
  std::string manufacturer;
  std::string product;
  std::string serial;
  bool IsUsb() const { return !vendorId.empty(); }
};

// The identity of the tty at `devicePath` (a /dev path, or a link to one).
// `sysfsRoot` is normally "/sys" and `byIdDir` "/dev/serial/by-id"; tests
// pass a fake tree. The USB device is the nearest ancestor of the tty's
// `device` directory that has an idVendor file.
UsbIdentity ReadUsbIdentity(const std::string& devicePath, const std::string& sysfsRoot = "/sys",
                            const std::string& byIdDir = "/dev/serial/by-id");

}  // namespace vorsal
