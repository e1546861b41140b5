#include "serial/com_port.h"

#include "serial/com_thread.h"
#include "serial/port_list.h"

#include <cstdlib>

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

unsigned RateOf(TBaudRate rate, std::int32_t custom) {
  static constexpr unsigned kRates[] = {0,     110,   300,   600,    1200,   2400,
                                        4800,  9600,  14400, 19200,  38400,  56000,
                                        57600, 115200, 128000, 256000};
  if (rate == brCustom) return custom > 0 ? static_cast<unsigned>(custom) : 0;
  return kRates[rate];
}

platform::LineControl ControlOf(TDTRFlowControl dtr) {
  switch (dtr) {
    case dtrEnable: return platform::LineControl::On;
    case dtrHandshake: return platform::LineControl::Handshake;
    case dtrDisable: break;
  }
  return platform::LineControl::Off;
}

platform::LineControl ControlOf(TRTSFlowControl rts) {
  switch (rts) {
    case rtsEnable: return platform::LineControl::On;
    case rtsHandshake: return platform::LineControl::Handshake;
    case rtsToggle: return platform::LineControl::Toggle;
    case rtsDisable: break;
  }
  return platform::LineControl::Off;
}

}  // namespace

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

TCustomComPort::TCustomComPort(EventQueue* queue) : queue_(queue) {}

TCustomComPort::~TCustomComPort() {
  try {
    Close();
  } catch (...) {
    // Close refused (the device wouldn't purge): release everything anyway.
  }
  StopThread();
  CloseDevice();
}

void TCustomComPort::SetEventQueue(EventQueue* queue) {
  std::shared_ptr<HandOver> waiting;
  if (thread_) waiting = thread_->Hand();
  std::lock_guard lock(queueMutex_);
  queue_ = queue;
  if (queue_ == nullptr || !waiting) return;
  bool pending;
  {
    std::lock_guard handLock(waiting->mutex);
    pending = waiting->pending && !waiting->serving;
  }
  // A batch posted to the old queue (or to none) may never run there.
  if (pending) {
    std::weak_ptr<TCustomComPort*> alive = alive_;
    queue_->Post([alive, waiting] {
      if (const auto port = alive.lock()) (*port)->ServeDelivery(waiting);
    });
  }
}

