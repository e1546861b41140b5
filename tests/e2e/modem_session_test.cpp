// The main window against the modem simulator over a pseudo-terminal, the
// port chosen from the list as a user would: reading, writing with address
// stepping, the footprint, and the failure paths (silence, noise, a wrong
// echo, the adapter pulled out).
#include "tests/e2e/sim_session_fixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace vorsal::testing {
namespace {

class ModemSessionTest : public SimSessionTest {
 protected:
  // `command` gets `lineBytes` back that do not count as its reply: the
  // exchange stays open and fails at the time-out.
  void ExpectUnacceptedReply(QPushButton* command, int lineBytes) {
    command->click();
    ASSERT_TRUE(AwaitBytes(*form, lineBytes));
    EXPECT_EQ(form->Engine.ExchangeState, ExchangeNone);
    ExpireReply(*form);
    EXPECT_EQ(Result(), QString::fromUtf8("Ошибка!"));
  }
};

TEST_F(ModemSessionTest, ReadWriteWithSteppingAndFootprint) {
  StartModem({"--address", "1", "--firmware", "2.31"});
  Connect();
  EXPECT_EQ(form->ClientHeight(), 176);

  form->ButtonGetAddress->click();
  ASSERT_TRUE(AwaitResult());
  EXPECT_EQ(Result(), "OK");
  EXPECT_EQ(form->LabelAold->text(), "1");
  EXPECT_EQ(form->LabelVersion->text(), QString::fromUtf8("2.31 -- 'Ирвен-2 (MSP430F155)'"));
  EXPECT_TRUE(form->CheckBoxNetIdle->isChecked());
  EXPECT_TRUE(Shown(form->PanelBottom));
  EXPECT_EQ(form->ClientHeight(), 389);
  EXPECT_EQ(form->GaugeTimeout->ForeColor(), QColor(0, 128, 0));
  EXPECT_EQ(form->GaugeTimeout->BackColor(), form->palette().color(QPalette::Button));

  // Two modems' worth of writes: the address steps after each.
  form->SpinEditAnew->setValue(40);
  form->RadioGroupNewNET->SetItemIndex(1);
  form->CheckBoxAutoInc->setChecked(true);
  for (int expected : {40, 41}) {
    form->ButtonSetAddress->click();
    ASSERT_TRUE(AwaitResult());
    EXPECT_EQ(Result(), "OK");
    EXPECT_EQ(form->LabelAold->text(), QString::number(expected));
    EXPECT_TRUE(form->CheckBoxNetActive->isChecked());
    EXPECT_EQ(form->SpinEditAnew->value(), expected + 1);
  }

  // The modem keeps what was written.
  form->ButtonGetAddress->click();
  ASSERT_TRUE(AwaitResult());
  EXPECT_EQ(form->LabelAold->text(), "41");
  EXPECT_FALSE(form->CheckBoxNetIdle->isChecked());

  form->ButtonGetFP->click();
  ASSERT_TRUE(AwaitResult());
  EXPECT_EQ(form->LabelFP->text(), "0B.2A.E4.45");
  EXPECT_EQ(form->Engine.ReceivedByteCount, 5 * 8);
  EXPECT_TRUE(recorder.errors.empty());
}

TEST_F(ModemSessionTest, FirmwareWithoutKeysShowsNoKeyPanel) {
  StartModem({"--firmware", "5.29", "--reply-e3", "--network", "1", "--address", "4095"});
  Connect();
  form->ButtonGetAddress->click();
  ASSERT_TRUE(AwaitResult());
  EXPECT_EQ(form->LabelVersion->text(), QString::fromUtf8("5.29 -- 'Ирвен-3 (MSP430F155)'"));
  EXPECT_EQ(form->LabelAold->text(), "4095");
  EXPECT_TRUE(form->CheckBoxNetActive->isChecked());
  EXPECT_TRUE(Shown(form->PanelMiddle));
  EXPECT_FALSE(Shown(form->PanelBottom));
  EXPECT_EQ(form->ClientHeight(), 292);
}

TEST_F(ModemSessionTest, SilentModemFailsAndBlocksTheNextWrite) {
  StartModem({"--drop-every", "2"});
  Connect();
  form->ButtonGetAddress->click();
  ASSERT_TRUE(AwaitResult());
  ASSERT_EQ(form->LabelAold->text(), "1");

  // The second read goes unanswered: failure after the time-out, and the
  // address display no longer holds a number.
  form->ButtonGetAddress->click();
  ExpireReply(*form);
  EXPECT_EQ(Result(), QString::fromUtf8("Ошибка!"));
  EXPECT_EQ(form->GaugeTimeout->ForeColor(), QColor(128, 0, 0));

  form->ButtonSetAddress->click();
  ASSERT_EQ(recorder.errors.size(), 1u);
  EXPECT_EQ(recorder.errors[0].first, QString::fromUtf8("Внимание! Текущие параметры модема неверны!"));

  // Nothing went out for the refused write: the modem's next request after
  // the two reads is the third read.
  form->ButtonGetAddress->click();
  ASSERT_TRUE(AwaitResult());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(NextRequestCommand(), std::optional<int>(CmdReadParams));
}

TEST_F(ModemSessionTest, NoiseAndSplitRepliesAreReassembled) {
  StartModem({"--stray-bytes", "5", "--split-reply", "3:40", "--corrupt-every", "2"});
  Connect();
  form->ButtonGetAddress->click();
  ASSERT_TRUE(AwaitResult());
  EXPECT_EQ(Result(), "OK");
  EXPECT_EQ(form->LabelAold->text(), "1");

  // A spoiled checksum is no reply at all.
  ExpectUnacceptedReply(form->ButtonGetFP, 13);
  EXPECT_EQ(form->LabelFP->text(), "****");

  form->ButtonGetFP->click();
  ASSERT_TRUE(AwaitResult());
  EXPECT_EQ(form->LabelFP->text(), "0B.2A.E4.45");
}

TEST_F(ModemSessionTest, WrongEchoIsNotTakenAsSuccess) {
  StartModem({"--wrong-echo"});
  Connect();
  form->ButtonGetAddress->click();
  ASSERT_TRUE(AwaitResult());
  form->SpinEditAnew->setValue(9);
  form->CheckBoxAutoInc->setChecked(true);

  ExpectUnacceptedReply(form->ButtonSetAddress, 8);
  EXPECT_EQ(form->LabelAold->text(), "1");
  EXPECT_EQ(form->SpinEditAnew->value(), 9);
}

TEST_F(ModemSessionTest, PulledAdapterClosesThePortUntilPickedAgain) {
  StartModem();
  Connect();
  form->ButtonGetAddress->click();
  ASSERT_TRUE(AwaitResult());

  sim.Stop();
  ASSERT_TRUE(WaitUntil([&] { return !port.Connected(); }, true, 10000));
  // Nothing of the lost modem stays on screen, and the loss is told once.
  EXPECT_EQ(form->StatusBar->Panel(1)->text(), Q(PortClosedText));
  EXPECT_FALSE(Shown(form->PanelTop));
  EXPECT_FALSE(Shown(form->PanelBottom));
  EXPECT_EQ(form->LabelAold->text(), "****");
  EXPECT_EQ(form->ComboBoxPortName->currentIndex(), -1);
  EXPECT_EQ(form->ClientHeight(), 150);
  ASSERT_EQ(recorder.errors.size(), 1u);
  recorder.errors.clear();

  // The adapter is back: picking the port again works as before.
  StartModem({"--address", "77"});
  Connect();
  form->ButtonGetAddress->click();
  ASSERT_TRUE(AwaitResult());
  EXPECT_EQ(form->LabelAold->text(), "77");
}

}  // namespace
}  // namespace vorsal::testing
