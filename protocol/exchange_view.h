// The narrow interfaces through which the exchange engine reaches the serial
// port and its clients. The engine tells what each accepted reply means as
// values (ReplyListener); a client that shows the supervision of an exchange
// (the window's gauge and status bar) also lends it a SupervisionView. The
// command line listens to replies only and keeps no gauge.
#pragma once

#include <cstdint>

#include "protocol/frame.h"

namespace vorsal {

// Colours of the reply gauge.
enum class GaugeColor {
  White,    // clWhite: initial background
  Black,    // clBlack: initial and waiting foreground
  Yellow,   // clYellow (255, 255, 0): background while waiting
  Green,    // clGreen (0, 128, 0): bar after an accepted reply
  Maroon,   // clMaroon (128, 0, 0): bar after a failed exchange
  BtnFace,  // clBtnFace: the system colour of button faces, background when done
};

// What the engine needs of the serial port.
class ModemPort {
 public:
  virtual ~ModemPort() = default;
  virtual bool Connected() const = 0;
  // Returns at once with at most `count` bytes already received. Throws the
  // port's exception on failure.
  virtual int Read(std::uint8_t* buffer, int count) = 0;
  // Returns the number of bytes written; throws the port's exception on
  // failure. The engine reports fewer than `count` as a failed write.
  virtual int Write(const std::uint8_t* buffer, int count) = 0;
};

// What an accepted reply meant. Called on the thread that drives the engine,
// before the exchange is finished (ExchangeState still shows the wait).
class ReplyListener {
 public:
  virtual ~ReplyListener() = default;
  virtual void ParamsRead(const ParamsReply& params) = 0;      // 0xE2 or 0xE3
  virtual void AddressWritten(const AddressReply& reply) = 0;  // 0xE0 with a matching echo
  virtual void FootprintRead(const KeyFootprint& footprint) = 0;  // 0xE4
  // 0xE8..0xEF with a matching echo; KeyAckIndex already holds `part`.
  virtual void KeyPartAcknowledged(int part) = 0;
};

// The window's side of the supervision: the gauge, its timer and the three
// status bar panels. The engine decides, the view only shows.
class SupervisionView {
 public:
  virtual ~SupervisionView() = default;
  virtual void ShowByteCountPanel(int count) = 0;           // panel 0
  virtual void ShowPortPanel(bool open) = 0;                // panel 1
  virtual void ShowExchangePanel(std::uint8_t state) = 0;   // panel 2: empty, "OK" or "Ошибка!"

  virtual void SetGaugeMaximum(int maximum) = 0;
  virtual int GaugeMaximum() const = 0;
  virtual void SetGaugeProgress(int progress) = 0;
  virtual int GaugeProgress() const = 0;
  virtual void SetGaugeColors(GaugeColor background, GaugeColor foreground) = 0;
  virtual void SetGaugeTimerEnabled(bool enabled) = 0;     // TimerGauge
};

}  // namespace vorsal
