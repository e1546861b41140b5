#include "protocol/frame.h"

#include <algorithm>

#include <cstring>
#include <utility>

namespace vorsal {
namespace {

constexpr std::uint32_t CrcInit = 0xB704CE;
constexpr std::uint32_t CrcPoly = 0x1864CFB;

// Table-driven form of the bitwise CRC: entry b is the register after eight
// shifts of (b << 16). The receive path tests a checksum at every byte
// position, so the table keeps it cheap.
constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    std::uint32_t r = b << 16;
    for (int i = 0; i < 8; ++i) {
      r <<= 1;
      if (r & 0x1000000) r ^= CrcPoly;
    }
    table[b] = r & 0xFFFFFF;
  }
  return table;
}
constexpr auto CrcTable = MakeCrcTable();

}  // namespace

std::uint32_t ComputeCrc24(const std::uint8_t* data, std::size_t length, int connectionType) {
  std::uint32_t r = CrcInit;
  for (std::size_t i = 0; i < length; ++i)
    r = ((r << 8) & 0xFFFFFF) ^ CrcTable[((r >> 16) ^ data[i]) & 0xFF];
  if (connectionType == 1) r = ~r;
  return r & 0xFFFFFF;
}

namespace {

// The checksum of a frame covers bytes 3..7 and sits in bytes 0..2.
constexpr std::size_t CoveredOffset = 3;
constexpr std::size_t CoveredLength = FrameSize - CoveredOffset;

void StoreCrc(std::uint8_t* frame, std::uint32_t crc) {
  frame[0] = static_cast<std::uint8_t>(crc);
  frame[1] = static_cast<std::uint8_t>(crc >> 8);
  frame[2] = static_cast<std::uint8_t>(crc >> 16);
}

bool CrcStored(const std::uint8_t* frame, std::uint32_t crc) {
  return frame[0] == static_cast<std::uint8_t>(crc) &&
         frame[1] == static_cast<std::uint8_t>(crc >> 8) &&
         frame[2] == static_cast<std::uint8_t>(crc >> 16);
}

}  // namespace

void PutFrameCrc(std::uint8_t* frame, int connectionType) {
  StoreCrc(frame, ComputeCrc24(frame + CoveredOffset, CoveredLength, connectionType));
}

bool CheckFrameCrc(const std::uint8_t* frame, int connectionType) {
  return CrcStored(frame, ComputeCrc24(frame + CoveredOffset, CoveredLength, connectionType));
}

bool SlideIntoFrameWindow(std::uint8_t* window, int& count, std::uint8_t byte, int connectionType) {
  window[count++] = byte;
  if (count < static_cast<int>(FrameSize)) return false;
  if (CheckFrameCrc(window, connectionType)) {
    count = 0;
    return true;
  }
  std::memmove(window, window + 1, FrameSize - 1);
  count = FrameSize - 1;
  return false;
}

namespace {
ModemFrame Request(std::uint8_t command, std::uint8_t d4, std::uint8_t d5, std::uint8_t d6,
                   std::uint8_t d7) {
  return ModemFrame{0, 0, 0, command, d4, d5, d6, d7};
}
}  // namespace

ModemFrame BuildReadParams() { return Request(CmdReadParams, 0, 0, 0, 0); }

ModemFrame BuildReadFootprint() { return Request(CmdReadFootprint, 0, 0, 0, 0); }

ModemFrame BuildSetAddress(std::uint16_t oldWord, std::uint16_t newWord) {
  return Request(CmdSetAddress, oldWord & 0xFF, (oldWord >> 8) & 0xFF, newWord & 0xFF,
                 (newWord >> 8) & 0xFF);
}

ModemFrame BuildKeyPart(int part, const std::uint8_t* key32) {
  const std::uint8_t* k = key32 + 4 * part;
  return Request(static_cast<std::uint8_t>(CmdKeyPart + part), k[0], k[1], k[2], k[3]);
}

ParamsReply DecodeParamsReply(const std::uint8_t* frame) {
  return ParamsReply{((frame[5] & 0x0F) << 8) + frame[4], (frame[5] >> 4) == 0, frame[6], frame[7]};
}

AddressReply DecodeSetAddressReply(const std::uint8_t* frame) {
  return AddressReply{((frame[7] & 0x0F) << 8) + frame[6], (frame[7] & 0xF0) == 0};
}

KeyFootprint DecodeFootprintReply(const std::uint8_t* frame) {
  return KeyFootprint{{frame[4], frame[5], frame[6], frame[7]}};
}

std::string_view FormatFootprint(const KeyFootprint& footprint, char (&out)[FootprintTextSize]) {
  std::uint8_t frame[FrameSize] = {};
  std::copy(footprint.bytes.begin(), footprint.bytes.end(), frame + 4);
  return FormatFootprint(frame, out);
}

std::string_view FormatFootprint(const std::uint8_t* frame, char (&out)[FootprintTextSize]) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  char* p = out;
  for (int i = 7; i >= 4; --i) {
    *p++ = Digits[frame[i] >> 4];
    *p++ = Digits[frame[i] & 0x0F];
    *p++ = i > 4 ? '.' : '\0';
  }
  return std::string_view(out, FootprintTextSize - 1);
}

bool EchoMatches(const std::uint8_t* reply, const std::uint8_t* request) {
  return std::memcmp(reply + 4, request + 4, 4) == 0;
}

}  // namespace vorsal
