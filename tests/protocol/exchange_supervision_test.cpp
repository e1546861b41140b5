// Exchange supervision: sending, the reply gauge, the outcome and the
// handling of each kind of reply.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/exchange_engine.h"
#include "support/fake_exchange_view.h"

using namespace vorsal;
using namespace vorsal::testing;

namespace {

struct Exchange : ::testing::Test {
  EngineRig rig;
  FakeExchangeView& view = rig.view;
  ExchangeEngine& engine = rig.engine;

  void Ticks(int count) {
    for (int i = 0; i < count; ++i) engine.TimerGaugeTimer();
  }
  void Reply(const ModemFrame& frame) { rig.ArriveAndTick(frame); }

  void ExpectWaiting(int progress) {
    EXPECT_EQ(engine.ExchangeState, ExchangeNone);
    EXPECT_EQ(view.gaugeProgress, progress);
    EXPECT_EQ(view.gaugeMaximum, 50);
    EXPECT_EQ(view.gaugeBackground, GaugeColor::Yellow);
    EXPECT_EQ(view.gaugeForeground, GaugeColor::Black);
    EXPECT_TRUE(view.gaugeTimerEnabled);
    EXPECT_EQ(view.status[2], "");
  }
  void ExpectOutcome(bool success, int progress) {
    EXPECT_EQ(engine.ExchangeState, success ? ExchangeOk : ExchangeError);
    EXPECT_EQ(view.gaugeProgress, progress);
    EXPECT_EQ(view.gaugeBackground, GaugeColor::BtnFace);
    EXPECT_EQ(view.gaugeForeground, success ? GaugeColor::Green : GaugeColor::Maroon);
    EXPECT_FALSE(view.gaugeTimerEnabled);
    EXPECT_EQ(view.status[2], success ? "OK" : "Ошибка!");
  }
};

std::vector<std::uint8_t> Bytes(const std::uint8_t* data) { return {data, data + FrameSize}; }

}  // namespace

TEST_F(Exchange, SendFrameStampsWritesStartsTheGaugeThenPauses) {
  engine.FinishExchange(false);  // an earlier failure on display
  bool waitingDuringPause = false;
  ExchangeEngine paused(view, rig.port, [&](int ms) {
    rig.sleeps.push_back(ms);
    waitingDuringPause = rig.port.written.size() == 8 && view.gaugeTimerEnabled;
  });
  paused.ExchangeState = ExchangeError;
  paused.SendFrame(BuildReadParams(), 8);

  const std::vector<std::uint8_t> wire = {0xB0, 0xD1, 0xB6, 0xE2, 0, 0, 0, 0};
  EXPECT_EQ(rig.port.written, wire);
  EXPECT_EQ(Bytes(paused.LastSentFrame), wire);
  EXPECT_EQ(rig.sleeps, std::vector<int>{8});
  EXPECT_TRUE(waitingDuringPause);
  EXPECT_EQ(paused.GaugeTicksLeft, 50);
  EXPECT_EQ(paused.ExchangeState, ExchangeNone);
  EXPECT_EQ(view.gaugeProgress, 0);
  EXPECT_EQ(view.gaugeMaximum, 50);
  EXPECT_EQ(view.gaugeBackground, GaugeColor::Yellow);
  EXPECT_EQ(view.gaugeForeground, GaugeColor::Black);
  EXPECT_TRUE(view.gaugeTimerEnabled);
  EXPECT_EQ(view.status[2], "");

  // No pause asked, none made; the checksum follows the connection type.
  rig.sleeps.clear();
  {
    const ConnectionTypeGuard complemented([] { return 1; });
    paused.SendFrame(BuildReadParams(), 0);
  }
  EXPECT_TRUE(rig.sleeps.empty());
  EXPECT_EQ(Bytes(paused.LastSentFrame), (std::vector<std::uint8_t>{0x4F, 0x2E, 0x49, 0xE2, 0, 0, 0, 0}));
}

