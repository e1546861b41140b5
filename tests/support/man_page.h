// The option names a manual page documents, for checking it against a
// program's option table.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vorsal::test {

// The option names in a line of text: "-p", "--port", ... after a blank, a
// quote, a comma or the line's start ("--" alone is none).
std::set<std::string> OptionNamesIn(std::string_view line);

// The options named by the tagged paragraphs' heads (the line after ".TP")
// in the sections `sections` (".SH OPTIONS" is "OPTIONS") of the manual page
// at `path`. Empty when the file or a section is missing.
std::set<std::string> ManPageOptions(const std::string& path, const std::vector<std::string>& sections);

}  // namespace vorsal::test
