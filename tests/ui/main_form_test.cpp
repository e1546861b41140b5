// The main window on the offscreen platform: start state, port opening and
// closing, panels and heights, commands, keyboard rules and error boxes.
#include "tests/ui/main_form_fixture.h"

#include "app/identity.h"
#include "tests/support/temp_files.h"
#include "ui/key_transfer_form.h"
#include "window/texts.h"

#include <QCheckBox>
#include <QListWidget>
#include <QGroupBox>
#include <QMessageBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>


#include <memory>

namespace vorsal::testing {
namespace {

// The modem displays in one line: firmware, address, footprint, key box,
// then the service and working network boxes as 0/1.
std::string Displays(const TFormMain& form) {
  return (QStringList{form.LabelVersion->text(), form.LabelAold->text(), form.LabelFP->text(),
                      form.ComboBoxKey->currentText()}
              .join('|') +
          '|' + QChar(form.CheckBoxNetIdle->isChecked() ? '1' : '0') +
          QChar(form.CheckBoxNetActive->isChecked() ? '1' : '0'))
      .toStdString();
}
const std::string ClearedDisplays = "****|****|****||00";

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppTitle = "Vorsal v.3.2";
    AppDir = "/opt/vorsal/";
    recorder.keyNames = {"first key", "second key"};
    form = std::make_unique<TFormMain>(port, recorder.Hooks());
  }
  void TearDown() override {
    form.reset();
    qunsetenv("VORSAL_EXTRA_PORTS");
  }

  // Shows the window and makes it the active one, so focus and keys behave
  // as on a desktop.
  void Activate() { ASSERT_TRUE(ShowActive(*form)); }
  void OpenLine() {
    PickPort(*form, line.SlavePath());
    ASSERT_TRUE(port.Connected());
    recorder.sleeps.clear();
  }
  // A parameters reply: address, network, firmware major.minor.
  void ReadParameters(int address, bool service, int major, int minor) {
    form->ButtonGetAddressClick();
    ASSERT_EQ(line.ReadMaster(8).size(), 8u);
    Deliver(*form, line,
            ValidReply(CmdReadParams, static_cast<std::uint8_t>(address & 0xFF),
                  static_cast<std::uint8_t>((address >> 8) | (service ? 0 : 0x10)), static_cast<std::uint8_t>(minor),
                  static_cast<std::uint8_t>(major)));
  }
  QString Status(int panel) const { return form->StatusBar->Panel(panel)->text(); }
  int Height(std::initializer_list<QWidget*> panels) const {
    int sum = 0;
    for (QWidget* panel : panels) sum += panel->height();
    return sum;
  }

  TComPort port;
  PtyPair line;
  FormRecorder recorder;
  std::unique_ptr<TFormMain> form;
};

TEST_F(MainFormTest, StartsWithTitleOnlyToolStripAndStatus) {
  EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Vorsal v.3.2 []"));
  EXPECT_EQ(form->ClientWidth(), 338);
  EXPECT_EQ(form->ClientHeight(), 150);
  EXPECT_FALSE(Shown(form->PanelTop));
  EXPECT_FALSE(Shown(form->PanelMiddle));
  EXPECT_FALSE(Shown(form->PanelBottom));
  EXPECT_TRUE(Shown(form->PanelTools));
  EXPECT_TRUE(Shown(form->PanelProgressBar));
  EXPECT_TRUE(Shown(form->StatusBar));

  // The port list is empty until first opened; the connection type stays
  // hidden at index 0.
  EXPECT_EQ(form->ComboBoxPortName->count(), 0);
  EXPECT_EQ(form->focusWidget(), form->ComboBoxPortName);
  EXPECT_FALSE(Shown(form->ComboBoxConnType));
  EXPECT_EQ(form->ComboBoxConnType->currentIndex(), 0);

  // Key names listed, key box empty, displays not read yet.
  ASSERT_EQ(form->ComboBoxKey->count(), 2);
  EXPECT_EQ(form->ComboBoxKey->itemText(1), "second key");
  EXPECT_TRUE(form->ComboBoxKey->currentText().isEmpty());
  for (QLabel* display : {form->LabelVersion, form->LabelAold, form->LabelFP}) EXPECT_EQ(display->text(), "****");

  EXPECT_EQ(Status(0), Q(ByteCountText) + "0");
  EXPECT_EQ(Status(1), Q(PortClosedText));
  EXPECT_EQ(Status(2), "");
  EXPECT_TRUE(form->TimerRX->isActive());
  EXPECT_FALSE(form->TimerGauge->isActive());
  EXPECT_EQ(form->SpinEditAnew->minimum(), 0);
  EXPECT_EQ(FormMain, form.get());
}

