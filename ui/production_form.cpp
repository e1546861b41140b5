#include "ui/production_form.h"

#include "keys/cp1251.h"
#include "keys/key_store.h"
#include "protocol/frame.h"
#include "window/texts.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemWatcher>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace vorsal {

namespace {

QString Text(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

QString Elapsed(long long seconds) {
  return QStringLiteral("%1:%2:%3")
      .arg(seconds / 3600)
      .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

const char* Background(TileColour colour) {
  switch (colour) {
    case TileColour::Busy: return "#fff0a0";
    case TileColour::Done: return "#b6e3b6";
    case TileColour::Failed: return "#f2b0b0";
    case TileColour::Lost: return "#b8b8b8";
    case TileColour::Idle: break;
  }
  return "#e6e6e6";
}

QString PortText(const production::BatchPort& port) {
  return port.adapter.empty() ? Text(port.path) : Text(port.path) + QStringLiteral("  ") + Text(port.adapter);
}

}  // namespace

TFormProduction::TFormProduction(TFormProductionHooks hooks, QWidget* parent)
    : QWidget(parent, Qt::Window), hooks_(std::move(hooks)), run_(model_, hooks_.Environment) {
  if (!hooks_.Ask) {
    hooks_.Ask = [this](const QString& question) {
      return QMessageBox::question(this, Text(texts::ProductionTitle), question) == QMessageBox::Yes;
    };
  }
  if (!hooks_.ShowError) {
    hooks_.ShowError = [this](const QString& text) { QMessageBox::warning(this, Text(texts::ErrorBoxTitle), text); };
  }
  if (!hooks_.ReportFile) {
    hooks_.ReportFile = [this] {
      return QFileDialog::getSaveFileName(this, Text(texts::ReportFileTitle), QStringLiteral("report.html"),
                                          Text(texts::ReportFileFilter));
    };
  }
  if (!hooks_.HeldPort) hooks_.HeldPort = [] { return std::string(); };
  if (!hooks_.Ports) hooks_.Ports = [this] { return ProductionPorts(hooks_.HeldPort()); };
  if (!hooks_.KeyNames) {
    hooks_.KeyNames = [this] { return KeyStoreNames(hooks_.KeyStore.empty() ? KeyStorePath() : hooks_.KeyStore); };
  }
  setWindowTitle(Text(texts::ProductionTitle));
  BuildControls();
  offered_ = hooks_.Ports();
  FillPortList();
  LoadSettings();
  Draw();
}

// A run still going is abandoned by ProductionRun's destructor; its modems
// are journaled still.
TFormProduction::~TFormProduction() = default;

void TFormProduction::BuildControls() {
  auto* settings = new QGroupBox(Text(texts::CaptionProductionSettings), this);
  auto* form = new QFormLayout(settings);
  CheckBoxAllUsb = new QCheckBox(Text(texts::CaptionAllUsbAdapters), settings);
  CheckBoxAllUsb->setChecked(true);
  ListPorts = new QListWidget(settings);
  ListPorts->setMaximumHeight(110);
  connect(CheckBoxAllUsb, &QCheckBox::toggled, this, [this] { Draw(); });
  form->addRow(Text(texts::CaptionPort), CheckBoxAllUsb);
  form->addRow(QString(), ListPorts);
  ComboBoxNetwork = new QComboBox(settings);
  ComboBoxNetwork->addItems({Text(texts::NetworkServiceName), Text(texts::NetworkWorkingName)});
  form->addRow(Text(texts::CaptionNetwork).trimmed() + QLatin1Char(':'), ComboBoxNetwork);
  SpinStart = new QSpinBox(settings);
  SpinStart->setRange(MinAddress, MaxAddress);
  form->addRow(Text(texts::CaptionStartAddress), SpinStart);
  connect(ComboBoxNetwork, &QComboBox::currentIndexChanged, this,
          [this](int network) { SpinStart->setMinimum(LowestAddress(network)); });
  ComboBoxKey = new QComboBox(settings);
  ComboBoxKey->setEditable(true);
  ComboBoxKey->setInsertPolicy(QComboBox::NoInsert);
  // The key name is a secret: never shown in clear, never remembered.
  ComboBoxKey->lineEdit()->setEchoMode(QLineEdit::Password);
  for (const std::string& name : hooks_.KeyNames()) ComboBoxKey->addItem(Text(Cp1251ToUtf8(name)));
  ComboBoxKey->setCurrentIndex(-1);
  ComboBoxKey->setEditText({});
  form->addRow(Text(texts::CaptionKey), ComboBoxKey);
  SpinCount = new QSpinBox(settings);
  SpinCount->setRange(0, MaxAddress + 1);
  SpinCount->setSpecialValueText(Text(texts::CountUnlimited));
  form->addRow(Text(texts::CaptionCount), SpinCount);
  EditRegistry = new QLineEdit(settings);
  EditRegistry->setPlaceholderText(Text(texts::HintRegistry));
  form->addRow(Text(texts::CaptionRegistry), EditRegistry);

  auto* buttons = new QHBoxLayout;
  ButtonStart = new QPushButton(Text(texts::CaptionRunStart), this);
  ButtonStop = new QPushButton(Text(texts::CaptionRunStop), this);
  ButtonReport = new QPushButton(Text(texts::CaptionReport), this);
  connect(ButtonStart, &QPushButton::clicked, this, [this] { StartClick(); });
  connect(ButtonStop, &QPushButton::clicked, this, [this] { StopClick(); });
  connect(ButtonReport, &QPushButton::clicked, this, [this] { ReportClick(); });
  buttons->addWidget(ButtonStart);
  buttons->addWidget(ButtonStop);
  buttons->addStretch();
  buttons->addWidget(ButtonReport);

  LabelState = new QLabel(this);
  LabelState->setWordWrap(true);
  auto* counters = new QHBoxLayout;
  const auto counter = [&](const char* caption, QLabel*& value) {
    counters->addWidget(new QLabel(Text(caption), this));
    value = new QLabel(this);
    value->setStyleSheet(QStringLiteral("font-weight: bold"));
    counters->addWidget(value);
    counters->addSpacing(12);
  };
  counter(texts::CaptionDone, LabelDone);
  counter(texts::CaptionFailed, LabelFailed);
  counter(texts::CaptionNextAddress, LabelNext);
  counter(texts::CaptionElapsed, LabelElapsed);
  counter(texts::CaptionPerHour, LabelPerHour);
  counters->addStretch();

  Tiles = new QWidget(this);
  tileGrid_ = new QGridLayout(Tiles);
  tileGrid_->setContentsMargins(0, 0, 0, 0);
  ListJournal = new QListWidget(this);
  ListJournal->setMinimumHeight(120);
  LabelMessages = new QLabel(this);
  LabelMessages->setWordWrap(true);
  LabelMessages->setStyleSheet(QStringLiteral("color: #a00000"));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(settings);
  layout->addLayout(buttons);
  layout->addWidget(LabelState);
  layout->addLayout(counters);
  layout->addWidget(Tiles);
  layout->addWidget(new QLabel(Text(texts::CaptionRunJournal), this));
  layout->addWidget(ListJournal, 1);
  layout->addWidget(LabelMessages);
  resize(760, 720);

  TimerDraw = new QTimer(this);
  TimerDraw->setInterval(200);
  connect(TimerDraw, &QTimer::timeout, this, [this] { Draw(); });
  TimerDraw->start();
  DeviceWatcher = new QFileSystemWatcher(this);
  DeviceWatcher->addPath(hooks_.DeviceFolder.isEmpty() ? QStringLiteral("/dev") : hooks_.DeviceFolder);
  connect(DeviceWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { DeviceFolderChanged(); });
}

// The check list: the offered ports, each with its adapter; checks survive
// a refresh.
void TFormProduction::FillPortList() {
  QStringList checked;
  for (int i = 0; i < ListPorts->count(); ++i) {
    if (ListPorts->item(i)->checkState() == Qt::Checked) checked << ListPorts->item(i)->data(Qt::UserRole).toString();
  }
  ListPorts->clear();
  for (const production::BatchPort& port : offered_) {
    auto* item = new QListWidgetItem(PortText(port), ListPorts);
    item->setData(Qt::UserRole, Text(port.path));
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
    item->setCheckState(checked.contains(Text(port.path)) ? Qt::Checked : Qt::Unchecked);
  }
}

void TFormProduction::Fill(const ProductionSettings& settings) {
  CheckBoxAllUsb->setChecked(settings.allUsbAdapters);
  for (const std::string& path : settings.ports) {
    if (std::none_of(offered_.begin(), offered_.end(), [&](const auto& port) { return port.path == path; })) {
      // A port the system does not list (yet) is still offered as asked.
      offered_.push_back({path, {}});
    }
  }
  FillPortList();
  for (int i = 0; i < ListPorts->count(); ++i) {
    const std::string path = ListPorts->item(i)->data(Qt::UserRole).toString().toStdString();
    const bool wanted = std::find(settings.ports.begin(), settings.ports.end(), path) != settings.ports.end();
    ListPorts->item(i)->setCheckState(wanted ? Qt::Checked : Qt::Unchecked);
  }
  ComboBoxNetwork->setCurrentIndex(settings.network == NetworkWorking ? 1 : 0);
  SpinStart->setMinimum(LowestAddress(settings.network));
  SpinStart->setValue(settings.start);
  ComboBoxKey->setEditText(Text(settings.keyName));
  SpinCount->setValue(settings.count.value_or(0));
  EditRegistry->setText(Text(settings.registry));
}

ProductionSettings TFormProduction::Settings() const {
  ProductionSettings settings;
  settings.allUsbAdapters = CheckBoxAllUsb->isChecked();
  for (int i = 0; i < ListPorts->count(); ++i) {
    if (ListPorts->item(i)->checkState() == Qt::Checked) {
      settings.ports.push_back(ListPorts->item(i)->data(Qt::UserRole).toString().toStdString());
    }
  }
  settings.network = ComboBoxNetwork->currentIndex() == 1 ? NetworkWorking : NetworkService;
  settings.start = SpinStart->value();
  settings.keyName = ComboBoxKey->currentText().toStdString();
  if (SpinCount->value() > 0) settings.count = SpinCount->value();
  settings.registry = EditRegistry->text().trimmed().toStdString();
  return settings;
}

std::unique_ptr<QSettings> TFormProduction::OpenSettings() const {
  if (!hooks_.SettingsFile.isEmpty()) return std::make_unique<QSettings>(hooks_.SettingsFile, QSettings::IniFormat);
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("vorsal"),
                                     QStringLiteral("production"));
}

void TFormProduction::LoadSettings() {
  const std::unique_ptr<QSettings> stored = OpenSettings();
  if (!stored->contains(QStringLiteral("start"))) return;
  ProductionSettings settings;
  settings.allUsbAdapters = stored->value(QStringLiteral("allUsbAdapters"), true).toBool();
  for (const QString& port : stored->value(QStringLiteral("ports")).toStringList()) {
    settings.ports.push_back(port.toStdString());
  }
  settings.network = stored->value(QStringLiteral("network"), NetworkWorking).toInt();
  settings.start = stored->value(QStringLiteral("start"), 1).toInt();
  if (const int count = stored->value(QStringLiteral("count"), 0).toInt(); count > 0) settings.count = count;
  settings.registry = stored->value(QStringLiteral("registry")).toString().toStdString();
  Fill(settings);
}

void TFormProduction::SaveSettings(const ProductionSettings& settings) {
  const ProductionSettings kept = RememberedSettings(settings);
  const std::unique_ptr<QSettings> stored = OpenSettings();
  stored->setValue(QStringLiteral("allUsbAdapters"), kept.allUsbAdapters);
  QStringList ports;
  for (const std::string& port : kept.ports) ports << Text(port);
  stored->setValue(QStringLiteral("ports"), ports);
  stored->setValue(QStringLiteral("network"), kept.network);
  stored->setValue(QStringLiteral("start"), kept.start);
  stored->setValue(QStringLiteral("count"), kept.count.value_or(0));
  stored->setValue(QStringLiteral("registry"), Text(kept.registry));
}

bool TFormProduction::Editable() const {
  const RunState state = model_.State();
  return state == RunState::Idle || state == RunState::Finished;
}

void TFormProduction::StartClick() {
  if (!Editable()) return;
  run_.Poll();
  ProductionRunSetup setup;
  setup.settings = Settings();
  offered_ = hooks_.Ports();
  setup.ports = RunPorts(setup.settings, offered_, hooks_.HeldPort());
  setup.journal = hooks_.Journal;
  setup.keyStore = hooks_.KeyStore;
  // A key that is not stored is derived with its progress shown; Cancel stops it.
  QProgressDialog progress(Text(texts::CaptionKeyDerivation), Text(texts::CaptionCancel), 0, KeyDerivationChunks, this);
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  KeyObtainHooks keyHooks;
  keyHooks.progress = [&progress](int chunk) { progress.setValue(chunk); };
  keyHooks.cancelRequested = [&progress] { return progress.wasCanceled(); };
  std::string error;
  const bool started = run_.Start(setup, keyHooks, error);
  progress.reset();
  messagesShown_ = journalShown_ = static_cast<std::size_t>(-1);
  if (!started) {
    hooks_.ShowError(Text(error));
    return;
  }
  SaveSettings(setup.settings);
  Draw();
}

void TFormProduction::StopClick() {
  run_.Stop();
  Draw();
}

void TFormProduction::ReportClick() {
  const QString file = hooks_.ReportFile();
  if (file.isEmpty()) return;
  std::string error;
  if (!WriteStationReport(hooks_.Journal, file.toStdString(), error)) {
    hooks_.ShowError(Text(error));
    return;
  }
  LabelState->setText(Text(texts::ReportWritten) + QLatin1Char(' ') + file);
}

void TFormProduction::DeviceFolderChanged() {
  offered_ = hooks_.Ports();
  if (model_.State() == RunState::Idle || model_.State() == RunState::Finished) {
    FillPortList();
  } else {
    run_.PortsChanged(offered_);
  }
  Draw();
}

void TFormProduction::DrawTiles() {
  const std::vector<PortTile> tiles = model_.Tiles();
  while (tileLabels_.size() < tiles.size()) {
    auto* label = new QLabel(Tiles);
    label->setMinimumSize(170, 64);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    const int index = static_cast<int>(tileLabels_.size());
    tileGrid_->addWidget(label, index / 4, index % 4);
    tileLabels_.push_back(label);
  }
  while (tileLabels_.size() > tiles.size()) {
    delete tileLabels_.back();
    tileLabels_.pop_back();
  }
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    const PortTile& tile = tiles[i];
    QString text = QStringLiteral("<b>%1</b>").arg(Text(tile.port).toHtmlEscaped());
    if (!tile.adapter.empty()) text += QStringLiteral("<br><small>%1</small>").arg(Text(tile.adapter).toHtmlEscaped());
    text += QStringLiteral("<br>%1").arg(Text(tile.Text()).toHtmlEscaped());
    tileLabels_[i]->setText(text);
    tileLabels_[i]->setStyleSheet(
        QStringLiteral("background: %1; border: 1px solid #808080; padding: 4px").arg(QLatin1String(Background(tile.Colour()))));
  }
}

