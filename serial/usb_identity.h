// What identifies the USB adapter behind a serial device, as the system
// tells it (platform/port_facts.h).
#pragma once

#include "platform/port_facts.h"

namespace vorsal {

using platform::ReadUsbIdentity;
using platform::UsbIdentity;

}  // namespace vorsal
