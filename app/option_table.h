// The command-line programs' options, each declared once in a table: the
// parser walks the arguments with it, the help's option list is written from
// it, and the manual pages' lists are checked against it. Each program keeps
// its own wording of a refusal; the table only says what was given.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorsal {

// One option as a program declares it.
struct OptionSpec {
  int id;                      // the program's own name for it (an enum's value)
  std::string_view shortName;  // "-p", or empty
  std::string_view longName;   // "--port"
  std::string_view value;      // what it takes, as the help names it; empty for a switch
  int low = 0, high = -1;      // a whole number's bounds (low <= high), else none
  std::string help = {};       // its lines in the help ('\n' between them); empty: not listed
  unsigned scope = 0;          // the program's own use: where it may stand, which list shows it
  bool number() const { return low <= high; }
};

using OptionTable = std::vector<OptionSpec>;

// The option that `name` ("-p", "--port") names, or null.
const OptionSpec* FindOption(const OptionTable& table, std::string_view name);

// The help's lines for the options `shown` keeps, in the table's order: the
// names and the value ("  -p, --port PORT") padded to `column`, then the help's
// lines, each further one indented to `column`. A head that leaves fewer than
// two blanks before the column stands on a line of its own.
std::string OptionHelp(const OptionTable& table, std::size_t column,
                       const std::function<bool(const OptionSpec&)>& shown = {});

// How a program reads its command line.
struct ScanRules {
  bool attachedValues = true;  // "--name=value" as well as "--name value"
  bool endMark = true;         // "--" ends the options: every later argument is an operand
};

// One argument as the scanner saw it.
struct ScannedArgument {
  enum class Kind { Operand, Option, Unknown } kind = Kind::Operand;
  const OptionSpec* option = nullptr;   // Option: what it names
  std::string name;                     // Option, Unknown: the name as given (before any '=')
  std::optional<std::string> attached;  // Option, Unknown: the text after '=' of "--name=value"
  std::string_view text;                // the whole argument
};

// Walks `args` left to right. An argument that does not begin with '-', or is
// "-" alone (standard input), is an operand; so is every argument after the
// end mark, which is itself skipped.
class ArgumentScanner {
 public:
  ArgumentScanner(const OptionTable& table, const std::vector<std::string>& args, ScanRules rules = {});

  // The next argument; false once they are all read.
  bool Next(ScannedArgument& argument);
  // The value of the option just read: its attached text, else the next
  // argument (whatever it is); nullopt when there is none.
  std::optional<std::string> Value(const ScannedArgument& argument);

 private:
  const OptionTable& table_;
  const std::vector<std::string>& args_;
  ScanRules rules_;
  std::size_t next_ = 0;
  bool optionsEnded_ = false;
};

}  // namespace vorsal
