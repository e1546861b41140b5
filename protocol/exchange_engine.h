// Receive assembly and exchange supervision of the modem link.
//
// The engine holds the receive ring, the 8-byte frame window and the state of
// the current request/reply exchange. The main window owns one engine, calls
// CommPortRxChar from the port's received-characters event and binds its two
// 100 ms timers to TimerRXTimer and TimerGaugeTimer; the command line drains
// the ring as soon as bytes arrive and keeps its own reply deadline. What a
// reply means goes to the ReplyListener as values, the gauge and status bar
// to the SupervisionView when there is one, everything sent or read through
// ModemPort. All members run on the owning thread and take no lock.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>

#include "protocol/exchange_view.h"
#include "protocol/frame.h"

namespace vorsal {

constexpr int RxRingSize = 256;         // holds at most RxRingSize - 1 unread bytes
constexpr int RxReadChunk = 256;        // most bytes taken from the port per event
constexpr int ReplyTimeoutSeconds = 5;  // the gauge counts 10 ticks per second
constexpr int GaugeTicksPerSecond = 10;
constexpr int IdleGaugeMaximum = 100;   // the gauge's setting before any request
constexpr int RequestPauseMs = 8;       // the pause after every request

constexpr int ReplyTimeoutMs = ReplyTimeoutSeconds * 1000;

// ExchangeState values.
constexpr std::uint8_t ExchangeNone = 0;
constexpr std::uint8_t ExchangeOk = 1;
constexpr std::uint8_t ExchangeError = 2;

// Thrown by SendFrame when the port took fewer bytes than a whole frame: the
// modem cannot have a request it could answer.
class ShortWrite : public std::runtime_error {
 public:
  explicit ShortWrite(int written);
  int Written() const { return written_; }

 private:
  int written_;
};

// The connection type of an engine's link (frame.h), read anew at every
// checksum, so a change takes effect with the very next byte or request.
using ConnectionTypeSource = std::function<int()>;

class ExchangeEngine {
 public:
  // `connectionType`: the type of this engine's link (empty: always 0).
  // `supervision` may be null: nothing is shown then. `sleep` blocks the
  // calling thread for the given milliseconds; by default the thread really
  // sleeps. Tests pass a recorder.
  ExchangeEngine(ReplyListener& listener, ModemPort& port, ConnectionTypeSource connectionType,
                 SupervisionView* supervision = nullptr, std::function<void(int ms)> sleep = {});
  ExchangeEngine(const ExchangeEngine&) = delete;
  ExchangeEngine& operator=(const ExchangeEngine&) = delete;

  // Receive assembly. The ring, its indices and the frame window are never
  // reset: a partial frame survives a close and reopen of the port.
  std::uint8_t RxRing[RxRingSize] = {};
  int RxWriteIndex = 0;  // slot of the next received byte, 0..255
  int RxReadIndex = 0;   // slot of the next byte not yet in FrameWindow; equal: empty
  std::uint8_t FrameWindow[FrameSize] = {};
  int FrameWindowCount = 0;   // 0..7 between ticks
  int ReceivedByteCount = 0;  // bytes read from the port since the last reset

  // Exchange supervision.
  std::uint8_t LastSentFrame[FrameSize] = {};  // as written, checksum included
  int GaugeTicksLeft = 0;
  std::uint8_t ExchangeState = ExchangeNone;
  int KeyAckIndex = 0;  // last acknowledged key part; the key transfer sets -2 while waiting

  // Received-characters handler: moves what the port holds into the ring,
  // never more than the ring can take, so no unread byte is overwritten.
  // Bytes left behind stay queued in the port for the next event or tick.
  void CommPortRxChar();
  // 100 ms receive tick: drains the whole ring through the frame window and
  // dispatches every frame whose checksum fits, in order of arrival.
  void TimerRXTimer();
  // Status bar double click: the byte count starts again from 0.
  void StatusBarDblClick();
  // Forgets every byte not yet dispatched: the ring, a partial frame and what
  // the port still holds. The command line calls it before each request, so
  // a late reply to an earlier one is never taken for the new one's.
  void DiscardInput();

  // Stamps the checksum, writes the frame, starts the reply supervision and
  // pauses `pauseMs`. A failed write propagates the port's exception (a
  // short one throws ShortWrite) and leaves the gauge and the status bar as
  // they were.
  void SendFrame(const ModemFrame& frame, int pauseMs);
  bool PortConnected() const { return port_.Connected(); }
  void StartReplyTimeout();
  void TimerGaugeTimer();
  void FinishExchange(bool success);
  void SetExchangeState(std::uint8_t value);  // stores only; the status bar is not redrawn
  // True from a request until its exchange is finished (the gauge's timer runs).
  bool Awaiting() const { return awaiting_; }
  // Acts on the checksum-valid reply in FrameWindow: tells the listener
  // what it means and finishes the exchange.
  void HandleReply();

  void ShowByteCount();      // status panel 0
  void ShowPortState();      // status panel 1
  void ShowExchangeState();  // status panel 2
  void ShowStatus();         // all three, in that order
  // The gauge's settings before any request: maximum 100, white background,
  // black bar, progress 0, its timer stopped. Called by the window once its
  // controls exist (the constructor never touches the view).
  void InitGauge();

 private:
  int TakeFromPort();
  void DrainRing();

  void SetGaugeTimer(bool enabled);

  ReplyListener& listener_;
  ModemPort& port_;
  ConnectionTypeSource connectionType_;
  int ConnectionType() const { return connectionType_ ? connectionType_() : 0; }
  SupervisionView* supervision_;
  bool awaiting_ = false;
  std::function<void(int)> sleep_;
  // Set when the last read filled every free slot of the ring, so the port may
  // still hold bytes that no further event announces.
  bool portBacklog_ = false;
};

}  // namespace vorsal
