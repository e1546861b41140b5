// Any line rate, standard or not, through the kernel's termios2 interface
// (the C library's termios only knows the fixed B-constants).
#pragma once

namespace vorsal {

// Sets input and output rate of the tty on `fd` to `rate` bits per second,
// leaving its other settings alone. Returns false with errno set on failure.
bool SetLineRate(int fd, unsigned rate);
// The output rate of the tty on `fd`, or 0 with errno set on failure.
unsigned LineRate(int fd);

}  // namespace vorsal
