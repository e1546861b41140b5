#include "window/port_failure.h"

#include "serial/com_port.h"
#include "serial/port_open_advice.h"

namespace vorsal {

namespace {

std::string HoldersText(const std::vector<PortHolder>& holders) {
  std::string names;
  for (const PortHolder& holder : holders) {
    if (!names.empty()) names += ", ";
    names += "«" + holder.command + "» (PID " + std::to_string(holder.pid) + ")";
  }
  return names;
}

}  // namespace

std::string DescribePortOpenFailure(const std::string& portName, int systemCode, const std::string& message) {
  if (systemCode <= 0) return message;
  const PortOpenAdvice advice = AdvisePortOpen(DiagnosePortOpen(ComPortDevicePath(portName), systemCode));
  const std::string& path = advice.devicePath;
  const std::string& group = advice.group;
  const std::string denied = "Нет прав на открытие порта. ";
  switch (advice.kind) {
    case PortOpenAdviceKind::DeviceMissing:
      return "Устройство " + path +
             " не найдено: модем (адаптер) не подключён или порт выбран неверно. "
             "Подключите его и выберите порт в списке снова.";
    case PortOpenAdviceKind::NoGroupGrantsAccess:
      return denied + "Права устройства " + path +
             " не дают доступа этому пользователю. Администратор может дать "
             "доступ правилом udev (например, GROUP=\"dialout\", MODE=\"0660\" для этого устройства) "
             "и добавить пользователя в эту группу.";
    case PortOpenAdviceKind::SessionLacksGroup:
      return denied + "Доступ к " + path + " даёт группа «" + group +
             "». Пользователь уже входит в неё, но этот сеанс начат "
             "раньше: выйдите из системы и войдите заново.";
    case PortOpenAdviceKind::DeniedDespiteGroup:
      return denied + "Нет доступа к " + path + ", хотя пользователь входит в группу «" + group +
             "». Обратитесь к администратору.";
    case PortOpenAdviceKind::JoinGroup:
      return denied + "Доступ к " + path + " даёт группа «" + group + "». Добавьте пользователя в неё (sudo usermod -aG " +
             group + " $USER) и войдите в систему заново.";
    case PortOpenAdviceKind::InUse:
      if (!advice.holders.empty()) {
        return "Порт занят другой программой: " + HoldersText(advice.holders) +
               ". Закройте её и выберите порт снова.";
      }
      return "Порт занят другой программой (какой именно, система не показывает). "
             "Закройте программу, работающую с портом, и выберите порт снова.";
    case PortOpenAdviceKind::SystemReason:
      break;
  }
  return "Система сообщает: " + advice.systemReason + " (код " + std::to_string(systemCode) + ").";
}

std::string DescribePortLost(const std::string& portName) {
  return "Связь с портом " + portName +
         " потеряна: модем (адаптер) отключён. "
         "Подключите его снова и выберите порт в списке «Порт:».";
}

}  // namespace vorsal