TEST_F(MainFormTest, PanelsStackInOrderWithHeightSums) {
  OpenLine();
  form->ShowParametersPanels(true);
  form->show();
  QApplication::processEvents();
  const QList<QWidget*> order = {form->PanelTools, form->PanelTop, form->PanelMiddle, form->PanelBottom};
  for (qsizetype i = 1; i < order.size(); ++i) EXPECT_EQ(order[i]->y(), order[i - 1]->geometry().bottom() + 1);
  EXPECT_EQ(form->StatusBar->geometry().bottom() + 1, form->ClientHeight());
  EXPECT_EQ(form->PanelProgressBar->geometry().bottom() + 1, form->StatusBar->y());
  EXPECT_EQ(form->ClientHeight(), 389);

  form->ShowParametersPanels(false);
  EXPECT_EQ(form->ClientHeight(), 292);
  EXPECT_FALSE(Shown(form->PanelBottom));
  EXPECT_EQ(form->ClientWidth(), 338);
}

TEST_F(MainFormTest, OpenShowsCurrentPanelAndResetsEarlierReading) {
  OpenLine();
  EXPECT_EQ(form->windowTitle(), QString::fromStdString("Vorsal v.3.2 [" + line.SlavePath() + "]"));
  EXPECT_EQ(form->ClientHeight(), 176);
  EXPECT_TRUE(Shown(form->PanelTop));
  EXPECT_EQ(Status(1), Q(PortOpenText));

  ReadParameters(300, false, 2, 31);
  ASSERT_EQ(form->LabelAold->text(), "300");
  form->ComboBoxKey->setEditText("typed");

  // Picking the port again closes and reopens it and starts over.
  PickPort(*form, line.SlavePath());
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(recorder.sleeps, (std::vector<int>{8, 500}));
  EXPECT_EQ(form->ClientHeight(), 176);
  EXPECT_FALSE(Shown(form->PanelMiddle));
  EXPECT_FALSE(Shown(form->PanelBottom));
  for (QLabel* display : {form->LabelVersion, form->LabelAold, form->LabelFP}) EXPECT_EQ(display->text(), "****");
  EXPECT_FALSE(form->CheckBoxNetIdle->isChecked());
  EXPECT_FALSE(form->CheckBoxNetActive->isChecked());
  EXPECT_TRUE(form->ComboBoxKey->currentText().isEmpty());
  EXPECT_EQ(form->ComboBoxKey->count(), 2);
}

// The list is made afresh at every opening; the open port stays the choice
// shown, also when the list is closed with Esc.
TEST_F(MainFormTest, PortListRefreshesOnEveryDropDownKeepingTheOpenPort) {
  OpenLine();
  qputenv("VORSAL_EXTRA_PORTS", QByteArray::fromStdString("/tmp/another-port:" + line.SlavePath()));
  ASSERT_TRUE(ShowActive(*form));
  form->ComboBoxPortName->showPopup();
  EXPECT_NE(form->ComboBoxPortName->findText("/tmp/another-port"), -1);
  KeyClick(QApplication::focusWidget(), Qt::Key_Escape);
  form->ComboBoxPortName->hidePopup();
  EXPECT_EQ(form->ComboBoxPortName->currentText(), QString::fromStdString(line.SlavePath()));
  EXPECT_TRUE(port.Connected());
}