TEST_F(Exchange, FailedWritePropagatesAndLeavesGaugeAndStatusAlone) {
  engine.FinishExchange(true);
  view.log.clear();
  rig.port.failWrites = true;
  const ModemFrame request = BuildSetAddress(0x1005, 0x0006);
  EXPECT_THROW(engine.SendFrame(request, 8), FakePortError);

  ModemFrame stamped = request;
  PutFrameCrc(stamped.data());
  EXPECT_EQ(Bytes(engine.LastSentFrame), Bytes(stamped.data()));
  EXPECT_EQ(engine.ExchangeState, ExchangeNone);
  EXPECT_EQ(view.status[2], "OK");
  EXPECT_TRUE(view.log.empty());
  EXPECT_TRUE(rig.sleeps.empty());
}

TEST_F(Exchange, GaugeShowsWhenTheReplyCameOrFailsOnTheFiftiethTick) {
  // Before the first tick: a visible 5/50 bar.
  engine.SendFrame(BuildReadFootprint(), 8);
  Reply(ValidReply(CmdReadFootprint, 1, 2, 3, 4));
  ExpectOutcome(true, 5);

  // After 2 s: stopped at 20/50; later ticks change nothing.
  engine.SendFrame(BuildReadFootprint(), 8);
  Ticks(20);
  ExpectWaiting(20);
  Reply(ValidReply(CmdReadFootprint, 1, 2, 3, 4));
  ExpectOutcome(true, 20);

  // A new request restarts the supervision from zero.
  engine.SendFrame(BuildReadFootprint(), 8);
  Ticks(30);
  engine.SendFrame(BuildReadFootprint(), 8);
  ExpectWaiting(0);
  Ticks(49);
  ExpectWaiting(49);
  Ticks(1);
  ExpectOutcome(false, 50);

  // A late reply still turns the outcome into success, bar left full.
  Reply(ValidReply(CmdReadFootprint, 1, 2, 3, 4));
  ExpectOutcome(true, 50);
}

TEST_F(Exchange, WrongEchoIsIgnoredAndTheExchangeTimesOut) {
  engine.SendFrame(BuildSetAddress(0x1005, 0x0006), 8);
  view.log.clear();
  Reply(ValidReply(CmdSetAddress, 0x05, 0x10, 0x07, 0x00));
  Reply(ValidReply(0xE1, 0x05, 0x10, 0x06, 0x00));  // unknown commands are ignored too
  Reply(ValidReply(0xF0));
  EXPECT_EQ(view.Logged("status 0").size(), 3u);  // all three were dispatched
  EXPECT_EQ(view.log.size(), 3u);                 // and did nothing else
  Ticks(49);
  ExpectWaiting(49);
  Ticks(1);
  ExpectOutcome(false, 50);
}

TEST_F(Exchange, UnsolicitedParamsReplyFillsTheDisplays) {
  view.gaugeMaximum = 50;
  view.gaugeProgress = 50;
  engine.InitGauge();  // maximum 100, white background, black bar, empty
  EXPECT_EQ(view.log[1], "colors White Black");
  Reply(ValidReply(CmdReadParams, 0x2B, 0x1A, 29, 8));
  EXPECT_EQ(view.addressText, "2603");
  EXPECT_EQ(view.serviceNetwork, false);
  EXPECT_EQ(view.versionText, "8.29 -- 'Ирвен-4/Л (MSP430F2616)'");
  EXPECT_TRUE(view.middlePanelShown);
  EXPECT_FALSE(view.keyPanelShown);
  // The idle gauge (maximum 100) gets its tenth.
  EXPECT_EQ(view.gaugeMaximum, 100);
  ExpectOutcome(true, 10);
  // Network, address, version, panels, then the outcome.
  EXPECT_EQ(view.log[4], "network working");
  EXPECT_EQ(view.log[5], "address 2603");
  EXPECT_EQ(view.log[7], "panels middle");
  EXPECT_EQ(view.log[8], "colors BtnFace Green");
}

