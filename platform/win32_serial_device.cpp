// The serial device on Windows: "\\.\COMn" opened for overlapped I/O by
// this program alone, its line set through the DCB, reads that return at
// once (ReadIntervalTimeout MAXDWORD), writes waited for with a limit, and
// an overlapped WaitCommEvent that another thread ends with SetCommMask(0)
// (CancelIo can leave such a wait pending for ever under Wine). The device is
// lost only when the system says it went, or a wait keeps failing: the event
// wait under Wine on a loaded machine fails a wait now and then, sets its
// event early and misses bytes, none of which is a lost device.
#include "platform/serial_device.h"
#include "platform/win32_text.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

namespace vorsal::platform {

namespace {

// How often line changes are sampled on devices that cannot wake a waiter
// for them.
constexpr DWORD kLineSampleMs = 100;

// Aborted waits in a row that still count as no failure.
constexpr int kMaxAborts = 100;

// A wait that fails with a code that does not say the device went away is
// tried again after a pause (Wine on a loaded machine fails one now and then
// with ERROR_NOT_READY on a port that works on); failing this many times in
// a row, about a second, the device fails for good.
constexpr int kMaxFailures = 20;
constexpr DWORD kFailurePauseMs = 50;

// How often a pending wait is looked at once its event was seen set while
// the wait went on (Wine on a loaded machine sets it early).
constexpr DWORD kWaitPollMs = 10;

// How often the input queue is looked at while a wait is pending: Wine on a
// loaded machine now and then lets bytes arrive without ending the wait.
constexpr DWORD kQueueLookMs = 200;

constexpr DWORD kDataMask = EV_RXCHAR | EV_ERR | EV_BREAK;
constexpr DWORD kLineMask = EV_RING | EV_CTS | EV_DSR | EV_RLSD;

// Devices (and drivers) that have no modem lines or cannot watch them.
bool NoModemLines(DWORD error) {
  return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_PARAMETER;
}

BYTE ParityByte(Parity parity) {
  switch (parity) {
    case Parity::Odd: return ODDPARITY;
    case Parity::Even: return EVENPARITY;
    case Parity::Mark: return MARKPARITY;
    case Parity::Space: return SPACEPARITY;
    case Parity::None: break;
  }
  return NOPARITY;
}

DWORD DtrControl(LineControl line) {
  switch (line) {
    case LineControl::On: return DTR_CONTROL_ENABLE;
    case LineControl::Handshake: return DTR_CONTROL_HANDSHAKE;
    case LineControl::Off:
    case LineControl::Toggle: break;  // the DTR line has no toggle mode
  }
  return DTR_CONTROL_DISABLE;
}

DWORD RtsControl(LineControl line) {
  switch (line) {
    case LineControl::On: return RTS_CONTROL_ENABLE;
    case LineControl::Handshake: return RTS_CONTROL_HANDSHAKE;
    case LineControl::Toggle: return RTS_CONTROL_TOGGLE;
    case LineControl::Off: break;
  }
  return RTS_CONTROL_DISABLE;
}

unsigned ErrorBits(DWORD errors) {
  unsigned bits = 0;
  if (errors & CE_FRAME) bits |= SerialWakeup::Frame;
  if (errors & CE_RXPARITY) bits |= SerialWakeup::ParityError;
  if (errors & CE_OVERRUN) bits |= SerialWakeup::Overrun;
  if (errors & CE_RXOVER) bits |= SerialWakeup::RxOver;
  if (errors & CE_BREAK) bits |= SerialWakeup::BreakError;
  return bits;
}

unsigned EventBits(DWORD mask) {
  unsigned bits = 0;
  if (mask & EV_BREAK) bits |= SerialWakeup::Break;
  if (mask & EV_RING) bits |= SerialWakeup::Ring;
  if (mask & EV_CTS) bits |= SerialWakeup::Cts;
  if (mask & EV_DSR) bits |= SerialWakeup::Dsr;
  if (mask & EV_RLSD) bits |= SerialWakeup::Rlsd;
  return bits;
}

// The events that a change of the modem status stands for.
unsigned LineChanges(DWORD was, DWORD now) {
  const DWORD changed = was ^ now;
  unsigned bits = 0;
  if (changed & MS_CTS_ON) bits |= SerialWakeup::Cts;
  if (changed & MS_DSR_ON) bits |= SerialWakeup::Dsr;
  if (changed & MS_RLSD_ON) bits |= SerialWakeup::Rlsd;
  if ((now & MS_RING_ON) && !(was & MS_RING_ON)) bits |= SerialWakeup::Ring;
  return bits;
}

void CloseIfOpen(HANDLE& handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  handle = nullptr;
}

}  // namespace

struct SerialDevice::State {
  HANDLE port = INVALID_HANDLE_VALUE;
  // The event wait.
  HANDLE stopEvent = nullptr;  // manual reset: StopEvents was called
  HANDLE txEvent = nullptr;    // auto reset: a write completed
  OVERLAPPED wait{};           // the pending WaitCommEvent
  DWORD waitMask = 0;          // what the pending WaitCommEvent found
  bool waitPending = false;
  std::atomic<bool> stopping{false};
  bool begun = false;
  bool lost = false;
  bool sampleLines = false;
  DWORD mask = 0;              // the events WaitCommEvent watches
  DWORD lineStatus = 0;        // the sampled modem status
  bool sampling = false;       // lines sampled because the device can't report them
  int aborts = 0;              // waits aborted in a row
  int failures = 0;            // waits failed in a row, the device not gone
  bool pollWait = false;       // the pending wait's event can't be trusted: poll it
  unsigned rate = 9600;
  // Line errors that a queue query cleared outside the event wait, for the
  // wait to report.
  std::atomic<DWORD> clearedErrors{0};
};

namespace {

// The port's queues; this clears the port's error state, whose errors are
// kept in `cleared` for the event wait. False with the system's code in
// GetLastError.
bool QueueStatus(HANDLE port, std::atomic<DWORD>& cleared, COMSTAT& status) {
  DWORD errors = 0;
  if (!::ClearCommError(port, &errors, &status)) return false;
  if (errors != 0) cleared |= errors;
  return true;
}

}  // namespace

std::string SerialDevicePath(const std::string& name) {
  if (name.rfind("\\\\", 0) == 0) return name;
  // "COM3:", as the system's own tools write a device name, is COM3.
  if (name.size() > 1 && name.back() == ':') return "\\\\.\\" + name.substr(0, name.size() - 1);
  return "\\\\.\\" + name;
}

bool DeviceGone(int systemCode) {
  // What I/O on an unplugged USB adapter fails with.
  return systemCode == ERROR_BAD_COMMAND || systemCode == ERROR_GEN_FAILURE ||
         systemCode == ERROR_DEVICE_NOT_CONNECTED || systemCode == ERROR_DEVICE_REMOVED ||
         systemCode == ERROR_FILE_NOT_FOUND || systemCode == ERROR_ACCESS_DENIED;
}

SerialDevice::SerialDevice() : state_(std::make_unique<State>()) {}

SerialDevice::~SerialDevice() {
  EndEvents();
  Close();
}

bool SerialDevice::IsOpen() const { return state_->port != INVALID_HANDLE_VALUE; }

int SerialDevice::Open(const std::string& path) {
  if (IsOpen()) return ERROR_BUSY;
  // No sharing: a port another program holds fails with ERROR_ACCESS_DENIED.
  const HANDLE port = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
  // Only a serial port has line settings: NUL and CON are character
  // devices too, and what their refusals say ("access denied" under Wine)
  // would read as a port in use.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (::GetFileType(port) != FILE_TYPE_CHAR || !::GetCommState(port, &dcb)) {
    ::CloseHandle(port);
    return ERROR_INVALID_FUNCTION;
  }
  ::SetupComm(port, 4096, 4096);
  // The system may raise DTR and RTS on open; drop them at once.
  ::EscapeCommFunction(port, CLRDTR);
  ::EscapeCommFunction(port, CLRRTS);
  // Reads return at once with what has arrived; writes have no time-out of
  // their own (Write waits with its own limit).
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  if (!::SetCommTimeouts(port, &timeouts)) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(port);
    return static_cast<int>(error);
  }
  state_->port = port;
  return 0;
}