// A device node that comes or goes in the device folder makes the list
// afresh while it is closed, keeping the open port shown; an open list is
// left as the user sees it.
TEST(MainFormHotPlugTest, ThePortListFollowsTheDeviceFolder) {
  const test::TempDir devices;
  FormRecorder recorder;
  TFormMainHooks hooks = recorder.Hooks();
  hooks.DeviceFolder = QString::fromStdString(devices.path().string());
  TComPort port;
  PtyPair line;
  TFormMain form(port, hooks);
  PickPort(form, line.SlavePath());
  ASSERT_TRUE(port.Connected());
  const QString plugged = QString::fromStdString((devices / "ttyUSB7").string());
  const auto listed = [&] { return form.ComboBoxPortName->findText(plugged) != -1; };
  ASSERT_FALSE(listed());

  qputenv("VORSAL_EXTRA_PORTS", (line.SlavePath() + ":" + plugged.toStdString()).c_str());
  test::WriteAll(devices / "ttyUSB7", {});
  EXPECT_TRUE(WaitUntil(listed));
  EXPECT_EQ(form.ComboBoxPortName->currentText(), QString::fromStdString(line.SlavePath()));

  qputenv("VORSAL_EXTRA_PORTS", QByteArray::fromStdString(line.SlavePath()));
  std::filesystem::remove(devices / "ttyUSB7");
  EXPECT_TRUE(WaitUntil([&] { return !listed(); }));
  EXPECT_TRUE(port.Connected());
  qunsetenv("VORSAL_EXTRA_PORTS");
}

// One port, one owner: "Производство…" offers every port but the one this
// window holds open.
TEST(MainFormProductionTest, TheProductionWindowLeavesOutThePortTheMainWindowHolds) {
  const test::TempDir dir;
  FormRecorder recorder;
  TFormMainHooks hooks = recorder.Hooks();
  hooks.Production.SettingsFile = QString::fromStdString((dir / "production.ini").string());
  TComPort port;
  PtyPair line;
  TFormMain form(port, hooks);
  PickPort(form, line.SlavePath(), {"/tmp/another-port", line.SlavePath()});
  ASSERT_TRUE(port.Connected());
  ASSERT_EQ(form.MainNFileProduction->text(), Q("Производство…"));
  form.MainNFileProduction->trigger();
  ASSERT_NE(form.FormProduction(), nullptr);
  EXPECT_TRUE(form.FormProduction()->isVisible());
  QStringList offered;
  for (int i = 0; i < form.FormProduction()->ListPorts->count(); ++i) {
    offered << form.FormProduction()->ListPorts->item(i)->data(Qt::UserRole).toString();
  }
  EXPECT_TRUE(offered.contains("/tmp/another-port")) << offered.join(' ').toStdString();
  EXPECT_FALSE(offered.contains(QString::fromStdString(line.SlavePath()))) << offered.join(' ').toStdString();
  qunsetenv("VORSAL_EXTRA_PORTS");
}

TEST_F(MainFormTest, ReadClearsDisplaysBeforeTheRequestLeaves) {
  OpenLine();
  ReadParameters(5, true, 2, 31);
  form->LabelFP->setText("01.02.03.04");
  form->ComboBoxKey->setEditText("name");
  ASSERT_NE(Displays(*form), ClearedDisplays);

  form->ButtonGetAddress->click();
  EXPECT_EQ(line.ReadMaster(8), std::vector<std::uint8_t>(form->Engine.LastSentFrame, form->Engine.LastSentFrame + 8));
  EXPECT_EQ(form->Engine.LastSentFrame[3], CmdReadParams);
  EXPECT_EQ(Displays(*form), ClearedDisplays);
  EXPECT_EQ(form->GaugeTimeout->BackColor(), QColor(255, 255, 0));
  EXPECT_EQ(form->GaugeTimeout->ForeColor(), QColor(0, 0, 0));
  EXPECT_TRUE(form->TimerGauge->isActive());
  // The panels and the height wait for the reply.
  EXPECT_TRUE(Shown(form->PanelBottom));
  EXPECT_EQ(form->ClientHeight(), 389);

  // No reply: the time-out fails the exchange with a full maroon bar.
  ExpireReply(*form);
  EXPECT_EQ(Status(2), QString::fromUtf8("Ошибка!"));
  EXPECT_EQ(form->GaugeTimeout->ForeColor(), QColor(128, 0, 0));
  EXPECT_EQ(form->GaugeTimeout->Progress(), form->GaugeTimeout->MaxValue());
  EXPECT_FALSE(form->TimerGauge->isActive());
}

