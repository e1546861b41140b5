#include "ui/main_form.h"

#include "app/identity.h"
#include "app/program_paths.h"
#include "keys/cp1251.h"
#include "keys/key_derivation.h"
#include "keys/key_store.h"
#include "ui/hash_calculate_form.h"
#include "ui/key_transfer_form.h"
#include "ui/port_failure.h"
#include "ui/texts.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <optional>

namespace vorsal {

namespace {

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }
QString Text(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QFrame* MakePanel(QWidget* parent, int height, QFrame::Shape shape, QFrame::Shadow shadow = QFrame::Plain) {
  auto* panel = new QFrame(parent);
  panel->setFrameShape(shape);
  panel->setFrameShadow(shadow);
  panel->setFixedHeight(height);
  return panel;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int left, int top) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);  // values are shown as they come, never as markup
  label->move(left, top);
  label->adjustSize();
  return label;
}

// Places a control at its designed geometry, widening it when the text of
// the current style would not fit.
template <class W>
W* Place(W* widget, int left, int top, int width, int height) {
  widget->setGeometry(left, top, std::max(width, widget->sizeHint().width()), height);
  return widget;
}

// Left edge for a display that follows `label`: its designed place, or
// further right when the label's text is wider in the current font.
int RightOf(const QLabel* label, int designedLeft) {
  return std::max(designedLeft, label->x() + label->width() + 6);
}

// A value display on its caption's line, reaching to `rightEdge`.
QLabel* MakeDisplay(QWidget* parent, const QLabel* caption, int designedLeft, int rightEdge) {
  QLabel* display = MakeLabel(parent, Text(texts::DesignPlaceholder), RightOf(caption, designedLeft), caption->y());
  display->setFixedWidth(rightEdge - display->x());
  return display;
}

QPushButton* MakeButton(QWidget* parent, const char* caption, int left, int top, int width, int height) {
  auto* button = new QPushButton(Text(caption), parent);
  button->setAutoDefault(false);
  return Place(button, left, top, width, height);
}

QGroupBox* MakeGroup(QWidget* parent, const char* caption, int left, int top, int width, int height) {
  auto* group = new QGroupBox(Text(caption), parent);
  group->setGeometry(left, top, width, height);
  return group;
}

// Keeps every control of a group box inside its frame and below its title,
// whose sizes depend on the style and font: a control is moved in (or, if
// it is larger than the room, shrunk) only as far as needed.
void KeepInsideGroups(QWidget* root) {
  for (QGroupBox* group : root->findChildren<QGroupBox*>()) {
    if (group->layout() != nullptr) continue;  // the layout keeps its items inside
    const QRect inside = group->contentsRect();
    const QList<QWidget*> children = group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    // Where the controls together are taller than the room (a title above
    // the frame takes more of it than one on the frame line), the column is
    // squeezed evenly, so controls that stood apart stay apart.
    QRect all;
    for (const QWidget* child : children) all |= child->geometry();
    const double squeeze = all.height() > inside.height() ? double(inside.height()) / all.height() : 1.0;
    for (QWidget* child : children) {
      QRect g = child->geometry();
      if (squeeze < 1.0) {
        const int top = inside.top() + int((g.top() - all.top()) * squeeze + 0.5);
        const int bottom = inside.top() + int((g.bottom() + 1 - all.top()) * squeeze + 0.5);
        g = QRect(g.left(), top, g.width(), bottom - top);
      }
      g.setWidth(std::min(g.width(), inside.width()));
      g.setHeight(std::min(g.height(), inside.height()));
      g.moveLeft(std::clamp(g.left(), inside.left(), inside.right() + 1 - g.width()));
      g.moveTop(std::clamp(g.top(), inside.top(), inside.bottom() + 1 - g.height()));
      child->setGeometry(g);
    }
  }
}

// A bold font 16 pixels high, for the address display and input.
QFont LargeBold(QFont font) {
  font.setBold(true);
  font.setPixelSize(16);
  return font;
}

// Key-name characters that the keypad plus key appends.
bool IsKeyNameChar(int code) {
  return (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z');
}

}  // namespace

