#include "ui/main_form.h"

#include "platform/files.h"
#include "ui/hash_calculate_form.h"
#include "ui/key_transfer_form.h"
#include "window/texts.h"
#include "window/window_metrics.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileSystemWatcher>
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

}  // namespace

TFormMain::TFormMain(TComPort& comPort, TFormMainHooks hooks, QWidget* parent)
    : QMainWindow(parent),
      comPort_(comPort),
      hooks_(std::move(hooks)),
      Model(*this, comPort, hooks_.KeyNames),
      Engine(Model.Engine) {
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

  setWindowTitle(QStringLiteral("Vorsal"));
  setWindowIcon(ProgramIcon());  // the dialogs and boxes, its children, show it too
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  UseWindowFont(*this);

  BuildControls();
  BuildMenu();
  SetTabOrder();
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  // The port's handlers belong to this window until it is destroyed.
  // A failed read is not caught here: it ends the port's event thread, as
  // every handler's failure does; the loss of the device itself still comes
  // once through OnError.
  comPort_.OnRxChar = [this](TCustomComPort*, int) { CommPortRxChar(); };
  comPort_.OnError = [this](TCustomComPort*, TComErrors errors) { Model.PortError(errors); };
  comPort_.SetEventQueue(&eventQueue_);
  qApp->installEventFilter(this);
  FormMain = this;
  FormCreate();
  TimerRX->start();
  // An adapter plugged in or out adds or removes its device node.
  DeviceWatcher = new QFileSystemWatcher(this);
  DeviceWatcher->addPath(hooks_.DeviceFolder.isEmpty() ? QStringLiteral("/dev") : hooks_.DeviceFolder);
  connect(DeviceWatcher, &QFileSystemWatcher::directoryChanged, this, GuardedSlot(&TFormMain::DeviceFolderChanged));
}

TFormMain::~TFormMain() {
  qApp->removeEventFilter(this);
  TimerRX->stop();
  TimerGauge->stop();
  FormDestroy();
  comPort_.SetEventQueue(nullptr);
  comPort_.OnRxChar = nullptr;
  comPort_.OnError = nullptr;
  if (FormMain == this) FormMain = nullptr;
}

void TFormMain::BuildControls() {
  client_ = new QWidget(this);
  setCentralWidget(client_);
  client_->setFixedWidth(WindowClientWidth);
  auto* stack = new QVBoxLayout(client_);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(0);

  // Tool strip: the port choice and the (never shown) connection type.
  PanelTools = MakePanel(client_, DesignedPanelHeight(WindowPanel::Tools), QFrame::Panel, QFrame::Raised);
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
  PanelTop = MakePanel(client_, DesignedPanelHeight(WindowPanel::Top), QFrame::NoFrame);
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
  PanelMiddle = MakePanel(client_, DesignedPanelHeight(WindowPanel::Middle), QFrame::NoFrame);
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
  PanelBottom = MakePanel(client_, DesignedPanelHeight(WindowPanel::Bottom), QFrame::NoFrame);
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
  PanelProgressBar = MakePanel(client_, DesignedPanelHeight(WindowPanel::ProgressBar), QFrame::Panel, QFrame::Sunken);
  PanelProgressBar->setLineWidth(1);
  auto* gaugeLayout = new QVBoxLayout(PanelProgressBar);
  gaugeLayout->setContentsMargins(1, 1, 1, 1);
  GaugeTimeout = new TBarGauge(PanelProgressBar);
  gaugeLayout->addWidget(GaugeTimeout);
  StatusBar = new TPanelStatusBar(StatusPanelWidths, client_);
  StatusBar->setFixedHeight(DesignedPanelHeight(WindowPanel::StatusBar));
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
  MainNFileProduction = NMainFile->addAction(Text(texts::MenuFileProduction));
  connect(MainNFileProduction, &QAction::triggered, this, GuardedSlot(&TFormMain::MainNFileProductionClick));
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
  Model.Create();
  ComboBoxPortName->setFocus();
}

