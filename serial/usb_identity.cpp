#include "serial/usb_identity.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace vorsal {

namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute file; empty when it cannot be read.
std::string Attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

// The USB device directory above a tty's device directory: interfaces and
// usb-serial port directories sit one or two levels below it.
fs::path UsbDeviceDir(const fs::path& ttyEntry, const fs::path& sysfsRoot) {
  std::error_code ec;
  fs::path dir = fs::canonical(ttyEntry / "device", ec);
  if (ec) return {};
  const fs::path root = fs::canonical(sysfsRoot, ec);
  for (int level = 0; level < 4 && !ec && !dir.empty() && dir != root && dir != dir.root_path(); ++level) {
    if (fs::exists(dir / "idVendor", ec)) return dir;
    dir = dir.parent_path();
  }
  return {};
}

}  // namespace

UsbIdentity ReadUsbIdentity(const std::string& devicePath, const std::string& sysfsRoot,
                            const std::string& byIdDir) {
  UsbIdentity identity;
  std::error_code ec;
  // A link (a by-id link, say) is followed as far as it leads.
  const fs::path device = fs::weakly_canonical(devicePath, ec);
  if (ec || !device.has_filename()) return identity;

  for (fs::directory_iterator it(byIdDir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code linkError;
    fs::path target = fs::read_symlink(it->path(), linkError);
    if (linkError) continue;
    if (target.is_relative()) target = fs::path(byIdDir) / target;
    if (target.lexically_normal() == device) {
      identity.byIdLink = it->path().string();
      break;
    }
  }

  const fs::path usb = UsbDeviceDir(fs::path(sysfsRoot) / "class" / "tty" / device.filename(), sysfsRoot);
  if (usb.empty()) return identity;
  identity.vendorId = Attribute(usb / "idVendor");
  identity.productId = Attribute(usb / "idProduct");
  identity.manufacturer = Attribute(usb / "manufacturer");
  identity.product = Attribute(usb / "product");
  identity.serial = Attribute(usb / "serial");
  return identity;
}

}  // namespace vorsal
