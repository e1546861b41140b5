// vorsal-key's command line: the fuzzer's bytes, cut at zero bytes, are the
// arguments. The oracle reads the same line with a classification of its own
// (each argument is an end-of-options mark, a known switch, a switch value, an
// unknown option or a name): an accepted line must give exactly its names,
// flags and files; a refused one must give a one-line error; nothing crashes.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "keys/key_tool_args.h"

namespace {

using vorsal::KeyToolArgs;

struct Expected {
  KeyToolArgs::Action action = KeyToolArgs::Action::Keys;
  bool refused = false;
  bool keysIni = false, cp1251 = false, store = false;
  std::string file, keyFile;
  std::vector<std::string> names;
};

Expected Read(const std::vector<std::string>& argv) {
  Expected e;
  bool namesOnly = false;
  bool fileNext = false;
  bool keyFileNext = false;
  for (const std::string& a : argv) {
    if (keyFileNext) {
      if (a.empty()) break;  // refused below: a key file needs a name
      e.keyFile = a;
      keyFileNext = false;
      continue;
    }
    if (fileNext) {
      e.file = a;
      fileNext = false;
      continue;
    }
    const bool option = !namesOnly && a.size() > 1 && a[0] == '-';
    if (!option) {
      e.names.push_back(a);
    } else if (a == "--") {
      namesOnly = true;
    } else if (a == "--help" || a == "-h" || a == "--version") {
      e.action = a == "--version" ? KeyToolArgs::Action::Version : KeyToolArgs::Action::Help;
      return e;
    } else if (a == "--keys-ini") {
      e.keysIni = true;
    } else if (a == "--cp1251") {
      e.cp1251 = true;
    } else if (a == "--key-file") {
      keyFileNext = true;
    } else if (a == "--store") {
      e.store = true;
      fileNext = true;
    } else {
      e.refused = true;
      return e;
    }
  }
  const bool fromFile = !e.keyFile.empty();
  e.refused = fileNext || keyFileNext || (e.store && e.keysIni) || (fromFile && (e.keysIni || e.cp1251)) ||
              (fromFile && !e.names.empty()) || (!fromFile && e.names.empty());
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> argv = fuzz::Arguments(data, size);
  const KeyToolArgs got = vorsal::ParseKeyToolArgs(argv);
  const Expected want = Read(argv);
  const std::string line = fuzz::Hex(data, size);
  FUZZ_CHECK(got.error.find('\n') == std::string::npos && got.error.find('\r') == std::string::npos,
             "error text spans lines", line);
  FUZZ_CHECK(want.refused == !got.error.empty(), want.refused ? "bad line accepted" : "good line refused", line);
  if (want.refused) return 0;
  FUZZ_CHECK(got.action == want.action, "wrong action", line);
  if (want.action != KeyToolArgs::Action::Keys) return 0;
  FUZZ_CHECK(got.keysIni == want.keysIni && got.cp1251Output == want.cp1251, "wrong flags", line);
  FUZZ_CHECK(got.store == want.store && (!want.store || got.storeFile == want.file), "wrong key file", line);
  FUZZ_CHECK(got.names == want.names, "wrong names", line);
  FUZZ_CHECK(got.keyFile == want.keyFile, "wrong key-name file", line);
  return 0;
}
