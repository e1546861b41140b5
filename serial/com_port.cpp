#include "serial/com_port.h"

#include "serial/port_diagnosis.h"

#include "serial/com_thread.h"
#include "serial/line_rate.h"
#include "serial/port_list.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace vorsal {

const char* const PortErrorTexts[25] = {
    "",
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

namespace {

std::string ErrorMessage(int code, int systemCode) {
  std::string text = code >= 1 && code <= 24 ? PortErrorTexts[code] : "";
  if (systemCode > 0) text += " (Error: " + std::to_string(systemCode) + ")";
  return text;
}

// Pseudo-terminals and some adapters have no modem lines.
bool NoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

unsigned RateOf(TBaudRate rate, std::int32_t custom) {
  static constexpr unsigned kRates[] = {0,     110,   300,   600,    1200,   2400,
                                        4800,  9600,  14400, 19200,  38400,  56000,
                                        57600, 115200, 128000, 256000};
  if (rate == brCustom) return custom > 0 ? static_cast<unsigned>(custom) : 0;
  return kRates[rate];
}

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

tcflag_t SizeFlag(TDataBits bits) {
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  return kSizes[bits];
}

tcflag_t ParityFlags(TParityBits bits) {
  switch (bits) {
    case prOdd: return PARENB | PARODD;
    case prEven: return PARENB;
    case prMark: return PARENB | CMSPAR | PARODD;
    case prSpace: return PARENB | CMSPAR;
    case prNone: break;
  }
  return 0;
}

// Raises and lowers modem lines; a device without them is not a failure.
void SetModemLines(int fd, ModemLineMasks lines) {
  if (lines.raise != 0 && ioctl(fd, TIOCMBIS, &lines.raise) != 0 && !NoModemLines(errno)) {
    throw EComPort(CE_SetStateFailed, errno);
  }
  if (lines.lower != 0 && ioctl(fd, TIOCMBIC, &lines.lower) != 0 && !NoModemLines(errno)) {
    throw EComPort(CE_SetStateFailed, errno);
  }
}

}  // namespace

ModemLineMasks ModemLineMasksFor(TDTRFlowControl dtr, TRTSFlowControl rts) {
  ModemLineMasks lines;
  (dtr == dtrDisable ? lines.lower : lines.raise) |= TIOCM_DTR;
  // With handshake the driver drives RTS; toggling isn't available and
  // leaves RTS at its idle (off) state.
  if (rts == rtsEnable) lines.raise |= TIOCM_RTS;
  if (rts == rtsDisable || rts == rtsToggle) lines.lower |= TIOCM_RTS;
  return lines;
}

EComPort::EComPort(int code, int systemCode)
    : std::runtime_error(ErrorMessage(code, systemCode)),
      code_(code),
      systemCode_(systemCode > 0 ? systemCode : -1) {}

// ---- settings objects ----

template <class T>
void TCustomComPort::ChangeLineSetting(T& field, T value) {
  if (field == value) return;
  field = value;
  ApplyLineSettings();
}

void TComParity::SetBits(TParityBits value) { port_->ChangeLineSetting(bits_, value); }
void TComParity::SetCheck(bool value) { port_->ChangeLineSetting(check_, value); }
void TComParity::SetReplace(bool value) { port_->ChangeLineSetting(replace_, value); }
void TComParity::SetReplaceChar(std::uint8_t value) { port_->ChangeLineSetting(replaceChar_, value); }

void TComFlowControl::SetOutCTSFlow(bool value) { port_->ChangeLineSetting(outCTSFlow_, value); }
void TComFlowControl::SetOutDSRFlow(bool value) { port_->ChangeLineSetting(outDSRFlow_, value); }
void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
  port_->ChangeLineSetting(controlDTR_, value);
}
void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
  port_->ChangeLineSetting(controlRTS_, value);
}
void TComFlowControl::SetXonXoffOut(bool value) { port_->ChangeLineSetting(xonXoffOut_, value); }
void TComFlowControl::SetXonXoffIn(bool value) { port_->ChangeLineSetting(xonXoffIn_, value); }
void TComFlowControl::SetDSRSensitivity(bool value) {
  port_->ChangeLineSetting(dsrSensitivity_, value);
}
void TComFlowControl::SetTxContinueOnXoff(bool value) {
  port_->ChangeLineSetting(txContinueOnXoff_, value);
}
void TComFlowControl::SetXonChar(std::uint8_t value) { port_->ChangeLineSetting(xonChar_, value); }
void TComFlowControl::SetXoffChar(std::uint8_t value) { port_->ChangeLineSetting(xoffChar_, value); }

