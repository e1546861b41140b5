// The program's main window in Qt: the port choice, the panels that appear
// as the modem is opened and read, the commands and the keyboard. It builds
// the controls, hands the user's events and the port's to its window model,
// which holds the rules and the exchange engine, and draws what the model
// says (WindowSurface).
#pragma once

#include "ui/bar_gauge.h"
#include "ui/controls.h"
#include "ui/production_form.h"
#include "ui/qt_event_queue.h"
#include "serial/com_port.h"
#include "window/main_window_model.h"
#include "window/production_options.h"
#include "window/texts.h"

#include <QMainWindow>
#include <QString>

#include <filesystem>
#include <functional>
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

class QFileSystemWatcher;

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
  // The folder whose changes mean a serial device came or went (the port
  // list then follows). Default: /dev.
  QString DeviceFolder;
  // The production window's own (its held port, key file and device folder
  // are the main window's unless set).
  TFormProductionHooks Production;
};

class TFormMain : public QMainWindow, public WindowSurface {
  Q_OBJECT
 public:
  static constexpr int IdleHeightReserve = MainWindowModel::IdleHeightReserve;
  static constexpr int RequestPauseMs = vorsal::RequestPauseMs;
  static constexpr int PortCloseWaitMs = MainWindowModel::PortCloseWaitMs;

  explicit TFormMain(TComPort& comPort, TFormMainHooks hooks = {}, QWidget* parent = nullptr);
  ~TFormMain() override;

  // Handlers, named after the control and its event; each hands the event
  // to the model.
  void FormCreate();
  void FormClose();
  void FormDestroy();
  bool FormKeyDown(QKeyEvent* event);  // true: the key's character is discarded
  void ComboBoxPortNameDropDown();
  // A device came or went: the port list is made afresh, unless it is open.
  void DeviceFolderChanged();
  void ComboBoxPortNameSelect();
  void ComboBoxConnTypeSelect();
  void StatusBarDblClick();
  void MainNFileExitClick();
  // "Производство…": the production window, made once and brought forward.
  void MainNFileProductionClick();
  // `vorsal --production [--run] ...`: the production window opens filled
  // in with the remembered settings and what the command line gives, and
  // with --run starts once the event loop runs.
  void OpenProduction(const ProductionOptions& options);
  // The production window, once opened; null before.
  TFormProduction* FormProduction() const { return formProduction_; }
  void NMainHelpGetHelpClick();
  void ButtonGetAddressClick();
  void ButtonSetAddressClick();
  void RadioGroupNewNETClick();
  void ButtonGetFootprintClick();
  void ButtonSetKeyClick();
  void CommPortRxChar();
  void TimerRXTimer();
  void TimerGaugeTimer();

  int ClientWidth() const;
  int ClientHeight() const;
  const std::filesystem::path& KeyFile() const { return Model.KeyFile(); }
  // The window's error box (through its ShowError hook); the key dialogs
  // show their messages here too.
  void ShowError(const QString& text, const QString& detail = {});
  void ShowParametersPanels(bool keyPanel) { Model.ShowParametersPanels(keyPanel); }
  int NewAddress() const { return Model.NewAddress(); }

  // WindowSurface.
  void SetTitle(std::string_view title) override;
  void SetPanelVisible(WindowPanel panel, bool visible) override;
  int PanelHeight(WindowPanel panel) const override;
  void SetClientHeight(int height) override;
  void SetDisplayText(WindowDisplay display, std::string_view text) override;
  void SetNetworkBoxes(bool service, bool working) override;
  void SetStatusText(StatusPanel panel, std::string_view text) override;
  void SetGaugeMaximum(int maximum) override;
  void SetGaugeProgress(int progress) override;
  void SetGaugeColors(GaugeColor background, GaugeColor foreground) override;
  void SetGaugeTimerEnabled(bool enabled) override;
  void SetPortList(const std::vector<std::string>& names, int selected) override;
  void ClearPortSelection() override;
  void SetKeyList(const std::vector<std::string>& names) override;
  void AddKeyName(std::string_view name) override;
  void SetKeyText(std::string_view text) override;
  void ClearKeyBox() override;
  void SetNewAddressRange(int minimum, int maximum) override;
  void SetNewAddress(int value) override;
  std::string KeyText() const override;
  std::string NewAddressText() const override;
  int NewNetworkIndex() const override;
  bool AutoIncrement() const override;
  void ShowError(std::string_view text, std::string_view detail) override;
  void SetBusyCursor(bool busy) override;
  void Sleep(int ms) override;
  bool OpenDocument(const std::string& path) override;
  void DiscardPendingKeys() override;
  void Post(std::function<void()> call) override;
  bool KeyDialogsReady() const override;
  bool KeyDialogOpen() const override;
  bool RunKeyComputation() override;
  void RunKeyTransfer() override;
  void CloseWindow() override;

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
  QAction* MainNFileProduction;
  QAction* MainNFileExit;
  QMenu* NMainHelp;
  QAction* NMainHelpGetHelp;

  QTimer* TimerRX;
  QTimer* TimerGauge;
  QFileSystemWatcher* DeviceWatcher;


 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildMenu();
  void SetTabOrder();
  QColor ColorOf(GaugeColor color) const;
  // Runs a handler body; any exception ends in an error box instead of
  // leaving through Qt's event dispatch.
  void Guarded(const std::function<void()>& body);
  void Guarded(void (TFormMain::*handler)());
  // A slot or event handler that runs `handler` through Guarded.
  std::function<void()> GuardedSlot(void (TFormMain::*handler)());
  bool KeyBoxActive() const;
  QWidget* PanelOf(WindowPanel panel) const;
  // The default of the OpenDocument hook; a failure found later is shown.
  bool OpenWithDesktop(const QString& path);

  TComPort& comPort_;
  QtEventQueue eventQueue_;  // the port's deliveries, while this window owns the port
  TFormMainHooks hooks_;
  QWidget* client_ = nullptr;
  bool shownBefore_ = false;
  WindowPlace windowPlace_;
  TFormProduction* formProduction_ = nullptr;

 public:
  // The window's rules and state, and its exchange engine; declared after
  // the hooks it is given.
  MainWindowModel Model;
  ExchangeEngine& Engine;
};

// The one main window, set before its creation handler runs.
inline TFormMain* FormMain = nullptr;

}  // namespace vorsal
