// What to tell a user whose port could not be opened, as a value: the facts
// of the failed open (PortOpenDiagnosis) decide one kind of advice, and each
// client words it in its own language (the window in Russian, vorsal-cli in
// English). Nothing here formats text for the user.
#pragma once

#include "serial/port_diagnosis.h"

#include <string>
#include <vector>

namespace vorsal {

enum class PortOpenAdviceKind {
  SystemReason,        // nothing more to say than the system's reason
  DeviceMissing,       // no such device: adapter unplugged or a wrong port
  NoGroupGrantsAccess, // denied, and no group may read and write the device
  JoinGroup,           // denied; joining `group` gives access
  SessionLacksGroup,   // denied; the user is in `group`, this session started before
  DeniedDespiteGroup,  // denied although this session has `group`
  InUse,               // another program holds the port (`holders` when visible)
};

struct PortOpenAdvice {
  PortOpenAdviceKind kind = PortOpenAdviceKind::SystemReason;
  std::string devicePath;
  std::string group;
  std::vector<PortHolder> holders;
  // The system's own words for the failure's code, in its language (empty
  // when the failure had no code).
  std::string systemReason;
};

PortOpenAdvice AdvisePortOpen(const PortOpenDiagnosis& diagnosis);

}  // namespace vorsal
