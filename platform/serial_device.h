// One serial device as the operating system offers it: opened for this
// program alone, its line settings and modem lines, reads that never wait,
// writes with a time limit, purging, the count of bytes waiting, and a wait
// for the device's events that another thread can stop.
//
// Failures are the system's error codes (errno here, GetLastError on
// Windows); 0 means success. Nothing here throws or knows the port
// component's error texts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vorsal::platform {

// The device a port name stands for: "/dev/" + name, or the name itself when
// it is absolute (Windows: "\\.\" + name, without the colon of "COM3:").
std::string SerialDevicePath(const std::string& name);

enum class Parity { None, Odd, Even, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };
// What a modem line does while the device is open.
enum class LineControl { Off, On, Handshake, Toggle };

struct LineSettings {
  unsigned rate = 9600;  // bits per second, any rate the device takes
  int dataBits = 8;      // 5..8
  Parity parity = Parity::None;
  bool parityCheck = false;
  StopBits stopBits = StopBits::One;
  bool outCtsFlow = false;
  bool xonXoffOut = false;
  bool xonXoffIn = false;
  std::uint8_t xonChar = 17;
  std::uint8_t xoffChar = 19;
  LineControl dtr = LineControl::Off;
  LineControl rts = LineControl::Off;
};

// The modem's status lines; a device without them reads all off.
struct ModemStatus {
  bool cts = false;
  bool dsr = false;
  bool ring = false;
  bool rlsd = false;
};

// What one event wait found.
struct SerialWakeup {
  enum Event : unsigned {
    RxChar = 1u << 0,
    TxEmpty = 1u << 1,
    Break = 1u << 2,
    Ring = 1u << 3,
    Cts = 1u << 4,
    Dsr = 1u << 5,
    Rlsd = 1u << 6,
    LineError = 1u << 7,
  };
  enum Error : unsigned {
    Frame = 1u << 0,
    ParityError = 1u << 1,
    Overrun = 1u << 2,
    RxOver = 1u << 3,
    BreakError = 1u << 4,
  };
  bool stopped = false;  // StopEvents was called: the waiting thread ends
  bool lost = false;     // the device went away (unplugged, hung up); reported once
  unsigned events = 0;   // Event bits
  unsigned errors = 0;   // Error bits, with LineError in events
  int waiting = 0;       // bytes in the input queue when RxChar is set
};

// True for the system codes of a device that went away (hang-up, unplugged
// adapter).
bool DeviceGone(int systemCode);

class SerialDevice {
 public:
  SerialDevice();
  ~SerialDevice();  // closes the device
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;

  // Opens the device at `path` for this program alone, its modem lines
  // (DTR, RTS) off. A device another process holds open, or one another
  // opener has locked, is busy (EBUSY). Returns 0 or the system code.
  int Open(const std::string& path);
  void Close();
  bool IsOpen() const;

  // Hands the settings to the device: raw bytes, the rate, framing, flow
  // control and the DTR and RTS lines. Returns 0 or the system code; a
  // refused setting leaves the device as it was as far as the system can.
  int Apply(const LineSettings& settings);

  // Reads what has arrived, at most `count` bytes, never waiting: 0 when
  // nothing has. Negative: minus the system code.
  int Read(void* buffer, int count);
  // Writes all `count` bytes and waits until the device has sent them, at
  // most `limitMs` milliseconds (negative: no limit). Returns the bytes
  // handed to the device (fewer when the limit ran out), or minus the system
  // code. After a complete write the event wait reports TxEmpty.
  int Write(const void* buffer, int count, long long limitMs);
  // Drops unsent output and/or unread input. Returns 0 or the system code.
  int Purge(bool output, bool input);
  // Bytes in the input queue; returns 0 or the system code.
  int BytesWaiting(int& count) const;
  // The modem's status lines; returns 0 or the system code (a device
  // without modem lines is no failure).
  int ReadModemStatus(ModemStatus& status) const;

  // The event wait: BeginEvents prepares it (returns 0 or the system code),
  // WaitEvents blocks the calling thread until something happened,
  // StopEvents (any thread) makes the current and every later WaitEvents
  // return `stopped`, and EndEvents, once no thread waits any more, releases
  // what BeginEvents took. With `sampleLines` ring and line changes are
  // looked for every 100 ms on devices that cannot wake a waiter for them;
  // otherwise an idle device never wakes the waiter.
  int BeginEvents(bool sampleLines);
  SerialWakeup WaitEvents();
  void StopEvents();
  void EndEvents();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vorsal::platform
