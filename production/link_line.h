// A ModemLink on a serial device as the batch's and the commands' ModemLine.
#pragma once

#include "production/modem_steps.h"

#include <functional>
#include <memory>
#include <string>

namespace vorsal::production {

// What a client says below "cannot open PATH: REASON": the system's reason
// and the advice, in its own words. `systemCode` is the failure's errno (or
// Windows code), -1 when it had none.
using OpenFailureAdvice = std::function<std::string(const std::string& path, int systemCode)>;

// `clock`: null for the system clock. `advice`: empty for none.
std::unique_ptr<ModemLine> MakeLinkLine(const std::string& path, int connectionType, LinkClock* clock, int retries,
                                        OpenFailureAdvice advice = {});

}  // namespace vorsal::production
