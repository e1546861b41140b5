// What the "cannot open the port" box says below its first line: the reason
// the system gave, told in the user's terms, and what to do about it. Texts
// are UTF-8.
#pragma once

#include <string>

namespace vorsal {

// `systemCode` is the errno of the failure (-1 when the failure had none);
// `message` is the port component's own message, shown only when the system
// gave no reason.
std::string DescribePortOpenFailure(const std::string& portName, int systemCode, const std::string& message);

// The box's text after the device was lost while open (adapter unplugged).
std::string DescribePortLost(const std::string& portName);

}  // namespace vorsal