void SerialDevice::Close() {
  if (!IsOpen()) return;
  ::CloseHandle(state_->port);
  state_->port = INVALID_HANDLE_VALUE;
}

int SerialDevice::Apply(const LineSettings& settings) {
  const HANDLE port = state_->port;
  if (port == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  if (settings.rate == 0 || settings.dataBits < 5 || settings.dataBits > 8) return ERROR_INVALID_PARAMETER;
  // One and a half stop bits exist only with five data bits.
  if (settings.stopBits == StopBits::OneAndHalf && settings.dataBits != 5) return ERROR_INVALID_PARAMETER;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(port, &dcb)) return static_cast<int>(::GetLastError());
  dcb.BaudRate = settings.rate;
  dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
  dcb.Parity = ParityByte(settings.parity);
  dcb.StopBits = settings.stopBits == StopBits::One ? ONESTOPBIT
                 : settings.stopBits == StopBits::Two ? TWOSTOPBITS
                                                      : ONE5STOPBITS;
  dcb.fBinary = TRUE;
  dcb.fParity = settings.parityCheck ? TRUE : FALSE;
  dcb.fOutxCtsFlow = settings.outCtsFlow || settings.rts == LineControl::Handshake ? TRUE : FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fDtrControl = DtrControl(settings.dtr);
  dcb.fRtsControl = RtsControl(settings.rts);
  dcb.fOutX = settings.xonXoffOut ? TRUE : FALSE;
  dcb.fInX = settings.xonXoffIn ? TRUE : FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.XonChar = static_cast<char>(settings.xonChar);
  dcb.XoffChar = static_cast<char>(settings.xoffChar);
  dcb.XonLim = 1024;
  dcb.XoffLim = 1024;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!::SetCommState(port, &dcb)) return static_cast<int>(::GetLastError());
  state_->rate = settings.rate;
  return 0;
}