TEST_F(Exchange, ParamsReplyVersionNetworkAndKeyPanel) {
  struct Case {
    std::uint8_t command, d4, d5, minor, major;
    const char* address;
    const char* version;
    bool service, keyPanel;
  };
  const Case cases[] = {
      {CmdReadParamsAlt, 0x2B, 0x0A, 30, 9, "2603", "9.30", true, true},
      {CmdReadParams, 0x00, 0x0A, 31, 2, "2560", "2.31 -- 'Ирвен-2 (MSP430F155)'", true, true},
      {CmdReadParams, 0xFF, 0xFF, 5, 0, "4095", "0.5 -- 'не поддерживается'", false, false},
      {CmdReadParams, 0x2B, 0x10, 40, 12, "43", "12.40", false, true},
      {CmdReadParamsAlt, 0x00, 0x00, 255, 255, "0", "255.255", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    Reply(ValidReply(c.command, c.d4, c.d5, c.minor, c.major));
    EXPECT_EQ(view.addressText, c.address);
    EXPECT_EQ(view.versionText, c.version);
    EXPECT_EQ(view.serviceNetwork, c.service);
    EXPECT_EQ(view.keyPanelShown, c.keyPanel);
  }
}

TEST_F(Exchange, SetAddressReplyShowsTheNewAddressAndStepsTheInput) {
  struct Case {
    std::uint16_t oldWord, newWord;
    bool autoIncrement;
    int inputBefore;
    const char* address;
    bool service;
    int inputAfter;
  };
  const Case cases[] = {
      {AddressWord(5, NetworkWorking), AddressWord(6, NetworkService), true, 6, "6", true, 7},
      // The input holds its bounds: 4095 stays 4095.
      {AddressWord(6, NetworkService), AddressWord(4095, NetworkWorking), true, 4095, "4095", false, 4095},
      {AddressWord(4095, NetworkWorking), AddressWord(1, NetworkService), false, 9, "1", true, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    view.autoIncrement = c.autoIncrement;
    view.newAddress = c.inputBefore;
    const ModemFrame request = BuildSetAddress(c.oldWord, c.newWord);
    engine.SendFrame(request, 8);
    Reply(ValidReply(CmdSetAddress, request[4], request[5], request[6], request[7]));
    EXPECT_EQ(view.addressText, c.address);
    EXPECT_EQ(view.serviceNetwork, c.service);
    EXPECT_EQ(view.newAddress, c.inputAfter);
    ExpectOutcome(true, 5);
  }
}

TEST_F(Exchange, KeyPartAcknowledgementNamesThePartByItsOwnCommand) {
  std::uint8_t key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(i * 7 + 1);
  engine.SendFrame(BuildKeyPart(2, key), 8);
  engine.KeyAckIndex = -2;

  Reply(ValidReply(0xEA, key[8], key[9], key[10], 0x00));  // echo differs
  EXPECT_EQ(engine.KeyAckIndex, -2);
  EXPECT_EQ(engine.ExchangeState, ExchangeNone);

  Reply(ValidReply(0xEA, key[8], key[9], key[10], key[11]));
  EXPECT_EQ(engine.KeyAckIndex, 2);
  ExpectOutcome(true, 5);

  Reply(ValidReply(0xEF, key[8], key[9], key[10], key[11]));
  EXPECT_EQ(engine.KeyAckIndex, 7);
}

TEST_F(Exchange, FootprintReply) {
  Reply(ValidReply(CmdReadFootprint, 0x0A, 0xBC, 0x00, 0xF1));
  EXPECT_EQ(view.footprintText, "F1.00.BC.0A");
  EXPECT_EQ(engine.ExchangeState, ExchangeOk);
}

TEST(StatusBar, PanelsShowPortByteCountAndOutcomeInThatOrder) {
  EngineRig rig;
  rig.port.connected = false;
  rig.engine.ReceivedByteCount = 42;
  rig.engine.ShowStatus();
  EXPECT_EQ(rig.view.log, (std::vector<std::string>{"status 1 COM-порт не открыт!",
                                                     "status 0 " + std::string(ByteCountText) + "42",
                                                     "status 2 "}));
  rig.port.connected = true;
  rig.engine.ShowPortState();
  EXPECT_EQ(rig.view.status[1], "COM-порт открыт.");

  const std::pair<int, const char*> outcomes[] = {{1, "OK"}, {2, "Ошибка!"}, {0, ""}, {7, ""}};
  for (const auto& [state, text] : outcomes) {
    const std::size_t logged = rig.view.log.size();
    rig.engine.SetExchangeState(static_cast<std::uint8_t>(state));
    EXPECT_EQ(rig.view.log.size(), logged);  // storing never redraws
    rig.engine.ShowExchangeState();
    EXPECT_EQ(rig.view.status[2], text) << state;
  }
}
