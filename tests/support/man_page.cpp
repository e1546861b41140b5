#include "support/man_page.h"

#include <fstream>
#include <sstream>

namespace vorsal::test {

std::set<std::string> OptionNamesIn(std::string_view line) {
  std::set<std::string> names;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '-' || (i > 0 && std::string_view(" \",").find(line[i - 1]) == std::string_view::npos)) continue;
    std::size_t end = i;
    while (end < line.size() && (line[end] == '-' || (line[end] >= 'a' && line[end] <= 'z') ||
                                 (line[end] >= '0' && line[end] <= '9' && end > i + 1))) {
      ++end;
    }
    const std::string_view name = line.substr(i, end - i);
    const std::size_t dashes = name.find_first_not_of('-');
    if (dashes >= 1 && dashes <= 2 && dashes != std::string_view::npos) names.insert(std::string(name));
    i = end;
  }
  return names;
}

namespace {

// Without roff's escapes: "\-" is a hyphen, "\fR" and the like change the font.
std::string Unroff(std::string line) {
  for (std::size_t at; (at = line.find("\\-")) != std::string::npos;) line.replace(at, 2, "-");
  for (std::size_t at; (at = line.find("\\f")) != std::string::npos;) line.replace(at, 3, " ");
  return line;
}

}  // namespace

std::set<std::string> ManPageOptions(const std::string& path, const std::vector<std::string>& sections) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  std::set<std::string> names;
  std::istringstream lines(text.str());
  bool inSection = false, head = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(".SH ", 0) == 0) {
      inSection = false;
      for (const std::string& section : sections) inSection = inSection || line == ".SH " + section;
    } else if (inSection && head) {
      names.merge(OptionNamesIn(Unroff(line)));
    }
    head = line == ".TP";
  }
  return names;
}

}  // namespace vorsal::test