int SerialDevice::Read(void* buffer, int count) {
  if (!IsOpen()) return -ERROR_INVALID_HANDLE;
  if (count <= 0) return 0;
  // Only what has arrived is asked for: the port's time-outs tell ReadFile
  // to return at once, but a driver that ignores them (Wine's, on a
  // pseudo-terminal) would wait for the next byte, and the caller's empty
  // read would never end.
  COMSTAT status{};
  if (!QueueStatus(state_->port, state_->clearedErrors, status)) return -static_cast<int>(::GetLastError());
  if (status.cbInQue == 0) return 0;
  count = static_cast<int>(std::min<DWORD>(static_cast<DWORD>(count), status.cbInQue));
  OVERLAPPED io{};
  io.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (io.hEvent == nullptr) return -static_cast<int>(::GetLastError());
  DWORD got = 0;
  int result = 0;
  if (::ReadFile(state_->port, buffer, static_cast<DWORD>(count), &got, &io) ||
      (::GetLastError() == ERROR_IO_PENDING && ::GetOverlappedResult(state_->port, &io, &got, TRUE))) {
    result = static_cast<int>(got);
  } else {
    result = -static_cast<int>(::GetLastError());
  }
  ::CloseHandle(io.hEvent);
  return result;
}

int SerialDevice::Write(const void* buffer, int count, long long limitMs) {
  if (!IsOpen()) return -ERROR_INVALID_HANDLE;
  if (count <= 0) return 0;
  State& s = *state_;
  const ULONGLONG deadline =
      limitMs < 0 ? ~0ull : ::GetTickCount64() + static_cast<ULONGLONG>(std::min<long long>(limitMs, 1LL << 40));
  const auto left = [&]() -> DWORD {
    const ULONGLONG now = ::GetTickCount64();
    if (limitMs < 0) return INFINITE;
    return now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 0x7FFFFFFF));
  };
  OVERLAPPED io{};
  io.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (io.hEvent == nullptr) return -static_cast<int>(::GetLastError());
  DWORD written = 0;
  int result = 0;
  if (::WriteFile(state_->port, buffer, static_cast<DWORD>(count), &written, &io)) {
    result = static_cast<int>(written);
  } else if (::GetLastError() != ERROR_IO_PENDING) {
    result = -static_cast<int>(::GetLastError());
  } else {
    if (::WaitForSingleObject(io.hEvent, left()) != WAIT_OBJECT_0) {
      // Out of time: what went out so far counts, the rest is dropped.
      ::CancelIoEx(state_->port, &io);
    }
    if (::GetOverlappedResult(state_->port, &io, &written, TRUE) || ::GetLastError() == ERROR_OPERATION_ABORTED) {
      result = static_cast<int>(written);
    } else {
      result = -static_cast<int>(::GetLastError());
    }
  }
  ::CloseHandle(io.hEvent);
  if (result != count) return result;

  // A driver that buffers (most USB adapters) completes the write before the
  // bytes are on the line: wait until its output queue is empty, sleeping
  // about as long as the queued characters take.
  for (;;) {
    COMSTAT status{};
    if (!QueueStatus(s.port, s.clearedErrors, status) || status.cbOutQue == 0) break;
    const DWORD remaining = left();
    if (remaining == 0) return result;
    const DWORD wait = std::max<DWORD>(1, status.cbOutQue * 10000 / std::max(s.rate, 1u));
    ::Sleep(std::min(wait, remaining));
  }
  if (s.txEvent != nullptr) ::SetEvent(s.txEvent);
  return result;
}

