// The advice for a port that cannot be opened, from the facts of the failure.
#include "serial/port_open_advice.h"

#include <gtest/gtest.h>

namespace vorsal {
namespace {

TEST(PortOpenAdvice, EachSetOfFactsGetsItsAdvice) {
  const auto facts = [](bool exists, bool denied, bool busy, const char* group, bool inGroup, bool session) {
    PortOpenDiagnosis d;
    d.deviceExists = exists;
    d.permissionDenied = denied;
    d.busy = busy;
    d.grantingGroup = group;
    d.userInGroup = inGroup;
    d.sessionHasGroup = session;
    return d;
  };
  struct Case {
    PortOpenDiagnosis facts;
    PortOpenAdviceKind kind;
  };
  const Case cases[] = {
      {facts(false, true, false, "dialout", false, false), PortOpenAdviceKind::DeviceMissing},
      {facts(true, true, false, "", false, false), PortOpenAdviceKind::NoGroupGrantsAccess},
      {facts(true, true, false, "dialout", false, false), PortOpenAdviceKind::JoinGroup},
      {facts(true, true, false, "dialout", true, false), PortOpenAdviceKind::SessionLacksGroup},
      {facts(true, true, false, "dialout", true, true), PortOpenAdviceKind::DeniedDespiteGroup},
      {facts(true, false, true, "", false, false), PortOpenAdviceKind::InUse},
      {facts(true, false, false, "", false, false), PortOpenAdviceKind::SystemReason},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AdvisePortOpen(c.facts).kind, c.kind) << static_cast<int>(c.kind);
  }
}

}  // namespace
}  // namespace vorsal