// Time-outs are read at every write, so storing them is applying them.
void TComTimeouts::SetReadInterval(std::int32_t value) { readInterval_ = value; }
void TComTimeouts::SetReadTotalMultiplier(std::int32_t value) { readTotalMultiplier_ = value; }
void TComTimeouts::SetReadTotalConstant(std::int32_t value) { readTotalConstant_ = value; }
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t value) { writeTotalMultiplier_ = value; }
void TComTimeouts::SetWriteTotalConstant(std::int32_t value) { writeTotalConstant_ = value; }

void TComBuffer::SetInputSize(std::int32_t value) {
  inputSize_ = value > 0 && value % 2 != 0 ? value - 1 : value;
}
void TComBuffer::SetOutputSize(std::int32_t value) {
  outputSize_ = value > 0 && value % 2 != 0 ? value - 1 : value;
}

// ---- the port ----

TCustomComPort::TCustomComPort(QObject* parent) : QObject(parent) {}

TCustomComPort::~TCustomComPort() {
  try {
    Close();
  } catch (...) {
    // Close refused (the device wouldn't purge): release everything anyway.
  }
  StopThread();
  CloseDevice();
}

void TCustomComPort::SetPort(const std::string& name) {
  if (name == port_) return;
  port_ = name;
  if (Connected()) {
    Close();
    Open();
  }
}

void TCustomComPort::SetBaudRate(TBaudRate value) { ChangeLineSetting(baudRate_, value); }
void TCustomComPort::SetCustomBaudRate(std::int32_t value) {
  ChangeLineSetting(customBaudRate_, value);
}
void TCustomComPort::SetDataBits(TDataBits value) { ChangeLineSetting(dataBits_, value); }
void TCustomComPort::SetStopBits(TStopBits value) { ChangeLineSetting(stopBits_, value); }
void TCustomComPort::SetDiscardNull(bool value) { ChangeLineSetting(discardNull_, value); }
void TCustomComPort::SetEventChar(std::uint8_t value) { ChangeLineSetting(eventChar_, value); }

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (Connected()) throw EComPort(CE_ConnChangeProp);
  syncMethod_ = value;
}

void TCustomComPort::SetConnected(bool value) {
  if (value) {
    Open();
  } else {
    Close();
  }
}

std::string ComPortDevicePath(const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  return "/dev/" + name;
}

void TCustomComPort::Open() {
  if (Connected()) return;
  if (OnBeforeOpen) OnBeforeOpen(this);
  OpenDevice();
  try {
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeoutSettings();
    if (events_ != 0) StartThread();
  } catch (...) {
    StopThread();
    CloseDevice();
    throw;
  }
  if (OnAfterOpen) OnAfterOpen(this);
  ReportLines();
}