TFormMain::TFormMain(TComPort& comPort, TFormMainHooks hooks, QWidget* parent)
    : QMainWindow(parent),
      Engine(*this, *this, this, [this](int ms) { hooks_.Sleep(ms); }),
      comPort_(comPort),
      hooks_(std::move(hooks)) {
  if (!hooks_.Sleep) hooks_.Sleep = BlockingSleep;
  if (!hooks_.ShowError) {
    hooks_.ShowError = [this](const QString& text, const QString& detail) {
      QMessageBox box(QMessageBox::Critical, Text(texts::ErrorBoxTitle), text, QMessageBox::Ok, this);
      if (!detail.isEmpty()) box.setDetailedText(detail);
      box.exec();
    };
  }
  if (!hooks_.OpenDocument) {
    hooks_.OpenDocument = [this](const QString& path) { return OpenWithDesktop(path); };
  }
  keyFile_ = KeyStorePath();
  if (!hooks_.KeyNames) {
    hooks_.KeyNames = [this] { return KeyStoreNames(keyFile_); };
  }

  setWindowTitle(QStringLiteral("Vorsal"));
  setWindowIcon(ProgramIcon());  // the dialogs and boxes, its children, show it too
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  UseWindowFont(*this);

  BuildControls();
  BuildMenu();
  SetTabOrder();
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  SetConnectionTypeSource([this] { return ComboBoxConnType->currentIndex(); });
  // The port's handlers belong to this window until it is destroyed.
  // A failed read is not caught here: it ends the port's event thread, as
  // every handler's failure does; the loss of the device itself still comes
  // once through OnError.
  comPort_.OnRxChar = [this](TCustomComPort*, int) { CommPortRxChar(); };
  comPort_.OnError = [this](TCustomComPort*, TComErrors errors) { CommPortError(errors); };
  comPort_.SetEventQueue(&eventQueue_);
  qApp->installEventFilter(this);
  FormMain = this;
  Engine.InitGauge();
  FormCreate();
  TimerRX->start();
}

TFormMain::~TFormMain() {
  qApp->removeEventFilter(this);
  TimerRX->stop();
  TimerGauge->stop();
  FormDestroy();
  comPort_.SetEventQueue(nullptr);
  comPort_.OnRxChar = nullptr;
  comPort_.OnError = nullptr;
  SetConnectionTypeSource({});
  if (FormMain == this) FormMain = nullptr;
}

