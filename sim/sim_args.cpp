#include "sim/sim_args.h"

#include "app/command_line.h"

#include <optional>

namespace vorsal {
namespace {

std::optional<int> ParseInt(const std::string& text, int min, int max) {
  const std::optional<int> value = ParseWholeNumber(text);
  if (!value || *value < min || *value > max) return std::nullopt;
  return value;
}

// "A<sep>B" with both halves in range.
bool ParsePair(const std::string& text, char sep, int minA, int maxA, int minB, int maxB, int& a,
               int& b) {
  const auto at = text.find(sep);
  if (at == std::string::npos) return false;
  const auto first = ParseInt(text.substr(0, at), minA, maxA);
  const auto second = ParseInt(text.substr(at + 1), minB, maxB);
  if (!first || !second) return false;
  a = *first;
  b = *second;
  return true;
}

constexpr int MaxMs = 600000;
constexpr int MaxCount = 1000000;

}  // namespace

SimArgs ParseSimArgs(const std::vector<std::string>& args) {
  SimArgs result;
  ModemOptions& m = result.modem;
  for (std::size_t i = 0; i < args.size() && result.error.empty(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name.resize(eq);
    }
    auto flag = [&](bool& target) {
      if (inlineValue) result.error = name + " takes no value";
      target = true;
    };
    // Fetches the switch's value; false (with error set) when there is none.
    auto value = [&](std::string& out) {
      if (inlineValue) {
        out = *inlineValue;
      } else if (i + 1 < args.size()) {
        out = args[++i];
      } else {
        result.error = name + " needs a value";
        return false;
      }
      return true;
    };
    auto number = [&](int& target, int min, int max) {
      std::string text;
      if (!value(text)) return;
      if (const auto parsed = ParseInt(text, min, max)) {
        target = *parsed;
      } else {
        result.error = name + ": expected a whole number " + std::to_string(min) + ".." +
                       std::to_string(max) + ", got " + QuotedArgument(text);
      }
    };
    auto pair = [&](char sep, int minA, int maxA, int minB, int maxB, int& a, int& b,
                    const char* form) {
      std::string text;
      if (!value(text)) return;
      if (!ParsePair(text, sep, minA, maxA, minB, maxB, a, b))
        result.error = name + ": expected " + form + ", got " + QuotedArgument(text);
    };

    if (name == "--help" || name == "-h") flag(result.help);
    else if (name == "--version") flag(result.version);
    else if (name == "--log") flag(result.log);
    else if (name == "--reply-e3") flag(m.replyE3);
    else if (name == "--wrong-echo") flag(m.wrongEcho);
    else if (name == "--link") {
      if (value(result.link) && result.link.empty()) result.error = "--link needs a path";
    }
    else if (name == "--address") number(m.address, MinAddress, MaxAddress);
    else if (name == "--network") number(m.network, 0, 1);
    else if (name == "--connection-type") number(m.connectionType, 0, 1);
    else if (name == "--firmware")
      pair('.', 0, 255, 0, 255, m.firmwareMajor, m.firmwareMinor, "MAJOR.MINOR, each 0..255");
    else if (name == "--drop-every") number(m.dropEvery, 1, MaxCount);
    else if (name == "--corrupt-every") number(m.corruptEvery, 1, MaxCount);
    else if (name == "--stray-bytes") number(m.strayBytes, 0, 4096);
    else if (name == "--split-reply")
      pair(':', 1, 4096, 0, MaxMs, m.splitChunk, m.splitPauseMs, "CHUNK:PAUSE_MS");
    else if (name == "--delay-ms") number(m.delayMs, 0, MaxMs);
    else if (name == "--no-ack-part") number(m.noAckPart, 0, KeyPartCount - 1);
    else if (name == "--ack-part-with-previous") number(m.ackPartWithPrevious, 1, KeyPartCount - 1);
    else result.error = "unknown argument " + QuotedArgument(args[i]);
  }
  return result;
}

std::string SimUsage() {
  return R"(Usage: vorsal-modem-sim [options] [fault switches]

Stands in for a modem on a pseudo-terminal. Prints the path of the serial
device on its first line and serves until interrupted (SIGINT or SIGTERM).

Options:
  --link PATH               symbolic link to the device (default /tmp/vorsal-modem);
                            a stale link is replaced, the link is removed on exit
  --address N               modem address 0..4095 (default 1)
  --network 0|1             0 service network, 1 working network (default 0)
  --firmware MAJOR.MINOR    firmware version (default 2.31; a minor number of
                            30 or more makes the program offer the key functions)
  --reply-e3                answer a parameter read with 0xE3 instead of 0xE2
  --connection-type 0|1     0: 600 baud, plain CRC-24 (default);
                            1: 9600 baud, complemented CRC-24
  --log                     print every frame received and sent, in hex
  --help                    show this text and exit
  --version                 show the version and exit

Fault switches:
  --drop-every N            send no reply for every Nth reply
  --corrupt-every N         spoil the checksum of every Nth reply
  --stray-bytes K           send K noise bytes before each reply
  --split-reply CHUNK:MS    send each reply in CHUNK-byte pieces, MS ms apart
  --delay-ms M              wait M ms before each reply
  --wrong-echo              answer an address write with a wrong echo (byte 6);
                            the new address is still taken
  --no-ack-part K           store key part K (0..7) but never acknowledge it
  --ack-part-with-previous K
                            acknowledge key part K (1..7) with the command byte
                            of part K-1
)";
}

}  // namespace vorsal
