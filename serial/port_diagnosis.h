// Why a serial device could not be opened, as plain facts for whoever tells
// the user: the system gathers them (platform/port_facts.h).
#pragma once

#include "platform/port_facts.h"

namespace vorsal {

using platform::DiagnosePortOpen;
using platform::FindPortHolders;
using platform::PortHolder;
using platform::PortOpenDiagnosis;

}  // namespace vorsal
