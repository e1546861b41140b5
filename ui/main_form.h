// The program's main window: the port choice, the panels that appear as the
// modem is opened and read, the commands and the keyboard rules. It owns the
// exchange engine, shows what the engine's replies mean (ReplyListener),
// lends it its gauge and status bar (SupervisionView) and the serial port
// (ModemPort).
#pragma once

#include "protocol/exchange_view.h"
#include "protocol/frame.h"
#include "ui/bar_gauge.h"
#include "ui/controls.h"
#include "ui/qt_event_queue.h"
#include "protocol/exchange_engine.h"
#include "serial/com_port.h"
#include "ui/texts.h"

#include <QMainWindow>
#include <QString>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QFrame;
class QKeyEvent;
class QLabel;
class QMenu;
class QPushButton;
class QSpinBox;
class QTimer;

namespace vorsal {

// What the window asks of its surroundings; every empty member gets the
// program's default (the tests replace them so that nothing blocks).
struct TFormMainHooks {
  // Blocks the GUI thread (the 500 ms port-close wait, the pause after a
  // request). Default: QThread::msleep.
  std::function<void(int ms)> Sleep;
  // A modal error box titled "Error" with one OK button; `detail` (may be
  // empty) is its detailed text. Default: QMessageBox.
  std::function<void(const QString& text, const QString& detail)> ShowError;
  // Opens a document with the desktop's viewer; false when none took it.
  // Default: the desktop's opener, whose later failure the window reports.
  std::function<bool(const QString& path)> OpenDocument;
  // Names of the stored keys for the key box, as Windows-1251 bytes.
  // Default: the names of the key file (see KeyFile).
  std::function<std::vector<std::string>()> KeyNames;
};

class TFormMain : public QMainWindow, public ReplyListener, public SupervisionView, public ModemPort {
  Q_OBJECT
 public:
  static constexpr int FixedClientWidth = 338;
  static constexpr int IdleHeightReserve = 90;
  static constexpr int RequestPauseMs = vorsal::RequestPauseMs;
  static constexpr int PortCloseWaitMs = 500;

  explicit TFormMain(TComPort& comPort, TFormMainHooks hooks = {}, QWidget* parent = nullptr);
  ~TFormMain() override;

  // Handlers, named after the control and its event.
  void FormCreate();
  void FormClose();
  void FormDestroy();
  bool FormKeyDown(QKeyEvent* event);  // true: the key's character is discarded
  void ComboBoxPortNameDropDown();
  void ComboBoxPortNameSelect();
  void ComboBoxConnTypeSelect();
  void StatusBarDblClick();
  void MainNFileExitClick();
  void NMainHelpGetHelpClick();
  void ButtonGetAddressClick();
  void ButtonSetAddressClick();
  void RadioGroupNewNETClick();
  void ButtonGetFootprintClick();
  void ButtonSetKeyClick();
  void CommPortRxChar();
  void TimerRXTimer();
  void TimerGaugeTimer();

  // Operations.
  void OpenModemPort();
  void CloseModemPort();
  void ShowTitle();
  void ClearModemDisplays();
  void DiscardPendingKeyMessages();

  int ClientWidth() const;
  int ClientHeight() const;
  // The key file Keys.ini, chosen once at creation: in AppDir, or in the
  // user's data directory when AppDir cannot hold it.
  const std::filesystem::path& KeyFile() const { return keyFile_; }
  // The window's error box (through its ShowError hook); the key dialogs
  // show their messages here too.
  void ShowError(const QString& text, const QString& detail = {});

  // ReplyListener: the displays of each reply.
  void ParamsRead(const ParamsReply& params) override;
  void AddressWritten(const AddressReply& reply) override;
  void FootprintRead(const KeyFootprint& footprint) override;
  void KeyPartAcknowledged(int) override {}

  // Ticks CheckBoxNetIdle when `serviceNetwork`, CheckBoxNetActive otherwise.
  void SetNetworkBoxes(bool serviceNetwork);
  int NewAddress() const;           // SpinEditAnew's value as typed
  void SetNewAddress(int value);    // kept within the spin edit's bounds
  // Shows PanelMiddle, and PanelBottom when `keyPanel` (hides it otherwise),
  // and applies the client-height rule for that panel set.
  void ShowParametersPanels(bool keyPanel);