void TFormMain::BuildControls() {
  client_ = new QWidget(this);
  setCentralWidget(client_);
  client_->setFixedWidth(FixedClientWidth);
  auto* stack = new QVBoxLayout(client_);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(0);

  // Tool strip: the port choice and the (never shown) connection type.
  PanelTools = MakePanel(client_, 32, QFrame::Panel, QFrame::Raised);
  Label5 = MakeLabel(PanelTools, Text(texts::CaptionPort), 8, 8);
  ComboBoxPortName = new TDropDownComboBox(PanelTools);
  ComboBoxPortName->setGeometry(RightOf(Label5, 40), 5, 200, 21);
  ComboBoxPortName->setSizeAdjustPolicy(QComboBox::AdjustToContentsOnFirstShow);
  ComboBoxPortName->OnDropDown = GuardedSlot(&TFormMain::ComboBoxPortNameDropDown);
  connect(ComboBoxPortName, &QComboBox::activated, this, GuardedSlot(&TFormMain::ComboBoxPortNameSelect));
  Bevel2 = new QFrame(PanelTools);
  Bevel2->setFrameShape(QFrame::VLine);
  Bevel2->setGeometry(110, 4, 11, 24);
  Bevel2->hide();
  LabelConnType = MakeLabel(PanelTools, Text(texts::CaptionConnType), 116, 8);
  LabelConnType->hide();
  ComboBoxConnType = new QComboBox(PanelTools);
  ComboBoxConnType->addItems({Text(texts::ConnTypeModem), Text(texts::ConnTypeAdapters)});
  ComboBoxConnType->setCurrentIndex(0);
  ComboBoxConnType->setGeometry(156, 5, 161, 21);
  ComboBoxConnType->hide();
  connect(ComboBoxConnType, &QComboBox::activated, this, GuardedSlot(&TFormMain::ComboBoxConnTypeSelect));

  // Current parameters, read-only.
  PanelTop = MakePanel(client_, 116, QFrame::NoFrame);
  GroupBoxCurrentSettings = MakeGroup(PanelTop, texts::CaptionCurrentSettings, 4, 4, 329, 109);
  Label1 = MakeLabel(GroupBoxCurrentSettings, Text(texts::CaptionFirmware), 12, 24);
  LabelVersion = MakeDisplay(GroupBoxCurrentSettings, Label1, 74, 325);
  GroupBoxOldID = MakeGroup(GroupBoxCurrentSettings, texts::CaptionAddress, 8, 44, 89, 53);
  LabelAold = MakeLabel(GroupBoxOldID, Text(texts::NotReadPlaceholder), 12, 20);
  LabelAold->setFont(LargeBold(font()));
  LabelAold->setFixedWidth(89 - 12 - 4);
  QPalette darkGrey = LabelAold->palette();
  darkGrey.setColor(QPalette::WindowText, QColor(64, 64, 64));
  LabelAold->setPalette(darkGrey);
  GroupBox1 = MakeGroup(GroupBoxCurrentSettings, texts::CaptionNetwork, 104, 44, 129, 53);
  CheckBoxNetIdle = Place(new QCheckBox(Text(texts::NetworkServiceName), GroupBox1), 8, 14, 113, 17);
  CheckBoxNetActive = Place(new QCheckBox(Text(texts::NetworkWorkingName), GroupBox1), 8, 30, 113, 17);
  CheckBoxNetIdle->setEnabled(false);
  CheckBoxNetActive->setEnabled(false);
  ButtonGetAddress = MakeButton(GroupBoxCurrentSettings, texts::CaptionRead, 243, 48, 75, 49);
  connect(ButtonGetAddress, &QPushButton::clicked, this, GuardedSlot(&TFormMain::ButtonGetAddressClick));

  // New address and network.
  PanelMiddle = MakePanel(client_, 116, QFrame::NoFrame);
  GroupBoxModemNewAddress = MakeGroup(PanelMiddle, texts::CaptionNewSettings, 4, 4, 329, 105);
  GroupBoxNewID = MakeGroup(GroupBoxModemNewAddress, texts::CaptionAddress, 8, 20, 89, 53);
  SpinEditAnew = new TSpinEdit(GroupBoxNewID);
  SpinEditAnew->setRange(MinAddress, MaxAddress);
  SpinEditAnew->setValue(0);
  SpinEditAnew->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  SpinEditAnew->setFont(LargeBold(font()));
  SpinEditAnew->setGeometry(8, 16, 69, 30);
  RadioGroupNewNET = new TRadioGroup(Text(texts::CaptionNetwork),
                                     {Text(texts::NetworkServiceName), Text(texts::NetworkWorkingName)},
                                     GroupBoxModemNewAddress);
  RadioGroupNewNET->setGeometry(104, 20, 129, 53);
  RadioGroupNewNET->SetItemIndex(0);
  RadioGroupNewNET->OnClick = GuardedSlot(&TFormMain::RadioGroupNewNETClick);
  ButtonSetAddress = MakeButton(GroupBoxModemNewAddress, texts::CaptionWrite, 244, 24, 75, 49);
  connect(ButtonSetAddress, &QPushButton::clicked, this, GuardedSlot(&TFormMain::ButtonSetAddressClick));
  CheckBoxAutoInc = Place(new QCheckBox(Text(texts::CaptionAutoInc), GroupBoxModemNewAddress), 16, 82, 273, 17);

  // Key footprint and key.
  PanelBottom = MakePanel(client_, 97, QFrame::NoFrame);
  GroupBoxSKey = MakeGroup(PanelBottom, texts::CaptionKeyGroup, 4, 4, 329, 85);
  Label7 = MakeLabel(GroupBoxSKey, Text(texts::CaptionFootprint), 12, 20);
  LabelFP = MakeDisplay(GroupBoxSKey, Label7, 80, 228);
  ButtonGetFP = MakeButton(GroupBoxSKey, texts::CaptionRead, 232, 16, 89, 25);
  connect(ButtonGetFP, &QPushButton::clicked, this, GuardedSlot(&TFormMain::ButtonGetFootprintClick));
  Label18 = MakeLabel(GroupBoxSKey, Text(texts::CaptionKey), 12, 54);
  ComboBoxKey = new QComboBox(GroupBoxSKey);
  ComboBoxKey->setEditable(true);
  ComboBoxKey->setInsertPolicy(QComboBox::NoInsert);
  const int keyLeft = RightOf(Label18, 48);
  ComboBoxKey->setGeometry(keyLeft, 50, 225 - keyLeft, 21);
  ButtonSetKey = MakeButton(GroupBoxSKey, texts::CaptionWrite, 232, 48, 89, 25);
  connect(ButtonSetKey, &QPushButton::clicked, this, GuardedSlot(&TFormMain::ButtonSetKeyClick));

  // Reply gauge and status bar, at the bottom edge.
  PanelProgressBar = MakePanel(client_, 9, QFrame::Panel, QFrame::Sunken);
  PanelProgressBar->setLineWidth(1);
  auto* gaugeLayout = new QVBoxLayout(PanelProgressBar);
  gaugeLayout->setContentsMargins(1, 1, 1, 1);
  GaugeTimeout = new TBarGauge(PanelProgressBar);
  gaugeLayout->addWidget(GaugeTimeout);
  StatusBar = new TPanelStatusBar({130, 130, 50}, client_);
  StatusBar->setFixedHeight(19);
  StatusBar->FitPanel(1, {Text(PortOpenText), Text(PortClosedText)});
  StatusBar->FitPanel(2, {Text(ExchangeOkText), Text(ExchangeErrorText)});
  StatusBar->setToolTip(Text(texts::HintStatusBar));
  StatusBar->OnDblClick = GuardedSlot(&TFormMain::StatusBarDblClick);

  stack->addWidget(PanelTools);
  stack->addWidget(PanelTop);
  stack->addWidget(PanelMiddle);
  stack->addWidget(PanelBottom);
  stack->addStretch(1);
  stack->addWidget(PanelProgressBar);
  stack->addWidget(StatusBar);
  PanelTop->hide();
  PanelMiddle->hide();
  PanelBottom->hide();

  KeepInsideGroups(client_);

  TimerRX = new QTimer(this);
  TimerRX->setInterval(100);
  connect(TimerRX, &QTimer::timeout, this, GuardedSlot(&TFormMain::TimerRXTimer));
  TimerGauge = new QTimer(this);
  TimerGauge->setInterval(100);
  connect(TimerGauge, &QTimer::timeout, this, GuardedSlot(&TFormMain::TimerGaugeTimer));
}

