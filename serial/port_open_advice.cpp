#include "serial/port_open_advice.h"

#include "platform/files.h"

namespace vorsal {

PortOpenAdvice AdvisePortOpen(const PortOpenDiagnosis& d) {
  PortOpenAdvice advice;
  advice.devicePath = d.devicePath;
  advice.group = d.grantingGroup;
  advice.holders = d.holders;
  if (d.systemCode > 0) advice.systemReason = platform::SystemErrorText(d.systemCode);
  if (!d.deviceExists) {
    advice.kind = PortOpenAdviceKind::DeviceMissing;
  } else if (d.permissionDenied) {
    if (d.grantingGroup.empty()) {
      advice.kind = PortOpenAdviceKind::NoGroupGrantsAccess;
    } else if (!d.userInGroup) {
      advice.kind = PortOpenAdviceKind::JoinGroup;
    } else if (!d.sessionHasGroup) {
      advice.kind = PortOpenAdviceKind::SessionLacksGroup;
    } else {
      advice.kind = PortOpenAdviceKind::DeniedDespiteGroup;
    }
  } else if (d.busy) {
    advice.kind = PortOpenAdviceKind::InUse;
  }
  return advice;
}

}  // namespace vorsal
