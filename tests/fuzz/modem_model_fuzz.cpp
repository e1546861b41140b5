// The simulator's modem model on any line input in any chunk sizes, with any
// mix of its options and fault switches. The fuzzer's bytes give the options,
// then a script of raw bytes and valid or spoiled request frames, each fed in
// pieces of a chosen size.
//
// The oracle cuts the requests from the whole stream itself and keeps a modem
// of its own (address word, key, reply count), so every output must be the
// request it cut, answered or not as that modem would, with the reply it
// predicts. On the line, a reply cuts to exactly one frame (none when
// spoiled), and no window that starts in the stray bytes before it passes the
// checksum of either variant.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "sim/modem_model.h"

namespace {

using Frame = std::array<std::uint8_t, 8>;

struct Modem {
  vorsal::ModemOptions options;
  std::uint16_t word = 0;
  std::uint8_t key[32] = {};
  long replies = 0;

  // Bytes 3..7 of the reply, or false when the modem keeps quiet.
  bool Answer(const Frame& r, Frame& reply) {
    reply = Frame{0, 0, 0, r[3], r[4], r[5], r[6], r[7]};
    const int command = r[3];
    if (command == 0xE2) {
      reply = Frame{0, 0, 0, static_cast<std::uint8_t>(options.replyE3 ? 0xE3 : 0xE2),
                    static_cast<std::uint8_t>(word & 0xFF), static_cast<std::uint8_t>(word >> 8),
                    static_cast<std::uint8_t>(options.firmwareMinor), static_cast<std::uint8_t>(options.firmwareMajor)};
      return true;
    }
    if (command == 0xE0) {
      if (r[4] + 256 * r[5] != word) return false;
      word = static_cast<std::uint16_t>(r[6] + 256 * r[7]);
      if (options.wrongEcho) reply[6] = static_cast<std::uint8_t>(reply[6] ^ 1);
      return true;
    }
    if (command == 0xE4) {
      std::uint64_t h = 2166136261u;
      for (const std::uint8_t b : key) h = ((h ^ b) * 16777619u) & 0xFFFFFFFFu;
      for (int i = 0; i < 4; ++i) reply[4 + i] = static_cast<std::uint8_t>(h >> (8 * i));
      return true;
    }
    if (command >= 0xE8 && command <= 0xEF) {
      const int part = command - 0xE8;
      for (int i = 0; i < 4; ++i) key[4 * part + i] = r[4 + i];
      if (part == options.noAckPart) return false;
      if (part == options.ackPartWithPrevious) reply[3] = static_cast<std::uint8_t>(command - 1);
      return true;
    }
    return false;
  }
};

std::string FrameText(const std::uint8_t* f) {
  char text[32];
  std::snprintf(text, sizeof text, "%02X %02X %02X %02X %02X %02X %02X %02X", f[0], f[1], f[2], f[3], f[4], f[5],
                f[6], f[7]);
  return text;
}

void CheckOutput(Modem& modem, const vorsal::ModemOutput& out, const Frame& request) {
  const int ct = modem.options.connectionType;
  Frame reply{};
  const bool answered = modem.Answer(request, reply);
  FUZZ_CHECK(answered == out.answered, answered ? "the model kept quiet where it should answer"
                                                 : "the model answered where it should keep quiet",
              FrameText(request.data()));
  const auto lines = vorsal::LogLines(out);
  FUZZ_CHECK(!lines.empty() && lines[0] == "rx " + FrameText(request.data()), "log line of the request is wrong");
  if (!answered) {
    FUZZ_CHECK(out.chunks.empty() && lines.size() == 1, "a quiet modem sent something");
    return;
  }
  const long n = ++modem.replies;
  const bool dropped = modem.options.dropEvery > 0 && n % modem.options.dropEvery == 0;
  const bool corrupted = !dropped && modem.options.corruptEvery > 0 && n % modem.options.corruptEvery == 0;
  FUZZ_CHECK(out.dropped == dropped && out.corrupted == corrupted, "drop or corruption at the wrong reply",
              std::to_string(n));
  FUZZ_CHECK(std::equal(reply.begin() + 3, reply.end(), out.reply.begin() + 3), "reply content is wrong",
              "request " + FrameText(request.data()) + "\nreply   " + FrameText(out.reply.data()));
  FUZZ_CHECK(lines.size() == 2 && lines[1].rfind("tx " + FrameText(out.reply.data()), 0) == 0,
              "log line of the reply is wrong");
  if (corrupted) {
    FUZZ_CHECK(!fuzz::Crc().FrameOk(out.reply.data(), 0) && !fuzz::Crc().FrameOk(out.reply.data(), 1),
                "a corrupted reply still passes a checksum");
  } else {
    FUZZ_CHECK(fuzz::Crc().FrameOk(out.reply.data(), ct), "reply checksum is wrong");
  }
  if (dropped) {
    FUZZ_CHECK(out.chunks.empty(), "a dropped reply went on the line");
    return;
  }

  const std::vector<std::uint8_t> line = out.LineBytes();
  const std::size_t stray = static_cast<std::size_t>(modem.options.strayBytes);
  FUZZ_CHECK(line.size() == stray + 8 && out.LineSize() == line.size(), "line holds the wrong number of bytes");
  FUZZ_CHECK(std::equal(line.end() - 8, line.end(), out.reply.begin()), "the reply is not the end of the line");
  for (std::size_t i = 0; i < stray; ++i) {
    if (fuzz::Crc().FrameOk(&line[i], 0) || fuzz::Crc().FrameOk(&line[i], 1))
      fuzz::Fail("stray bytes form a frame", "at " + std::to_string(i) + " of " + fuzz::Hex(line.data(), line.size()));
  }
  fuzz::StreamCutter cutter(ct);
  cutter.Advance(line, line.size());
  if (corrupted) {
    FUZZ_CHECK(cutter.frames.empty(), "a corrupted reply cuts to a frame");
  } else {
    FUZZ_CHECK(cutter.frames.size() == 1 && cutter.frameStarts[0] == stray, "the reply does not cut to one frame");
  }

  const std::size_t chunk = modem.options.splitChunk > 0 ? modem.options.splitChunk : line.size();
  for (std::size_t i = 0; i < out.chunks.size(); ++i) {
    const auto& c = out.chunks[i];
    const bool last = i + 1 == out.chunks.size();
    FUZZ_CHECK(last ? !c.bytes.empty() && c.bytes.size() <= chunk : c.bytes.size() == chunk,
                "reply split into wrong pieces");
    FUZZ_CHECK(c.pauseMs == (i == 0 ? modem.options.delayMs : modem.options.splitPauseMs),
                "wrong pause before a piece");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  Modem modem;
  vorsal::ModemOptions& o = modem.options;
  const std::uint8_t switches = in.Byte();
  o.connectionType = switches & 1;
  o.replyE3 = switches & 2;
  o.wrongEcho = switches & 4;
  o.dropEvery = in.Byte() % 8;
  o.corruptEvery = in.Byte() % 8;
  o.strayBytes = in.Byte() % 64;
  o.splitChunk = in.Byte() % 16;
  o.splitPauseMs = in.Byte();
  o.delayMs = in.Byte();
  o.noAckPart = in.Byte() % 9 - 1;
  o.ackPartWithPrevious = in.Byte() % 8;
  if (o.ackPartWithPrevious == 0) o.ackPartWithPrevious = -1;
  const std::uint8_t low = in.Byte();
  o.address = ((in.Byte() & 0x0F) << 8) | low;
  o.network = switches >> 7;
  o.firmwareMajor = in.Byte();
  o.firmwareMinor = in.Byte();
  modem.word = static_cast<std::uint16_t>(o.address + 0x1000 * o.network);

  vorsal::ModemModel model(o);
  std::vector<std::uint8_t> stream;
  fuzz::StreamCutter cutter(o.connectionType);
  std::vector<vorsal::ModemOutput> outputs;
  while (!in.Empty()) {
    const std::uint8_t op = in.Byte();
    const std::size_t from = stream.size();
    if (op & 1) {  // a request frame, spoiled in one byte when bit 1 is set
      std::uint8_t body[5];
      for (auto& b : body) b = in.Byte();
      if (op & 4) body[0] = static_cast<std::uint8_t>(0xE0 + (body[0] & 15));  // mostly known commands
      const auto frame = fuzz::Crc().Frame(body[0], body + 1, o.connectionType);
      stream.insert(stream.end(), frame.begin(), frame.end());
      if (op & 2) stream[from + (op >> 5)] ^= 0x40;
    } else {  // raw bytes
      const std::string_view raw = in.Take((op >> 1) + 1u);
      stream.insert(stream.end(), raw.begin(), raw.end());
    }
    const std::size_t piece = ((op >> 2) & 7) + 1;
    for (std::size_t at = from; at < stream.size(); at += piece) {
      const std::size_t n = std::min(piece, stream.size() - at);
      auto got = model.Feed(stream.data() + at, n);
      for (auto& out : got) outputs.push_back(std::move(out));
    }
  }

  cutter.Advance(stream, stream.size());
  FUZZ_CHECK(outputs.size() == cutter.frames.size(), "the model cut a different number of frames",
              std::to_string(outputs.size()) + " vs " + std::to_string(cutter.frames.size()));
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    Frame request;
    std::copy(cutter.frames[i].begin(), cutter.frames[i].end(), request.begin());
    FUZZ_CHECK(outputs[i].request == request, "the model cut a different frame", std::to_string(i));
    CheckOutput(modem, outputs[i], request);
  }
  FUZZ_CHECK(model.AddressWord() == modem.word, "address word differs");
  FUZZ_CHECK(std::equal(model.Key().begin(), model.Key().end(), modem.key), "key differs");
  return 0;
}
