#include "production/system_ports.h"

#include "serial/com_port.h"

namespace vorsal::production {

std::vector<SystemPort> ListSystemPorts(const std::string& sysfsRoot, const std::string& byIdDir) {
  TComPort lister;
  lister.SetSysfsRoot(sysfsRoot);
  lister.UpdatePortList();
  std::vector<SystemPort> ports;
  for (const std::string& name : lister.PortList()) {
    const std::string path = ComPortDevicePath(name);
    ports.push_back({path, ReadUsbIdentity(path, sysfsRoot, byIdDir)});
  }
  return ports;
}

}  // namespace vorsal::production
