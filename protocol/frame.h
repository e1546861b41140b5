// The modem frame: 8 bytes in both directions. Bytes 0..2 hold the CRC-24 of
// bytes 3..7 (low byte first), byte 3 the command, bytes 4..7 the data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vorsal {

constexpr std::size_t FrameSize = 8;
using ModemFrame = std::array<std::uint8_t, FrameSize>;

// Command bytes.
constexpr std::uint8_t CmdSetAddress = 0xE0;
constexpr std::uint8_t CmdReadParams = 0xE2;
constexpr std::uint8_t CmdReadParamsAlt = 0xE3;  // a second reply form, handled like 0xE2
constexpr std::uint8_t CmdReadFootprint = 0xE4;
constexpr std::uint8_t CmdKeyPart = 0xE8;        // 0xE8 + part index 0..7
constexpr int KeyPartCount = 8;

// Network codes of the address word.
constexpr int NetworkService = 0;  // "Технологическая"
constexpr int NetworkWorking = 1;  // "Рабочая"

// Address bounds: 12 bits, and address 0 is not used in the working network.
constexpr int MinAddress = 0;
constexpr int MaxAddress = 4095;
constexpr int MinWorkingAddress = 1;
constexpr int LowestAddress(int network) { return network == NetworkWorking ? MinWorkingAddress : MinAddress; }
constexpr bool AddressAllowed(int address, int network) {
  return address >= LowestAddress(network) && address <= MaxAddress;
}

// ConnectionType 0: 600 baud link, plain CRC-24. ConnectionType 1: 9600 baud
// adapters, CRC-24 complemented within 24 bits. Each exchange engine knows
// the type of its own link (exchange_engine.h).

// OpenPGP CRC-24 (init 0xB704CE, polynomial 0x1864CFB, MSB first) over
// `length` bytes, complemented for connection type 1. Bits 24..31 are zero.
std::uint32_t ComputeCrc24(const std::uint8_t* data, std::size_t length, int connectionType);

// Stamps the checksum of bytes 3..7 into bytes 0..2.
void PutFrameCrc(std::uint8_t* frame, int connectionType);
// True when bytes 0..2 equal the checksum of bytes 3..7.
bool CheckFrameCrc(const std::uint8_t* frame, int connectionType);

// One step of cutting frames from a byte stream. `window` holds `count`
// (0..7) bytes; `byte` is appended. Once 8 bytes are held, a window whose
// checksum fits for `connectionType` is a frame: `count` becomes 0, the frame
// stays in `window` and the result is true. Otherwise the oldest byte is
// dropped (count 7) and the next byte tests the window shifted by one.
bool SlideIntoFrameWindow(std::uint8_t* window, int& count, std::uint8_t byte, int connectionType);

// Address word: bits 0..11 address, bits 12..15 network code.
constexpr std::uint16_t AddressWord(int address, int network) {
  return static_cast<std::uint16_t>((address & 0x0FFF) + 0x1000 * (network & 0x0F));
}

// Request builders: bytes 0..2 stay zero (SendFrame stamps the checksum).
ModemFrame BuildReadParams();
ModemFrame BuildReadFootprint();
ModemFrame BuildSetAddress(std::uint16_t oldWord, std::uint16_t newWord);
ModemFrame BuildKeyPart(int part, const std::uint8_t* key32);

// Reply decoding. `frame` is a checksum-valid 8-byte reply.
struct ParamsReply {
  int address;          // 0..4095
  bool serviceNetwork;  // high nibble of byte 5 is zero
  int firmwareMinor;    // byte 6
  int firmwareMajor;    // byte 7
};
ParamsReply DecodeParamsReply(const std::uint8_t* frame);

struct AddressReply {
  int address;          // from the echoed new word, bytes 6..7
  bool serviceNetwork;  // (byte 7 AND 0xF0) is zero
};
AddressReply DecodeSetAddressReply(const std::uint8_t* frame);

// The key footprint: bytes 4..7 of a CmdReadFootprint reply, in that order.
struct KeyFootprint {
  std::array<std::uint8_t, 4> bytes{};
};
KeyFootprint DecodeFootprintReply(const std::uint8_t* frame);

// "%0.2X.%0.2X.%0.2X.%0.2X" of bytes 7, 6, 5, 4, written into `out` (the
// text and a terminating NUL) without allocating; the result views `out`.
constexpr std::size_t FootprintTextSize = 12;
std::string_view FormatFootprint(const std::uint8_t* frame, char (&out)[FootprintTextSize]);
std::string_view FormatFootprint(const KeyFootprint& footprint, char (&out)[FootprintTextSize]);

// Hardware platform of the firmware, indexed by its major number.
constexpr int FirmwarePlatformCount = 9;
inline constexpr std::string_view FirmwarePlatformNames[FirmwarePlatformCount] = {
    "не поддерживается",
    "Ирвен-1 (MSP430F1232)",
    "Ирвен-2 (MSP430F155)",
    "Стагер-1 (MSP430F155)",
    "Стагер-2 (MSP430F155)",
    "Ирвен-3 (MSP430F155)",
    "Стагер-3 (MSP430F155)",
    "Стагер-4 (MSP430F449)",
    "Ирвен-4/Л (MSP430F2616)",
};
// The platform of a firmware major number; empty when the table has none.
constexpr std::string_view FirmwarePlatformName(int firmwareMajor) {
  return firmwareMajor >= 0 && firmwareMajor < FirmwarePlatformCount ? FirmwarePlatformNames[firmwareMajor]
                                                                    : std::string_view();
}

// Minimum firmware minor number of modems that take the key commands.
constexpr int KeyFunctionsMinorVersion = 30;
constexpr bool OffersKeyFunctions(const ParamsReply& params) {
  return params.firmwareMinor >= KeyFunctionsMinorVersion;
}

// True when bytes 4..7 of both frames are equal (the echo rule).
bool EchoMatches(const std::uint8_t* reply, const std::uint8_t* request);

}  // namespace vorsal
