#include "sim/modem_model.h"
#include "tests/support/frames.h"

#include <gtest/gtest.h>

#include <random>

using namespace vorsal;
using vorsal::test::Stamped;

namespace {

using Bytes = std::vector<std::uint8_t>;

ModemFrame Request(std::uint8_t command, std::uint8_t d4 = 0, std::uint8_t d5 = 0, std::uint8_t d6 = 0,
                   std::uint8_t d7 = 0, int connectionType = 0) {
  return Stamped(ModemFrame{0, 0, 0, command, d4, d5, d6, d7}, connectionType);
}

ModemFrame SetAddress(std::uint16_t oldWord, std::uint16_t newWord, int connectionType = 0) {
  return Stamped(BuildSetAddress(oldWord, newWord), connectionType);
}

std::vector<ModemOutput> Send(ModemModel& model, const ModemFrame& frame) {
  return model.Feed(frame.data(), frame.size());
}

// The one reply a single request produced, as it reached the line.
Bytes LineOf(ModemModel& model, const ModemFrame& frame) {
  const auto outs = Send(model, frame);
  EXPECT_EQ(outs.size(), 1u);
  return outs.empty() ? Bytes{} : outs[0].LineBytes();
}

// Frames a receiver finds in `line`, cut the program's way.
std::vector<ModemFrame> Received(const Bytes& line, int connectionType = 0, long* skipped = nullptr) {
  FrameCutter cutter(connectionType);
  std::vector<ModemFrame> frames;
  ModemFrame frame;
  for (std::uint8_t b : line)
    if (cutter.Push(b, frame)) frames.push_back(frame);
  if (skipped) *skipped = cutter.SkippedBytes();
  return frames;
}

ModemKey CountingKey() {
  ModemKey key;
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(0xA0 + i);
  return key;
}

}  // namespace

TEST(ModemCommands, ReadParamsReportsAddressNetworkAndFirmware) {
  ModemModel plain;
  const Bytes line = LineOf(plain, Request(CmdReadParams));
  ASSERT_EQ(line.size(), FrameSize);
  EXPECT_TRUE(CheckFrameCrc(line.data(), 0));
  EXPECT_EQ(Bytes(line.begin() + 3, line.end()), (Bytes{0xE2, 0x01, 0x00, 0x1F, 0x02}));  // address 1, 2.31

  ModemOptions options;
  options.address = 2603;
  options.network = NetworkWorking;
  options.firmwareMajor = 12;
  options.firmwareMinor = 40;
  options.replyE3 = true;
  ModemModel custom(options);
  const Bytes reply = LineOf(custom, Request(CmdReadParams));
  EXPECT_EQ(Bytes(reply.begin() + 3, reply.end()), (Bytes{0xE3, 0x2B, 0x1A, 40, 12}));
  const ParamsReply decoded = DecodeParamsReply(reply.data());
  EXPECT_EQ(decoded.address, 2603);
  EXPECT_FALSE(decoded.serviceNetwork);
}

TEST(ModemCommands, SetAddressNeedsTheCurrentWordAndEchoesTheRequest) {
  ModemModel model;  // address 1, service network: word 0x0001
  // Wrong address, then wrong network: silence, nothing changes.
  for (std::uint16_t wrongOld : {std::uint16_t{0x0002}, std::uint16_t{0x1001}}) {
    const auto outs = Send(model, SetAddress(wrongOld, 0x1006));
    ASSERT_EQ(outs.size(), 1u);
    EXPECT_FALSE(outs[0].answered);
    EXPECT_TRUE(outs[0].chunks.empty());
    EXPECT_EQ(model.AddressWord(), 0x0001);
  }

  const ModemFrame request = SetAddress(0x0001, 0x1FFF);
  const Bytes reply = LineOf(model, request);
  ASSERT_EQ(reply.size(), FrameSize);
  EXPECT_TRUE(CheckFrameCrc(reply.data(), 0));
  EXPECT_EQ(reply[3], CmdSetAddress);
  EXPECT_TRUE(EchoMatches(reply.data(), request.data()));
  EXPECT_EQ(model.Address(), 4095);
  EXPECT_EQ(model.Network(), NetworkWorking);

  // The old word now has to name the new address and network.
  EXPECT_FALSE(Send(model, SetAddress(0x0001, 0x0005))[0].answered);
  EXPECT_TRUE(Send(model, SetAddress(0x1FFF, 0x0005))[0].answered);
  const Bytes params = LineOf(model, Request(CmdReadParams));
  EXPECT_EQ(params[4], 0x05);
  EXPECT_EQ(params[5], 0x00);
}

