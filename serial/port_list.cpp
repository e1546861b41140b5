#include "serial/port_list.h"

#include "platform/port_facts.h"

#include <algorithm>
#include <cctype>

namespace vorsal {

namespace {

bool IsComName(const std::string& name, const std::string& number) {
  if (name.size() != 3 + number.size()) return false;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return false;
  }
  return name.compare(3, std::string::npos, number) == 0;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void OrderComPorts(std::vector<std::string>& names) {
  std::size_t front = 0;
  for (int n = 1; n <= 256 && front < names.size(); ++n) {
    const std::string number = std::to_string(n);
    for (std::size_t i = front; i < names.size(); ++i) {
      if (IsComName(names[i], number)) {
        std::swap(names[i], names[front++]);
        break;
      }
    }
  }
}

bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && IsDigit(a[ei])) ++ei;
      while (ej < b.size() && IsDigit(b[ej])) ++ej;
      // Compare the runs as numbers without converting: skip leading zeros,
      // then the longer run is larger, else the first differing digit decides.
      std::size_t si = i, sj = j;
      while (si + 1 < ei && a[si] == '0') ++si;
      while (sj + 1 < ej && b[sj] == '0') ++sj;
      if (ei - si != ej - sj) return ei - si < ej - sj;
      const int c = a.compare(si, ei - si, b, sj, ej - sj);
      if (c != 0) return c < 0;
      if (ei - i != ej - j) return ei - i < ej - j;  // fewer leading zeros first
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

std::vector<std::string> SystemPortNames(const std::string& sysfsRoot) {
  std::vector<std::string> names = platform::SystemPortNames(sysfsRoot);
  std::sort(names.begin(), names.end(), NaturalLess);
  return names;
}

std::vector<std::string> SplitPortPaths(const char* list) {
  std::vector<std::string> paths;
  if (list == nullptr) return paths;
  const std::string text(list);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(':', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) paths.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return paths;
}

}  // namespace vorsal