void TFormProduction::Draw() {
  run_.Poll();
  const RunState state = model_.State();
  const bool editable = state == RunState::Idle || state == RunState::Finished;
  for (QWidget* control : std::initializer_list<QWidget*>{CheckBoxAllUsb, ComboBoxNetwork, SpinStart, ComboBoxKey,
                                                          SpinCount, EditRegistry, ButtonStart}) {
    control->setEnabled(editable);
  }
  ListPorts->setEnabled(editable && !CheckBoxAllUsb->isChecked());
  ButtonStop->setEnabled(state == RunState::Running || state == RunState::Stopping);
  ButtonStop->setText(Text(state == RunState::Stopping ? texts::CaptionRunAbandon : texts::CaptionRunStop));
  switch (state) {
    case RunState::Idle: break;
    case RunState::Running: LabelState->setText(Text(texts::RunStateRunning)); break;
    case RunState::Stopping: LabelState->setText(Text(texts::RunStateStopping)); break;
    case RunState::Abandoning: LabelState->setText(Text(texts::RunStateAbandoning)); break;
    case RunState::Finished: LabelState->setText(Text(texts::RunStateFinished)); break;
  }
  const ProductionCounters counters = model_.Counters();
  LabelDone->setText(QString::number(counters.done));
  LabelFailed->setText(QString::number(counters.failed));
  // Before a run, the address the run would begin with.
  if (state == RunState::Idle) {
    LabelNext->setText(EditRegistry->text().trimmed().isEmpty() ? QString::number(SpinStart->value())
                                                                 : Text(texts::NextFromRegistry));
  } else {
    LabelNext->setText(Text(counters.next));
  }
  LabelElapsed->setText(Elapsed(counters.elapsedSeconds));
  LabelPerHour->setText(QString::number(counters.modemsPerHour));
  DrawTiles();
  const std::vector<std::string> lines = model_.JournalLines();
  if (lines.size() != journalShown_) {
    ListJournal->clear();
    for (const std::string& line : lines) ListJournal->addItem(Text(line).trimmed());
    journalShown_ = lines.size();
  }
  std::vector<std::string> messages = run_.Notes();
  const std::vector<std::string> failures = model_.Messages();
  messages.insert(messages.end(), failures.begin(), failures.end());
  if (messages.size() != messagesShown_) {
    QStringList shown;
    for (const std::string& message : messages) shown << Text(message);
    LabelMessages->setText(shown.join(QLatin1Char('\n')));
    messagesShown_ = messages.size();
  }
}

void TFormProduction::closeEvent(QCloseEvent* event) {
  if (!model_.MayCloseWithoutAsking()) {
    if (!hooks_.Ask(Text(texts::ProductionCloseQuestion))) {
      event->ignore();
      return;
    }
    run_.Stop();
    run_.Stop();
    run_.Wait();
  }
  event->accept();
}

}  // namespace vorsal