TEST(ModemCommands, KeyPartsAreStoredAndEchoedAndChangeTheFootprint) {
  ModemModel model;
  const Bytes zeroPrint = LineOf(model, Request(CmdReadFootprint));
  ASSERT_EQ(zeroPrint.size(), FrameSize);
  EXPECT_EQ(zeroPrint[3], CmdReadFootprint);
  EXPECT_EQ(test::FootprintText(zeroPrint.data()), "0B.2A.E4.45");  // FNV-1a of 32 zero bytes

  const ModemKey key = CountingKey();
  for (int part = 0; part < KeyPartCount; ++part) {
    const ModemFrame request = Stamped(BuildKeyPart(part, key.data()));
    const Bytes ack = LineOf(model, request);
    ASSERT_EQ(ack.size(), FrameSize) << part;
    EXPECT_EQ(ack[3], CmdKeyPart + part);
    EXPECT_TRUE(EchoMatches(ack.data(), request.data()));
  }
  EXPECT_EQ(model.Key(), key);

  const Bytes print = LineOf(model, Request(CmdReadFootprint));
  const auto expected = ModemFootprint(key.data());
  EXPECT_EQ(Bytes(print.begin() + 4, print.end()), Bytes(expected.begin(), expected.end()));
  EXPECT_NE(print, zeroPrint);
  // Every key byte counts: a change in the last byte changes the footprint.
  ModemKey changed = key;
  changed[31] ^= 1;
  EXPECT_NE(ModemFootprint(changed.data()), expected);
}

TEST(ModemCommands, OtherCommandsAreIgnored) {
  ModemModel model;
  for (std::uint8_t command : {0x00, 0xE1, 0xE3, 0xE5, 0xE7, 0xF0, 0xFF}) {
    const auto outs = Send(model, Request(command, 1, 2, 3, 4));
    ASSERT_EQ(outs.size(), 1u) << int(command);  // cut as a frame...
    EXPECT_FALSE(outs[0].answered) << int(command);  // ...but not answered
    EXPECT_TRUE(outs[0].chunks.empty());
  }
  EXPECT_EQ(model.AddressWord(), 0x0001);
}

TEST(ModemConnectionTypes, EachTypeAnswersOnlyItsOwnChecksumVariant) {
  for (int type : {0, 1}) {
    ModemOptions options;
    options.connectionType = type;
    ModemModel model(options);
    EXPECT_TRUE(Send(model, Request(CmdReadParams, 0, 0, 0, 0, 1 - type)).empty()) << type;
    const Bytes reply = LineOf(model, Request(CmdReadParams, 0, 0, 0, 0, type));
    ASSERT_EQ(reply.size(), FrameSize);
    EXPECT_TRUE(CheckFrameCrc(reply.data(), type));
    EXPECT_FALSE(CheckFrameCrc(reply.data(), 1 - type));
  }
  // The byte-exact request of connection type 1.
  ModemOptions options;
  options.connectionType = 1;
  ModemModel model(options);
  const Bytes request{0x4F, 0x2E, 0x49, 0xE2, 0, 0, 0, 0};
  EXPECT_EQ(model.Feed(request.data(), request.size()).size(), 1u);
}

