// Loaded into Wine with LD_PRELOAD for the end-to-end run of the Windows
// programs against the simulator: a pseudo-terminal has no modem lines, so
// the kernel refuses TIOCMGET/TIOCMSET/TIOCMBIS/TIOCMBIC on it (ENOTTY), and
// Wine then fails the port's line settings and its event wait (error 50).
// Here such a refusal on a terminal is answered as a device with lines
// would answer: the lines the program set are kept and read back, and the
// modem's status lines read off. Every other request passes through.
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);

// The lines the program drives (DTR, RTS), for every pty of the process.
std::atomic<int> drivenLines{0};

IoctlFunction RealIoctl() {
  static const auto real = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
  return real;
}

bool ModemLineRequest(unsigned long request) {
  return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  const int result = RealIoctl()(fd, request, argument);
  if (result == 0 || !ModemLineRequest(request) || errno != ENOTTY || !::isatty(fd) || argument == nullptr) {
    return result;
  }
  int* lines = static_cast<int*>(argument);
  const int driven = TIOCM_DTR | TIOCM_RTS;
  switch (request) {
    case TIOCMGET: *lines = drivenLines.load(); break;
    case TIOCMSET: drivenLines = *lines & driven; break;
    case TIOCMBIS: drivenLines |= *lines & driven; break;
    case TIOCMBIC: drivenLines &= ~(*lines & driven); break;
  }
  errno = 0;
  return 0;
}
