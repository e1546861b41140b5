// Stand-in for the exchange engine while protocol/exchange_engine.h is being
// built: the members the main window binds to, doing nothing.
#pragma once

#include "protocol/exchange_view.h"
#include "protocol/frame.h"

#include <cstdint>
#include <functional>
#include <string_view>

namespace vorsal {

inline constexpr std::string_view ByteCountText = " Байт принятo = ";
inline constexpr std::string_view PortOpenText = "COM-порт открыт.";
inline constexpr std::string_view PortClosedText = "COM-порт не открыт!";
inline constexpr std::string_view ExchangeOkText = "OK";
inline constexpr std::string_view ExchangeErrorText = "Ошибка!";

class ExchangeEngine {
 public:
  ExchangeEngine(ExchangeView& view, ModemPort& port, std::function<void(int)> sleep = {})
      : view_(view), port_(port), sleep_(std::move(sleep)) {}
  std::uint8_t RxRing[256] = {};
  int RxWriteIndex = 0;
  int RxReadIndex = 0;
  ModemFrame FrameWindow{};
  int FrameWindowCount = 0;
  int ReceivedByteCount = 0;
  ModemFrame LastSentFrame{};
  int GaugeTicksLeft = 0;
  std::uint8_t ExchangeState = 0;
  int KeyAckIndex = 0;
  void CommPortRxChar() {}
  void TimerRXTimer() {}
  void StatusBarDblClick() { ReceivedByteCount = 0; }
  void SendFrame(const ModemFrame& frame, int) {
    LastSentFrame = frame;
    port_.Write(LastSentFrame.data(), 8);
  }
  void StartReplyTimeout() {}
  void TimerGaugeTimer() {}
  void FinishExchange(bool) {}
  void SetExchangeState(std::uint8_t state) { ExchangeState = state; }
  void HandleReply() {}
  void ShowByteCount() {}
  void ShowPortState() {}
  void ShowExchangeState() {}
  void ShowStatus() {}
  void InitGauge() {}

 private:
  ExchangeView& view_;
  ModemPort& port_;
  std::function<void(int)> sleep_;
};

}  // namespace vorsal
