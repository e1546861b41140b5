// vorsal-key: prints the modem key of key names, computed by the same code
// the program uses, for technicians who prepare keys ahead of time or check
// a key outside the window.
//
//   vorsal-key [--keys-ini] [--cp1251] [--] NAME...
//   vorsal-key --store FILE [--] NAME...
//   vorsal-key [--store FILE] --key-file FILE
//
// Exit status: 0 success; 1 a name that cannot be used (no Windows-1251
// form, or no Keys.ini entry form with --keys-ini or --store), a key that
// could not be stored, or a failed write of the output; 2 wrong usage. Names
// are all checked before any key is computed, so a refusal prints and
// stores nothing.
#include "app/program_paths.h"
#include "keys/cp1251.h"
#include "keys/gost_loops.h"
#include "keys/hex_utils.h"
#include "keys/key_derivation.h"
#include "keys/key_name_input.h"
#include "keys/key_store.h"
#include "keys/obtain_key.h"
#include "keys/key_tool_args.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/terminal_input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// Flushes standard output; on failure says so and gives the exit status.
int FinishOutput(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "vorsal-key: write error: %s\n", std::strerror(errno));
    return ExitFailure;
  }
  return status;
}

struct Name {
  std::string_view shown;  // trimmed UTF-8 as given
  std::string cp1251;      // the KeyName the key is derived from
};

// Why a name cannot be written as an entry of the key file, or null. The
// rule is the key store's own, so the tool never offers an entry that the
// program would not store.
const char* KeysIniProblem(std::string_view name) {
  if (name.empty()) return "an empty name has no Keys.ini entry (the program uses the all-zero key for it)";
  if (!vorsal::KeyNameStorable(name))
    return "a Keys.ini entry name cannot contain \"=\" or a line break, nor begin with \"[\" or \";\"";
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  vorsal::platform::UseUtf8Console();
  const vorsal::KeyToolArgs parsed = vorsal::ParseKeyToolArgs(vorsal::platform::ProgramArguments(argc, argv));
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "vorsal-key: %s\n%s", parsed.error.c_str(), vorsal::KeyToolUsage().c_str());
    return ExitUsage;
  }
  if (parsed.action == vorsal::KeyToolArgs::Action::Help) {
    std::fputs(vorsal::KeyToolUsage().c_str(), stdout);
    return FinishOutput(0);
  }
  if (parsed.action == vorsal::KeyToolArgs::Action::Version) {
    std::fputs(vorsal::VersionText("vorsal-key").c_str(), stdout);
    return FinishOutput(0);
  }
  // A re-hash loop forced through the environment that this processor cannot
  // run is refused here, before any key is computed with another loop.
  const vorsal::gost::ReHashLoopChoice loop = vorsal::gost::ChooseReHashLoop(std::getenv(vorsal::gost::LoopVariable));
  if (!loop.refusal.empty()) {
    std::fprintf(stderr, "vorsal-key: %s\n", loop.refusal.c_str());
    return ExitUsage;
  }
  const bool keysIni = parsed.keysIni;
  const bool cp1251Output = parsed.cp1251Output;
  const char* storeFile = parsed.store ? parsed.storeFile.c_str() : nullptr;
  const std::filesystem::path storePath = vorsal::platform::PathFromUtf8(parsed.storeFile);

  std::vector<Name> names;
  if (!parsed.keyFile.empty()) {
    // A name from a file is a secret: it is never shown, so the messages
    // below and the output name none of its characters.
    std::string error;
    std::optional<std::string> name;
    if (parsed.keyFile == "-") {
      const std::optional<std::string> typed =
          vorsal::platform::ReadSecretLine("key name: ", vorsal::KeyNameLineMaxBytes + 1);
      if (typed) name = vorsal::KeyNameFromLine(*typed, vorsal::KeyNameFallsBackToCp1251(), &error);
      else error = "no key name given";
    } else {
      name = vorsal::ReadKeyNameFile(vorsal::platform::PathFromUtf8(parsed.keyFile), &error);
    }
    if (!name || (storeFile && KeysIniProblem(*name))) {
      std::fprintf(stderr, "vorsal-key: cannot use the key name from %s: %s\n",
                   vorsal::QuotedArgument(parsed.keyFile).c_str(), name ? KeysIniProblem(*name) : error.c_str());
      return ExitFailure;
    }
    names.push_back({{}, std::move(*name)});
  }
  bool refused = false;
  const auto refuse = [&refused](std::string_view shown, const char* why) {
    std::fprintf(stderr, "vorsal-key: the key name \"%.*s\" cannot be used: %s\n", static_cast<int>(shown.size()),
                 shown.data(), why);
    refused = true;
  };
  for (const std::string_view arg : parsed.names) {
    Name name{vorsal::TrimKeyName(arg), {}};
    std::string error;
    auto converted = vorsal::Utf8ToCp1251(name.shown, &error);
    if (!converted) {
      refuse(name.shown, error.c_str());
      continue;
    }
    name.cp1251 = std::move(*converted);
    if (const char* problem = keysIni || storeFile ? KeysIniProblem(name.cp1251) : nullptr) {
      refuse(name.shown, problem);
      continue;
    }
    names.push_back(std::move(name));
  }
  if (refused) return ExitFailure;

  int status = 0;
  for (const Name& name : names) {
    // The window's and vorsal-cli's rule, without the look-up: the tool
    // prints what the name derives to.
    const vorsal::ObtainedKey obtained =
        vorsal::ObtainKey(name.cp1251, storeFile != nullptr ? storePath : std::filesystem::path(), {}, /*lookUp=*/false);
    const std::string hex = vorsal::BytesToHex(obtained.key.data(), static_cast<int>(obtained.key.size()));
    const std::string_view shown = cp1251Output ? std::string_view(name.cp1251) : name.shown;
    if (obtained.storing == vorsal::KeyStoring::Failed) {
      std::fprintf(stderr, "vorsal-key: %s\n", obtained.storeError.c_str());
      return FinishOutput(ExitFailure);
    }
    if (obtained.storing == vorsal::KeyStoring::KeptOther) {
      // A name stored before keeps its value, which the program then uses.
      if (parsed.keyFile.empty()) {
        std::fprintf(stderr, "vorsal-key: \"%.*s\" is already in %s with another key; left as it is\n",
                     static_cast<int>(name.shown.size()), name.shown.data(), storeFile);
      } else {
        std::fprintf(stderr, "vorsal-key: the name is already in %s with another key; left as it is\n", storeFile);
      }
      status = ExitFailure;
    }
    const std::string line = !parsed.keyFile.empty() ? hex + "\n"
                              : keysIni ? std::string(shown) + "=" + hex + "\n"
                                        : hex + "  " + std::string(shown) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    if (std::fflush(stdout) != 0) return FinishOutput(ExitFailure);
  }
  return FinishOutput(status);
}