void TFormMain::BuildMenu() {
  NMainFile = menuBar()->addMenu(Text(texts::MenuFile));
  MainNFileExit = NMainFile->addAction(Text(texts::MenuFileExit));
  connect(MainNFileExit, &QAction::triggered, this, GuardedSlot(&TFormMain::MainNFileExitClick));
  NMainHelp = menuBar()->addMenu(Text(texts::MenuHelp));
  NMainHelpGetHelp = NMainHelp->addAction(Text(texts::MenuHelpGetHelp));
  connect(NMainHelpGetHelp, &QAction::triggered, this, GuardedSlot(&TFormMain::NMainHelpGetHelpClick));
}

// Tab order: the port box, then the new parameters, the key group, and last
// the current parameters' read button. Hidden controls are skipped.
void TFormMain::SetTabOrder() {
  const QList<QWidget*> order = {ComboBoxPortName, SpinEditAnew, CheckBoxAutoInc, RadioGroupNewNET->Item(0),
                                 RadioGroupNewNET->Item(1), ButtonSetAddress, ButtonGetFP, ButtonSetKey,
                                 ComboBoxKey, ButtonGetAddress};
  for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
  for (QWidget* passive : {static_cast<QWidget*>(CheckBoxNetIdle), static_cast<QWidget*>(CheckBoxNetActive),
                           static_cast<QWidget*>(ComboBoxConnType)}) {
    passive->setFocusPolicy(Qt::NoFocus);
  }
}

// ---------------------------------------------------------------------------
// Creation, closing, destruction.

void TFormMain::FormCreate() {
  RadioGroupNewNETClick();
  Engine.SetExchangeState(0);
  Engine.ShowStatus();
  ShowTitle();
  ComboBoxKey->clear();
  for (const std::string& name : hooks_.KeyNames()) ComboBoxKey->addItem(Text(Cp1251ToUtf8(name)));
  ClearModemDisplays();
  FitClientHeight();
  ComboBoxPortName->setFocus();
  random_.seed(static_cast<std::mt19937::result_type>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count()));
}

void TFormMain::closeEvent(QCloseEvent* event) {
  Guarded(&TFormMain::FormClose);
  event->accept();
}

