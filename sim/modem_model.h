// The modem's side of the link protocol as a pure model: bytes in, reply
// bytes out. It has no I/O and no clock; the waits that the fault switches
// ask for come back as data (a pause before each chunk of output), so the pty
// front end and in-process tests drive it alike.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/frame.h"

namespace vorsal {

constexpr std::size_t ModemKeySize = 32;
using ModemKey = std::array<std::uint8_t, ModemKeySize>;
using ModemFootprintBytes = std::array<std::uint8_t, 4>;

// The key footprint the model reports: the 32-bit FNV-1a hash of the 32 key
// bytes (offset basis 0x811C9DC5, prime 0x01000193, byte 0 first), stored low
// byte first in reply bytes 4..7. The program shows bytes 7, 6, 5, 4, so its
// display reads as the hash in hexadecimal, most significant byte first.
// The all-zero key gives 0B.2A.E4.45.
ModemFootprintBytes ModemFootprint(const std::uint8_t* key32);

// Everything the simulator can be told. Fault switches are off at their
// defaults (0, or -1 for the key part numbers).
struct ModemOptions {
  int address = 1;                  // 0..4095
  int network = NetworkService;     // network code, bits 12..15 of the address word
  int firmwareMajor = 2;            // reply byte 7
  int firmwareMinor = 31;           // reply byte 6; 30 or more offers the key functions
  bool replyE3 = false;             // answer CmdReadParams with 0xE3 instead of 0xE2
  int connectionType = 0;           // checksum variant of frames in and out

  int dropEvery = 0;                // drop every Nth reply
  int corruptEvery = 0;             // spoil the checksum of every Nth reply
  int strayBytes = 0;               // noise bytes sent before each reply
  int splitChunk = 0;               // send each reply in chunks of this many bytes...
  int splitPauseMs = 0;             // ...with this pause between chunks
  int delayMs = 0;                  // pause before each reply
  bool wrongEcho = false;           // CmdSetAddress reply echoes a wrong byte 6
  int noAckPart = -1;               // key part left unacknowledged (0..7)
  int ackPartWithPrevious = -1;     // key part acknowledged with the previous part's command (1..7)
};

// Cuts frames from a byte stream the way the program does: bytes fill an
// 8-byte window; a window whose checksum fits is a frame, otherwise its
// oldest byte is dropped and the window slides on by one byte.
class FrameCutter {
 public:
  explicit FrameCutter(int connectionType) : connectionType_(connectionType) {}
  // True when `b` completes a frame, which is then in `frame`.
  bool Push(std::uint8_t b, ModemFrame& frame);
  long SkippedBytes() const { return skipped_; }

 private:
  int connectionType_;
  ModemFrame window_{};
  int count_ = 0;
  long skipped_ = 0;
};

// Wait pauseMs, then write bytes.
struct ReplyChunk {
  int pauseMs = 0;
  std::vector<std::uint8_t> bytes;
};

// One checksum-valid frame cut from the input and what the modem did with it.
struct ModemOutput {
  ModemFrame request{};
  bool answered = false;   // the modem produced a reply (it may still be dropped)
  bool dropped = false;    // the reply was produced but is not sent
  bool corrupted = false;  // the reply's checksum was spoiled
  ModemFrame reply{};      // the reply as it goes on the line
  std::vector<ReplyChunk> chunks;  // line output in order; empty when nothing is sent

  std::vector<std::uint8_t> LineBytes() const;  // all chunks joined
  std::size_t LineSize() const;                 // bytes in all chunks
};

class ModemModel {
 public:
  explicit ModemModel(const ModemOptions& options = {});

  // Takes bytes from the line in chunks of any size and returns one output
  // per frame they complete, in order. Noise is skipped byte by byte and a
  // frame may arrive split over several calls.
  std::vector<ModemOutput> Feed(const std::uint8_t* data, std::size_t size);

  std::uint16_t AddressWord() const { return addressWord_; }
  int Address() const { return addressWord_ & 0x0FFF; }
  int Network() const { return addressWord_ >> 12; }
  const ModemKey& Key() const { return key_; }

 private:
  bool Answer(const ModemFrame& request, ModemFrame& reply);
  void Deliver(ModemOutput& out);
  std::vector<std::uint8_t> StrayBytes(const ModemFrame& reply);

  ModemOptions options_;
  std::uint16_t addressWord_;
  ModemKey key_{};
  FrameCutter cutter_;
  long replyCount_ = 0;
  std::uint32_t noiseState_ = 0x2545F491;
};

// The --log lines for one output: "rx <frame>", then for a reply
// "tx <frame>" with the faults applied to it noted after the bytes. A frame
// is its bytes in hex separated by blanks: "B0 D1 B6 E2 00 00 00 00".
std::vector<std::string> LogLines(const ModemOutput& out);

}  // namespace vorsal
