// The serial port component: one device opened exclusively, its line
// settings, an event thread that waits on the device and hands each batch of
// events to the GUI thread, non-waiting reads, time-limited writes, and the
// list of the system's serial ports. Every failure is an EComPort.
//
// All operations are called on the thread that owns the port object (the GUI
// thread); every handler runs on that thread too, posted there through the
// owner's EventQueue.
#pragma once

#include "platform/serial_device.h"
#include "serial/event_queue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorsal {

enum TBaudRate {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
  br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
// Only the hand-over to the owning thread is built; the other two methods are
// stored and delivered the same way.
enum TSyncMethod { smThreadSync, smWindowSync, smNone };

enum TComEvent {
  evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
using TComEvents = unsigned;  // bit (1u << TComEvent)
inline constexpr TComEvents AllComEvents = (1u << (evRx80Full + 1)) - 1;
constexpr TComEvents EventBit(TComEvent kind) { return 1u << kind; }

enum TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
using TComErrors = unsigned;  // bit (1u << TComError)
constexpr TComErrors ErrorBit(TComError kind) { return 1u << kind; }

// Error codes of EComPort; PortErrorTexts holds the text of each.
inline constexpr int CE_OpenFailed = 1;
inline constexpr int CE_WriteFailed = 2;
inline constexpr int CE_ReadFailed = 3;
inline constexpr int CE_InvalidAsync = 4;
inline constexpr int CE_PurgeFailed = 5;
inline constexpr int CE_AsyncCheck = 6;
inline constexpr int CE_SetStateFailed = 7;
inline constexpr int CE_TimeoutsFailed = 8;
inline constexpr int CE_SetupComFailed = 9;
inline constexpr int CE_ClearComFailed = 10;
inline constexpr int CE_ModemStatFailed = 11;
inline constexpr int CE_EscapeComFailed = 12;
inline constexpr int CE_TransmitFailed = 13;
inline constexpr int CE_ConnChangeProp = 14;
inline constexpr int CE_EnumPortsFailed = 15;
inline constexpr int CE_StoreFailed = 16;
inline constexpr int CE_LoadFailed = 17;
inline constexpr int CE_RegFailed = 18;
inline constexpr int CE_LedStateFailed = 19;
inline constexpr int CE_ThreadCreated = 20;
inline constexpr int CE_WaitFailed = 21;
inline constexpr int CE_HasLink = 22;
inline constexpr int CE_RegError = 23;
inline constexpr int CEPortNotOpen = 24;

// Texts indexed 1..24 by error code; entry 0 is empty.
extern const char* const PortErrorTexts[25];

// The text of `code`, followed by " (Error: %d)" when `systemCode` > 0.
class EComPort : public std::runtime_error {
 public:
  explicit EComPort(int code, int systemCode = -1);
  int Code() const { return code_; }
  // The system's error code (errno), or -1 when the failure has none.
  int SystemCode() const { return systemCode_; }

 private:
  int code_;
  int systemCode_;
};

// Device file of a port name: the name itself when absolute, else
// "/dev/" + name.
inline std::string ComPortDevicePath(const std::string& name) { return platform::SerialDevicePath(name); }

class TCustomComPort;
class TComThread;

class TComParity {
 public:
  explicit TComParity(TCustomComPort* port) : port_(port) {}
  TParityBits Bits() const { return bits_; }
  void SetBits(TParityBits value);
  bool Check() const { return check_; }
  void SetCheck(bool value);
  bool Replace() const { return replace_; }
  void SetReplace(bool value);
  std::uint8_t ReplaceChar() const { return replaceChar_; }
  void SetReplaceChar(std::uint8_t value);

 private:
  TCustomComPort* port_;
  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  std::uint8_t replaceChar_ = 0;
};

class TComFlowControl {
 public:
  explicit TComFlowControl(TCustomComPort* port) : port_(port) {}
  bool OutCTSFlow() const { return outCTSFlow_; }
  void SetOutCTSFlow(bool value);
  bool OutDSRFlow() const { return outDSRFlow_; }
  void SetOutDSRFlow(bool value);
  TDTRFlowControl ControlDTR() const { return controlDTR_; }
  void SetControlDTR(TDTRFlowControl value);
  TRTSFlowControl ControlRTS() const { return controlRTS_; }
  void SetControlRTS(TRTSFlowControl value);
  bool XonXoffOut() const { return xonXoffOut_; }
  void SetXonXoffOut(bool value);
  bool XonXoffIn() const { return xonXoffIn_; }
  void SetXonXoffIn(bool value);
  bool DSRSensitivity() const { return dsrSensitivity_; }
  void SetDSRSensitivity(bool value);
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  void SetTxContinueOnXoff(bool value);
  std::uint8_t XonChar() const { return xonChar_; }
  void SetXonChar(std::uint8_t value);
  std::uint8_t XoffChar() const { return xoffChar_; }
  void SetXoffChar(std::uint8_t value);