// Centred on the screen when first shown; a second or further Vorsal window
// of this user is moved down and right by its place in the row, so that none
// hides another (the busy-port message names the window holding the port).
void TFormMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shownBefore_) return;
  shownBefore_ = true;
  CentreOnScreen(*this, windowPlace_.Offset());
}

void TFormMain::FormClose() { CloseModemPort(); }

void TFormMain::FormDestroy() {
  Guarded(&TFormMain::CloseModemPort);
}

void TFormMain::MainNFileExitClick() { close(); }

// ---------------------------------------------------------------------------
// Port choice, opening and closing.

void TFormMain::ComboBoxPortNameDropDown() {
  comPort_.UpdatePortList();
  const auto& ports = comPort_.PortList();
  ComboBoxPortName->clear();
  for (const std::string& port : ports) ComboBoxPortName->addItem(QString::fromStdString(port));
  // The open port stays shown (the list closed with Esc or a click outside
  // must not blank the choice of a port still in use); otherwise nothing is
  // selected until an item is picked.
  ComboBoxPortName->setCurrentIndex(
      comPort_.Connected() ? ComboBoxPortName->findText(QString::fromStdString(comPort_.Port())) : -1);
}

void TFormMain::ComboBoxPortNameSelect() {
  CloseModemPort();
  OpenModemPort();
}

void TFormMain::ComboBoxConnTypeSelect() { ComboBoxPortNameSelect(); }

void TFormMain::OpenModemPort() {
  OverrideCursor hourglass(Qt::WaitCursor);
  bool opened = false;
  QString failure;  // the reason and the advice when the port did not open
  try {
    SetModemLine(comPort_, ComboBoxPortName->currentText().toStdString(), ComboBoxConnType->currentIndex());
    comPort_.Open();
    opened = true;
  } catch (const EComPort& e) {
    failure = DescribePortOpenFailure(comPort_.Port(), e.SystemCode(), e.what());
  } catch (...) {
    failure = CurrentExceptionText();
  }
  if (opened) {
    ++openGeneration_;
    ShowTitle();
    ClearModemDisplays();
  } else {
    QString text = Text(texts::PortOpenFailedPrefix) + QString::fromStdString(comPort_.Port()) + ")";
    if (!failure.isEmpty()) text += "\n\n" + failure;
    ShowError(text);
  }
  ShowPortState(opened);
}

// The panels, height and status bar after an open; without an open port
// (failed or lost) also no port chosen.
void TFormMain::ShowPortState(bool open) {
  if (!open) ComboBoxPortName->setCurrentIndex(-1);
  PanelBottom->hide();
  PanelMiddle->hide();
  PanelTop->setVisible(open);
  FitClientHeight();
  Engine.ReceivedByteCount = 0;
  Engine.SetExchangeState(0);
  Engine.ShowStatus();
}

void TFormMain::CloseModemPort() {
  comPort_.Close();
  Engine.ShowStatus();
  hooks_.Sleep(PortCloseWaitMs);
}

// The port component reports a lost device (adapter unplugged): once the
// report's hand-over has returned (unless the port has been reopened in the
// meantime) the port is closed, the window returns to its state before the
// port was chosen (no reading of the lost modem, no reply awaited, no port in
// the title), and the user is told how to go on.
void TFormMain::CommPortError(unsigned errors) {
  if ((errors & (1u << ceIO)) == 0) return;
  const unsigned generation = openGeneration_;
  QMetaObject::invokeMethod(
      this,
      [this, generation] {
        if (generation != openGeneration_) return;
        const std::string lost = comPort_.Port();
        Guarded(&TFormMain::CloseModemPort);
        // The reply awaited from the lost modem is no longer supervised: its
        // time-out would otherwise fail an exchange that no longer exists.
        Engine.InitGauge();
        ClearModemDisplays();
        ShowPortState(false);
        // No port is chosen any more, so the title names none.
        comPort_.SetPort({});
        ShowTitle();
        ShowError(DescribePortLost(lost));
      },
      Qt::QueuedConnection);
}

void TFormMain::ShowTitle() {
  const QString title = QString::fromStdString(AppTitle) + " [" + QString::fromStdString(comPort_.Port()) + "]";
  // Only this window carries the title. An application display name would
  // be appended by the platform to every other window's caption (the error
  // boxes' "Error", the key dialogs' own captions).
  setWindowTitle(title);
}