TEST(ModemResync, GarbageIsSkippedAndTheNextFrameAnswered) {
  ModemModel model;
  const ModemFrame request = Request(CmdReadParams);
  Bytes line{0xE2, 0x00, 0x55};                                     // stray bytes
  line.insert(line.end(), request.begin(), request.begin() + 5);    // a torn frame
  std::mt19937 noise(7);
  for (int i = 0; i < 2000; ++i) line.push_back(static_cast<std::uint8_t>(noise()));
  const std::size_t frameAt = line.size();
  line.insert(line.end(), request.begin(), request.end());
  line.insert(line.end(), request.begin(), request.end());          // two back to back

  // Delivered one byte at a time: the frames still complete across calls.
  std::vector<ModemOutput> outs;
  for (std::size_t i = 0; i < line.size(); ++i) {
    for (auto& out : model.Feed(&line[i], 1)) {
      EXPECT_GE(i, frameAt + FrameSize - 1);
      outs.push_back(std::move(out));
    }
  }
  ASSERT_EQ(outs.size(), 2u);
  EXPECT_TRUE(outs[0].answered && outs[1].answered);

  // A frame split 3 + 5 over two calls.
  EXPECT_TRUE(model.Feed(request.data(), 3).empty());
  EXPECT_EQ(model.Feed(request.data() + 3, 5).size(), 1u);
}

TEST(ModemFaults, DropAndCorruptCountReplies) {
  ModemOptions options;
  options.dropEvery = 3;
  options.corruptEvery = 2;
  ModemModel model(options);
  // Replies 1..6: 3 and 6 dropped (drop wins over corrupt at 6), 2 and 4 corrupted.
  const bool dropped[] = {false, false, true, false, false, true};
  const bool corrupted[] = {false, true, false, true, false, false};
  for (int n = 0; n < 6; ++n) {
    const auto outs = Send(model, Request(CmdReadParams));
    ASSERT_EQ(outs.size(), 1u);
    const ModemOutput& out = outs[0];
    EXPECT_EQ(out.dropped, dropped[n]) << n;
    EXPECT_EQ(out.corrupted, corrupted[n]) << n;
    if (dropped[n]) {
      EXPECT_TRUE(out.chunks.empty()) << n;
      continue;
    }
    const Bytes line = out.LineBytes();
    EXPECT_EQ(Received(line, 0).size(), corrupted[n] ? 0u : 1u) << n;
    EXPECT_TRUE(Received(line, 1).empty()) << n;
    EXPECT_EQ(line[3], CmdReadParams);
  }
  // Requests the modem does not answer are not replies and do not count.
  ModemModel counted(options);
  Send(counted, Request(0xE1));
  Send(counted, Request(CmdReadParams));
  Send(counted, Request(CmdReadParams));
  EXPECT_TRUE(Send(counted, Request(CmdReadParams))[0].dropped);
}

TEST(ModemFaults, StrayBytesNeverHideOrFakeAReply) {
  for (int type : {0, 1}) {
    ModemOptions options;
    options.strayBytes = 11;
    options.connectionType = type;
    ModemModel model(options);
    for (int n = 0; n < 300; ++n) {
      const Bytes line = LineOf(model, Request(CmdReadParams, 0, 0, 0, 0, type));
      ASSERT_EQ(line.size(), 11 + FrameSize);
      long skipped = 0;
      const auto frames = Received(line, type, &skipped);
      ASSERT_EQ(frames.size(), 1u) << n;
      EXPECT_EQ(skipped, 11);
      EXPECT_EQ(frames[0][3], CmdReadParams);
      EXPECT_TRUE(Received(line, 1 - type).empty()) << n;
    }
  }
}

