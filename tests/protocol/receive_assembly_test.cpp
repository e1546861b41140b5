// Receive assembly: bytes from the port through the ring and the frame window
// to one dispatch per checksum-valid frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/exchange_engine.h"
#include "support/fake_exchange_view.h"
#include "support/frames.h"

using namespace vorsal;
using namespace vorsal::testing;

namespace {

// Footprint replies make each dispatch visible as one "footprint" log entry.
ModemFrame Footprint(std::uint8_t tag) { return ValidReply(CmdReadFootprint, tag, 0, 0, 0x5A); }
std::string FootprintEntry(std::uint8_t tag) {
  return "footprint " + test::FootprintText(Footprint(tag).data());
}

std::vector<std::string> FootprintEntries(std::initializer_list<int> tags) {
  std::vector<std::string> entries;
  for (int tag : tags) entries.push_back(FootprintEntry(static_cast<std::uint8_t>(tag)));
  return entries;
}

const std::vector<std::uint8_t> Stray = {0x11, 0x22, 0x33};

}  // namespace

TEST(ReceiveAssembly, FramesAreDispatchedAtTheTickInOrderAfterStrayBytes) {
  EngineRig rig;
  rig.Arrive(Stray, Footprint(1), Footprint(2));
  EXPECT_EQ(rig.engine.ReceivedByteCount, 19);  // counted at once
  EXPECT_TRUE(rig.view.log.empty());             // the handler only fills the ring

  rig.engine.TimerRXTimer();
  EXPECT_EQ(rig.view.Logged("footprint"), FootprintEntries({1, 2}));
  EXPECT_EQ(rig.engine.FrameWindowCount, 0);
  EXPECT_EQ(rig.engine.RxReadIndex, rig.engine.RxWriteIndex);
  // Panel 0 is rewritten after each frame, with the whole count.
  EXPECT_EQ(rig.view.Logged("status 0").size(), 2u);
  EXPECT_EQ(rig.view.byteCount, 19);
}

TEST(ReceiveAssembly, FrameSplitAcrossEventsAndTicksIsAssembled) {
  EngineRig rig;
  const ModemFrame frame = Footprint(7);
  rig.ArriveAndTick(std::vector<std::uint8_t>(frame.begin(), frame.begin() + 3));
  EXPECT_TRUE(rig.view.Logged("footprint").empty());
  EXPECT_EQ(rig.engine.FrameWindowCount, 3);

  rig.ArriveAndTick(std::vector<std::uint8_t>(frame.begin() + 3, frame.end()));
  EXPECT_EQ(rig.view.Logged("footprint"), FootprintEntries({7}));
  EXPECT_EQ(rig.engine.FrameWindowCount, 0);
}

TEST(ReceiveAssembly, PartialFrameSurvivesCloseAndReopenAndIsDiscarded) {
  EngineRig rig;
  const ModemFrame stale = Footprint(9);
  rig.ArriveAndTick(std::vector<std::uint8_t>(stale.begin(), stale.begin() + 5));
  rig.port.connected = false;  // closed: nothing is read, nothing is reset
  rig.engine.TimerRXTimer();
  EXPECT_EQ(rig.engine.FrameWindowCount, 5);

  rig.port.connected = true;
  rig.ArriveAndTick(Footprint(3));
  EXPECT_EQ(rig.view.Logged("footprint"), FootprintEntries({3}));
  EXPECT_EQ(rig.engine.FrameWindowCount, 0);
}

TEST(ReceiveAssembly, ByteCountPanelChangesOnlyAfterAFrameOrAReset) {
  EngineRig rig;
  std::vector<std::uint8_t> noise(1234, 0x00);  // never a valid frame
  rig.ArriveAndTick(noise);
  EXPECT_EQ(rig.engine.ReceivedByteCount, 1234);
  EXPECT_TRUE(rig.view.Logged("status 0").empty());

  rig.engine.ShowByteCount();
  EXPECT_EQ(rig.view.byteCount, 1234);

  rig.engine.StatusBarDblClick();
  EXPECT_EQ(rig.engine.ReceivedByteCount, 0);
  EXPECT_EQ(rig.view.byteCount, 0);
}

TEST(ReceiveAssembly, ChecksumVariantIsTheOneInForceAtEachTest) {
  EngineRig rig;
  const ModemFrame plain = Footprint(1);
  rig.connectionType = 1;
  const ModemFrame complemented = ValidReply(CmdReadFootprint, 2, 0, 0, 0x5A, 1);
  rig.ArriveAndTick(plain, complemented);
  rig.connectionType = 0;
  rig.ArriveAndTick(plain, complemented);
  EXPECT_EQ(rig.view.Logged("footprint"), FootprintEntries({2, 1}));
}

// The ring holds 255 unread bytes. Everything beyond that waits in the port
// instead of overwriting unread bytes (which used to empty the whole ring
// when the write index landed on the read index).
TEST(ReceiveOverrun, NoUnreadByteIsOverwrittenAndTheExcessWaitsInThePort) {
  EngineRig rig;
  std::vector<std::uint8_t> stream;
  for (int tag = 0; tag < 37; ++tag) {
    const ModemFrame frame = Footprint(static_cast<std::uint8_t>(tag));
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  rig.port.readLimit = 200;
  rig.Arrive(std::vector<std::uint8_t>(stream.begin(), stream.begin() + 200));
  rig.port.readLimit = 1000;
  rig.Arrive(std::vector<std::uint8_t>(stream.begin() + 200, stream.end()));
  // 200 unread bytes leave room for 55; the other 41 stay queued.
  EXPECT_EQ(rig.port.readRequests, (std::vector<int>{255, 55}));
  EXPECT_EQ(rig.port.input.size(), 41u);
  EXPECT_EQ(rig.engine.ReceivedByteCount, 255);

  // A full ring takes nothing more.
  rig.Arrive(Stray);
  EXPECT_EQ(rig.port.readRequests.size(), 2u);

  // The tick drains the ring and then fetches what the port still holds.
  rig.engine.TimerRXTimer();
  EXPECT_TRUE(rig.port.input.empty());
  EXPECT_EQ(rig.engine.ReceivedByteCount, 296 + 3);
  std::vector<std::string> expected;
  for (int tag = 0; tag < 37; ++tag) expected.push_back(FootprintEntry(static_cast<std::uint8_t>(tag)));
  EXPECT_EQ(rig.view.Logged("footprint"), expected);
  EXPECT_EQ(rig.engine.FrameWindowCount, 3);  // the stray bytes
}

TEST(ReceiveOverrun, TickFetchesLeftoversOnlyFromAnOpenPortAndNeverThrows) {
  EngineRig rig;
  rig.Arrive(std::vector<std::uint8_t>(255, 0x00), Footprint(4));
  ASSERT_EQ(rig.port.input.size(), 8u);

  rig.port.connected = false;
  rig.engine.TimerRXTimer();
  EXPECT_EQ(rig.port.readRequests.size(), 1u);

  // A failing read in the tick leaves the bytes to the next event, which
  // reports the failure to its caller.
  rig.port.connected = true;
  rig.Arrive(std::vector<std::uint8_t>(255, 0x00));
  rig.port.failReads = true;
  EXPECT_NO_THROW(rig.engine.TimerRXTimer());
  EXPECT_THROW(rig.engine.CommPortRxChar(), FakePortError);

  rig.port.failReads = false;
  rig.ArriveAndTick();
  EXPECT_EQ(rig.view.Logged("footprint"), FootprintEntries({4}));
  EXPECT_TRUE(rig.port.input.empty());
}