void TFormMain::ClearModemDisplays() {
  LabelVersion->setText(Text(texts::NotReadPlaceholder));
  LabelAold->setText(Text(texts::NotReadPlaceholder));
  CheckBoxNetIdle->setChecked(false);
  CheckBoxNetActive->setChecked(false);
  LabelFP->setText(Text(texts::NotReadPlaceholder));
  ComboBoxKey->setCurrentIndex(-1);
  ComboBoxKey->setEditText(QString());
}

void TFormMain::StatusBarDblClick() { Engine.StatusBarDblClick(); }

// ---------------------------------------------------------------------------
// Commands.

void TFormMain::ButtonGetAddressClick() {
  const ModemFrame request = BuildReadParams();
  ClearModemDisplays();
  Engine.SendFrame(request, RequestPauseMs);
}

void TFormMain::ButtonSetAddressClick() {
  QString detail;
  try {
    const int currentNetwork = CheckBoxNetIdle->isChecked() ? NetworkService : NetworkWorking;
    bool isNumber = false;
    const int currentAddress = LabelAold->text().toInt(&isNumber, 10);
    if (isNumber) {
      const int newAddress = NewAddress();
      const int newNetwork = RadioGroupNewNET->ItemIndex();
      const ModemFrame request =
          BuildSetAddress(AddressWord(currentAddress, currentNetwork), AddressWord(newAddress, newNetwork));
      Engine.SendFrame(request, RequestPauseMs);
      return;
    }
  } catch (...) {
    detail = CurrentExceptionText();
  }
  ShowError(Text(texts::CurrentParamsInvalid), detail);
}

void TFormMain::RadioGroupNewNETClick() {
  // QSpinBox raises a value below the new minimum to it and leaves others.
  SpinEditAnew->setMinimum(LowestAddress(RadioGroupNewNET->ItemIndex() == 0 ? NetworkService : NetworkWorking));
}

void TFormMain::ButtonGetFootprintClick() {
  const ModemFrame request = BuildReadFootprint();
  LabelFP->setText(Text(texts::NotReadPlaceholder));
  Engine.SendFrame(request, RequestPauseMs);
}

// Derives (or looks up) the key, then writes it into the modem unless the
// computation was cancelled. A name that Windows-1251 cannot hold is refused
// before either dialog opens: it would hash to another key; so is an empty
// name.
void TFormMain::ButtonSetKeyClick() {
  if (FormHashCalculate == nullptr || FormKeyTransfer == nullptr) return;
  // A key dialog already open is at work on BinaryKey: a second command
  // would zero it under the running one.
  if (FormHashCalculate->isVisible() || FormKeyTransfer->isVisible()) return;
  std::string error;
  const std::optional<std::string> keyName = KeyNameFromUtf8(ComboBoxKey->currentText().toStdString(), &error);
  if (!keyName) {
    ShowError(Text(texts::KeyNameNotCp1251), QString::fromStdString(error));
    return;
  }
  // An empty name would write the all-zero key: a reading that emptied the
  // key box must never turn into a key written into the modem.
  if (keyName->empty()) {
    ShowError(Text(texts::KeyNameEmpty));
    return;
  }
  if (FormHashCalculate->exec() == ModalResultOk) FormKeyTransfer->exec();
}

// Where the desktop's opener (xdg-open) is there, it runs as a child whose
// end is watched: it fails (exit status other than 0) when no program takes
// the document, and then the user is told, as when it cannot start. The
// child is owned by nobody, so that a browser it runs in the foreground
// outlives the window. Without it, Qt's own way is taken.
bool TFormMain::OpenWithDesktop(const QString& path) {
  const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (opener.isEmpty()) return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  auto* process = new QProcess;
  process->setProcessChannelMode(QProcess::ForwardedChannels);
  const auto failed = [this, path] { ShowHelpNotOpened(path); };
  connect(process, &QProcess::finished, this, [process, failed](int code, QProcess::ExitStatus status) {
    process->deleteLater();
    if (status != QProcess::NormalExit || code != 0) failed();
  });
  connect(process, &QProcess::errorOccurred, this, [process, failed](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    process->deleteLater();
    failed();
  });
  process->start(opener, {path});
  return true;
}

