// The port list on any names: the natural order against a reference that
// cuts each name into tokens (a digit run compares by its value, then by
// fewer leading zeros; any other byte by its code), COM names moved to the
// front in increasing number and the rest kept, and the splitting of a
// colon-separated list (VORSAL_EXTRA_PORTS) against joining it back.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "serial/port_list.h"

namespace {

struct Token {
  bool number = false;
  std::string digits;  // without leading zeros ("0" for zero)
  std::size_t zeros = 0;
  unsigned char byte = 0;  // the first byte of the token
};

std::vector<Token> Tokens(const std::string& name) {
  std::vector<Token> tokens;
  for (std::size_t i = 0; i < name.size();) {
    Token t;
    t.byte = static_cast<unsigned char>(name[i]);
    if (name[i] >= '0' && name[i] <= '9') {
      std::size_t end = i;
      while (end < name.size() && name[end] >= '0' && name[end] <= '9') ++end;
      t.number = true;
      std::string run = name.substr(i, end - i);
      const std::size_t first = std::min(run.find_first_not_of('0'), run.size() - 1);
      t.zeros = first;
      t.digits = run.substr(first);
      i = end;
    } else {
      ++i;
    }
    tokens.push_back(t);
  }
  return tokens;
}

int Compare(const Token& a, const Token& b) {
  if (a.number && b.number) {
    if (a.digits.size() != b.digits.size()) return a.digits.size() < b.digits.size() ? -1 : 1;
    if (a.digits != b.digits) return a.digits < b.digits ? -1 : 1;
    if (a.zeros != b.zeros) return a.zeros < b.zeros ? -1 : 1;
    return 0;
  }
  return a.byte == b.byte ? 0 : (a.byte < b.byte ? -1 : 1);
}

bool ReferenceLess(const std::string& a, const std::string& b) {
  const std::vector<Token> x = Tokens(a), y = Tokens(b);
  for (std::size_t i = 0; i < x.size() && i < y.size(); ++i) {
    if (const int c = Compare(x[i], y[i]); c != 0) return c < 0;
  }
  return x.size() < y.size();
}

// The number of a COM name (COM1..COM256, any case, no leading zero), or 0.
int ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return 0;
  for (int i = 0; i < 3; ++i) {
    if ((name[i] & ~0x20) != "COM"[i]) return 0;
  }
  if (name[3] == '0') return 0;
  int n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n <= 256 ? n : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> names = fuzz::Arguments(data, size);

  for (const std::string& a : names) {
    for (const std::string& b : names) {
      FUZZ_CHECK(vorsal::NaturalLess(a, b) == ReferenceLess(a, b), "natural order differs from the reference",
                 fuzz::Describe({a, b}));
    }
  }

  std::vector<std::string> ordered = names;
  vorsal::OrderComPorts(ordered);
  std::vector<std::string> sortedIn = names, sortedOut = ordered;
  std::sort(sortedIn.begin(), sortedIn.end());
  std::sort(sortedOut.begin(), sortedOut.end());
  FUZZ_CHECK(sortedIn == sortedOut, "COM ordering lost or made names", fuzz::Describe(names));
  std::vector<int> present;
  for (const std::string& n : names) {
    if (const int number = ComNumber(n); number != 0) present.push_back(number);
  }
  std::sort(present.begin(), present.end());
  present.erase(std::unique(present.begin(), present.end()), present.end());
  for (std::size_t i = 0; i < present.size(); ++i) {
    FUZZ_CHECK(ComNumber(ordered[i]) == present[i], "COM names not first in increasing number",
               fuzz::Describe(ordered));
  }

  // The list as an environment variable holds it: up to the first zero byte.
  const std::string list = names.empty() ? std::string() : names.front();
  const std::vector<std::string> paths = vorsal::SplitPortPaths(list.c_str());
  std::string joined, expected;
  for (const std::string& p : paths) {
    FUZZ_CHECK(!p.empty() && p.find(':') == std::string::npos, "an empty item or one with a colon", list);
    joined += (joined.empty() ? "" : ":") + p;
  }
  for (const char c : list) {
    if (c != ':' || (!expected.empty() && expected.back() != ':')) expected += c;
  }
  if (!expected.empty() && expected.back() == ':') expected.pop_back();
  FUZZ_CHECK(joined == expected, "the items do not join back to the list", list);
  FUZZ_CHECK(vorsal::SplitPortPaths(nullptr).empty(), "no list gives items");
  return 0;
}