int SerialDevice::Purge(bool output, bool input) {
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  DWORD flags = 0;
  if (output) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
  if (input) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
  if (flags != 0 && !::PurgeComm(state_->port, flags)) return static_cast<int>(::GetLastError());
  return 0;
}

int SerialDevice::BytesWaiting(int& count) const {
  count = 0;
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  COMSTAT status{};
  if (!QueueStatus(state_->port, state_->clearedErrors, status)) return static_cast<int>(::GetLastError());
  count = static_cast<int>(status.cbInQue);
  return 0;
}

int SerialDevice::ReadModemStatus(ModemStatus& status) const {
  status = {};
  DWORD lines = 0;
  if (!::GetCommModemStatus(state_->port, &lines)) {
    const DWORD error = ::GetLastError();
    return NoModemLines(error) ? 0 : static_cast<int>(error);
  }
  status.cts = (lines & MS_CTS_ON) != 0;
  status.dsr = (lines & MS_DSR_ON) != 0;
  status.ring = (lines & MS_RING_ON) != 0;
  status.rlsd = (lines & MS_RLSD_ON) != 0;
  return 0;
}

int SerialDevice::BeginEvents(bool sampleLines) {
  State& s = *state_;
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  s.sampleLines = sampleLines;
  s.lost = false;
  s.sampling = false;
  s.waitPending = false;
  s.pollWait = false;
  s.aborts = 0;
  s.failures = 0;
  s.stopping = false;
  s.mask = kDataMask | (sampleLines ? kLineMask : 0);
  s.stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  s.txEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  s.wait = {};
  s.wait.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (s.stopEvent == nullptr || s.txEvent == nullptr || s.wait.hEvent == nullptr ||
      !::SetCommMask(s.port, s.mask)) {
    const DWORD error = ::GetLastError();
    EndEvents();
    return static_cast<int>(error);
  }
  s.begun = true;
  return 0;
}

void SerialDevice::StopEvents() {
  State& s = *state_;
  if (!s.begun) return;
  s.stopping = true;
  ::SetEvent(s.stopEvent);
  // Completes a pending WaitCommEvent with an empty mask.
  if (IsOpen()) ::SetCommMask(s.port, 0);
}

void SerialDevice::EndEvents() {
  State& s = *state_;
  if (s.waitPending && IsOpen()) {
    // The wait must be over before its OVERLAPPED goes.
    ::SetCommMask(s.port, 0);
    DWORD unused = 0;
    ::GetOverlappedResult(s.port, &s.wait, &unused, TRUE);
    s.waitPending = false;
  }
  s.begun = false;
  CloseIfOpen(s.stopEvent);
  CloseIfOpen(s.txEvent);
  CloseIfOpen(s.wait.hEvent);
}