TEST_F(MainFormTest, FootprintReadResetsOnlyTheFootprint) {
  OpenLine();
  ReadParameters(17, true, 2, 31);
  form->LabelFP->setText("old");
  form->ComboBoxKey->setEditText("kept");

  form->ButtonGetFP->click();
  EXPECT_EQ(form->LabelFP->text(), "****");
  EXPECT_EQ(form->LabelAold->text(), "17");
  EXPECT_EQ(form->ComboBoxKey->currentText(), "kept");
  EXPECT_EQ(line.ReadMaster(8).at(3), CmdReadFootprint);
}

TEST_F(MainFormTest, FailedWriteInReadCommandsEndsInErrorBox) {
  OpenLine();
  ReadParameters(17, true, 2, 31);
  form->LabelFP->setText("01.02.03.04");
  port.Close();

  // The closed port refuses the write; the handler shows the port's message
  // instead of letting the exception out. The displays were reset first.
  const std::string notOpen = EComPort(CEPortNotOpen).what();
  form->ButtonGetAddress->click();
  ASSERT_EQ(recorder.errors.size(), 1u);
  EXPECT_EQ(recorder.errors[0].first.toStdString(), notOpen);
  EXPECT_EQ(Displays(*form), ClearedDisplays);

  form->LabelAold->setText("17");
  form->LabelFP->setText("01.02.03.04");
  form->ButtonGetFP->click();
  ASSERT_EQ(recorder.errors.size(), 2u);
  EXPECT_EQ(recorder.errors[1].first.toStdString(), notOpen);
  EXPECT_EQ(form->LabelFP->text(), "****");
  EXPECT_EQ(form->LabelAold->text(), "17");
}

TEST_F(MainFormTest, NetworkChoiceSetsAddressMinimum) {
  Activate();
  OpenLine();
  ReadParameters(1, true, 2, 31);
  QSpinBox* spin = form->SpinEditAnew;
  spin->setValue(0);
  form->RadioGroupNewNET->Item(1)->click();
  EXPECT_EQ(spin->minimum(), 1);
  EXPECT_EQ(spin->value(), 1);
  form->RadioGroupNewNET->Item(0)->click();
  EXPECT_EQ(spin->minimum(), 0);
  EXPECT_EQ(spin->value(), 1);
  EXPECT_EQ(spin->maximum(), 4095);

  // Typing 0 for the working network is pulled back when focus leaves.
  form->RadioGroupNewNET->Item(1)->click();
  spin->setFocus();
  spin->selectAll();
  KeyClick(spin, Qt::Key_0, Qt::NoModifier, "0");
  form->ButtonSetAddress->setFocus();
  EXPECT_EQ(spin->value(), 1);
  EXPECT_EQ(spin->text(), "1");

  // Read before focus leaves: empty text is the minimum.
  spin->setValue(7);
  spin->setFocus();
  spin->selectAll();
  KeyClick(spin, Qt::Key_Backspace);
  EXPECT_EQ(form->NewAddress(), 1);
}