void TCustomComPort::OpenDevice() {
  const std::string path = ComPortDevicePath(port_);
  // The lock and the exclusive mode below keep out later openers only; a
  // program that opened the device earlier without a lock (a terminal, a
  // modem manager probing a new adapter) would share the line and take the
  // modem's replies. Where the system shows us such a holder, refuse.
  if (!FindPortHolders(path).empty()) throw EComPort(CE_OpenFailed, EBUSY);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw EComPort(CE_OpenFailed, errno);
  // The lock keeps out every other user that asks for it, privileged or not;
  // the exclusive mode also keeps out unprivileged ones that don't ask.
  // A lock held elsewhere means the device is busy, whatever flock calls it.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    throw EComPort(CE_OpenFailed, error);
  }
  ioctl(fd, TIOCEXCL);
  // The system raises DTR and RTS on open; drop them at once.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIC, &lines);
  fd_ = fd;
  ++openings_;
}

void TCustomComPort::CloseDevice() {
  if (fd_ < 0) return;
  // The exclusive mode belongs to the tty, not to this descriptor: clear it so
  // that the device can be opened again while someone else still holds it.
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

void TCustomComPort::ApplyBufferSizes() {
  // The system's queues have fixed sizes; the stored sizes are used where
  // they matter (XON/XOFF limits are the driver's, the 80 % event is ours).
}

void TCustomComPort::ApplyTimeoutSettings() {
  // Reads never wait here and Write takes its limit from the stored values.
}

void TCustomComPort::ApplyLineSettings() {
  if (fd_ < 0) return;
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) throw EComPort(CE_SetStateFailed, errno);
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= CLOCAL | CREAD | SizeFlag(dataBits_) | ParityFlags(parity_.Bits());
  // One and a half stop bits exist only with five data bits (where the
  // hardware gives them for the two-stop-bit setting).
  if (stopBits_ == sbOne5StopBits && dataBits_ != dbFive) throw EComPort(CE_SetStateFailed, EINVAL);
  if (stopBits_ != sbOneStopBit) tio.c_cflag |= CSTOPB;
  if (flowControl_.OutCTSFlow() || flowControl_.ControlRTS() == rtsHandshake) tio.c_cflag |= CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
  if (flowControl_.XonXoffOut()) tio.c_iflag |= IXON;
  if (flowControl_.XonXoffIn()) tio.c_iflag |= IXOFF;
  if (parity_.Check()) tio.c_iflag |= INPCK;
  tio.c_cc[VSTART] = flowControl_.XonChar();
  tio.c_cc[VSTOP] = flowControl_.XoffChar();
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;

  const unsigned rate = RateOf(baudRate_, customBaudRate_);
  if (rate == 0) throw EComPort(CE_SetStateFailed, EINVAL);
  const speed_t speed = StandardSpeed(rate);
  if (speed != 0) {
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
  }
  if (tcsetattr(fd_, TCSANOW, &tio) != 0) throw EComPort(CE_SetStateFailed, errno);
  if (speed == 0 && !SetLineRate(fd_, rate)) throw EComPort(CE_SetStateFailed, errno);

  SetModemLines(fd_, ModemLineMasksFor(flowControl_.ControlDTR(), flowControl_.ControlRTS()));
}

void TCustomComPort::StartThread() {
  const TComEvents lineEvents =
      EventBit(evCTS) | EventBit(evDSR) | EventBit(evRLSD) | EventBit(evRing);
  const bool lineHandlers = OnCTSChange || OnDSRChange || OnRLSDChange || OnRing;
  thread_ = std::make_unique<TComThread>(this, fd_, events_, buffer_.InputSize(),
                                         (events_ & lineEvents) != 0 && lineHandlers);
}

void TCustomComPort::StopThread() {
  if (!thread_) return;
  const std::shared_ptr<HandOver> hand = thread_->Hand();
  thread_->RequestStop();
  // The thread may be blocked waiting for this thread to run a delivery:
  // run it here, or the join below would never return.
  ServeDelivery(hand);
  if (!thread_ || thread_->Hand() != hand) return;  // a handler closed the port meanwhile
  thread_->Join();
  thread_.reset();
}

bool TCustomComPort::LineState(int lineBit) {
  int lines = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) {
    if (NoModemLines(errno) || DeviceGone(errno)) return false;
    throw EComPort(CE_ModemStatFailed, errno);
  }
  return (lines & lineBit) != 0;
}

