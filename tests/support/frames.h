// Frames for the suites: requests stamped as a sender puts them on the line,
// and the footprint text of a reply.
#pragma once

#include "protocol/frame.h"

#include <string>

namespace vorsal::test {

// The frame with its checksum for the connection type.
inline ModemFrame Stamped(ModemFrame frame, int connectionType = 0) {
  PutFrameCrc(frame.data(), connectionType);
  return frame;
}

// The footprint text of a reply frame, as an owned string.
inline std::string FootprintText(const std::uint8_t* frame) {
  char text[FootprintTextSize];
  return std::string(FormatFootprint(frame, text));
}

}  // namespace vorsal::test
