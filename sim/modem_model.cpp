#include "sim/modem_model.h"

#include "keys/hex_utils.h"

#include <algorithm>
#include <cstring>

namespace vorsal {

ModemFootprintBytes ModemFootprint(const std::uint8_t* key32) {
  std::uint32_t h = 0x811C9DC5;
  for (std::size_t i = 0; i < ModemKeySize; ++i) {
    h ^= key32[i];
    h *= 0x01000193;
  }
  return {static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8),
          static_cast<std::uint8_t>(h >> 16), static_cast<std::uint8_t>(h >> 24)};
}

bool FrameCutter::Push(std::uint8_t b, ModemFrame& frame) {
  const bool full = count_ == static_cast<int>(FrameSize) - 1;  // `b` completes a window
  if (SlideIntoFrameWindow(window_.data(), count_, b, connectionType_)) {
    frame = window_;
    return true;
  }
  if (full) ++skipped_;
  return false;
}

std::vector<std::uint8_t> ModemOutput::LineBytes() const {
  std::vector<std::uint8_t> bytes;
  for (const auto& chunk : chunks) bytes.insert(bytes.end(), chunk.bytes.begin(), chunk.bytes.end());
  return bytes;
}

std::size_t ModemOutput::LineSize() const {
  std::size_t size = 0;
  for (const auto& chunk : chunks) size += chunk.bytes.size();
  return size;
}

ModemModel::ModemModel(const ModemOptions& options)
    : options_(options),
      addressWord_(vorsal::AddressWord(options.address, options.network)),
      cutter_(options.connectionType) {}

std::vector<ModemOutput> ModemModel::Feed(const std::uint8_t* data, std::size_t size) {
  std::vector<ModemOutput> outputs;
  for (std::size_t i = 0; i < size; ++i) {
    ModemOutput out;
    if (!cutter_.Push(data[i], out.request)) continue;
    out.answered = Answer(out.request, out.reply);
    if (out.answered) Deliver(out);
    outputs.push_back(std::move(out));
  }
  return outputs;
}

// Fills bytes 3..7 of the reply; false when the modem stays silent.
bool ModemModel::Answer(const ModemFrame& request, ModemFrame& reply) {
  const std::uint8_t command = request[3];
  reply = ModemFrame{0, 0, 0, command, request[4], request[5], request[6], request[7]};
  if (command == CmdReadParams) {
    reply[3] = options_.replyE3 ? CmdReadParamsAlt : CmdReadParams;
    reply[4] = static_cast<std::uint8_t>(addressWord_);
    reply[5] = static_cast<std::uint8_t>(addressWord_ >> 8);
    reply[6] = static_cast<std::uint8_t>(options_.firmwareMinor);
    reply[7] = static_cast<std::uint8_t>(options_.firmwareMajor);
    return true;
  }
  if (command == CmdSetAddress) {
    // The old word must name the address and network in force; a modem
    // addressed by mistake keeps quiet.
    if ((request[4] | request[5] << 8) != addressWord_) return false;
    addressWord_ = static_cast<std::uint16_t>(request[6] | request[7] << 8);
    if (options_.wrongEcho) reply[6] ^= 0x01;
    return true;
  }
  if (command == CmdReadFootprint) {
    const auto footprint = ModemFootprint(key_.data());
    std::memcpy(reply.data() + 4, footprint.data(), footprint.size());
    return true;
  }
  if (command >= CmdKeyPart && command < CmdKeyPart + KeyPartCount) {
    const int part = command - CmdKeyPart;
    // The part is stored even when its acknowledgement is withheld.
    std::memcpy(key_.data() + 4 * part, request.data() + 4, 4);
    if (part == options_.noAckPart) return false;
    if (part == options_.ackPartWithPrevious) reply[3] = static_cast<std::uint8_t>(command - 1);
    return true;
  }
  return false;
}

// Stamps the checksum and applies the delivery faults.
void ModemModel::Deliver(ModemOutput& out) {
  PutFrameCrc(out.reply.data(), options_.connectionType);
  ++replyCount_;
  if (options_.dropEvery > 0 && replyCount_ % options_.dropEvery == 0) {
    out.dropped = true;
    return;
  }
  if (options_.corruptEvery > 0 && replyCount_ % options_.corruptEvery == 0) {
    // Only byte 0 changes, so the frame fails under both checksum variants.
    out.reply[0] ^= 0xFF;
    out.corrupted = true;
  }
  std::vector<std::uint8_t> line = StrayBytes(out.reply);
  line.insert(line.end(), out.reply.begin(), out.reply.end());
  const std::size_t chunk = options_.splitChunk > 0 ? options_.splitChunk : line.size();
  for (std::size_t at = 0; at < line.size(); at += chunk) {
    const std::size_t end = std::min(line.size(), at + chunk);
    out.chunks.push_back(ReplyChunk{at == 0 ? options_.delayMs : options_.splitPauseMs,
                                    std::vector<std::uint8_t>(line.begin() + at, line.begin() + end)});
  }
}

// Noise from a xorshift generator, made so that no 8-byte window that starts
// in the noise passes the checksum of either variant: the receiver must skip
// every stray byte and find the reply itself, not a phantom frame.
std::vector<std::uint8_t> ModemModel::StrayBytes(const ModemFrame& reply) {
  const std::size_t count = options_.strayBytes > 0 ? options_.strayBytes : 0;
  std::vector<std::uint8_t> line(count);
  for (auto& b : line) {
    noiseState_ ^= noiseState_ << 13;
    noiseState_ ^= noiseState_ >> 17;
    noiseState_ ^= noiseState_ << 5;
    b = static_cast<std::uint8_t>(noiseState_);
  }
  line.insert(line.end(), reply.begin(), reply.end());
  // From the last start backwards: changing byte i (byte 0 of window i) only
  // affects windows that start at or before i.
  for (std::size_t i = count; i-- > 0;) {
    if (CheckFrameCrc(&line[i], 0) || CheckFrameCrc(&line[i], 1)) line[i] ^= 0x01;
  }
  line.resize(count);
  return line;
}

namespace {

std::string FrameHex(const ModemFrame& frame) { return BytesToHex(frame.data(), FrameSize, " "); }

}  // namespace

std::vector<std::string> LogLines(const ModemOutput& out) {
  std::vector<std::string> lines{"rx " + FrameHex(out.request)};
  if (!out.answered) return lines;
  std::string tx = "tx " + FrameHex(out.reply);
  const std::size_t stray = out.dropped ? 0 : out.LineSize() - FrameSize;
  if (out.dropped) tx += " (dropped, not sent)";
  if (out.corrupted) tx += " (corrupted checksum)";
  if (stray) tx += " (after " + std::to_string(stray) + " stray bytes)";
  lines.push_back(tx);
  return lines;
}

}  // namespace vorsal