void TCustomComPort::ReportLines() {
  const bool cts = LineState(TIOCM_CTS);
  if (OnCTSChange) OnCTSChange(this, cts);
  const bool dsr = LineState(TIOCM_DSR);
  if (OnDSRChange) OnDSRChange(this, dsr);
  const bool rlsd = LineState(TIOCM_CD);
  if (OnRLSDChange) OnRLSDChange(this, rlsd);
}

void TCustomComPort::Close() {
  if (!Connected()) return;
  if (OnCTSChange) OnCTSChange(this, false);
  if (OnDSRChange) OnDSRChange(this, false);
  if (OnRLSDChange) OnRLSDChange(this, false);
  if (OnBeforeClose) OnBeforeClose(this);
  if (!Connected()) return;  // a handler closed it
  // Unsent output is dropped; received bytes stay for a delivery that the
  // event thread may be waiting for. A device that is gone can't be purged,
  // but it must still be released.
  if (tcflush(fd_, TCOFLUSH) != 0 && !DeviceGone(errno)) throw EComPort(CE_PurgeFailed, errno);
  const unsigned long opening = openings_;
  StopThread();
  // A delivery run by StopThread may have closed (or even reopened) the port.
  if (!Connected() || openings_ != opening) return;
  tcflush(fd_, TCIFLUSH);
  CloseDevice();
  if (OnAfterClose) OnAfterClose(this);
}

int TCustomComPort::Read(void* buffer, int count) {
  if (fd_ < 0) throw EComPort(CEPortNotOpen);
  if (count <= 0) return 0;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, static_cast<std::size_t>(count));
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    throw EComPort(CE_ReadFailed, errno);
  }
}

int TCustomComPort::Write(const void* buffer, int count) {
  using Clock = std::chrono::steady_clock;
  if (fd_ < 0) throw EComPort(CEPortNotOpen);
  if (count <= 0) return 0;
  const auto multiplier = static_cast<std::uint32_t>(timeouts_.WriteTotalMultiplier());
  const auto constant = static_cast<std::uint32_t>(timeouts_.WriteTotalConstant());
  const bool limited = multiplier != 0 || constant != 0;
  const auto limit = std::chrono::milliseconds(
      std::uint64_t{multiplier} * static_cast<std::uint64_t>(count) + constant);
  const auto deadline = Clock::now() + std::min<std::chrono::milliseconds>(limit, std::chrono::hours(24 * 365));
  // Milliseconds left before the deadline, -1 without a limit.
  auto remaining = [&]() -> long long {
    if (!limited) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max<long long>(0, left.count());
  };

  const auto* bytes = static_cast<const unsigned char*>(buffer);
  int written = 0;
  while (written < count) {
    const ssize_t n = ::write(fd_, bytes + written, static_cast<std::size_t>(count - written));
    if (n >= 0) {
      written += static_cast<int>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) throw EComPort(CE_WriteFailed, errno);
    const long long left = remaining();
    if (left == 0) return written;
    pollfd out{fd_, POLLOUT, 0};
    if (poll(&out, 1, static_cast<int>(std::min<long long>(left, 1000 * 60 * 60))) < 0 &&
        errno != EINTR) {
      throw EComPort(CE_WriteFailed, errno);
    }
  }

  // Wait until the driver has sent everything, sleeping about as long as the
  // queued characters take on the line.
  const unsigned rate = std::max(RateOf(baudRate_, customBaudRate_), 1u);
  for (;;) {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
    const long long left = remaining();
    if (left == 0) return written;
    long long wait = std::max<long long>(1, queued * 10000LL / rate);
    if (left > 0) wait = std::min(wait, left);
    std::this_thread::sleep_for(std::chrono::milliseconds(wait));
  }
  if (thread_) thread_->NotifyTxEmpty();
  return written;
}