TEST_F(MainFormTest, KeyBoxKeyboardRules) {
  Activate();
  OpenLine();
  ReadParameters(1, true, 2, 31);
  form->ComboBoxKey->setFocus();
  ASSERT_TRUE(form->focusWidget() == form->ComboBoxKey || form->focusWidget() == form->ComboBoxKey->lineEdit());
  QWidget* keyBox = form->focusWidget();

  for (int i = 0; i < 5; ++i) KeyClick(keyBox, Qt::Key_Plus, Qt::KeypadModifier, "+");
  const QString text = form->ComboBoxKey->currentText();
  ASSERT_EQ(text.size(), 5);
  for (QChar c : text) EXPECT_TRUE(c.isDigit() || (c.toLatin1() >= 'A' && c.toLatin1() <= 'Z') ||
                                   (c.toLatin1() >= 'a' && c.toLatin1() <= 'z')) << int(c.unicode());
  EXPECT_EQ(form->ComboBoxKey->lineEdit()->cursorPosition(), 5);

  KeyClick(keyBox, Qt::Key_Equal, Qt::NoModifier, "=");
  EXPECT_EQ(form->ComboBoxKey->currentText(), text);
  KeyClick(keyBox, Qt::Key_Plus, Qt::ShiftModifier, "+");
  EXPECT_EQ(form->ComboBoxKey->currentText(), text + "+");
  KeyClick(keyBox, Qt::Key_A, Qt::NoModifier, "a");
  EXPECT_EQ(form->ComboBoxKey->currentText(), text + "+a");

  // Elsewhere the keypad plus key adds nothing to the key box.
  form->SpinEditAnew->setFocus();
  KeyClick(form->focusWidget(), Qt::Key_Plus, Qt::KeypadModifier, "+");
  EXPECT_EQ(form->ComboBoxKey->currentText(), text + "+a");
}

TEST_F(MainFormTest, F1OpensHelpFromAnyControlAndEscapeDoesNothing) {
  Activate();
  OpenLine();
  ReadParameters(1, true, 2, 31);
  test::TempDir appDir;
  AppDir = appDir.path().string() + "/";
  test::WriteAll(appDir / "Vorsal.html", "<html></html>");
  const QString help = QString::fromStdString((appDir / "Vorsal.html").string());
  for (QWidget* control : {static_cast<QWidget*>(form->ComboBoxPortName), static_cast<QWidget*>(form->SpinEditAnew),
                           static_cast<QWidget*>(form->ComboBoxKey), static_cast<QWidget*>(form->ButtonGetAddress)}) {
    control->setFocus();
    KeyClick(form->focusWidget(), Qt::Key_F1);
  }
  EXPECT_EQ(recorder.documents, std::vector<QString>(4, help));
  form->NMainHelpGetHelp->trigger();
  EXPECT_EQ(recorder.documents.size(), 5u);
  // Without a help file the user is told so.
  std::filesystem::remove(appDir / "Vorsal.html");
  KeyClick(form->focusWidget(), Qt::Key_F1);
  EXPECT_EQ(recorder.documents.size(), 5u);
  ASSERT_EQ(recorder.errors.size(), 1u);
  EXPECT_TRUE(recorder.errors[0].first.contains(QStringLiteral("Справка не найдена")));
  recorder.errors.clear();

  KeyClick(form->focusWidget(), Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(recorder.errors.empty());
}

// The desktop's opener finds no program for the guide (no browser, exit
// status 3): the window says so and where the guide is.
TEST(MainFormHelp, NoBrowserForTheGuideIsReported) {
  test::TempDir dir;
  test::WriteAll(dir / "xdg-open", "#!/bin/sh\nexit 3\n");
  std::filesystem::permissions(dir / "xdg-open", std::filesystem::perms::owner_all);
  test::WriteAll(dir / "Vorsal.html", "<html></html>");
  AppDir = dir.path().string() + "/";
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QByteArray::fromStdString(dir.path().string()));
  TComPort port;
  FormRecorder recorder;
  TFormMain form(port, {recorder.Hooks().Sleep, recorder.Hooks().ShowError, {}, recorder.Hooks().KeyNames, {}, {}});
  form.NMainHelpGetHelpClick();
  qputenv("PATH", path);
  ASSERT_TRUE(WaitUntil([&] { return !recorder.errors.empty(); }));
  EXPECT_EQ(recorder.errors[0].first, Q(texts::HelpNotOpened) + "\n\n" + Q((dir / "Vorsal.html").string()));
}

