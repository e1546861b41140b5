#include "protocol/exchange_engine.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

namespace vorsal {
namespace {

void SleepThread(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

ShortWrite::ShortWrite(int written)
    : std::runtime_error("short write: " + std::to_string(written) + " of " + std::to_string(FrameSize) +
                         " bytes of the request reached the port"),
      written_(written) {}

ExchangeEngine::ExchangeEngine(ReplyListener& listener, ModemPort& port, ConnectionTypeSource connectionType,
                               SupervisionView* supervision, std::function<void(int)> sleep)
    : listener_(listener), port_(port), connectionType_(std::move(connectionType)), supervision_(supervision),
      sleep_(sleep ? std::move(sleep) : SleepThread) {}

// ---- Receive assembly ----------------------------------------------------

int ExchangeEngine::TakeFromPort() {
  // Unread bytes fill at most RxRingSize - 1 slots: a write index landing on
  // the read index would make the whole ring read as empty. Asking the port
  // for no more than the free slots leaves any excess queued in the port.
  static_assert(RxReadChunk >= RxRingSize - 1, "one read can fill the ring");
  const int unread = (RxWriteIndex - RxReadIndex + RxRingSize) % RxRingSize;
  const int room = RxRingSize - 1 - unread;
  portBacklog_ = false;  // what a read that throws leaves behind
  std::uint8_t buffer[RxReadChunk];
  const int n = room > 0 ? std::clamp(port_.Read(buffer, room), 0, room) : 0;
  portBacklog_ = n == room;
  // Wraps instead of overflowing after 2^31 bytes.
  ReceivedByteCount = static_cast<int>(static_cast<std::uint32_t>(ReceivedByteCount) +
                                       static_cast<std::uint32_t>(n));
  for (int i = 0; i < n; ++i) {
    RxRing[RxWriteIndex] = buffer[i];
    if (++RxWriteIndex == RxRingSize) RxWriteIndex = 0;
  }
  return n;
}

void ExchangeEngine::CommPortRxChar() { TakeFromPort(); }

void ExchangeEngine::DrainRing() {
  while (RxReadIndex != RxWriteIndex) {
    const std::uint8_t byte = RxRing[RxReadIndex];
    if (++RxReadIndex == RxRingSize) RxReadIndex = 0;
    if (SlideIntoFrameWindow(FrameWindow, FrameWindowCount, byte, ConnectionType())) {
      HandleReply();
      ShowByteCount();
    }
  }
}

void ExchangeEngine::TimerRXTimer() {
  DrainRing();
  // Bytes the ring had no room for are fetched here, so they are not left
  // waiting for an event that may never come once the modem has replied.
  while (portBacklog_) {
    portBacklog_ = false;
    if (!port_.Connected()) break;
    int n = 0;
    try {
      n = TakeFromPort();
    } catch (...) {
      // A timer handler must not throw; the bytes stay in the port and the
      // next received-characters event reads them and reports the failure.
      break;
    }
    if (n == 0) break;
    DrainRing();
  }
}

void ExchangeEngine::StatusBarDblClick() {
  ReceivedByteCount = 0;
  ShowByteCount();
}

void ExchangeEngine::DiscardInput() {
  RxReadIndex = RxWriteIndex;
  FrameWindowCount = 0;
  portBacklog_ = false;
  if (!port_.Connected()) return;
  std::uint8_t buffer[RxReadChunk];
  while (port_.Read(buffer, RxReadChunk) > 0) {
  }
}

// ---- Exchange supervision -----------------------------------------------

void ExchangeEngine::SetExchangeState(std::uint8_t value) { ExchangeState = value; }

void ExchangeEngine::SendFrame(const ModemFrame& frame, int pauseMs) {
  SetExchangeState(ExchangeNone);
  std::memcpy(LastSentFrame, frame.data(), FrameSize);
  PutFrameCrc(LastSentFrame, ConnectionType());
  const int written = port_.Write(LastSentFrame, FrameSize);
  if (written != static_cast<int>(FrameSize)) throw ShortWrite(written);
  StartReplyTimeout();
  // A blocking pause: no message is handled, so the reply cannot be
  // dispatched before SendFrame returns.
  if (pauseMs > 0) sleep_(pauseMs);
}

void ExchangeEngine::SetGaugeTimer(bool enabled) {
  awaiting_ = enabled;
  if (supervision_ != nullptr) supervision_->SetGaugeTimerEnabled(enabled);
}

void ExchangeEngine::StartReplyTimeout() {
  constexpr int maximum = ReplyTimeoutSeconds * GaugeTicksPerSecond;
  GaugeTicksLeft = maximum;
  if (supervision_ != nullptr) {
    supervision_->SetGaugeMaximum(maximum);
    GaugeTicksLeft = supervision_->GaugeMaximum();
    supervision_->SetGaugeColors(GaugeColor::Yellow, GaugeColor::Black);
    supervision_->SetGaugeProgress(supervision_->GaugeMaximum() - GaugeTicksLeft);
  }
  SetGaugeTimer(true);
  if (supervision_ != nullptr) supervision_->ShowExchangePanel(ExchangeNone);
}

void ExchangeEngine::TimerGaugeTimer() {
  if (GaugeTicksLeft <= 0) {
    FinishExchange(false);
    return;
  }
  --GaugeTicksLeft;
  if (supervision_ != nullptr) supervision_->SetGaugeProgress(supervision_->GaugeMaximum() - GaugeTicksLeft);
  if (GaugeTicksLeft == 0) FinishExchange(false);
}

void ExchangeEngine::FinishExchange(bool success) {
  SetExchangeState(success ? ExchangeOk : ExchangeError);
  if (supervision_ != nullptr) {
    supervision_->SetGaugeColors(GaugeColor::BtnFace, success ? GaugeColor::Green : GaugeColor::Maroon);
    // A reply before the first tick still shows a visible bar.
    if (success && supervision_->GaugeProgress() < 1) {
      supervision_->SetGaugeProgress(supervision_->GaugeMaximum() / 10);
    }
  }
  ShowExchangeState();
  SetGaugeTimer(false);
}

void ExchangeEngine::HandleReply() {
  const std::uint8_t* reply = FrameWindow;
  const std::uint8_t command = reply[3];

  if (command == CmdSetAddress) {
    if (!EchoMatches(reply, LastSentFrame)) return;
    listener_.AddressWritten(DecodeSetAddressReply(reply));
    FinishExchange(true);
  } else if (command == CmdReadParams || command == CmdReadParamsAlt) {
    listener_.ParamsRead(DecodeParamsReply(reply));
    FinishExchange(true);
  } else if (command == CmdReadFootprint) {
    listener_.FootprintRead(DecodeFootprintReply(reply));
    FinishExchange(true);
  } else if (command >= CmdKeyPart && command < CmdKeyPart + KeyPartCount) {
    // The part comes from the reply's own command byte; only the data bytes
    // are compared with the request.
    if (!EchoMatches(reply, LastSentFrame)) return;
    KeyAckIndex = command - CmdKeyPart;
    listener_.KeyPartAcknowledged(KeyAckIndex);
    FinishExchange(true);
  }
  // Any other command: ignored, the gauge runs on.
}

// ---- Status bar ----------------------------------------------------------

void ExchangeEngine::ShowByteCount() {
  if (supervision_ != nullptr) supervision_->ShowByteCountPanel(ReceivedByteCount);
}

void ExchangeEngine::ShowPortState() {
  if (supervision_ != nullptr) supervision_->ShowPortPanel(port_.Connected());
}

void ExchangeEngine::ShowExchangeState() {
  if (supervision_ != nullptr) supervision_->ShowExchangePanel(ExchangeState);
}

void ExchangeEngine::ShowStatus() {
  ShowPortState();
  ShowByteCount();
  ShowExchangeState();
}

void ExchangeEngine::InitGauge() {
  if (supervision_ != nullptr) {
    supervision_->SetGaugeMaximum(IdleGaugeMaximum);
    supervision_->SetGaugeColors(GaugeColor::White, GaugeColor::Black);
    supervision_->SetGaugeProgress(0);
  }
  SetGaugeTimer(false);
}

}  // namespace vorsal
