#include "sim/sim_args.h"

#include "app/command_line.h"
#include "app/option_table.h"

#include <optional>

namespace vorsal {
namespace {

enum class Id { Link, Address, Network, Firmware, ReplyE3, ConnectionType, Log, Help, Version, DropEvery,
                CorruptEvery, StrayBytes, SplitReply, DelayMs, WrongEcho, NoAckPart, AckPartWithPrevious };

constexpr int MaxMs = 600000;
constexpr int MaxCount = 1000000;
constexpr unsigned Fault = 1;  // listed among the fault switches

// Every switch of the simulator, declared once: the parser and the help read
// this table, the manual page is checked against it.
const OptionTable& Switches() {
  static const OptionTable switches = {
      {int(Id::Link), "", "--link", "PATH", 0, -1,
       "symbolic link to the device (default /tmp/vorsal-modem);\n"
       "a stale link is replaced, the link is removed on exit"},
      {int(Id::Address), "", "--address", "N", MinAddress, MaxAddress, "modem address 0..4095 (default 1)"},
      {int(Id::Network), "", "--network", "0|1", 0, 1, "0 service network, 1 working network (default 0)"},
      {int(Id::Firmware), "", "--firmware", "MAJOR.MINOR", 0, -1,
       "firmware version (default 2.31; a minor number of\n"
       "30 or more makes the program offer the key functions)"},
      {int(Id::ReplyE3), "", "--reply-e3", "", 0, -1, "answer a parameter read with 0xE3 instead of 0xE2"},
      {int(Id::ConnectionType), "", "--connection-type", "0|1", 0, 1,
       "0: 600 baud, plain CRC-24 (default);\n1: 9600 baud, complemented CRC-24"},
      {int(Id::Log), "", "--log", "", 0, -1, "print every frame received and sent, in hex"},
      {int(Id::Help), "-h", "--help", "", 0, -1, "show this text and exit"},
      {int(Id::Version), "", "--version", "", 0, -1, "show the version and exit"},
      {int(Id::DropEvery), "", "--drop-every", "N", 1, MaxCount, "send no reply for every Nth reply", Fault},
      {int(Id::CorruptEvery), "", "--corrupt-every", "N", 1, MaxCount, "spoil the checksum of every Nth reply",
       Fault},
      {int(Id::StrayBytes), "", "--stray-bytes", "K", 0, 4096, "send K noise bytes before each reply", Fault},
      {int(Id::SplitReply), "", "--split-reply", "CHUNK:MS", 0, -1,
       "send each reply in CHUNK-byte pieces, MS ms apart", Fault},
      {int(Id::DelayMs), "", "--delay-ms", "M", 0, MaxMs, "wait M ms before each reply", Fault},
      {int(Id::WrongEcho), "", "--wrong-echo", "", 0, -1,
       "answer an address write with a wrong echo (byte 6);\nthe new address is still taken", Fault},
      {int(Id::NoAckPart), "", "--no-ack-part", "K", 0, KeyPartCount - 1,
       "store key part K (0..7) but never acknowledge it", Fault},
      {int(Id::AckPartWithPrevious), "", "--ack-part-with-previous", "K", 1, KeyPartCount - 1,
       "acknowledge key part K (1..7) with the command byte\nof part K-1", Fault},
  };
  return switches;
}

// "A<sep>B" with both halves in range.
bool ParsePair(const std::string& text, char sep, int minA, int maxA, int minB, int maxB, int& a, int& b) {
  const auto at = text.find(sep);
  if (at == std::string::npos) return false;
  const auto first = ParseWholeNumber(std::string_view(text).substr(0, at), minA, maxA);
  const auto second = ParseWholeNumber(std::string_view(text).substr(at + 1), minB, maxB);
  if (!first || !second) return false;
  a = *first;
  b = *second;
  return true;
}

}  // namespace

SimArgs ParseSimArgs(const std::vector<std::string>& args) {
  SimArgs result;
  ModemOptions& m = result.modem;
  ArgumentScanner scanner(Switches(), args, {.attachedValues = true, .endMark = false});
  for (ScannedArgument arg; result.error.empty() && scanner.Next(arg);) {
    if (arg.kind != ScannedArgument::Kind::Option) {
      result.error = "unknown argument " + QuotedArgument(arg.text);
      break;
    }
    const OptionSpec& option = *arg.option;
    const std::string& name = arg.name;
    if (option.value.empty()) {
      if (arg.attached) result.error = name + " takes no value";
      switch (Id(option.id)) {
        case Id::Help: result.help = true; break;
        case Id::Version: result.version = true; break;
        case Id::Log: result.log = true; break;
        case Id::ReplyE3: m.replyE3 = true; break;
        case Id::WrongEcho: m.wrongEcho = true; break;
        default: break;
      }
      continue;
    }
    const std::optional<std::string> value = scanner.Value(arg);
    if (!value) {
      result.error = name + " needs a value";
      break;
    }
    if (option.number()) {
      const std::optional<int> number = ParseWholeNumber(*value, option.low, option.high);
      if (!number) {
        result.error = name + ": expected a whole number " + std::to_string(option.low) + ".." +
                       std::to_string(option.high) + ", got " + QuotedArgument(*value);
        break;
      }
      switch (Id(option.id)) {
        case Id::Address: m.address = *number; break;
        case Id::Network: m.network = *number; break;
        case Id::ConnectionType: m.connectionType = *number; break;
        case Id::DropEvery: m.dropEvery = *number; break;
        case Id::CorruptEvery: m.corruptEvery = *number; break;
        case Id::StrayBytes: m.strayBytes = *number; break;
        case Id::DelayMs: m.delayMs = *number; break;
        case Id::NoAckPart: m.noAckPart = *number; break;
        case Id::AckPartWithPrevious: m.ackPartWithPrevious = *number; break;
        default: break;
      }
      continue;
    }
    switch (Id(option.id)) {
      case Id::Link:
        result.link = *value;
        if (result.link.empty()) result.error = "--link needs a path";
        break;
      case Id::Firmware:
        if (!ParsePair(*value, '.', 0, 255, 0, 255, m.firmwareMajor, m.firmwareMinor))
          result.error = name + ": expected MAJOR.MINOR, each 0..255, got " + QuotedArgument(*value);
        break;
      case Id::SplitReply:
        if (!ParsePair(*value, ':', 1, 4096, 0, MaxMs, m.splitChunk, m.splitPauseMs))
          result.error = name + ": expected CHUNK:PAUSE_MS, got " + QuotedArgument(*value);
        break;
      default: break;
    }
  }
  return result;
}

const OptionTable& SimSwitches() { return Switches(); }

std::string SimUsage() {
  constexpr std::size_t column = 28;
  return "Usage: vorsal-modem-sim [options] [fault switches]\n"
         "\n"
         "Stands in for a modem on a pseudo-terminal. Prints the path of the serial\n"
         "device on its first line and serves until interrupted (SIGINT or SIGTERM).\n"
         "\n"
         "Options:\n" +
         OptionHelp(Switches(), column, [](const OptionSpec& option) { return option.scope != Fault; }) +
         "\n"
         "Fault switches:\n" +
         OptionHelp(Switches(), column, [](const OptionSpec& option) { return option.scope == Fault; });
}

}  // namespace vorsal