TEST_F(MainFormTest, TabOrderFollowsVisiblePanels) {
  Activate();
  OpenLine();
  ReadParameters(1, true, 2, 31);
  ASSERT_TRUE(Shown(form->PanelBottom));
  // One round of Tab from the port box, as the controls the focus lands on
  // (the key box's line edit stands for the key box).
  const auto round = [&] {
    const auto control = [&](QWidget* focus) -> QWidget* {
      return focus == form->ComboBoxKey->lineEdit() ? form->ComboBoxKey : focus;
    };
    form->ComboBoxPortName->setFocus();
    std::vector<QWidget*> visited = {control(form->focusWidget())};
    for (int presses = 0; presses < 20; ++presses) {
      KeyClick(form->focusWidget(), Qt::Key_Tab);
      QWidget* next = control(form->focusWidget());
      if (next == visited.front()) break;
      visited.push_back(next);
    }
    return visited;
  };
  // The network choice is one tab stop.
  const std::vector<QWidget*> full = {form->ComboBoxPortName, form->SpinEditAnew,      form->CheckBoxAutoInc,
                                      form->RadioGroupNewNET->Item(0), form->ButtonSetAddress, form->ButtonGetFP,
                                      form->ButtonSetKey,     form->ComboBoxKey,       form->ButtonGetAddress};
  EXPECT_EQ(round(), full);

  // Without the key panel its controls are skipped.
  form->ShowParametersPanels(false);
  EXPECT_EQ(round(), (std::vector<QWidget*>{form->ComboBoxPortName, form->SpinEditAnew, form->CheckBoxAutoInc,
                                            form->RadioGroupNewNET->Item(0), form->ButtonSetAddress,
                                            form->ButtonGetAddress}));
}

TEST_F(MainFormTest, StatusBarDoubleClickResetsOnlyTheByteCount) {
  OpenLine();
  ReadParameters(1, true, 2, 31);
  ASSERT_EQ(Status(0), Q(ByteCountText) + "8");
  const QString port = Status(1);
  const QString result = Status(2);
  DoubleClick(form->StatusBar->Panel(1));
  EXPECT_EQ(Status(0), Q(ByteCountText) + "0");
  EXPECT_EQ(form->Engine.ReceivedByteCount, 0);
  EXPECT_EQ(Status(1), port);
  EXPECT_EQ(Status(2), result);
}

TEST_F(MainFormTest, ClosingTheWindowClosesThePortAndWaitsTwice) {
  OpenLine();
  form->show();
  form->MainNFileExit->trigger();
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(recorder.sleeps, std::vector<int>{500});
  form.reset();
  EXPECT_EQ(recorder.sleeps, (std::vector<int>{500, 500}));
  EXPECT_EQ(FormMain, nullptr);
  EXPECT_FALSE(static_cast<bool>(port.OnRxChar));
}

// The caption a desktop platform shows: Qt appends the application display
// name, when one has been set, to every window's own title.
QString PlatformCaption(const QWidget& window) {
  const QString title = window.windowTitle();
  const QString display = QGuiApplication::applicationDisplayName();
  if (display == QCoreApplication::applicationName() || title.endsWith(display)) return title;
  return title + QString::fromUtf8(" — ") + display;
}

TEST_F(MainFormTest, ErrorBoxAndDialogsCarryTheirOwnCaptionsAlone) {
  OpenLine();
  EXPECT_EQ(PlatformCaption(*form), QString::fromStdString("Vorsal v.3.2 [" + line.SlavePath() + "]"));
  const QMessageBox box(QMessageBox::Critical, Q(texts::ErrorBoxTitle), "text", QMessageBox::Ok, form.get());
  EXPECT_EQ(PlatformCaption(box), "Error");
  const TFormKeyTransfer dialog(form.get());
  EXPECT_EQ(PlatformCaption(dialog), Q(texts::CaptionKeyTransfer));
}