void TFormMain::NMainHelpGetHelpClick() {
  const std::filesystem::path help = HelpFilePath();
  if (help.empty()) return ShowError(Text(texts::HelpFileMissing));
  const QString path = QString::fromStdString(help.string());
  // No browser (or none that takes the file): the user is told where the
  // guide is, to open it by hand.
  if (!hooks_.OpenDocument(path)) ShowHelpNotOpened(path);
}

void TFormMain::ShowHelpNotOpened(const QString& path) { ShowError(Text(texts::HelpNotOpened) + "\n\n" + path); }

// ---------------------------------------------------------------------------
// Keyboard.

bool TFormMain::KeyBoxActive() const {
  const QWidget* focus = focusWidget();
  return focus != nullptr && (focus == ComboBoxKey || focus == ComboBoxKey->lineEdit());
}

bool TFormMain::FormKeyDown(QKeyEvent* event) {
  discardCurrentKey_ = false;
  const Qt::KeyboardModifiers modifiers = event->modifiers();
  const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
  switch (event->key()) {
    case Qt::Key_Plus:
      if (keypad && KeyBoxActive()) {
        AppendRandomKeyChar();
        DiscardPendingKeyMessages();
      }
      break;
    case Qt::Key_F1:
      NMainHelpGetHelpClick();
      break;
    case Qt::Key_Equal:
      if (!keypad && !(modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) &&
          KeyBoxActive()) {
        DiscardPendingKeyMessages();
      }
      break;
    default:
      break;
  }
  return discardCurrentKey_;
}

void TFormMain::AppendRandomKeyChar() {
  std::uniform_int_distribution<int> draw(0, 127);
  int code = draw(random_);
  while (!IsKeyNameChar(code)) code = draw(random_);
  const QString text = ComboBoxKey->currentText() + QChar(code);
  ComboBoxKey->setEditText(text);
  ComboBoxKey->lineEdit()->setCursorPosition(static_cast<int>(text.size()));
  ComboBoxKey->lineEdit()->deselect();
}

// Drops the key press being handled (so its character never reaches the
// control) and every key event still waiting in the queue.
void TFormMain::DiscardPendingKeyMessages() {
  discardCurrentKey_ = true;
  QCoreApplication::removePostedEvents(nullptr, QEvent::KeyPress);
  QCoreApplication::removePostedEvents(nullptr, QEvent::KeyRelease);
}

// Sees every key press of this window before its control does. A key event
// that a control ignores travels up through its parents, passing here again;
// only its first receiver (the focused control, or the window) counts.
bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
  QWidget* first = focusWidget() != nullptr ? focusWidget() : this;
  if (watched != first || static_cast<QWidget*>(watched)->window() != this) return false;
  bool discard = false;
  Guarded([&] { discard = FormKeyDown(static_cast<QKeyEvent*>(event)); });
  return discard;
}

// ---------------------------------------------------------------------------
// Receive path and timers: the engine's rules.

void TFormMain::CommPortRxChar() { Engine.CommPortRxChar(); }
void TFormMain::TimerRXTimer() { Engine.TimerRXTimer(); }
void TFormMain::TimerGaugeTimer() { Engine.TimerGaugeTimer(); }

// ---------------------------------------------------------------------------
// Sizes and errors.

int TFormMain::ClientWidth() const { return client_->width(); }
int TFormMain::ClientHeight() const { return client_->height(); }

// The client area holds exactly the shown panels; without the current
// parameters panel it keeps IdleHeightReserve of empty room as well.
void TFormMain::FitClientHeight() {
  int height = PanelTop->isHidden() ? IdleHeightReserve : 0;
  for (const QWidget* panel : std::initializer_list<const QWidget*>{PanelTools, PanelTop, PanelMiddle, PanelBottom,
                                                                     PanelProgressBar, StatusBar}) {
    if (!panel->isHidden()) height += panel->height();
  }
  client_->setFixedHeight(height);
}

void TFormMain::ShowError(const QString& text, const QString& detail) { hooks_.ShowError(text, detail); }

void TFormMain::Guarded(const std::function<void()>& body) {
  try {
    body();
  } catch (...) {
    ShowError(CurrentExceptionText());
  }
}

void TFormMain::Guarded(void (TFormMain::*handler)()) {
  Guarded([this, handler] { (this->*handler)(); });
}

std::function<void()> TFormMain::GuardedSlot(void (TFormMain::*handler)()) {
  return [this, handler] { Guarded(handler); };
}