TEST(ModemFaults, SplitAndDelayComeBackAsPauses) {
  ModemOptions options;
  options.splitChunk = 3;
  options.splitPauseMs = 20;
  options.delayMs = 50;
  ModemModel split(options);
  auto outs = Send(split, Request(CmdReadParams));
  ASSERT_EQ(outs.size(), 1u);
  const auto& chunks = outs[0].chunks;
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].pauseMs, 50);
  EXPECT_EQ(chunks[1].pauseMs, 20);
  EXPECT_EQ(chunks[2].pauseMs, 20);
  EXPECT_EQ(chunks[2].bytes.size(), 2u);
  EXPECT_EQ(Received(outs[0].LineBytes()).size(), 1u);

  // Stray bytes are part of what is split.
  options.strayBytes = 4;
  ModemModel noisy(options);
  outs = Send(noisy, Request(CmdReadParams));
  EXPECT_EQ(outs[0].chunks.size(), 4u);
  EXPECT_EQ(outs[0].LineSize(), 4 + FrameSize);  // counted over every chunk

  ModemOptions delayOnly;
  delayOnly.delayMs = 30;
  ModemModel delayed(delayOnly);
  outs = Send(delayed, Request(CmdReadParams));
  ASSERT_EQ(outs[0].chunks.size(), 1u);
  EXPECT_EQ(outs[0].chunks[0].pauseMs, 30);
  EXPECT_EQ(outs[0].chunks[0].bytes.size(), FrameSize);
}

TEST(ModemFaults, WrongEchoStillTakesTheNewAddress) {
  ModemOptions options;
  options.wrongEcho = true;
  ModemModel model(options);
  const ModemFrame request = SetAddress(0x0001, 0x0006);
  const Bytes reply = LineOf(model, request);
  ASSERT_EQ(reply.size(), FrameSize);
  EXPECT_TRUE(CheckFrameCrc(reply.data(), 0));
  EXPECT_FALSE(EchoMatches(reply.data(), request.data()));
  EXPECT_NE(reply[6], request[6]);
  EXPECT_EQ(reply[7], request[7]);
  EXPECT_EQ(model.Address(), 6);
  // Other replies are untouched by this switch.
  const ModemFrame part = Stamped(BuildKeyPart(0, CountingKey().data()));
  EXPECT_TRUE(EchoMatches(LineOf(model, part).data(), part.data()));
}

TEST(ModemFaults, KeyPartAcknowledgementFaults) {
  ModemOptions options;
  options.noAckPart = 3;
  options.ackPartWithPrevious = 5;
  ModemModel model(options);
  const ModemKey key = CountingKey();
  for (int part = 0; part < KeyPartCount; ++part) {
    const ModemFrame request = Stamped(BuildKeyPart(part, key.data()));
    const Bytes ack = LineOf(model, request);
    if (part == 3) {
      EXPECT_TRUE(ack.empty());
      continue;
    }
    ASSERT_EQ(ack.size(), FrameSize) << part;
    EXPECT_TRUE(CheckFrameCrc(ack.data(), 0));
    EXPECT_TRUE(EchoMatches(ack.data(), request.data())) << part;
    EXPECT_EQ(ack[3], CmdKeyPart + (part == 5 ? 4 : part)) << part;
  }
  EXPECT_EQ(model.Key(), key);  // the unacknowledged part was still stored
}

TEST(ModemLog, OneLinePerFrameWithTheFaultsNoted) {
  ModemOptions options;
  options.dropEvery = 2;
  options.strayBytes = 2;
  ModemModel model(options);
  const auto first = LogLines(Send(model, Request(CmdReadParams))[0]);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0], "rx B0 D1 B6 E2 00 00 00 00");
  EXPECT_EQ(first[1].substr(0, 3), "tx ");
  EXPECT_NE(first[1].find("E2 01 00 1F 02 (after 2 stray bytes)"), std::string::npos);
  EXPECT_NE(LogLines(Send(model, Request(CmdReadParams))[0])[1].find("(dropped"), std::string::npos);
  EXPECT_EQ(LogLines(Send(model, Request(0xE1))[0]).size(), 1u);
}
