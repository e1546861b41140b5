// The main window's rules, free of any toolkit: which panels show when and
// the window's height, what each command clears and sends, the network's
// limit on the new address, auto-increment, the key panel's firmware rule,
// the status texts and the gauge, the key box's keyboard rules, the key
// dialogs' sequence, opening and closing the port, the title and the lost
// port. It owns the exchange engine and the port's use. A window (Qt, Win32)
// creates its controls, implements WindowSurface, forwards its user's events
// here and draws what it is told.
#pragma once

#include "protocol/exchange_engine.h"
#include "keys/obtain_key.h"
#include "protocol/exchange_view.h"
#include "protocol/key_transfer.h"
#include "serial/com_port.h"
#include "window/window_surface.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace vorsal {

// Keys the window's key rules look at; every other key is Other.
enum class WindowKey {
  KeypadPlus,  // the numeric keypad's plus key
  F1,
  Equal,  // the main keyboard's equals-sign key (not the keypad's)
  Other,
};

// The text of the exception being handled: what() of a std::exception,
// "Unknown error" for anything else. Call only inside a catch handler.
std::string CurrentExceptionMessage();

class MainWindowModel : public ReplyListener, public SupervisionView, public ModemPort {
 public:
  static constexpr int IdleHeightReserve = 90;
  static constexpr int PortCloseWaitMs = 500;

  // `keyNames` lists the stored key names (Windows-1251 bytes); empty: the
  // names of KeyFile(). Nothing is drawn before Create.
  MainWindowModel(WindowSurface& surface, TComPort& comPort, std::function<std::vector<std::string>()> keyNames = {});
  ~MainWindowModel() override;
  MainWindowModel(const MainWindowModel&) = delete;
  MainWindowModel& operator=(const MainWindowModel&) = delete;

  // The window's creation, once its controls exist: the gauge, the status
  // bar, the title, the key list, the empty displays and the idle height.
  void Create();
  // The window closes or is destroyed: the port is closed (and waited for).
  void Close() { CloseModemPort(); }

  // The user's events. Commands may throw (a failed port write); the
  // window shows the failure in its error box.
  void PortListDropDown();
  void PortSelected(const std::string& name);
  void ConnectionTypeSelected(int index, const std::string& portName);
  void StatusBarDblClick() { Engine.StatusBarDblClick(); }
  void ReadParamsClick();
  void WriteAddressClick();
  void NewNetworkClick();
  void ReadFootprintClick();
  void WriteKeyClick();
  void HelpClick();
  // A key pressed while the window has the focus; `modifierDown`: Shift,
  // Ctrl or Alt is held; `keyBoxActive`: the key box has the focus. True
  // when the key's character must not reach the control.
  bool KeyDown(WindowKey key, bool modifierDown, bool keyBoxActive);
  // The port's received-characters event and the two 100 ms timers.
  void PortRxChar() { Engine.CommPortRxChar(); }
  void ReceiveTick() { Engine.TimerRXTimer(); }
  void GaugeTick() { Engine.TimerGaugeTimer(); }
  // The port component reported errors (from its OnError event).
  void PortError(unsigned errors);
  // The program is asked to end (a stop signal). A key computation at work
  // stops at its next check: nothing of it has reached the modem. A key
  // transfer goes on to its end, so that the modem is never left holding
  // part of a key. The window closes once no key dialog is open.
  void StopRequested();
  // A stop was requested: the key computation's work must end.
  bool Stopping() const { return stopping_; }
  // The viewer asked to open the guide at `path` failed after it started.
  void HelpNotOpened(const std::string& path);
  // The key computation offered a newly derived key named `keyName`
  // (Windows-1251) to Keys.ini with `outcome`: the key list gains the name,
  // or the user is told why it was not kept (`storeError`: the reason).
  void KeyStored(KeyStoring outcome, const std::string& keyName, const std::string& storeError);
  // The key transfer ended with `result`: a part the modem did not
  // acknowledge is told to the user. True when the transfer ends with OK,
  // false when it ends with Cancel (cancelled, or the port went, which the
  // window has already told or the program is ending).
  bool KeyTransferEnded(KeyTransferResult result);

  // Operations.
  void OpenModemPort(const std::string& name);
  void CloseModemPort();
  void ShowTitle();
  void ClearModemDisplays();
  // Shows PanelMiddle, and PanelBottom when `keyPanel` (hides it otherwise),
  // and applies the client-height rule for that panel set.
  void ShowParametersPanels(bool keyPanel);
  // The new-address input's value as typed: a number is pulled into the
  // range, anything else reads as the minimum.
  int NewAddress() const;
  int NewAddressMinimum() const;

  // The key file Keys.ini, chosen once at creation: in AppDir, or in the
  // user's data directory when AppDir cannot hold it.
  const std::filesystem::path& KeyFile() const { return keyFile_; }
  void ShowError(const std::string& text, const std::string& detail = {});

  // ReplyListener: the displays of each reply.
  void ParamsRead(const ParamsReply& params) override;
  void AddressWritten(const AddressReply& reply) override;
  void FootprintRead(const KeyFootprint& footprint) override;
  void KeyPartAcknowledged(int) override {}

  // SupervisionView: the status texts and the gauge.
  void ShowByteCountPanel(int count) override;
  void ShowPortPanel(bool open) override;
  void ShowExchangePanel(std::uint8_t state) override;
  void SetGaugeMaximum(int maximum) override;
  int GaugeMaximum() const override { return gaugeMaximum_; }
  void SetGaugeProgress(int progress) override;
  int GaugeProgress() const override { return gaugeProgress_; }
  void SetGaugeColors(GaugeColor background, GaugeColor foreground) override;
  void SetGaugeTimerEnabled(bool enabled) override;

  // ModemPort: forwards to the serial port component.
  bool Connected() const override;
  int Read(std::uint8_t* buffer, int count) override;
  int Write(const std::uint8_t* buffer, int count) override;

  // The protocol state and rules.
  ExchangeEngine Engine;

 private:
  void ShowPortState(bool open);
  void SetPanelVisible(WindowPanel panel, bool visible);
  void FitClientHeight();
  void SetNetworkBoxes(bool serviceNetwork);
  void AppendRandomKeyChar();

  WindowSurface& surface_;
  TComPort& comPort_;
  std::function<std::vector<std::string>()> keyNames_;
  std::filesystem::path keyFile_;
  std::mt19937 random_;
  int connectionType_ = 0;        // the hidden connection-type box's index
  unsigned openGeneration_ = 0;   // counts opens, so a stale device-lost report is ignored
  bool topShown_ = false, middleShown_ = false, bottomShown_ = false;
  std::optional<int> currentAddress_;  // LabelAold: none while it shows "****"
  bool currentServiceNetwork_ = false; // CheckBoxNetIdle ticked
  int newAddressMinimum_ = MinAddress;
  int gaugeMaximum_ = 0;
  int gaugeProgress_ = 0;
  bool stopping_ = false;
};

}  // namespace vorsal