void TFormMain::closeEvent(QCloseEvent* event) {
  // A production run asks first; the program ends only when it may.
  if (formProduction_ != nullptr && formProduction_->isVisible() && !formProduction_->close()) {
    event->ignore();
    return;
  }
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

void TFormMain::FormClose() { Model.Close(); }

void TFormMain::FormDestroy() {
  Guarded([this] { Model.Close(); });
}

void TFormMain::MainNFileExitClick() { close(); }

// ---------------------------------------------------------------------------
// The user's events, handed to the model.

void TFormMain::MainNFileProductionClick() {
  if (formProduction_ == nullptr) {
    TFormProductionHooks hooks = hooks_.Production;
    // One port, one owner: the port this window holds open is not offered.
    if (!hooks.HeldPort) hooks.HeldPort = [this] {
        return comPort_.Connected() ? ComPortDevicePath(comPort_.Port()) : std::string();
      };
    if (hooks.KeyStore.empty()) hooks.KeyStore = Model.KeyFile();
    if (hooks.DeviceFolder.isEmpty()) hooks.DeviceFolder = hooks_.DeviceFolder;
    if (!hooks.KeyNames && hooks_.KeyNames) hooks.KeyNames = hooks_.KeyNames;
    formProduction_ = new TFormProduction(std::move(hooks), this);
    formProduction_->setWindowIcon(windowIcon());
  }
  formProduction_->show();
  formProduction_->raise();
  formProduction_->activateWindow();
}

void TFormMain::OpenProduction(const ProductionOptions& options) {
  MainNFileProductionClick();
  TFormProduction& production = *formProduction_;
  ProductionSettings settings = production.Settings();
  ApplyProductionOptions(options, settings);
  production.Fill(settings);
  if (!options.journal.empty()) production.SetJournal(platform::PathFromUtf8(options.journal));
  if (options.run) QTimer::singleShot(0, &production, [&production] { production.StartClick(); });
}

void TFormMain::ComboBoxPortNameDropDown() { Model.PortListDropDown(); }
void TFormMain::DeviceFolderChanged() {
  if (!ComboBoxPortName->view()->isVisible()) Model.PortListDropDown();
}
void TFormMain::ComboBoxPortNameSelect() { Model.PortSelected(ComboBoxPortName->currentText().toStdString()); }
void TFormMain::ComboBoxConnTypeSelect() {
  Model.ConnectionTypeSelected(ComboBoxConnType->currentIndex(), ComboBoxPortName->currentText().toStdString());
}
void TFormMain::StatusBarDblClick() { Model.StatusBarDblClick(); }
void TFormMain::ButtonGetAddressClick() { Model.ReadParamsClick(); }
void TFormMain::ButtonSetAddressClick() { Model.WriteAddressClick(); }
void TFormMain::RadioGroupNewNETClick() { Model.NewNetworkClick(); }
void TFormMain::ButtonGetFootprintClick() { Model.ReadFootprintClick(); }
void TFormMain::ButtonSetKeyClick() { Model.WriteKeyClick(); }
void TFormMain::NMainHelpGetHelpClick() { Model.HelpClick(); }
void TFormMain::CommPortRxChar() { Model.PortRxChar(); }
void TFormMain::TimerRXTimer() { Model.ReceiveTick(); }
void TFormMain::TimerGaugeTimer() { Model.GaugeTick(); }

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
  const auto failed = [this, path] { Model.HelpNotOpened(path.toStdString()); };
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

// ---------------------------------------------------------------------------
// Keyboard.

bool TFormMain::KeyBoxActive() const {
  const QWidget* focus = focusWidget();
  return focus != nullptr && (focus == ComboBoxKey || focus == ComboBoxKey->lineEdit());
}

bool TFormMain::FormKeyDown(QKeyEvent* event) {
  const Qt::KeyboardModifiers modifiers = event->modifiers();
  const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
  WindowKey key = WindowKey::Other;
  if (event->key() == Qt::Key_Plus && keypad) key = WindowKey::KeypadPlus;
  if (event->key() == Qt::Key_F1) key = WindowKey::F1;
  if (event->key() == Qt::Key_Equal && !keypad) key = WindowKey::Equal;
  const bool modifierDown = (modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) != 0;
  return Model.KeyDown(key, modifierDown, KeyBoxActive());
}

// Drops every key event still waiting in the queue; the key press being
// handled is dropped by the event filter.
void TFormMain::DiscardPendingKeys() {
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
// Sizes and errors.

int TFormMain::ClientWidth() const { return client_->width(); }
int TFormMain::ClientHeight() const { return client_->height(); }

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
// WindowSurface: drawing what the model says.

void TFormMain::SetTitle(std::string_view title) {
  // Only this window carries the title. An application display name would
  // be appended by the platform to every other window's caption (the error
  // boxes' "Error", the key dialogs' own captions).
  setWindowTitle(Text(title));
}

QWidget* TFormMain::PanelOf(WindowPanel panel) const {
  switch (panel) {
    case WindowPanel::Tools: return PanelTools;
    case WindowPanel::Top: return PanelTop;
    case WindowPanel::Middle: return PanelMiddle;
    case WindowPanel::Bottom: return PanelBottom;
    case WindowPanel::ProgressBar: return PanelProgressBar;
    case WindowPanel::StatusBar: return StatusBar;
  }
  return nullptr;
}

void TFormMain::SetPanelVisible(WindowPanel panel, bool visible) { PanelOf(panel)->setVisible(visible); }
int TFormMain::PanelHeight(WindowPanel panel) const { return PanelOf(panel)->height(); }
void TFormMain::SetClientHeight(int height) { client_->setFixedHeight(height); }

void TFormMain::SetDisplayText(WindowDisplay display, std::string_view text) {
  QLabel* label = display == WindowDisplay::Version ? LabelVersion : display == WindowDisplay::Address ? LabelAold : LabelFP;
  label->setText(Text(text));
}

void TFormMain::SetNetworkBoxes(bool service, bool working) {
  CheckBoxNetIdle->setChecked(service);
  CheckBoxNetActive->setChecked(working);
}

void TFormMain::SetStatusText(StatusPanel panel, std::string_view text) {
  StatusBar->Panel(static_cast<int>(panel))->setText(Text(text));
}

void TFormMain::SetGaugeMaximum(int maximum) { GaugeTimeout->SetMaxValue(maximum); }
void TFormMain::SetGaugeProgress(int progress) { GaugeTimeout->SetProgress(progress); }

QColor TFormMain::ColorOf(GaugeColor color) const {
  const std::optional<Rgb> rgb = GaugeRgb(color);
  return rgb ? QColor(rgb->red, rgb->green, rgb->blue) : palette().color(QPalette::Button);
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

void TFormMain::SetPortList(const std::vector<std::string>& names, int selected) {
  ComboBoxPortName->clear();
  for (const std::string& name : names) ComboBoxPortName->addItem(QString::fromStdString(name));
  ComboBoxPortName->setCurrentIndex(selected);
}

void TFormMain::ClearPortSelection() { ComboBoxPortName->setCurrentIndex(-1); }

void TFormMain::SetKeyList(const std::vector<std::string>& names) {
  ComboBoxKey->clear();
  for (const std::string& name : names) ComboBoxKey->addItem(Text(name));
}

void TFormMain::AddKeyName(std::string_view name) { ComboBoxKey->addItem(Text(name)); }

void TFormMain::SetKeyText(std::string_view text) {
  const QString shown = Text(text);
  ComboBoxKey->setEditText(shown);
  ComboBoxKey->lineEdit()->setCursorPosition(static_cast<int>(shown.size()));
  ComboBoxKey->lineEdit()->deselect();
}

void TFormMain::ClearKeyBox() {
  ComboBoxKey->setCurrentIndex(-1);
  ComboBoxKey->setEditText(QString());
}

void TFormMain::SetNewAddressRange(int minimum, int maximum) { SpinEditAnew->setRange(minimum, maximum); }
void TFormMain::SetNewAddress(int value) { SpinEditAnew->setValue(value); }

std::string TFormMain::KeyText() const { return ComboBoxKey->currentText().toStdString(); }
std::string TFormMain::NewAddressText() const { return SpinEditAnew->cleanText().toStdString(); }
int TFormMain::NewNetworkIndex() const { return RadioGroupNewNET->ItemIndex(); }
bool TFormMain::AutoIncrement() const { return CheckBoxAutoInc->isChecked(); }

void TFormMain::ShowError(std::string_view text, std::string_view detail) { ShowError(Text(text), Text(detail)); }

void TFormMain::SetBusyCursor(bool busy) {
  if (busy) {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QGuiApplication::restoreOverrideCursor();
  }
}

void TFormMain::Sleep(int ms) { hooks_.Sleep(ms); }

bool TFormMain::OpenDocument(const std::string& path) { return hooks_.OpenDocument(QString::fromStdString(path)); }

void TFormMain::Post(std::function<void()> call) {
  QMetaObject::invokeMethod(this, [this, call = std::move(call)] { Guarded(call); }, Qt::QueuedConnection);
}

bool TFormMain::KeyDialogsReady() const { return FormHashCalculate != nullptr && FormKeyTransfer != nullptr; }
bool TFormMain::KeyDialogOpen() const { return FormHashCalculate->isVisible() || FormKeyTransfer->isVisible(); }
bool TFormMain::RunKeyComputation() { return FormHashCalculate->exec() == ModalResultOk; }
void TFormMain::RunKeyTransfer() { FormKeyTransfer->exec(); }

void TFormMain::CloseWindow() { QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection); }

}  // namespace vorsal