void TypeInto(QWidget* receiver, const QString& text) {
  for (const QChar c : text) KeyClick(receiver, static_cast<Qt::Key>(c.toUpper().unicode()), Qt::NoModifier, c);
}

TEST_F(MainFormTest, TypedAddressOutOfRangeIsPulledToTheNearestBound) {
  Activate();
  form->SpinEditAnew->setFocus();
  form->SpinEditAnew->selectAll();
  TypeInto(form->SpinEditAnew, "5000");
  EXPECT_EQ(form->SpinEditAnew->text(), "5000");  // no digit dropped while typing
  TypeInto(form->SpinEditAnew, "a");               // refused
  form->CheckBoxAutoInc->setFocus();
  EXPECT_EQ(form->SpinEditAnew->value(), 4095);

  form->SpinEditAnew->setFocus();
  form->SpinEditAnew->selectAll();
  TypeInto(form->SpinEditAnew, "-7");
  form->CheckBoxAutoInc->setFocus();
  EXPECT_EQ(form->SpinEditAnew->value(), 0);
}

// Every control stays inside its group's frame, below its title; captions
// keep clear of their boxes; every fixed status text fits its panel.
TEST_F(MainFormTest, ControlsStayInsideTheirGroupsAndTextsFit) {
  OpenLine();
  form->ShowParametersPanels(true);
  form->show();
  QApplication::processEvents();
  for (const QGroupBox* group : form->findChildren<QGroupBox*>()) {
    const QRect inside = group->contentsRect();
    for (const QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (child->isHidden() || child->inherits("QLineEdit")) continue;
      EXPECT_TRUE(inside.contains(child->geometry()))
          << group->title().toStdString() << ": " << child->metaObject()->className() << " "
          << child->geometry().x() << "," << child->geometry().y() << " " << child->width() << "x"
          << child->height();
    }
  }
  EXPECT_LT(form->Label5->geometry().right() + 1, form->ComboBoxPortName->x());
  EXPECT_LT(form->Label18->geometry().right() + 1, form->ComboBoxKey->x());
  const auto fits = [&](int panel, std::string_view text) {
    const QLabel* label = form->StatusBar->Panel(panel);
    const int indent = label->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2;
    return label->fontMetrics().horizontalAdvance(Q(text)) <= label->contentsRect().width() - 2 * indent;
  };
  for (std::string_view text : {PortOpenText, PortClosedText}) EXPECT_TRUE(fits(1, text)) << text;
  for (std::string_view text : {ExchangeOkText, ExchangeErrorText}) EXPECT_TRUE(fits(2, text)) << text;
  EXPECT_LE(form->StatusBar->Panel(2)->geometry().right(), form->StatusBar->contentsRect().right());
}


TEST(BarGaugeTest, PaintsBarOverBackground) {
  TBarGauge gauge;
  gauge.resize(100, 7);
  gauge.SetMaxValue(50);
  gauge.SetProgress(20);
  gauge.SetColors(QColor(255, 255, 0), QColor(0, 128, 0));
  const QImage image = gauge.grab().toImage();
  EXPECT_EQ(image.pixelColor(0, 3), QColor(0, 128, 0));
  EXPECT_EQ(image.pixelColor(39, 3), QColor(0, 128, 0));
  EXPECT_EQ(image.pixelColor(40, 3), QColor(255, 255, 0));
  EXPECT_EQ(image.pixelColor(99, 3), QColor(255, 255, 0));

  gauge.SetProgress(80);  // beyond the maximum: full
  EXPECT_EQ(gauge.Progress(), 50);
  EXPECT_EQ(gauge.grab().toImage().pixelColor(99, 3), QColor(0, 128, 0));
  gauge.SetMaxValue(0);
  EXPECT_EQ(gauge.BarWidth(100), 0);
}

}  // namespace
}  // namespace vorsal::testing