 private:
  TCustomComPort* port_;
  bool outCTSFlow_ = false;
  bool outDSRFlow_ = false;
  TDTRFlowControl controlDTR_ = dtrDisable;
  TRTSFlowControl controlRTS_ = rtsDisable;
  bool xonXoffOut_ = false;
  bool xonXoffIn_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  std::uint8_t xonChar_ = 17;
  std::uint8_t xoffChar_ = 19;
};

// Milliseconds. Reads never wait on this system whatever the read values;
// a write waits at most WriteTotalMultiplier * count + WriteTotalConstant
// (both 0: no limit). -1 stands for all 32 bits set.
class TComTimeouts {
 public:
  explicit TComTimeouts(TCustomComPort* port) : port_(port) {}
  std::int32_t ReadInterval() const { return readInterval_; }
  void SetReadInterval(std::int32_t value);
  std::int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
  void SetReadTotalMultiplier(std::int32_t value);
  std::int32_t ReadTotalConstant() const { return readTotalConstant_; }
  void SetReadTotalConstant(std::int32_t value);
  std::int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
  void SetWriteTotalMultiplier(std::int32_t value);
  std::int32_t WriteTotalConstant() const { return writeTotalConstant_; }
  void SetWriteTotalConstant(std::int32_t value);

 private:
  TCustomComPort* port_;
  std::int32_t readInterval_ = -1;
  std::int32_t readTotalMultiplier_ = 0;
  std::int32_t readTotalConstant_ = 0;
  std::int32_t writeTotalMultiplier_ = 100;
  std::int32_t writeTotalConstant_ = 1000;
};

// Queue sizes in bytes. The system's queues have fixed sizes here, so these
// are stored; InputSize sets the level of the 80 % input event. A positive
// odd size is stored one smaller.
class TComBuffer {
 public:
  explicit TComBuffer(TCustomComPort* port) : port_(port) {}
  std::int32_t InputSize() const { return inputSize_; }
  void SetInputSize(std::int32_t value);
  std::int32_t OutputSize() const { return outputSize_; }
  void SetOutputSize(std::int32_t value);

 private:
  TCustomComPort* port_;
  std::int32_t inputSize_ = 8192;
  std::int32_t outputSize_ = 8192;
};

class TCustomComPort {
 public:
  using TNotifyEvent = std::function<void(TCustomComPort* sender)>;
  using TLineEvent = std::function<void(TCustomComPort* sender, bool onOff)>;