  // SupervisionView.
  void ShowByteCountPanel(int count) override;
  void ShowPortPanel(bool open) override;
  void ShowExchangePanel(std::uint8_t state) override;
  void SetGaugeMaximum(int maximum) override;
  int GaugeMaximum() const override;
  void SetGaugeProgress(int progress) override;
  int GaugeProgress() const override;
  void SetGaugeColors(GaugeColor background, GaugeColor foreground) override;
  void SetGaugeTimerEnabled(bool enabled) override;

  // ModemPort: forwards to the serial port component.
  bool Connected() const override;
  int Read(std::uint8_t* buffer, int count) override;
  int Write(const std::uint8_t* buffer, int count) override;

  // Controls, top to bottom.
  QFrame* PanelTools;
  QLabel* Label5;
  TDropDownComboBox* ComboBoxPortName;
  QFrame* Bevel2;
  QLabel* LabelConnType;
  QComboBox* ComboBoxConnType;

  QFrame* PanelTop;
  QGroupBox* GroupBoxCurrentSettings;
  QLabel* Label1;
  QLabel* LabelVersion;
  QGroupBox* GroupBoxOldID;
  QLabel* LabelAold;
  QGroupBox* GroupBox1;
  QCheckBox* CheckBoxNetIdle;
  QCheckBox* CheckBoxNetActive;
  QPushButton* ButtonGetAddress;

  QFrame* PanelMiddle;
  QGroupBox* GroupBoxModemNewAddress;
  QGroupBox* GroupBoxNewID;
  QSpinBox* SpinEditAnew;
  TRadioGroup* RadioGroupNewNET;
  QPushButton* ButtonSetAddress;
  QCheckBox* CheckBoxAutoInc;

  QFrame* PanelBottom;
  QGroupBox* GroupBoxSKey;
  QLabel* Label7;
  QLabel* LabelFP;
  QPushButton* ButtonGetFP;
  QLabel* Label18;
  QComboBox* ComboBoxKey;
  QPushButton* ButtonSetKey;

  QFrame* PanelProgressBar;
  TBarGauge* GaugeTimeout;
  TPanelStatusBar* StatusBar;

  QMenu* NMainFile;
  QAction* MainNFileExit;
  QMenu* NMainHelp;
  QAction* NMainHelpGetHelp;

  QTimer* TimerRX;
  QTimer* TimerGauge;

  // The protocol state and rules; declared after the controls it draws on.
  ExchangeEngine Engine;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildMenu();
  void SetTabOrder();
  // Sets the client height from the panels shown; call after showing or
  // hiding one.
  void FitClientHeight();
  QColor ColorOf(GaugeColor color) const;
  // Runs a handler body; any exception ends in an error box instead of
  // leaving through Qt's event dispatch.
  void Guarded(const std::function<void()>& body);
  void Guarded(void (TFormMain::*handler)());
  // A slot or event handler that runs `handler` through Guarded.
  std::function<void()> GuardedSlot(void (TFormMain::*handler)());
  void CommPortError(unsigned errors);
  void ShowPortState(bool open);
  bool KeyBoxActive() const;
  // The default of the OpenDocument hook; a failure found later is shown.
  bool OpenWithDesktop(const QString& path);
  // Tells that the guide at `path` could not be shown, and where it is.
  void ShowHelpNotOpened(const QString& path);
  void AppendRandomKeyChar();

  TComPort& comPort_;
  QtEventQueue eventQueue_;  // the port's deliveries, while this window owns the port
  TFormMainHooks hooks_;
  QWidget* client_ = nullptr;
  std::filesystem::path keyFile_;
  std::mt19937 random_;
  bool discardCurrentKey_ = false;
  bool shownBefore_ = false;
  unsigned openGeneration_ = 0;  // counts opens, so a stale device-lost report is ignored
  WindowPlace windowPlace_;
};

// The one main window, set before its creation handler runs.
inline TFormMain* FormMain = nullptr;

}  // namespace vorsal
