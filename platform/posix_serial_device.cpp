// The serial device on Linux: a tty opened non-blocking, locked with flock
// and TIOCEXCL, set raw through termios (termios2 for rates without a
// B-constant), and an event wait on epoll with an eventfd as stop signal.
#include "platform/serial_device.h"

#include "platform/port_facts.h"
#include "platform/posix_tty.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace vorsal::platform {

namespace {

// How often line changes are sampled when someone listens for them: the
// system can't wake a waiter on them.
constexpr int kLineSampleMs = 100;

// Pseudo-terminals and some adapters have no modem lines.
bool NoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

// The C library's constant for a rate, or 0 when it has none.
speed_t StandardSpeed(unsigned rate) {
  switch (rate) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return 0;
  }
}

tcflag_t SizeFlag(int dataBits) {
  switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

tcflag_t ParityFlags(Parity parity) {
  switch (parity) {
    case Parity::Odd: return PARENB | PARODD;
    case Parity::Even: return PARENB;
    case Parity::Mark: return PARENB | CMSPAR | PARODD;
    case Parity::Space: return PARENB | CMSPAR;
    case Parity::None: break;
  }
  return 0;
}

// Raises and lowers modem lines; a device without them is not a failure.
int SetModemLines(int fd, int raise, int lower) {
  if (raise != 0 && ioctl(fd, TIOCMBIS, &raise) != 0 && !NoModemLines(errno)) return errno;
  if (lower != 0 && ioctl(fd, TIOCMBIC, &lower) != 0 && !NoModemLines(errno)) return errno;
  return 0;
}

void Signal(int eventFd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(eventFd, &one, sizeof one);
}

void CloseIfOpen(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool AddToWaitSet(int pollFd, int fd, std::uint32_t events) {
  epoll_event ev{};
  ev.events = events;
  ev.data.fd = fd;
  return epoll_ctl(pollFd, EPOLL_CTL_ADD, fd, &ev) == 0;
}

// The events and error kinds that changed counters stand for.
void CompareCounts(const serial_icounter_struct& was, const serial_icounter_struct& now, unsigned& events,
                   unsigned& errors) {
  if (now.frame != was.frame) errors |= SerialWakeup::Frame;
  if (now.parity != was.parity) errors |= SerialWakeup::ParityError;
  if (now.overrun != was.overrun) errors |= SerialWakeup::Overrun;
  if (now.buf_overrun != was.buf_overrun) errors |= SerialWakeup::RxOver;
  if (now.brk != was.brk) {
    errors |= SerialWakeup::BreakError;
    events |= SerialWakeup::Break;
  }
  if (errors != 0) events |= SerialWakeup::LineError;
  if (now.rng != was.rng) events |= SerialWakeup::Ring;
  if (now.cts != was.cts) events |= SerialWakeup::Cts;
  if (now.dsr != was.dsr) events |= SerialWakeup::Dsr;
  if (now.dcd != was.dcd) events |= SerialWakeup::Rlsd;
}

}  // namespace

struct SerialDevice::State {
  int fd = -1;
  unsigned rate = 9600;
  // The event wait.
  int stopFd = -1;
  int txFd = -1;
  int pollFd = -1;
  bool sampleLines = false;
  bool counted = false;
  bool lost = false;
  serial_icounter_struct counts{};
};

std::string SerialDevicePath(const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  return "/dev/" + name;
}

ModemLineMasks ModemLineMasksFor(LineControl dtr, LineControl rts) {
  ModemLineMasks lines;
  (dtr == LineControl::Off ? lines.lower : lines.raise) |= TIOCM_DTR;
  // With handshake the driver drives RTS; toggling isn't available and
  // leaves RTS at its idle (off) state.
  if (rts == LineControl::On) lines.raise |= TIOCM_RTS;
  if (rts == LineControl::Off || rts == LineControl::Toggle) lines.lower |= TIOCM_RTS;
  return lines;
}

bool DeviceGone(int systemCode) { return systemCode == EIO || systemCode == ENODEV || systemCode == ENXIO; }

SerialDevice::SerialDevice() : state_(std::make_unique<State>()) {}

SerialDevice::~SerialDevice() {
  EndEvents();
  Close();
}

bool SerialDevice::IsOpen() const { return state_->fd >= 0; }

int SerialDevice::Open(const std::string& path) {
  if (IsOpen()) return EBUSY;
  // The lock and the exclusive mode below keep out later openers only; a
  // program that opened the device earlier without a lock (a terminal, a
  // modem manager probing a new adapter) would share the line and take the
  // modem's replies. Where the system shows us such a holder, refuse.
  if (!FindPortHolders(path).empty()) return EBUSY;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  // The lock keeps out every other user that asks for it, privileged or not;
  // the exclusive mode also keeps out unprivileged ones that don't ask.
  // A lock held elsewhere means the device is busy, whatever flock calls it.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    return error;
  }
  ioctl(fd, TIOCEXCL);
  // The system raises DTR and RTS on open; drop them at once.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIC, &lines);
  state_->fd = fd;
  return 0;
}

