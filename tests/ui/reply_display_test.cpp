// What the window shows of each reply the engine reports: the version with
// the platform's name, the address and network, the key panel, the
// footprint and the byte count.
#include "tests/ui/main_form_fixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>

namespace vorsal::testing {
namespace {

struct ReplyDisplayTest : ::testing::Test {
  TComPort port;
  FormRecorder recorder;
  TFormMain form{port, recorder.Hooks()};
};

TEST_F(ReplyDisplayTest, ParametersShowVersionPlatformNetworkAndKeyPanel) {
  struct Case {
    ParamsReply reply;
    const char* version;
    bool keyPanel;
  };
  const Case cases[] = {
      {{2603, true, 30, 9}, "9.30", true},
      {{2560, true, 31, 2}, "2.31 -- 'Ирвен-2 (MSP430F155)'", true},
      {{4095, false, 5, 0}, "0.5 -- 'не поддерживается'", false},
      {{43, false, 29, 8}, "8.29 -- 'Ирвен-4/Л (MSP430F2616)'", false},
      {{0, true, 40, 12}, "12.40", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    form.ParamsRead(c.reply);
    EXPECT_EQ(form.LabelVersion->text(), Q(c.version));
    EXPECT_EQ(form.LabelAold->text(), QString::number(c.reply.address));
    EXPECT_EQ(form.CheckBoxNetIdle->isChecked(), c.reply.serviceNetwork);
    EXPECT_EQ(form.CheckBoxNetActive->isChecked(), !c.reply.serviceNetwork);
    EXPECT_FALSE(form.PanelMiddle->isHidden());
    EXPECT_EQ(form.PanelBottom->isHidden(), !c.keyPanel);
  }
}

TEST_F(ReplyDisplayTest, AWrittenAddressStepsTheInputWithinItsBoundsAndTheFootprintReadsHighByteFirst) {
  form.CheckBoxAutoInc->setChecked(true);
  form.SpinEditAnew->setValue(4095);
  form.AddressWritten({4095, false});
  EXPECT_EQ(form.LabelAold->text(), "4095");
  EXPECT_TRUE(form.CheckBoxNetActive->isChecked());
  EXPECT_EQ(form.SpinEditAnew->value(), 4095);

  form.FootprintRead(KeyFootprint{{0x0A, 0xBC, 0x00, 0xF1}});
  EXPECT_EQ(form.LabelFP->text(), "F1.00.BC.0A");

  form.ShowByteCountPanel(1234);
  const QString count = form.StatusBar->Panel(0)->text();
  EXPECT_EQ(count, Q(" Байт принятo = 1234"));
  EXPECT_EQ(count.at(count.indexOf(" = ") - 1), QChar('o')) << "the Latin o";
}

}  // namespace
}  // namespace vorsal::testing