  // `queue` runs the deliveries on the thread that owns the port. Without
  // one, a batch of events waits until a queue is set or the port closes.
  explicit TCustomComPort(EventQueue* queue = nullptr);
  virtual ~TCustomComPort();
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  // Device name: "/dev/" + name, or the name itself when it is absolute.
  // A different name while open closes the port and opens it again.
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& name);

  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate value);
  std::int32_t CustomBaudRate() const { return customBaudRate_; }  // used with brCustom
  void SetCustomBaudRate(std::int32_t value);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits value);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value);
  bool DiscardNull() const { return discardNull_; }  // stored only: no such line setting here
  void SetDiscardNull(bool value);
  std::uint8_t EventChar() const { return eventChar_; }  // stored only
  void SetEventChar(std::uint8_t value);
  // The kinds the event thread watches for; takes effect at the next Open.
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value) { events_ = value & AllComEvents; }
  TSyncMethod SyncMethod() const { return syncMethod_; }
  void SetSyncMethod(TSyncMethod value);  // raises code 14 while open

  TComParity& Parity() { return parity_; }
  TComFlowControl& FlowControl() { return flowControl_; }
  TComTimeouts& Timeouts() { return timeouts_; }
  TComBuffer& Buffer() { return buffer_; }

  // Where the event thread posts its deliveries; may change at any time
  // (a batch waiting for delivery is posted to the new queue). The queue
  // must outlive the port or be replaced before it goes.
  void SetEventQueue(EventQueue* queue);

  bool Connected() const { return device_.IsOpen(); }
  void SetConnected(bool value);
  void Open();
  void Close();

  // Returns at once with at most `count` bytes already received.
  int Read(void* buffer, int count);
  // Returns when every byte is on the line or the write time-out ran out;
  // the result is the number of bytes handed to the device.
  int Write(const void* buffer, int count);
  // Bytes waiting in the input queue; 0 when closed or unknown.
  int InputCount() const;

  // The system's serial ports (tty class entries backed by a device, legacy
  // ports without hardware left out, in natural order), then the paths in
  // VORSAL_EXTRA_PORTS (colon-separated); COM1..COM256 moved to the front.
  const std::vector<std::string>& PortList() const { return portList_; }
  void UpdatePortList();
  // Where the system's port table is read on Linux (tests pass a fake tree).
  const std::string& SysfsRoot() const { return sysfsRoot_; }
  void SetSysfsRoot(const std::string& root) { sysfsRoot_ = root; }

  // Events. A lost device (hang-up or I/O error) is reported once through
  // OnError with the ceIO kind; the event thread then stops watching it.
  std::function<void(TCustomComPort* sender, int count)> OnRxChar;
  std::function<void(TCustomComPort* sender, TComErrors errors)> OnError;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnBreak;
  // Ring and line changes can't wake a waiter here: they are sampled every
  // 100 ms, on devices that count them, and only when OnRing, OnCTSChange,
  // OnDSRChange or OnRLSDChange is set at Open (an idle port never wakes).
  TNotifyEvent OnRing;
  TLineEvent OnCTSChange;
  TLineEvent OnDSRChange;
  TLineEvent OnRLSDChange;
  TNotifyEvent OnRxFlag;  // never raised here: the tty can't flag a character before it is read
  TNotifyEvent OnRx80Full;
  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnBeforeClose;
  TNotifyEvent OnAfterClose;

 private:
  friend class TComParity;
  friend class TComFlowControl;
  friend class TComTimeouts;
  friend class TComBuffer;
  friend class TComThread;
  struct HandOver;

  void OpenDevice();
  void CloseDevice();
  void ApplyLineSettings();
  void StartThread();
  void StopThread();
  void ReportLines();
  bool LineState(bool platform::ModemStatus::*line);
  template <class T>
  void ChangeLineSetting(T& field, T value);

  // Runs the delivery the event thread waits for, if there is one and it
  // isn't already running further up the stack.
  void ServeDelivery(std::shared_ptr<HandOver> handOver);
  // Any thread: posts the delivery of `handOver` to the event queue. The
  // posted call does nothing once the port is gone or the batch was served.
  void PostDelivery(const std::shared_ptr<HandOver>& handOver);
  void Deliver(const std::shared_ptr<HandOver>& handOver, TComEvents events);
  bool DeliveryCurrent(const std::shared_ptr<HandOver>& handOver) const;

  std::string port_;
  TBaudRate baudRate_ = br9600;
  std::int32_t customBaudRate_ = 9600;
  TDataBits dataBits_ = dbEight;
  TStopBits stopBits_ = sbOneStopBit;
  bool discardNull_ = false;
  std::uint8_t eventChar_ = 0;
  TComEvents events_ = AllComEvents;
  TSyncMethod syncMethod_ = smThreadSync;
  TComParity parity_{this};
  TComFlowControl flowControl_{this};
  TComTimeouts timeouts_{this};
  TComBuffer buffer_{this};

  platform::SerialDevice device_;
  std::mutex queueMutex_;  // the event thread reads queue_ while the owner may set it
  EventQueue* queue_ = nullptr;
  // Posted calls hold it weakly: expired once the port is gone.
  std::shared_ptr<TCustomComPort*> alive_ = std::make_shared<TCustomComPort*>(this);
  unsigned long openings_ = 0;  // tells one opening from the next
  std::unique_ptr<TComThread> thread_;
  std::vector<std::string> portList_;
  std::string sysfsRoot_ = "/sys";
};

class TComPort : public TCustomComPort {
 public:
  explicit TComPort(EventQueue* queue = nullptr) : TCustomComPort(queue) {}
};

// Sets up `port` for a modem at `path`: 600 baud (9600 for connection type 1),
// 8 data bits, no parity, one stop bit. The window and the command line open
// their modems with it.
void SetModemLine(TCustomComPort& port, const std::string& path, int connectionType);

}  // namespace vorsal
