#include "protocol/exchange_engine.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

namespace vorsal {
namespace {

void SleepThread(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Writes `prefix` followed by `value` in decimal into `out`; returns the text.
// Fixed buffers keep the receive path free of allocations.
template <std::size_t N>
std::string_view Compose(char (&out)[N], std::string_view prefix, int value) {
  if (!prefix.empty()) std::memcpy(out, prefix.data(), prefix.size());
  const auto result = std::to_chars(out + prefix.size(), out + N, value);
  return std::string_view(out, static_cast<std::size_t>(result.ptr - out));
}

}  // namespace

ExchangeEngine::ExchangeEngine(ExchangeView& view, ModemPort& port, std::function<void(int)> sleep)
    : view_(view), port_(port), sleep_(sleep ? std::move(sleep) : SleepThread) {}

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
    if (SlideIntoFrameWindow(FrameWindow, FrameWindowCount, byte, CurrentConnectionType())) {
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

// ---- Exchange supervision -----------------------------------------------

void ExchangeEngine::SetExchangeState(std::uint8_t value) { ExchangeState = value; }

void ExchangeEngine::SendFrame(const ModemFrame& frame, int pauseMs) {
  SetExchangeState(ExchangeNone);
  std::memcpy(LastSentFrame, frame.data(), FrameSize);
  PutFrameCrc(LastSentFrame);
  port_.Write(LastSentFrame, FrameSize);
  StartReplyTimeout();
  // A blocking pause: no message is handled, so the reply cannot be
  // dispatched before SendFrame returns.
  if (pauseMs > 0) sleep_(pauseMs);
}

void ExchangeEngine::StartReplyTimeout() {
  view_.SetGaugeMaximum(ReplyTimeoutSeconds * GaugeTicksPerSecond);
  GaugeTicksLeft = view_.GaugeMaximum();
  view_.SetGaugeColors(GaugeColor::Yellow, GaugeColor::Black);
  view_.SetGaugeProgress(view_.GaugeMaximum() - GaugeTicksLeft);
  view_.SetGaugeTimerEnabled(true);
  view_.SetStatusText(2, "");
}

void ExchangeEngine::TimerGaugeTimer() {
  if (GaugeTicksLeft <= 0) {
    FinishExchange(false);
    return;
  }
  --GaugeTicksLeft;
  view_.SetGaugeProgress(view_.GaugeMaximum() - GaugeTicksLeft);
  if (GaugeTicksLeft == 0) FinishExchange(false);
}

void ExchangeEngine::FinishExchange(bool success) {
  if (success) {
    view_.SetGaugeColors(GaugeColor::BtnFace, GaugeColor::Green);
    // A reply before the first tick still shows a visible bar.
    if (view_.GaugeProgress() < 1) view_.SetGaugeProgress(view_.GaugeMaximum() / 10);
    SetExchangeState(ExchangeOk);
  } else {
    view_.SetGaugeColors(GaugeColor::BtnFace, GaugeColor::Maroon);
    SetExchangeState(ExchangeError);
  }
  ShowExchangeState();
  view_.SetGaugeTimerEnabled(false);
}

void ExchangeEngine::HandleReply() {
  const std::uint8_t* reply = FrameWindow;
  char text[96];
  const std::uint8_t command = reply[3];

  if (command == CmdSetAddress) {
    if (!EchoMatches(reply, LastSentFrame)) return;
    const AddressReply now = DecodeSetAddressReply(reply);
    view_.SetAddressText(Compose(text, {}, now.address));
    view_.SetNetworkBoxes(now.serviceNetwork);
    // The view keeps the value within the spin edit's bounds (4095 stays).
    if (view_.AutoIncrementChecked()) view_.SetNewAddress(view_.NewAddress() + 1);
    FinishExchange(true);
  } else if (command == CmdReadParams || command == CmdReadParamsAlt) {
    const ParamsReply params = DecodeParamsReply(reply);
    view_.SetNetworkBoxes(params.serviceNetwork);
    view_.SetAddressText(Compose(text, {}, params.address));
    int length = std::snprintf(text, sizeof text, "%d.%d", params.firmwareMajor, params.firmwareMinor);
    if (params.firmwareMajor < FirmwarePlatformCount) {
      const std::string_view name = FirmwarePlatformNames[params.firmwareMajor];
      length += std::snprintf(text + length, sizeof text - length, " -- '%.*s'",
                              static_cast<int>(name.size()), name.data());
    }
    view_.SetVersionText(std::string_view(text, static_cast<std::size_t>(length)));
    view_.ShowParametersPanels(params.firmwareMinor >= KeyFunctionsMinorVersion);
    FinishExchange(true);
  } else if (command == CmdReadFootprint) {
    char footprint[FootprintTextSize];
    view_.SetFootprintText(FormatFootprint(reply, footprint));
    FinishExchange(true);
  } else if (command >= CmdKeyPart && command < CmdKeyPart + KeyPartCount) {
    // The part comes from the reply's own command byte; only the data bytes
    // are compared with the request.
    if (!EchoMatches(reply, LastSentFrame)) return;
    KeyAckIndex = command - CmdKeyPart;
    FinishExchange(true);
  }
  // Any other command: ignored, the gauge runs on.
}

// ---- Status bar ----------------------------------------------------------

void ExchangeEngine::ShowByteCount() {
  char text[64];
  view_.SetStatusText(0, Compose(text, ByteCountText, ReceivedByteCount));
}

void ExchangeEngine::ShowPortState() {
  view_.SetStatusText(1, port_.Connected() ? PortOpenText : PortClosedText);
}

void ExchangeEngine::ShowExchangeState() {
  std::string_view text;
  if (ExchangeState == ExchangeOk) text = ExchangeOkText;
  if (ExchangeState == ExchangeError) text = ExchangeErrorText;
  view_.SetStatusText(2, text);
}

void ExchangeEngine::ShowStatus() {
  ShowPortState();
  ShowByteCount();
  ShowExchangeState();
}

void ExchangeEngine::InitGauge() {
  view_.SetGaugeMaximum(IdleGaugeMaximum);
  view_.SetGaugeColors(GaugeColor::White, GaugeColor::Black);
  view_.SetGaugeProgress(0);
  view_.SetGaugeTimerEnabled(false);
}

}  // namespace vorsal
