// The narrow interfaces through which the exchange engine reaches the serial
// port and the main window's controls. The main window implements both (the
// port side by forwarding to the serial port component); tests implement them
// with plain recorders.
#pragma once

#include <cstdint>
#include <string_view>

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
  // Writes all bytes or throws the port's exception.
  virtual int Write(const std::uint8_t* buffer, int count) = 0;
};

// What the engine needs of the main window. Texts are UTF-8.
class ExchangeView {
 public:
  virtual ~ExchangeView() = default;

  virtual void SetAddressText(std::string_view text) = 0;   // LabelAold
  // Ticks CheckBoxNetIdle when `serviceNetwork`, CheckBoxNetActive otherwise.
  virtual void SetNetworkBoxes(bool serviceNetwork) = 0;
  virtual void SetVersionText(std::string_view text) = 0;   // LabelVersion
  virtual void SetFootprintText(std::string_view text) = 0; // LabelFP

  virtual bool AutoIncrementChecked() const = 0;            // CheckBoxAutoInc
  virtual int NewAddress() const = 0;                       // SpinEditAnew value
  virtual void SetNewAddress(int value) = 0;                // clamps to the spin edit's bounds

  // Shows PanelMiddle, and PanelBottom when `keyPanel` (hides it otherwise),
  // and applies the client-height rule for that panel set.
  virtual void ShowParametersPanels(bool keyPanel) = 0;

  virtual void SetGaugeMaximum(int maximum) = 0;
  virtual int GaugeMaximum() const = 0;
  virtual void SetGaugeProgress(int progress) = 0;
  virtual int GaugeProgress() const = 0;
  virtual void SetGaugeColors(GaugeColor background, GaugeColor foreground) = 0;
  virtual void SetGaugeTimerEnabled(bool enabled) = 0;      // TimerGauge

  virtual void SetStatusText(int panel, std::string_view text) = 0;  // panels 0..2
};

}  // namespace vorsal