void TCustomComPort::PostDelivery(const std::shared_ptr<HandOver>& hand) {
  std::weak_ptr<TCustomComPort*> alive = alive_;
  std::lock_guard lock(queueMutex_);
  if (queue_ == nullptr) return;
  queue_->Post([alive, hand] {
    if (const auto port = alive.lock()) (*port)->ServeDelivery(hand);
  });
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

void TCustomComPort::Open() {
  if (Connected()) return;
  if (OnBeforeOpen) OnBeforeOpen(this);
  OpenDevice();
  try {
    // The system's queues have fixed sizes (the stored sizes are used where
    // they matter: the 80 % event is ours), reads never wait and Write takes
    // its limit from the stored values: only the line settings go to the
    // device.
    ApplyLineSettings();
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
  const int error = device_.Open(ComPortDevicePath(port_));
  if (error != 0) throw EComPort(CE_OpenFailed, error);
  ++openings_;
}

void TCustomComPort::CloseDevice() { device_.Close(); }

void TCustomComPort::ApplyLineSettings() {
  if (!Connected()) return;
  platform::LineSettings line;
  line.rate = RateOf(baudRate_, customBaudRate_);
  line.dataBits = 5 + static_cast<int>(dataBits_);
  line.parity = static_cast<platform::Parity>(parity_.Bits());
  line.parityCheck = parity_.Check();
  line.stopBits = static_cast<platform::StopBits>(stopBits_);
  line.outCtsFlow = flowControl_.OutCTSFlow();
  line.xonXoffOut = flowControl_.XonXoffOut();
  line.xonXoffIn = flowControl_.XonXoffIn();
  line.xonChar = flowControl_.XonChar();
  line.xoffChar = flowControl_.XoffChar();
  line.dtr = ControlOf(flowControl_.ControlDTR());
  line.rts = ControlOf(flowControl_.ControlRTS());
  const int error = device_.Apply(line);
  if (error != 0) throw EComPort(CE_SetStateFailed, error);
}

void TCustomComPort::StartThread() {
  const TComEvents lineEvents =
      EventBit(evCTS) | EventBit(evDSR) | EventBit(evRLSD) | EventBit(evRing);
  const bool lineHandlers = OnCTSChange || OnDSRChange || OnRLSDChange || OnRing;
  thread_ = std::make_unique<TComThread>(this, device_, events_, buffer_.InputSize(),
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

bool TCustomComPort::LineState(bool platform::ModemStatus::*line) {
  platform::ModemStatus status;
  const int error = device_.ReadModemStatus(status);
  if (error != 0) {
    if (platform::DeviceGone(error)) return false;
    throw EComPort(CE_ModemStatFailed, error);
  }
  return status.*line;
}

void TCustomComPort::ReportLines() {
  using platform::ModemStatus;
  const bool cts = LineState(&ModemStatus::cts);
  if (OnCTSChange) OnCTSChange(this, cts);
  const bool dsr = LineState(&ModemStatus::dsr);
  if (OnDSRChange) OnDSRChange(this, dsr);
  const bool rlsd = LineState(&ModemStatus::rlsd);
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
  const int purge = device_.Purge(true, false);
  if (purge != 0 && !platform::DeviceGone(purge)) throw EComPort(CE_PurgeFailed, purge);
  const unsigned long opening = openings_;
  StopThread();
  // A delivery run by StopThread may have closed (or even reopened) the port.
  if (!Connected() || openings_ != opening) return;
  device_.Purge(false, true);
  CloseDevice();
  if (OnAfterClose) OnAfterClose(this);
}

int TCustomComPort::Read(void* buffer, int count) {
  if (!Connected()) throw EComPort(CEPortNotOpen);
  const int n = device_.Read(buffer, count);
  if (n < 0) throw EComPort(CE_ReadFailed, -n);
  return n;
}

int TCustomComPort::Write(const void* buffer, int count) {
  if (!Connected()) throw EComPort(CEPortNotOpen);
  if (count <= 0) return 0;
  // -1 stands for all 32 bits set; both values 0: no limit.
  const auto multiplier = static_cast<std::uint32_t>(timeouts_.WriteTotalMultiplier());
  const auto constant = static_cast<std::uint32_t>(timeouts_.WriteTotalConstant());
  const bool limited = multiplier != 0 || constant != 0;
  const long long limitMs =
      limited ? static_cast<long long>(std::uint64_t{multiplier} * static_cast<std::uint64_t>(count) + constant) : -1;
  const int n = device_.Write(buffer, count, limitMs);
  if (n < 0) throw EComPort(CE_WriteFailed, -n);
  return n;
}

int TCustomComPort::InputCount() const {
  int count = 0;
  device_.BytesWaiting(count);
  return count;
}

void TCustomComPort::UpdatePortList() {
  portList_ = SystemPortNames(sysfsRoot_);
  for (std::string& path : SplitPortPaths(std::getenv("VORSAL_EXTRA_PORTS"))) {
    portList_.push_back(std::move(path));
  }
  OrderComPorts(portList_);
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
  return Connected() && thread_ && thread_->Hand() == hand;
}

void TCustomComPort::Deliver(const std::shared_ptr<HandOver>& hand, TComEvents events) {
  static constexpr TComEvent kOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                         evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};
  auto call = [this](const TNotifyEvent& handler) {
    if (handler) handler(this);
  };
  auto line = [this](const TLineEvent& handler, bool platform::ModemStatus::*bit) {
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
        const int error = device_.BytesWaiting(count);
        // A lost device is reported by the event thread itself.
        if (error != 0 && !platform::DeviceGone(error)) throw EComPort(CE_ClearComFailed, error);
        if (count > 0 && OnRxChar) OnRxChar(this, count);
        break;
      }
      case evTxEmpty: call(OnTxEmpty); break;
      case evBreak: call(OnBreak); break;
      case evRing: call(OnRing); break;
      case evCTS: line(OnCTSChange, &platform::ModemStatus::cts); break;
      case evDSR: line(OnDSRChange, &platform::ModemStatus::dsr); break;
      case evRxFlag: call(OnRxFlag); break;
      case evRLSD: line(OnRLSDChange, &platform::ModemStatus::rlsd); break;
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
