#include "platform/port_facts.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace vorsal::platform {

namespace {

namespace fs = std::filesystem;

bool SameFile(const struct stat& a, const struct stat& b) {
  // Device nodes are the same device whatever node (or link) names them.
  if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool ProcessHolds(const std::string& procDir, const struct stat& device) {
  const std::string fdDir = procDir + "/fd";
  DIR* dir = ::opendir(fdDir.c_str());
  if (dir == nullptr) return false;  // another user's process, or gone
  bool holds = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    struct stat target {};
    if (::stat((fdDir + "/" + entry->d_name).c_str(), &target) == 0 && SameFile(target, device)) {
      holds = true;
      break;
    }
  }
  ::closedir(dir);
  return holds;
}

std::string CommandOf(const std::string& procDir) {
  std::ifstream comm(procDir + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

bool ListsUser(gid_t gid) {
  const passwd* user = ::getpwuid(::getuid());
  if (user == nullptr) return false;
  int count = 64;
  std::vector<gid_t> groups(count);
  if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
    groups.resize(count);
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) return false;
  }
  groups.resize(count);
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

bool SessionHas(gid_t gid) {
  if (::getegid() == gid) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(count);
  const int got = ::getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

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

// A UART slot that serial_core registered without finding hardware.
bool IsEmptyUartSlot(const fs::path& entry) {
  std::ifstream type(entry / "type");
  int value = -1;
  return type >> value && value == 0;
}

}  // namespace

std::vector<PortHolder> FindPortHolders(const std::string& devicePath) {
  std::vector<PortHolder> holders;
  struct stat device {};
  if (::stat(devicePath.c_str(), &device) != 0) return holders;
  const pid_t self = ::getpid();
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return holders;
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || pid <= 0 || pid == self) continue;
    const std::string procDir = std::string("/proc/") + entry->d_name;
    if (ProcessHolds(procDir, device)) holders.push_back({static_cast<int>(pid), CommandOf(procDir)});
  }
  ::closedir(proc);
  std::sort(holders.begin(), holders.end(), [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
  return holders;
}

PortOpenDiagnosis DiagnosePortOpen(const std::string& devicePath, int systemCode) {
  PortOpenDiagnosis result;
  result.devicePath = devicePath;
  result.systemCode = systemCode;
  result.permissionDenied = systemCode == EACCES || systemCode == EPERM;
  struct stat device {};
  result.deviceExists = ::stat(devicePath.c_str(), &device) == 0;
  if (!result.deviceExists) return result;
  result.holders = FindPortHolders(devicePath);
  result.busy = systemCode == EBUSY || systemCode == EAGAIN || !result.holders.empty();
  const mode_t groupRw = S_IRGRP | S_IWGRP;
  if ((device.st_mode & groupRw) == groupRw && device.st_gid != 0) {
    if (const group* entry = ::getgrgid(device.st_gid)) {
      result.grantingGroup = entry->gr_name;
      result.userInGroup = ListsUser(device.st_gid);
      result.sessionHasGroup = SessionHas(device.st_gid);
    }
  }
  return result;
}

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

std::vector<std::string> SystemPortNames(const std::string& systemRoot) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(fs::path(systemRoot) / "class" / "tty", ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path entry = it->path();
    std::error_code ignored;
    if (!fs::exists(entry / "device", ignored) || IsEmptyUartSlot(entry)) continue;
    names.push_back(entry.filename().string());
  }
  return names;
}

}  // namespace vorsal::platform