int TCustomComPort::InputCount() const {
  int count = 0;
  if (fd_ < 0 || ioctl(fd_, FIONREAD, &count) != 0) return 0;
  return count;
}

void TCustomComPort::UpdatePortList() {
  portList_ = SystemPortNames(sysfsRoot_);
  for (std::string& path : SplitPortPaths(std::getenv("VORSAL_EXTRA_PORTS"))) {
    portList_.push_back(std::move(path));
  }
  OrderComPorts(portList_);
}

bool TCustomComPort::DeliveryWaiting() const {
  if (!thread_) return false;
  HandOver& hand = *thread_->Hand();
  std::lock_guard lock(hand.mutex);
  return hand.pending && !hand.serving;
}

unsigned long TCustomComPort::EventWakeups() const {
  return thread_ ? thread_->Hand()->wakeups.load(std::memory_order_relaxed) : 0;
}

// ---- delivery on the port's thread ----

void TCustomComPort::ServeDelivery(std::shared_ptr<HandOver> hand) {
  TComEvents events;
  {
    std::lock_guard lock(hand->mutex);
    if (!hand->pending || hand->serving) return;
    hand->serving = true;
    events = hand->events;
  }
  std::exception_ptr error;
  try {
    Deliver(hand, events);
  } catch (...) {
    error = std::current_exception();
  }
  {
    std::lock_guard lock(hand->mutex);
    hand->serving = false;
    hand->pending = false;
    hand->error = error;
  }
  hand->changed.notify_all();
}

bool TCustomComPort::DeliveryCurrent(const std::shared_ptr<HandOver>& hand) const {
  return fd_ >= 0 && thread_ && thread_->Hand() == hand;
}

void TCustomComPort::Deliver(const std::shared_ptr<HandOver>& hand, TComEvents events) {
  static constexpr TComEvent kOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                         evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};
  auto call = [this](const TNotifyEvent& handler) {
    if (handler) handler(this);
  };
  auto line = [this](const TLineEvent& handler, int bit) {
    const bool on = LineState(bit);
    if (handler) handler(this, on);
  };
  for (const TComEvent kind : kOrder) {
    if ((events & EventBit(kind)) == 0) continue;
    // A handler may have closed the port: the rest of the batch is void.
    if (!DeliveryCurrent(hand)) return;
    switch (kind) {
      case evError: {
        TComErrors errors;
        {
          std::lock_guard lock(hand->mutex);
          errors = hand->errors;
          hand->errors = 0;
        }
        if (!parity_.Check()) errors &= ~ErrorBit(ceRxParity);
        if (errors != 0 && OnError) OnError(this, errors);
        break;
      }
      case evRxChar: {
        int count = 0;
        if (ioctl(fd_, FIONREAD, &count) != 0) {
          // A lost device is reported by the event thread itself.
          if (!DeviceGone(errno)) throw EComPort(CE_ClearComFailed, errno);
          count = 0;
        }
        if (count > 0 && OnRxChar) OnRxChar(this, count);
        break;
      }
      case evTxEmpty: call(OnTxEmpty); break;
      case evBreak: call(OnBreak); break;
      case evRing: call(OnRing); break;
      case evCTS: line(OnCTSChange, TIOCM_CTS); break;
      case evDSR: line(OnDSRChange, TIOCM_DSR); break;
      case evRxFlag: call(OnRxFlag); break;
      case evRLSD: line(OnRLSDChange, TIOCM_CD); break;
      case evRx80Full: call(OnRx80Full); break;
    }
  }
}

void SetModemLine(TCustomComPort& port, const std::string& path, int connectionType) {
  port.SetPort(path);
  port.SetBaudRate(connectionType == 1 ? br9600 : br600);
  port.Parity().SetBits(prNone);
  port.SetStopBits(sbOneStopBit);
  port.SetDataBits(dbEight);
}

}  // namespace vorsal
