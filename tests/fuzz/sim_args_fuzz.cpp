// The simulator's command line: the fuzzer's bytes, cut at zero bytes, are the
// arguments. The oracle is a table of the switches, their value forms and
// ranges, read with a number reader of its own: a command line it accepts
// must parse to exactly the values it reads, one it refuses must give a
// one-line error text, and nothing crashes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "sim/sim_args.h"

namespace {

// An optional minus and decimal digits, nothing else, within [min, max].
std::optional<int> Number(std::string_view text, long min, long max) {
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > 100000000) return std::nullopt;  // far beyond every range
  }
  if (negative) value = -value;
  if (value < min || value > max) return std::nullopt;
  return static_cast<int>(value);
}

struct Expected {
  vorsal::SimArgs args;
  bool refused = false;
};

Expected Read(const std::vector<std::string>& argv) {
  Expected e;
  vorsal::ModemOptions& m = e.args.modem;
  struct NumberSwitch {
    const char* name;
    int* target;
    long min, max;
  };
  const NumberSwitch numbers[] = {
      {"--address", &m.address, 0, 4095},          {"--network", &m.network, 0, 1},
      {"--connection-type", &m.connectionType, 0, 1}, {"--drop-every", &m.dropEvery, 1, 1000000},
      {"--corrupt-every", &m.corruptEvery, 1, 1000000}, {"--stray-bytes", &m.strayBytes, 0, 4096},
      {"--delay-ms", &m.delayMs, 0, 600000},       {"--no-ack-part", &m.noAckPart, 0, 7},
      {"--ack-part-with-previous", &m.ackPartWithPrevious, 1, 7},
  };
  struct PairSwitch {
    const char* name;
    char separator;
    int *first, *second;
    long min1, max1, max2;  // the second half's minimum is 0
  };
  const PairSwitch pairs[] = {
      {"--firmware", '.', &m.firmwareMajor, &m.firmwareMinor, 0, 255, 255},
      {"--split-reply", ':', &m.splitChunk, &m.splitPauseMs, 1, 4096, 600000},
  };
  struct FlagSwitch {
    const char* name;
    bool* target;
  };
  const FlagSwitch flags[] = {{"--help", &e.args.help},     {"-h", &e.args.help},
                              {"--version", &e.args.version}, {"--log", &e.args.log},
                              {"--reply-e3", &m.replyE3},      {"--wrong-echo", &m.wrongEcho}};

  for (std::size_t i = 0; i < argv.size(); ++i) {
    std::string name = argv[i];
    std::optional<std::string> attached;
    if (name.size() >= 2 && name[0] == '-' && name[1] == '-' && name.find('=') != std::string::npos) {
      attached = name.substr(name.find('=') + 1);
      name = name.substr(0, name.find('='));
    }
    const auto takeValue = [&]() -> std::optional<std::string> {
      if (attached) return attached;
      if (i + 1 < argv.size()) return argv[++i];
      return std::nullopt;
    };
    bool known = false, ok = true;
    for (const auto& f : flags) {
      if (name != f.name) continue;
      known = true;
      ok = !attached;
      *f.target = true;
    }
    if (name == "--link") {
      known = true;
      const auto v = takeValue();
      ok = v && !v->empty();
      if (v) e.args.link = *v;
    }
    for (const auto& n : numbers) {
      if (name != n.name) continue;
      known = true;
      const auto v = takeValue();
      const auto value = v ? Number(*v, n.min, n.max) : std::nullopt;
      ok = value.has_value();
      if (value) *n.target = *value;
    }
    for (const auto& p : pairs) {
      if (name != p.name) continue;
      known = true;
      const auto v = takeValue();
      const std::size_t at = v ? v->find(p.separator) : std::string::npos;
      const auto a = at == std::string::npos ? std::nullopt : Number(v->substr(0, at), p.min1, p.max1);
      const auto b = at == std::string::npos ? std::nullopt : Number(v->substr(at + 1), 0, p.max2);
      ok = a && b;
      if (ok) *p.first = *a, *p.second = *b;
    }
    if (!known || !ok) {
      e.refused = true;
      return e;
    }
  }
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> argv = fuzz::Arguments(data, size);

  const vorsal::SimArgs got = vorsal::ParseSimArgs(argv);
  const Expected want = Read(argv);
  if (want.refused) {
    FUZZ_CHECK(!got.error.empty(), "a bad command line was taken", fuzz::Describe(argv));
    FUZZ_CHECK(got.error.find_first_of("\r\n") == std::string::npos, "error text spans lines", fuzz::Describe(argv));
    return 0;
  }
  FUZZ_CHECK(got.error.empty(), "a good command line was refused", fuzz::Describe(argv) + "\n" + got.error);
  const vorsal::ModemOptions &g = got.modem, &w = want.args.modem;
  const bool same = got.link == want.args.link && got.log == want.args.log && got.help == want.args.help &&
                    got.version == want.args.version &&
                    g.address == w.address && g.network == w.network && g.firmwareMajor == w.firmwareMajor &&
                    g.firmwareMinor == w.firmwareMinor && g.replyE3 == w.replyE3 &&
                    g.connectionType == w.connectionType && g.dropEvery == w.dropEvery &&
                    g.corruptEvery == w.corruptEvery && g.strayBytes == w.strayBytes &&
                    g.splitChunk == w.splitChunk && g.splitPauseMs == w.splitPauseMs && g.delayMs == w.delayMs &&
                    g.wrongEcho == w.wrongEcho && g.noAckPart == w.noAckPart &&
                    g.ackPartWithPrevious == w.ackPartWithPrevious;
  FUZZ_CHECK(same, "the command line parsed to other values", fuzz::Describe(argv));
  return 0;
}