void SerialDevice::Close() {
  if (state_->fd < 0) return;
  // The exclusive mode belongs to the tty, not to this descriptor: clear it so
  // that the device can be opened again while someone else still holds it.
  ioctl(state_->fd, TIOCNXCL);
  ::close(state_->fd);
  state_->fd = -1;
}

int SerialDevice::Apply(const LineSettings& settings) {
  const int fd = state_->fd;
  if (fd < 0) return EBADF;
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return errno;
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= CLOCAL | CREAD | SizeFlag(settings.dataBits) | ParityFlags(settings.parity);
  // One and a half stop bits exist only with five data bits (where the
  // hardware gives them for the two-stop-bit setting).
  if (settings.stopBits == StopBits::OneAndHalf && settings.dataBits != 5) return EINVAL;
  if (settings.stopBits != StopBits::One) tio.c_cflag |= CSTOPB;
  if (settings.outCtsFlow || settings.rts == LineControl::Handshake) tio.c_cflag |= CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
  if (settings.xonXoffOut) tio.c_iflag |= IXON;
  if (settings.xonXoffIn) tio.c_iflag |= IXOFF;
  if (settings.parityCheck) tio.c_iflag |= INPCK;
  tio.c_cc[VSTART] = settings.xonChar;
  tio.c_cc[VSTOP] = settings.xoffChar;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;

  if (settings.rate == 0) return EINVAL;
  const speed_t speed = StandardSpeed(settings.rate);
  if (speed != 0) {
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
  }
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return errno;
  if (speed == 0 && !SetLineRate(fd, settings.rate)) return errno;
  state_->rate = settings.rate;

  const ModemLineMasks lines = ModemLineMasksFor(settings.dtr, settings.rts);
  return SetModemLines(fd, lines.raise, lines.lower);
}

int SerialDevice::Read(void* buffer, int count) {
  if (state_->fd < 0) return -EBADF;
  if (count <= 0) return 0;
  for (;;) {
    const ssize_t n = ::read(state_->fd, buffer, static_cast<std::size_t>(count));
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    return -errno;
  }
}

