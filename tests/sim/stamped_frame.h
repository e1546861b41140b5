// Request frames for the simulator suites, as a sender puts them on the line.
#pragma once

#include "protocol/frame.h"

namespace vorsal::test {

// The frame with its checksum for the connection type.
inline ModemFrame Stamped(ModemFrame frame, int connectionType = 0) {
  PutFrameCrc(frame.data(), connectionType);
  return frame;
}

}  // namespace vorsal::test
