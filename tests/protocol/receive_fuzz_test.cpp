// Random byte streams with embedded valid frames, delivered in random chunks
// with random events, ticks, short reads and port closes: every embedded
// frame is dispatched exactly once and in order, no byte is lost, and the
// engine's indices stay in range. Meant to run under the sanitizers too.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "protocol/exchange_engine.h"
#include "support/fake_exchange_view.h"
#include "support/frames.h"

using namespace vorsal;
using namespace vorsal::testing;

namespace {

struct Stream {
  std::vector<std::uint8_t> bytes;
  std::vector<std::size_t> frameStarts;
  std::vector<std::string> footprints;  // what each frame shows, in order
};

bool InsideFrame(const Stream& s, std::size_t position) {
  for (std::size_t start : s.frameStarts)
    if (position >= start && position < start + FrameSize) return true;
  return false;
}

// Noise between footprint replies. Noise is nudged until no 8-byte window
// that starts in it passes the checksum, so the embedded frames are the only
// frames the stream holds.
Stream MakeStream(std::mt19937& random, int frames, int maxNoise) {
  Stream s;
  std::uniform_int_distribution<int> byte(0, 255), noise(0, maxNoise);
  for (int f = 0; f < frames; ++f) {
    for (int n = noise(random); n > 0; --n) s.bytes.push_back(static_cast<std::uint8_t>(byte(random)));
    const ModemFrame frame = ValidReply(CmdReadFootprint, byte(random), byte(random), byte(random), byte(random));
    s.frameStarts.push_back(s.bytes.size());
    s.bytes.insert(s.bytes.end(), frame.begin(), frame.end());
    s.footprints.push_back("footprint " + test::FootprintText(frame.data()));
  }
  for (int n = noise(random); n > 0; --n) s.bytes.push_back(static_cast<std::uint8_t>(byte(random)));

  for (std::size_t p = 0; p + FrameSize <= s.bytes.size();) {
    if (!InsideFrame(s, p) && CheckFrameCrc(&s.bytes[p], 0)) {
      ++s.bytes[p];  // the windows that hold this byte are tested again
      p = p >= FrameSize - 1 ? p - (FrameSize - 1) : 0;
    } else {
      ++p;
    }
  }
  return s;
}

void ExpectSound(const ExchangeEngine& engine) {
  ASSERT_GE(engine.RxReadIndex, 0);
  ASSERT_LT(engine.RxReadIndex, RxRingSize);
  ASSERT_GE(engine.RxWriteIndex, 0);
  ASSERT_LT(engine.RxWriteIndex, RxRingSize);
  ASSERT_GE(engine.FrameWindowCount, 0);
  ASSERT_LT(engine.FrameWindowCount, static_cast<int>(FrameSize));
}

}  // namespace

TEST(ReceiveFuzz, EveryEmbeddedFrameIsDispatchedOnceInOrder) {
  for (unsigned seed = 1; seed <= 150; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const Stream stream = MakeStream(random, 1 + seed % 60, seed % 3 == 0 ? 300 : 12);
    EngineRig rig;

    std::uniform_int_distribution<int> chunk(1, 320), action(0, 9), limit(1, 300);
    std::size_t sent = 0;
    while (sent < stream.bytes.size()) {
      const std::size_t size = std::min<std::size_t>(chunk(random), stream.bytes.size() - sent);
      rig.port.Receive(stream.bytes.data() + sent, size);
      sent += size;
      rig.port.readLimit = limit(random);
      const int a = action(random);
      if (a < 5 && rig.port.connected) rig.engine.CommPortRxChar();
      if (a >= 3) rig.engine.TimerRXTimer();
      if (a == 9) rig.port.connected = !rig.port.connected;
      ExpectSound(rig.engine);
    }
    rig.port.connected = true;
    rig.port.readLimit = 1 << 20;
    while (!rig.port.input.empty() || rig.engine.RxReadIndex != rig.engine.RxWriteIndex) {
      rig.engine.CommPortRxChar();
      rig.engine.TimerRXTimer();
    }
    ExpectSound(rig.engine);

    EXPECT_EQ(rig.view.Logged("footprint"), stream.footprints);
    EXPECT_EQ(rig.view.Logged("status 0").size(), stream.footprints.size());
    EXPECT_EQ(rig.engine.ReceivedByteCount, static_cast<int>(stream.bytes.size()));
  }
}

TEST(ReceiveFuzz, PureNoiseNeverBreaksTheEngine) {
  std::mt19937 random(2024);
  std::uniform_int_distribution<int> byte(0, 255), chunk(0, 600);
  EngineRig rig;
  rig.engine.SendFrame(BuildSetAddress(0x1234, 0x5678), 0);
  long total = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint8_t> bytes(chunk(random));
    for (auto& b : bytes) b = static_cast<std::uint8_t>(byte(random));
    total += static_cast<long>(bytes.size());
    rig.ArriveAndTick(bytes);
    rig.engine.TimerGaugeTimer();
    ExpectSound(rig.engine);
  }
  while (!rig.port.input.empty()) rig.ArriveAndTick();
  EXPECT_EQ(rig.engine.ReceivedByteCount, total);
}
