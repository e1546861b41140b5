// The key transfer's acknowledgement wait, as both clients run it: how long
// a part is awaited, and that a closed port ends the wait.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/key_transfer.h"
#include "support/fake_exchange_view.h"

using namespace vorsal;
using namespace vorsal::testing;

namespace {

struct KeyTransferRule : ::testing::Test {
  EngineRig rig;
  const std::uint8_t key[32] = {};
  std::vector<int> waits;  // the transfer's own pauses
  // Each wait slice lets the gauge's 100 ms tick run once, as the window's
  // message pump does.
  KeyTransferHooks hooks = Hooks();

  KeyTransferHooks Hooks() {
    KeyTransferHooks made;
    made.sleep = [this](int ms) { waits.push_back(ms); };
    made.pump = [this] { rig.engine.TimerGaugeTimer(); };
    return made;
  }
};

}  // namespace

TEST_F(KeyTransferRule, PartIsAwaited61SlicesOf100MsOutlastingTheReplyTimeout) {
  EXPECT_EQ(SendKeyParts(rig.engine, key, hooks), KeyTransferResult::NotAcknowledged);
  EXPECT_EQ(waits, std::vector<int>(61, 100));
  EXPECT_EQ(rig.port.written.size(), 8u);  // the first part only
  // 6.1 s is longer than the 5 s reply time-out: the exchange has already
  // ended as an error when the transfer gives up.
  EXPECT_EQ(rig.engine.ExchangeState, ExchangeError);
}

TEST_F(KeyTransferRule, ClosedPortEndsTheWaitAtOnce) {
  hooks.pump = [this] {
    if (waits.size() == 3) rig.port.connected = false;
  };
  EXPECT_EQ(SendKeyParts(rig.engine, key, hooks), KeyTransferResult::PortClosed);
  EXPECT_EQ(waits.size(), 3u);
}
