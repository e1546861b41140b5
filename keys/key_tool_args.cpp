#include "keys/key_tool_args.h"

#include "app/command_line.h"

namespace vorsal {
namespace {

enum class Id { KeysIni, Cp1251, Store, KeyFile, Help, Version };

// Every option of vorsal-key, declared once: the parser and the help read
// this table, the manual page is checked against it.
const OptionTable& Options() {
  static const OptionTable options = {
      {int(Id::KeysIni), "", "--keys-ini", "", 0, -1, "print Keys.ini entries instead: NAME=HEX"},
      {int(Id::Cp1251), "", "--cp1251", "", 0, -1,
       "write the names as Windows-1251 bytes, the code page of\nKeys.ini, not as UTF-8"},
      {int(Id::Store), "", "--store", "FILE", 0, -1,
       "also store each key in the key file FILE (Keys.ini) as\n"
       "the program does: section [Keys] created when missing,\n"
       "the file rewritten safely under a lock, a name already\n"
       "stored left as it is"},
      {int(Id::KeyFile), "", "--key-file", "FILE", 0, -1,
       "take the one name from the first line of FILE (UTF-8,\n"
       "UTF-16 with a byte order mark, or - for standard input),\n"
       "kept off the command line; only the key is printed"},
      {int(Id::Help), "-h", "--help", "", 0, -1, "display this help and exit"},
      {int(Id::Version), "", "--version", "", 0, -1, "output version information and exit"},
  };
  return options;
}

}  // namespace

KeyToolArgs ParseKeyToolArgs(const std::vector<std::string>& args) {
  KeyToolArgs result;
  ArgumentScanner scanner(Options(), args, {.attachedValues = false, .endMark = true});
  for (ScannedArgument arg; scanner.Next(arg);) {
    if (arg.kind == ScannedArgument::Kind::Operand) {
      result.names.emplace_back(arg.text);
      continue;
    }
    if (arg.kind == ScannedArgument::Kind::Unknown) {
      result.error = "unknown option " + QuotedArgument(arg.text);
      return result;
    }
    switch (Id(arg.option->id)) {
      case Id::KeysIni: result.keysIni = true; break;
      case Id::Cp1251: result.cp1251Output = true; break;
      case Id::Store: {
        const std::optional<std::string> file = scanner.Value(arg);
        if (!file) {
          result.error = "--store needs a file";
          return result;
        }
        result.store = true;
        result.storeFile = *file;
        break;
      }
      case Id::KeyFile: {
        const std::optional<std::string> file = scanner.Value(arg);
        if (!file || file->empty()) {
          result.error = "--key-file needs a file";
          return result;
        }
        result.keyFile = *file;
        break;
      }
      case Id::Help: result.action = KeyToolArgs::Action::Help; return result;
      case Id::Version: result.action = KeyToolArgs::Action::Version; return result;
    }
  }
  if (result.store && result.keysIni) {
    result.error = "--store and --keys-ini cannot be used together";
  } else if (!result.keyFile.empty() && (result.keysIni || result.cp1251Output)) {
    result.error = "--key-file prints no name: --keys-ini and --cp1251 do not go with it";
  } else if (!result.keyFile.empty() && !result.names.empty()) {
    result.error = "--key-file and names on the command line exclude each other";
  } else if (result.names.empty() && result.keyFile.empty()) {
    result.error = "no key name given";
  }
  return result;
}

const OptionTable& KeyToolOptions() { return Options(); }

std::string KeyToolUsage() {
  return "Usage: vorsal-key [--keys-ini] [--cp1251] [--] NAME...\n"
         "  or:  vorsal-key --store FILE [--] NAME...\n"
         "  or:  vorsal-key [--store FILE] --key-file FILE\n"
         "Prints the 256-bit modem key of each key name: 64 hexadecimal digits,\n"
         "two spaces and the name, one line per name. A name is trimmed of blanks\n"
         "at both ends and hashed as Windows-1251 text, as the program does; an\n"
         "empty name has the all-zero key.\n"
         "\n" +
         OptionHelp(Options(), 16) +
         "\n"
         "Exit status: 0 if all went well, 1 if a name could not be used or\n"
         "stored or the output could not be written, 2 for wrong usage.\n";
}

}  // namespace vorsal
