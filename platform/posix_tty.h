// Linux only: what the serial device does with a tty, for its tests too.
#pragma once

#include "platform/serial_device.h"

namespace vorsal::platform {

// Any line rate, standard or not, through the kernel's termios2 interface
// (the C library's termios only knows the fixed B-constants): sets input and output rate of the tty on `fd` to `rate` bits per second,
// leaving its other settings alone. Returns false with errno set on failure.
bool SetLineRate(int fd, unsigned rate);
// The output rate of the tty on `fd`, or 0 with errno set on failure.
unsigned LineRate(int fd);

// The modem lines that applying the line settings raises (TIOCMBIS) and
// lowers (TIOCMBIC), as TIOCM_DTR / TIOCM_RTS bits. A line in neither mask is
// left to the driver.
struct ModemLineMasks {
  int raise = 0;
  int lower = 0;
};
ModemLineMasks ModemLineMasksFor(LineControl dtr, LineControl rts);

}  // namespace vorsal::platform
