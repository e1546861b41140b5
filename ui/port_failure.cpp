#include "ui/port_failure.h"

#include "serial/com_port.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <QStringList>

namespace vorsal {

namespace {

// Name of the group owning the device file; empty when it cannot be told.
QString OwningGroup(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  if (const group* entry = ::getgrgid(info.st_gid)) return QString::fromLocal8Bit(entry->gr_name);
  return QString::number(info.st_gid);
}

}  // namespace

QString DescribePortOpenFailure(const std::string& portName, int systemCode, const std::string& message) {
  QStringList lines;
  if (systemCode > 0) lines << QString::fromLocal8Bit(std::strerror(systemCode));
  if (systemCode == EACCES || systemCode == EPERM) {
    const std::string path = ComPortDevicePath(portName);
    const QString group = OwningGroup(path);
    if (!group.isEmpty()) {
      lines << QStringLiteral("Нет прав на %1: пользователь должен входить в группу «%2», "
                              "которой принадлежит устройство (sudo usermod -aG %2 $USER, "
                              "затем войти в систему заново).")
                   .arg(QString::fromStdString(path), group);
    }
  }
  if (!message.empty()) lines << QString::fromStdString(message);
  return lines.join('\n');
}

}  // namespace vorsal
