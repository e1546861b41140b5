// The Windows serial device against the simulator's modem on a COM port of
// the Wine prefix ($VORSAL_TEST_PORT, e.g. COM5; run by serial_e2e.sh): an
// exchange through the event wait, a wait stopped from another thread, and a
// purge that aborts a wait without losing the device.
#include "platform/serial_device.h"
#include "protocol/frame.h"

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vorsal::platform {
namespace {

using namespace std::chrono_literals;

// A request with its checksum, as the exchange engine sends it.
ModemFrame Stamped(ModemFrame frame) {
  PutFrameCrc(frame.data(), 0);
  return frame;
}

std::string TestPort() {
  const char* name = std::getenv("VORSAL_TEST_PORT");
  return name != nullptr ? name : "";
}

class SerialDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(TestPort().empty()) << "VORSAL_TEST_PORT names the simulator's COM port";
    ASSERT_EQ(device.Open(SerialDevicePath(TestPort())), 0);
    LineSettings line;
    line.rate = 600;
    ASSERT_EQ(device.Apply(line), 0);
    ASSERT_EQ(device.Purge(true, true), 0);
    DrainUntilQuiet();
  }
  // A reply to an earlier client of the simulator may still be on its way
  // (a loaded machine delays the simulator); each case starts on a line that
  // has stayed silent for 300 ms, so no stale frame is taken for its reply.
  void DrainUntilQuiet() {
    const auto limit = std::chrono::steady_clock::now() + 5s;
    auto quietSince = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - quietSince < 300ms) {
      ASSERT_LT(std::chrono::steady_clock::now(), limit) << "the line never fell silent";
      std::uint8_t buffer[64];
      const int count = device.Read(buffer, sizeof buffer);
      ASSERT_GE(count, 0);
      if (count > 0) quietSince = std::chrono::steady_clock::now();
      Sleep(20);
    }
  }
  void TearDown() override {
    device.StopEvents();
    if (waiter.valid()) waiter.wait();
    device.EndEvents();
  }

  // Waits on another thread until the request has been sent (TxEmpty) and a
  // whole reply read, or the wait reports something else than data; the
  // bytes read are in `received`. (The reply may be read before TxEmpty
  // comes: a pseudo-terminal keeps no baud rate.)
  void CollectReply() {
    waiter = std::async(std::launch::async, [this] {
      std::vector<SerialWakeup> wakeups;
      bool sent = false;
      while (received.size() < FrameSize || !sent) {
        const SerialWakeup wakeup = device.WaitEvents();
        wakeups.push_back(wakeup);
        if (wakeup.stopped || wakeup.lost) break;
        sent = sent || (wakeup.events & SerialWakeup::TxEmpty) != 0;
        std::uint8_t buffer[64];
        const int count = device.Read(buffer, sizeof buffer);
        if (count < 0) break;
        received.insert(received.end(), buffer, buffer + count);
      }
      return wakeups;
    });
  }

  SerialDevice device;
  std::vector<std::uint8_t> received;
  std::future<std::vector<SerialWakeup>> waiter;
};

// A request leaves whole and wakes the waiter with TxEmpty, the reply's
// bytes are read after the wakeups (an RxChar one tells the bytes waiting),
// eight bytes in all with their CRC.
TEST_F(SerialDeviceTest, AnExchangeWakesTheWaiterForTheSentRequestAndTheReply) {
  ASSERT_EQ(device.BeginEvents(true), 0);
  CollectReply();
  const ModemFrame request = Stamped(BuildReadParams());
  ASSERT_EQ(device.Write(request.data(), FrameSize, 5000), FrameSize);
  ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready) << "no reply woke the waiter";
  const std::vector<SerialWakeup> wakeups = waiter.get();
  unsigned events = 0;
  for (const SerialWakeup& wakeup : wakeups) {
    EXPECT_FALSE(wakeup.lost);
    EXPECT_FALSE(wakeup.stopped);
    events |= wakeup.events;
    if ((wakeup.events & SerialWakeup::RxChar) != 0) {
      EXPECT_GT(wakeup.waiting, 0);
    }
  }
  EXPECT_NE(events & SerialWakeup::TxEmpty, 0u);
  ASSERT_EQ(received.size(), static_cast<size_t>(FrameSize));
  EXPECT_EQ(received[3], request[3]);
  EXPECT_TRUE(CheckFrameCrc(received.data(), 0));
}

// A wait blocked on an idle line ends when another thread stops it, and
// every later wait returns at once.
TEST_F(SerialDeviceTest, StopEventsEndsABlockedWaitAndEveryLaterOne) {
  ASSERT_EQ(device.BeginEvents(false), 0);
  auto blocked = std::async(std::launch::async, [this] { return device.WaitEvents(); });
  EXPECT_EQ(blocked.wait_for(300ms), std::future_status::timeout) << "an idle line woke the waiter";
  device.StopEvents();
  ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(blocked.get().stopped);
  EXPECT_TRUE(device.WaitEvents().stopped);
}

// Purging the input under a pending wait (Wine aborts the wait) is no lost
// device: the next reply still wakes the waiter.
TEST_F(SerialDeviceTest, APurgeUnderAPendingWaitLosesNothing) {
  ASSERT_EQ(device.BeginEvents(false), 0);
  CollectReply();
  EXPECT_EQ(waiter.wait_for(300ms), std::future_status::timeout);
  ASSERT_EQ(device.Purge(false, true), 0);
  const ModemFrame request = Stamped(BuildReadFootprint());
  ASSERT_EQ(device.Write(request.data(), FrameSize, 5000), FrameSize);
  ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready) << "no reply woke the waiter";
  for (const SerialWakeup& wakeup : waiter.get()) EXPECT_FALSE(wakeup.lost || wakeup.stopped);
  ASSERT_EQ(received.size(), static_cast<size_t>(FrameSize));
  EXPECT_EQ(received[3], request[3]);
}

}  // namespace
}  // namespace vorsal::platform
