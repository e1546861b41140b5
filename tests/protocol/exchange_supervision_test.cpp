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
    EXPECT_TRUE(engine.Awaiting());
    EXPECT_EQ(view.exchangeShown, ExchangeNone);
  }
  void ExpectOutcome(bool success, int progress) {
    EXPECT_EQ(engine.ExchangeState, success ? ExchangeOk : ExchangeError);
    EXPECT_EQ(view.gaugeProgress, progress);
    EXPECT_EQ(view.gaugeBackground, GaugeColor::BtnFace);
    EXPECT_EQ(view.gaugeForeground, success ? GaugeColor::Green : GaugeColor::Maroon);
    EXPECT_FALSE(view.gaugeTimerEnabled);
    EXPECT_FALSE(engine.Awaiting());
    EXPECT_EQ(view.exchangeShown, success ? ExchangeOk : ExchangeError);
  }
};

std::vector<std::uint8_t> Bytes(const std::uint8_t* data) { return {data, data + FrameSize}; }

}  // namespace

TEST_F(Exchange, SendFrameStampsWritesStartsTheGaugeThenPauses) {
  engine.FinishExchange(false);  // an earlier failure on display
  bool waitingDuringPause = false;
  int connectionType = 0;
  ExchangeEngine paused(view, rig.port, [&] { return connectionType; }, &view, [&](int ms) {
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
  EXPECT_EQ(view.exchangeShown, ExchangeNone);

  // No pause asked, none made; the checksum follows the connection type.
  rig.sleeps.clear();
  connectionType = 1;
  paused.SendFrame(BuildReadParams(), 0);
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
  PutFrameCrc(stamped.data(), 0);
  EXPECT_EQ(Bytes(engine.LastSentFrame), Bytes(stamped.data()));
  EXPECT_EQ(engine.ExchangeState, ExchangeNone);
  EXPECT_EQ(view.exchangeShown, ExchangeOk);
  EXPECT_TRUE(view.log.empty());
  EXPECT_TRUE(rig.sleeps.empty());

  // A port that takes part of the frame fails the send the same way.
  rig.port.failWrites = false;
  rig.port.writeLimit = 5;
  try {
    engine.SendFrame(request, 8);
    ADD_FAILURE() << "a short write passed for a sent request";
  } catch (const ShortWrite& e) {
    EXPECT_EQ(e.Written(), 5);
  }
  EXPECT_FALSE(engine.Awaiting());
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

TEST_F(Exchange, UnsolicitedParamsReplyIsReportedAndSucceeds) {
  view.gaugeMaximum = 50;
  view.gaugeProgress = 50;
  engine.InitGauge();  // maximum 100, white background, black bar, empty
  EXPECT_EQ(view.log[1], "colors White Black");
  Reply(ValidReply(CmdReadParams, 0x2B, 0x1A, 29, 8));
  ASSERT_TRUE(view.params.has_value());
  EXPECT_EQ(view.params->address, 2603);
  EXPECT_FALSE(view.params->serviceNetwork);
  EXPECT_FALSE(OffersKeyFunctions(*view.params));
  // The idle gauge (maximum 100) gets its tenth.
  EXPECT_EQ(view.gaugeMaximum, 100);
  ExpectOutcome(true, 10);
  // The reply's values, then the outcome.
  EXPECT_EQ(view.log[4], "params 2603 working 8.29");
  EXPECT_EQ(view.log[5], "colors BtnFace Green");
}

TEST_F(Exchange, EachReplyKindIsReportedAsItsValues) {
  Reply(ValidReply(CmdReadParamsAlt, 0x00, 0x0A, 31, 2));
  Reply(ValidReply(CmdReadParams, 0xFF, 0xFF, 5, 0));
  EXPECT_EQ(view.Logged("params"), (std::vector<std::string>{"params 2560 service 2.31", "params 4095 working 0.5"}));

  const ModemFrame request = BuildSetAddress(AddressWord(5, NetworkWorking), AddressWord(4095, NetworkWorking));
  engine.SendFrame(request, 8);
  Reply(ValidReply(CmdSetAddress, request[4], request[5], request[6], request[7]));
  EXPECT_EQ(view.Logged("address"), std::vector<std::string>{"address 4095 working"});
  ExpectOutcome(true, 5);
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
  EXPECT_EQ(view.keyAcks, (std::vector<int>{2, 7}));
}

TEST_F(Exchange, FootprintReply) {
  Reply(ValidReply(CmdReadFootprint, 0x0A, 0xBC, 0x00, 0xF1));
  EXPECT_EQ(view.Logged("footprint"), std::vector<std::string>{"footprint F1.00.BC.0A"});
  EXPECT_EQ(engine.ExchangeState, ExchangeOk);
}

TEST_F(Exchange, DiscardInputForgetsPartialAndQueuedReplies) {
  const ModemFrame reply = ValidReply(CmdReadFootprint, 1, 2, 3, 4);
  rig.Arrive(std::vector<std::uint8_t>(reply.begin(), reply.begin() + 5));
  rig.port.Receive(reply);
  engine.DiscardInput();
  rig.ArriveAndTick(std::vector<std::uint8_t>(reply.begin() + 5, reply.end()));
  EXPECT_TRUE(view.Logged("footprint").empty());
  EXPECT_TRUE(rig.port.input.empty());
}

TEST(StatusBar, PanelsShowPortByteCountAndOutcomeInThatOrder) {
  EngineRig rig;
  rig.port.connected = false;
  rig.engine.ReceivedByteCount = 42;
  rig.engine.ShowStatus();
  EXPECT_EQ(rig.view.log, (std::vector<std::string>{"status 1 closed", "status 0 42", "status 2 0"}));
  rig.port.connected = true;
  rig.engine.ShowPortState();
  EXPECT_EQ(rig.view.portOpen, true);

  for (const int state : {1, 2, 0}) {
    const std::size_t logged = rig.view.log.size();
    rig.engine.SetExchangeState(static_cast<std::uint8_t>(state));
    EXPECT_EQ(rig.view.log.size(), logged);  // storing never redraws
    rig.engine.ShowExchangeState();
    EXPECT_EQ(rig.view.exchangeShown, state);
  }
}
