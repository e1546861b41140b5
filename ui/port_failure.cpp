#include "ui/port_failure.h"

#include "serial/com_port.h"
#include "serial/port_open_advice.h"

#include <cerrno>
#include <cstring>

#include <QStringList>

namespace vorsal {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

QString HoldersText(const std::vector<PortHolder>& holders) {
  QStringList names;
  for (const PortHolder& holder : holders) {
    names << QStringLiteral("«%1» (PID %2)").arg(Q(holder.command), QString::number(holder.pid));
  }
  return names.join(QStringLiteral(", "));
}

}  // namespace

QString DescribePortOpenFailure(const std::string& portName, int systemCode, const std::string& message) {
  if (systemCode <= 0) return Q(message);
  const PortOpenAdvice advice = AdvisePortOpen(DiagnosePortOpen(ComPortDevicePath(portName), systemCode));
  const QString path = Q(advice.devicePath);
  const QString group = Q(advice.group);
  const QString denied = QStringLiteral("Нет прав на открытие порта. ");
  switch (advice.kind) {
    case PortOpenAdviceKind::DeviceMissing:
      return QStringLiteral("Устройство %1 не найдено: модем (адаптер) не подключён или порт выбран неверно. "
                            "Подключите его и выберите порт в списке снова.")
          .arg(path);
    case PortOpenAdviceKind::NoGroupGrantsAccess:
      return denied + QStringLiteral(
                          "Права устройства %1 не дают доступа этому пользователю. Администратор может дать "
                          "доступ правилом udev (например, GROUP=\"dialout\", MODE=\"0660\" для этого устройства) "
                          "и добавить пользователя в эту группу.")
                          .arg(path);
    case PortOpenAdviceKind::SessionLacksGroup:
      return denied + QStringLiteral(
                          "Доступ к %1 даёт группа «%2». Пользователь уже входит в неё, но этот сеанс начат "
                          "раньше: выйдите из системы и войдите заново.")
                          .arg(path, group);
    case PortOpenAdviceKind::DeniedDespiteGroup:
      return denied +
             QStringLiteral("Нет доступа к %1, хотя пользователь входит в группу «%2». Обратитесь к администратору.")
                 .arg(path, group);
    case PortOpenAdviceKind::JoinGroup:
      return denied + QStringLiteral(
                          "Доступ к %1 даёт группа «%2». Добавьте пользователя в неё (sudo usermod -aG %2 $USER) "
                          "и войдите в систему заново.")
                          .arg(path, group);
    case PortOpenAdviceKind::InUse:
      if (!advice.holders.empty()) {
        return QStringLiteral("Порт занят другой программой: %1. Закройте её и выберите порт снова.")
            .arg(HoldersText(advice.holders));
      }
      return QStringLiteral("Порт занят другой программой (какой именно, система не показывает). "
                            "Закройте программу, работающую с портом, и выберите порт снова.");
    case PortOpenAdviceKind::SystemReason:
      break;
  }
  return QStringLiteral("Система сообщает: %1 (код %2).")
      .arg(QString::fromLocal8Bit(std::strerror(systemCode)), QString::number(systemCode));
}

QString DescribePortLost(const std::string& portName) {
  return QStringLiteral("Связь с портом %1 потеряна: модем (адаптер) отключён. "
                        "Подключите его снова и выберите порт в списке «Порт:».")
      .arg(Q(portName));
}

}  // namespace vorsal
