#include "protocol/frame.h"
#include "support/fake_exchange_view.h"
#include "support/frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace vorsal;

namespace {

using test::Stamped;

}  // namespace

TEST(Crc24, CheckValueForBothConnectionTypes) {
  const auto* text = reinterpret_cast<const std::uint8_t*>("123456789");
  EXPECT_EQ(ComputeCrc24(text, 9, 0), 0x21CF02u);
  EXPECT_EQ(ComputeCrc24(text, 9, 1), 0xDE30FDu);
  EXPECT_EQ(ComputeCrc24(text, 0, 0), 0xB704CEu);  // init value, nothing absorbed
}

TEST(Crc24, MatchesTheBitwiseDefinitionOnEveryByte) {
  // The table must agree with the register-and-polynomial rule for all inputs.
  for (int first = 0; first < 256; ++first) {
    for (int second : {0x00, 0x5A, 0xFF}) {
      const std::uint8_t data[2] = {static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(second)};
      std::uint32_t r = 0xB704CE;
      for (std::uint8_t b : data) {
        r ^= static_cast<std::uint32_t>(b) << 16;
        for (int i = 0; i < 8; ++i) {
          r <<= 1;
          if (r & 0x1000000) r ^= 0x1864CFB;
        }
      }
      ASSERT_EQ(ComputeCrc24(data, 2, 0), r & 0xFFFFFF) << first << "," << second;
    }
  }
}

TEST(Requests, ByteExactFramesOfBothConnectionTypes) {
  EXPECT_EQ(Stamped(BuildReadParams(), 0), (ModemFrame{0xB0, 0xD1, 0xB6, 0xE2, 0, 0, 0, 0}));
  EXPECT_EQ(Stamped(BuildReadParams(), 1), (ModemFrame{0x4F, 0x2E, 0x49, 0xE2, 0, 0, 0, 0}));
  EXPECT_EQ(Stamped(BuildReadFootprint(), 0), (ModemFrame{0x95, 0x03, 0xE8, 0xE4, 0, 0, 0, 0}));

  const std::uint16_t oldWord = AddressWord(5, NetworkWorking);
  const std::uint16_t newWord = AddressWord(6, NetworkService);
  EXPECT_EQ(oldWord, 0x1005);
  EXPECT_EQ(newWord, 0x0006);
  EXPECT_EQ(Stamped(BuildSetAddress(oldWord, newWord), 0),
            (ModemFrame{0x4B, 0x3F, 0x2D, 0xE0, 0x05, 0x10, 0x06, 0x00}));

  const ModemFrame max = BuildSetAddress(AddressWord(4095, NetworkWorking), 0);
  EXPECT_EQ(max[4], 0xFF);
  EXPECT_EQ(max[5], 0x1F);
}

TEST(Requests, BuildersLeaveTheChecksumBytesZero) {
  std::uint8_t key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(0xA0 + i);
  for (int part = 0; part < KeyPartCount; ++part) {
    const ModemFrame frame = BuildKeyPart(part, key);
    EXPECT_EQ(frame[0] | frame[1] | frame[2], 0);
    EXPECT_EQ(frame[3], 0xE8 + part);
    EXPECT_EQ(0, std::memcmp(frame.data() + 4, key + 4 * part, 4));
  }
  for (const ModemFrame& frame : {BuildReadParams(), BuildReadFootprint(), BuildSetAddress(0x1234, 0x5678)})
    EXPECT_EQ(frame[0] | frame[1] | frame[2], 0);
}

TEST(Checksum, OtherVariantIsRejected) {
  const ModemFrame plain = Stamped(BuildReadParams(), 0);
  const ModemFrame complemented = Stamped(BuildReadParams(), 1);
  EXPECT_TRUE(CheckFrameCrc(plain.data(), 0));
  EXPECT_FALSE(CheckFrameCrc(plain.data(), 1));
  EXPECT_TRUE(CheckFrameCrc(complemented.data(), 1));
  EXPECT_FALSE(CheckFrameCrc(complemented.data(), 0));
  ModemFrame frame = BuildReadParams();
  PutFrameCrc(frame.data(), 1);
  EXPECT_EQ(frame, complemented);

  ModemFrame corrupted = plain;
  corrupted[6] ^= 0x01;
  EXPECT_FALSE(CheckFrameCrc(corrupted.data(), 0));
}

TEST(Replies, DecodeAddressNetworkFirmwareAndFootprint) {
  const ModemFrame working{0, 0, 0, 0xE2, 0x2B, 0x1A, 31, 2};
  const ParamsReply a = DecodeParamsReply(working.data());
  EXPECT_EQ(a.address, 2603);
  EXPECT_FALSE(a.serviceNetwork);
  EXPECT_EQ(a.firmwareMinor, 31);
  EXPECT_EQ(a.firmwareMajor, 2);

  const ModemFrame service{0, 0, 0, 0xE3, 0x2B, 0x0A, 0, 0};
  EXPECT_EQ(DecodeParamsReply(service.data()).address, 2603);
  EXPECT_TRUE(DecodeParamsReply(service.data()).serviceNetwork);

  const ModemFrame echo{0, 0, 0, 0xE0, 0x05, 0x10, 0xFF, 0x1F};
  EXPECT_EQ(DecodeSetAddressReply(echo.data()).address, 4095);
  EXPECT_FALSE(DecodeSetAddressReply(echo.data()).serviceNetwork);

  const ModemFrame footprint{0, 0, 0, 0xE4, 0x01, 0xAB, 0x0C, 0xFF};
  char text[FootprintTextSize];
  std::memset(text, '#', sizeof text);
  const std::string_view shown = FormatFootprint(footprint.data(), text);
  EXPECT_EQ(shown, "FF.0C.AB.01");
  EXPECT_EQ(shown.data(), text);
  EXPECT_STREQ(text, "FF.0C.AB.01");
}

TEST(FrameWindow, SlidesOverNoiseByteByByteAndCutsEachFrameOfItsType) {
  std::vector<std::uint8_t> stream = {0x11, 0x22, 0x33};
  const ModemFrame first = Stamped(BuildReadParams(), 1);
  const ModemFrame second = Stamped(BuildSetAddress(0x1005, 0x0006), 1);
  stream.insert(stream.end(), first.begin(), first.end());
  stream.insert(stream.end(), second.begin(), second.end());

  for (int type : {0, 1}) {
    SCOPED_TRACE(type);
    std::uint8_t window[FrameSize] = {};
    int count = 0;
    std::vector<std::size_t> cutAt;
    std::vector<ModemFrame> frames;
    for (std::size_t i = 0; i < stream.size(); ++i) {
      const bool cut = SlideIntoFrameWindow(window, count, stream[i], type);
      if (cut) {
        cutAt.push_back(i);
        frames.push_back(ModemFrame{});
        std::memcpy(frames.back().data(), window, FrameSize);
        EXPECT_EQ(count, 0);
      } else {
        // Filling up to 7, then held at 7 while the window slides.
        EXPECT_EQ(count, cutAt.empty() ? std::min<int>(i + 1, 7) : std::min<int>(i - cutAt.back(), 7));
      }
    }
    if (type == 1) {
      EXPECT_EQ(cutAt, (std::vector<std::size_t>{10, 18}));
      EXPECT_EQ(frames, (std::vector<ModemFrame>{first, second}));
    } else {
      EXPECT_TRUE(cutAt.empty());
    }
  }
}
