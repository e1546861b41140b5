// The detailed text of the "cannot open the port" box: the system's reason,
// and for a permission failure the group that the user must belong to.
#pragma once

#include <QString>

#include <string>

namespace vorsal {

// `systemCode` is the errno of the failure (-1 when the failure had none);
// `message` is the port component's own message.
QString DescribePortOpenFailure(const std::string& portName, int systemCode, const std::string& message);

}  // namespace vorsal