// ---------------------------------------------------------------------------
// ReplyListener.

void TFormMain::ParamsRead(const ParamsReply& params) {
  SetNetworkBoxes(params.serviceNetwork);
  LabelAold->setText(QString::number(params.address));
  QString version = QString::number(params.firmwareMajor) + "." + QString::number(params.firmwareMinor);
  const std::string_view platform = FirmwarePlatformName(params.firmwareMajor);
  if (!platform.empty()) version += " -- '" + Text(platform) + "'";
  LabelVersion->setText(version);
  ShowParametersPanels(OffersKeyFunctions(params));
}

void TFormMain::AddressWritten(const AddressReply& reply) {
  LabelAold->setText(QString::number(reply.address));
  SetNetworkBoxes(reply.serviceNetwork);
  // The spin edit keeps the value within its bounds (4095 stays).
  if (CheckBoxAutoInc->isChecked()) SetNewAddress(NewAddress() + 1);
}

void TFormMain::FootprintRead(const KeyFootprint& footprint) {
  char text[FootprintTextSize];
  LabelFP->setText(Text(FormatFootprint(footprint, text)));
}

void TFormMain::SetNetworkBoxes(bool serviceNetwork) {
  CheckBoxNetIdle->setChecked(serviceNetwork);
  CheckBoxNetActive->setChecked(!serviceNetwork);
}

// The spin edit's text as typed, even before it loses focus: a number is
// pulled into the range, anything else reads as the minimum.
int TFormMain::NewAddress() const {
  bool isNumber = false;
  const int typed = SpinEditAnew->cleanText().toInt(&isNumber, 10);
  if (!isNumber) return SpinEditAnew->minimum();
  return std::clamp(typed, SpinEditAnew->minimum(), SpinEditAnew->maximum());
}
void TFormMain::SetNewAddress(int value) { SpinEditAnew->setValue(value); }

void TFormMain::ShowParametersPanels(bool keyPanel) {
  PanelMiddle->show();
  PanelBottom->setVisible(keyPanel);
  FitClientHeight();
}

// ---------------------------------------------------------------------------
// SupervisionView.

void TFormMain::SetGaugeMaximum(int maximum) { GaugeTimeout->SetMaxValue(maximum); }
int TFormMain::GaugeMaximum() const { return GaugeTimeout->MaxValue(); }
void TFormMain::SetGaugeProgress(int progress) { GaugeTimeout->SetProgress(progress); }
int TFormMain::GaugeProgress() const { return GaugeTimeout->Progress(); }

QColor TFormMain::ColorOf(GaugeColor color) const {
  switch (color) {
    case GaugeColor::White: return QColor(255, 255, 255);
    case GaugeColor::Black: return QColor(0, 0, 0);
    case GaugeColor::Yellow: return QColor(255, 255, 0);
    case GaugeColor::Green: return QColor(0, 128, 0);
    case GaugeColor::Maroon: return QColor(128, 0, 0);
    case GaugeColor::BtnFace: return palette().color(QPalette::Button);
  }
  return {};
}

void TFormMain::SetGaugeColors(GaugeColor background, GaugeColor foreground) {
  GaugeTimeout->SetColors(ColorOf(background), ColorOf(foreground));
}

void TFormMain::SetGaugeTimerEnabled(bool enabled) {
  if (enabled) {
    TimerGauge->start();
  } else {
    TimerGauge->stop();
  }
}

void TFormMain::ShowByteCountPanel(int count) {
  StatusBar->Panel(0)->setText(Text(ByteCountText) + QString::number(count));
}

void TFormMain::ShowPortPanel(bool open) { StatusBar->Panel(1)->setText(Text(open ? PortOpenText : PortClosedText)); }

void TFormMain::ShowExchangePanel(std::uint8_t state) {
  std::string_view text;
  if (state == ExchangeOk) text = ExchangeOkText;
  if (state == ExchangeError) text = ExchangeErrorText;
  StatusBar->Panel(2)->setText(Text(text));
}

// ---------------------------------------------------------------------------
// ModemPort.

bool TFormMain::Connected() const { return comPort_.Connected(); }
int TFormMain::Read(std::uint8_t* buffer, int count) { return comPort_.Read(buffer, count); }
int TFormMain::Write(const std::uint8_t* buffer, int count) { return comPort_.Write(buffer, count); }

}  // namespace vorsal