int SerialDevice::Write(const void* buffer, int count, long long limitMs) {
  using Clock = std::chrono::steady_clock;
  const int fd = state_->fd;
  if (fd < 0) return -EBADF;
  if (count <= 0) return 0;
  const bool limited = limitMs >= 0;
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(std::clamp<long long>(limitMs, 0, 1000LL * 60 * 60 * 24 * 365));
  // Milliseconds left before the deadline, -1 without a limit.
  auto remaining = [&]() -> long long {
    if (!limited) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max<long long>(0, left.count());
  };

  const auto* bytes = static_cast<const unsigned char*>(buffer);
  int written = 0;
  while (written < count) {
    const ssize_t n = ::write(fd, bytes + written, static_cast<std::size_t>(count - written));
    if (n >= 0) {
      written += static_cast<int>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return -errno;
    const long long left = remaining();
    if (left == 0) return written;
    pollfd out{fd, POLLOUT, 0};
    if (poll(&out, 1, static_cast<int>(std::min<long long>(left, 1000 * 60 * 60))) < 0 && errno != EINTR) {
      return -errno;
    }
  }

  // Wait until the driver has sent everything, sleeping about as long as the
  // queued characters take on the line.
  const unsigned rate = std::max(state_->rate, 1u);
  for (;;) {
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
    const long long left = remaining();
    if (left == 0) return written;
    long long wait = std::max<long long>(1, queued * 10000LL / rate);
    if (left > 0) wait = std::min(wait, left);
    std::this_thread::sleep_for(std::chrono::milliseconds(wait));
  }
  if (state_->txFd >= 0) Signal(state_->txFd);
  return written;
}

int SerialDevice::Purge(bool output, bool input) {
  if (state_->fd < 0) return EBADF;
  const int queue = output && input ? TCIOFLUSH : output ? TCOFLUSH : TCIFLUSH;
  if ((output || input) && tcflush(state_->fd, queue) != 0) return errno;
  return 0;
}

int SerialDevice::BytesWaiting(int& count) const {
  count = 0;
  if (state_->fd < 0) return EBADF;
  if (ioctl(state_->fd, FIONREAD, &count) != 0) {
    count = 0;
    return errno;
  }
  return 0;
}

int SerialDevice::ReadModemStatus(ModemStatus& status) const {
  status = {};
  int lines = 0;
  if (ioctl(state_->fd, TIOCMGET, &lines) != 0) return NoModemLines(errno) ? 0 : errno;
  status.cts = (lines & TIOCM_CTS) != 0;
  status.dsr = (lines & TIOCM_DSR) != 0;
  status.ring = (lines & TIOCM_RI) != 0;
  status.rlsd = (lines & TIOCM_CD) != 0;
  return 0;
}

int SerialDevice::BeginEvents(bool sampleLines) {
  State& s = *state_;
  if (s.fd < 0) return EBADF;
  s.sampleLines = sampleLines;
  s.lost = false;
  s.counts = {};
  s.counted = ioctl(s.fd, TIOCGICOUNT, &s.counts) == 0;
  s.stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  s.txFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  s.pollFd = epoll_create1(EPOLL_CLOEXEC);
  // The device is watched edge-triggered: a wake-up means new bytes, so bytes
  // a handler leaves unread don't wake the waiter again and again.
  const bool ready = s.stopFd >= 0 && s.txFd >= 0 && s.pollFd >= 0 && AddToWaitSet(s.pollFd, s.stopFd, EPOLLIN) &&
                     AddToWaitSet(s.pollFd, s.txFd, EPOLLIN) && AddToWaitSet(s.pollFd, s.fd, EPOLLIN | EPOLLET);
  if (ready) return 0;
  const int error = errno;
  EndEvents();
  return error;
}

void SerialDevice::StopEvents() {
  if (state_->stopFd >= 0) Signal(state_->stopFd);
}

void SerialDevice::EndEvents() {
  State& s = *state_;
  CloseIfOpen(s.stopFd);
  CloseIfOpen(s.txFd);
  CloseIfOpen(s.pollFd);
}

SerialWakeup SerialDevice::WaitEvents() {
  State& s = *state_;
  SerialWakeup wakeup;
  for (;;) {
    const int timeout = (s.counted && s.sampleLines && !s.lost) ? kLineSampleMs : -1;
    epoll_event ready[3];
    const int n = epoll_wait(s.pollFd, ready, 3, timeout);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      wakeup.stopped = true;
      return wakeup;
    }
    bool data = false, hangUp = false;
    for (int i = 0; i < n; ++i) {
      if (ready[i].data.fd == s.stopFd) {
        wakeup.stopped = true;
      } else if (ready[i].data.fd == s.txFd) {
        std::uint64_t value;
        [[maybe_unused]] const ssize_t r = ::read(s.txFd, &value, sizeof value);
        wakeup.events |= SerialWakeup::TxEmpty;
      } else {
        hangUp = (ready[i].events & (EPOLLHUP | EPOLLERR)) != 0;
        data = (ready[i].events & EPOLLIN) != 0;
      }
    }
    if (wakeup.stopped || s.lost) return wakeup;

    if (!hangUp && data && ioctl(s.fd, FIONREAD, &wakeup.waiting) != 0) {
      hangUp = DeviceGone(errno);
      wakeup.waiting = 0;
    }
    if (hangUp) {
      // The device is gone: say so once and from now on wait for the stop
      // signal alone (a hung-up tty reads as always ready).
      s.lost = true;
      epoll_ctl(s.pollFd, EPOLL_CTL_DEL, s.fd, nullptr);
      wakeup.lost = true;
      return wakeup;
    }
    if (wakeup.waiting > 0) wakeup.events |= SerialWakeup::RxChar;
    serial_icounter_struct now{};
    if (s.counted && ioctl(s.fd, TIOCGICOUNT, &now) == 0) {
      CompareCounts(s.counts, now, wakeup.events, wakeup.errors);
      s.counts = now;
    }
    return wakeup;
  }
}

}  // namespace vorsal::platform