SerialWakeup SerialDevice::WaitEvents() {
  State& s = *state_;
  SerialWakeup wakeup;
  // Bytes in the input queue that raised no event (Wine, loaded): told as
  // if they had.
  const auto queuedUnannounced = [&] {
    COMSTAT queue{};
    if (!QueueStatus(s.port, s.clearedErrors, queue) || queue.cbInQue == 0) return false;
    wakeup.events |= SerialWakeup::RxChar;
    wakeup.waiting = static_cast<int>(queue.cbInQue);
    return true;
  };
  for (;;) {
    if (s.stopping) {
      wakeup.stopped = true;
      return wakeup;
    }
    DWORD error = 0;
    bool found = false;
    if (!s.lost && !s.waitPending) {
      s.waitMask = 0;
      ::ResetEvent(s.wait.hEvent);
      if (::WaitCommEvent(s.port, &s.waitMask, &s.wait)) {
        found = true;
      } else if ((error = ::GetLastError()) == ERROR_IO_PENDING) {
        s.waitPending = true;
        error = 0;
        // Bytes that came after the last look and before the wait began
        // raise no event under Wine: look once more, now that it waits.
        if (queuedUnannounced()) return wakeup;
      }
    }
    if (!found && error == 0) {
      const HANDLE handles[3] = {s.stopEvent, s.txEvent, s.wait.hEvent};
      const DWORD count = s.waitPending ? 3 : 2;
      const bool polling = s.pollWait && s.waitPending;
      const DWORD timeout = polling                 ? kWaitPollMs
                            : s.sampling && !s.lost ? kLineSampleMs
                            : s.waitPending         ? kQueueLookMs
                                                    : INFINITE;
      const DWORD which = ::WaitForMultipleObjects(count, handles, FALSE, timeout);
      if (which == WAIT_OBJECT_0) continue;  // stopping
      if (which == WAIT_OBJECT_0 + 1) {
        wakeup.events |= SerialWakeup::TxEmpty;
        return wakeup;
      }
      const bool waitEnded =
          which == WAIT_OBJECT_0 + 2 || (which == WAIT_TIMEOUT && polling && HasOverlappedIoCompleted(&s.wait));
      if (which == WAIT_TIMEOUT && !waitEnded) {
        DWORD lines = 0;
        if (s.sampling && !s.lost && ::GetCommModemStatus(s.port, &lines)) {
          wakeup.events |= LineChanges(s.lineStatus, lines);
          s.lineStatus = lines;
        }
        if (s.waitPending) queuedUnannounced();
        if (wakeup.events != 0) return wakeup;
        continue;
      }
      if (!waitEnded) {
        wakeup.stopped = true;
        return wakeup;
      }
      DWORD unused = 0;
      if (::GetOverlappedResult(s.port, &s.wait, &unused, FALSE)) {
        found = true;
      } else if ((error = ::GetLastError()) == ERROR_IO_INCOMPLETE) {
        // The event was set but the wait goes on (Wine, loaded, sets it
        // before the wait has ended): no event yet. Its end is looked for
        // every few milliseconds from now on, in case the event that really
        // ends it came before this reset.
        ::ResetEvent(s.wait.hEvent);
        s.pollWait = true;
        continue;
      }
      s.waitPending = false;
      s.pollWait = false;
    }
    if (s.stopping) continue;
    // A wait can be aborted without the device failing (Wine aborts it when
    // the port is purged): wait again, after a look at the input queue, since
    // bytes that came meanwhile raise no new event. A wait that is aborted
    // again and again is a device that fails.
    if (error == ERROR_OPERATION_ABORTED && ++s.aborts < kMaxAborts) {
      error = 0;
      s.waitMask = 0;
    } else if (error == 0) {
      s.aborts = 0;
      s.failures = 0;
    } else if (!DeviceGone(static_cast<int>(error)) && !NoModemLines(error) && ++s.failures < kMaxFailures) {
      // No sign that the device went: after a pause (ended early by a stop)
      // the same look at the input queue, then a new wait.
      ::WaitForSingleObject(s.stopEvent, kFailurePauseMs);
      error = 0;
      s.waitMask = 0;
    }
    if (error != 0) {
      if (NoModemLines(error) && (s.mask & kLineMask) != 0) {
        // A device that cannot watch its modem lines (a pseudo-terminal
        // under Wine): watch the data alone and sample the lines.
        s.mask = kDataMask;
        if (::SetCommMask(s.port, s.mask)) {
          DWORD lines = 0;
          s.sampling = s.sampleLines && ::GetCommModemStatus(s.port, &lines);
          s.lineStatus = lines;
          continue;
        }
        error = ::GetLastError();
      }
      // The device went away (or fails for good): say so once and from now
      // on wait for the stop signal alone.
      s.lost = true;
      wakeup.lost = true;
      return wakeup;
    }
    // (A mask of 0: the wait ended without an event, e.g. the mask was
    // changed under it.)
    wakeup.events |= EventBits(s.waitMask);
    COMSTAT status{};
    if (QueueStatus(s.port, s.clearedErrors, status)) {
      wakeup.errors = ErrorBits(s.clearedErrors.exchange(0));
      if (wakeup.errors != 0) wakeup.events |= SerialWakeup::LineError;
      wakeup.waiting = static_cast<int>(status.cbInQue);
      if (wakeup.waiting > 0) wakeup.events |= SerialWakeup::RxChar;
    } else if (DeviceGone(static_cast<int>(::GetLastError()))) {
      s.lost = true;
      wakeup.lost = true;
      return wakeup;
    }
    if (wakeup.events != 0) return wakeup;
  }
}

}  // namespace vorsal::platform
