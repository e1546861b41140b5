// The production window in Qt: the run's settings, a tile per port
// coloured by its step, the counters, the run's journal lines newest first,
// the stop button (first: after the modems in hand, second: abandon them),
// "Отчёт…" and ports that come and go. Its rules are ProductionModel's and
// the run is ProductionRun's; the window forwards the user's events and
// draws the model on a timer.
#pragma once

#include "window/production_run.h"

#include <QString>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFileSystemWatcher;
class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSettings;
class QSpinBox;
class QTimer;

namespace vorsal {

// What the window asks of its surroundings; every empty member gets the
// program's default (the tests replace them so that nothing blocks).
struct TFormProductionHooks {
  // A yes/no question; true for yes. Default: QMessageBox.
  std::function<bool(const QString& question)> Ask;
  // An error box. Default: QMessageBox.
  std::function<void(const QString& text)> ShowError;
  // The report's file as the user picks it; empty: cancelled. Default: a save dialog.
  std::function<QString()> ReportFile;
  // The system's serial ports with their adapters. Default: ProductionPorts.
  std::function<std::vector<production::BatchPort>()> Ports;
  // The port the main window holds open; empty: none.
  std::function<std::string()> HeldPort;
  // Names of the stored keys (Windows-1251 bytes). Default: those of KeyStore.
  std::function<std::vector<std::string>()> KeyNames;
  // Where the settings are remembered (an INI file). Default: the user's.
  QString SettingsFile;
  // The folder whose changes mean a serial device came or went. Default: /dev.
  QString DeviceFolder;
  std::filesystem::path Journal;   // empty: the user's journal.csv
  std::filesystem::path KeyStore;  // empty: the user's Keys.ini
  ProductionRunEnvironment Environment;
};

class TFormProduction : public QWidget {
  Q_OBJECT
 public:
  explicit TFormProduction(TFormProductionHooks hooks = {}, QWidget* parent = nullptr);
  ~TFormProduction() override;

  // Puts settings into the controls (the key name too, which is never remembered).
  void Fill(const ProductionSettings& settings);
  // The settings as the controls hold them.
  ProductionSettings Settings() const;
  void SetJournal(const std::filesystem::path& journal) { hooks_.Journal = journal; }

  // Handlers, each also what a button or the timer calls.
  void StartClick();
  void StopClick();
  void ReportClick();
  void DeviceFolderChanged();
  void Draw();

  ProductionModel& Model() { return model_; }

  QCheckBox* CheckBoxAllUsb;
  QListWidget* ListPorts;
  QComboBox* ComboBoxNetwork;
  QSpinBox* SpinStart;
  QComboBox* ComboBoxKey;
  QSpinBox* SpinCount;
  QLineEdit* EditRegistry;
  QPushButton* ButtonStart;
  QPushButton* ButtonStop;
  QPushButton* ButtonReport;
  QLabel* LabelState;
  QLabel* LabelDone;
  QLabel* LabelFailed;
  QLabel* LabelNext;
  QLabel* LabelElapsed;
  QLabel* LabelPerHour;
  QWidget* Tiles;
  QListWidget* ListJournal;
  QLabel* LabelMessages;  // what went wrong beyond a modem, and the opening's notes
  QTimer* TimerDraw;
  QFileSystemWatcher* DeviceWatcher;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void FillPortList();
  void LoadSettings();
  void SaveSettings(const ProductionSettings& settings);
  void DrawTiles();
  bool Editable() const;
  std::unique_ptr<QSettings> OpenSettings() const;

  TFormProductionHooks hooks_;
  ProductionModel model_;
  ProductionRun run_;
  std::vector<production::BatchPort> offered_;
  QGridLayout* tileGrid_ = nullptr;
  std::vector<QLabel*> tileLabels_;
  std::size_t journalShown_ = 0, messagesShown_ = 0;
};

}  // namespace vorsal
