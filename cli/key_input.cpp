#include "cli/key_input.h"

#include "app/command_line.h"
#include "keys/key_name_input.h"
#include "keys/key_store.h"
#include "keys/obtain_key.h"
#include "platform/files.h"

#include <cstdio>

namespace vorsal::cli {

// Kept off the command line, where every user of the computer could read
// it, and so never shown either.
int ReadKeyName(CliOptions& options, CliEnvironment& env, Output& output) {
  std::optional<std::string> name;
  std::string error;
  if (options.keyFile != "-") {
    name = ReadKeyNameFile(platform::PathFromUtf8(options.keyFile), &error);
    if (!name) {
      return output.Fail(ExitUsage, "cannot read the key name from " + QuotedArgument(options.keyFile) + ": " + error);
    }
  } else {
    std::optional<std::string> typed;
    if (env.readSecret) {
      typed = env.readSecret("key name: ");
    } else if (env.in != nullptr) {
      // At most one byte past the longest line: endless input is not read.
      std::string line;
      bool any = false;
      for (int c = 0; line.size() <= KeyNameLineMaxBytes && (c = env.in->get()) != EOF;) {
        any = true;
        if (c == '\n') break;
        line += static_cast<char>(c);
      }
      if (any) typed = line;
    }
    if (!typed) return output.Fail(ExitUsage, "no key name given");
    name = KeyNameFromLine(*typed, KeyNameFallsBackToCp1251(), &error);
    if (!name) return output.Fail(ExitUsage, "the key name cannot be used: " + error);
  }
  // An empty name would write the all-zero key; a script whose file came
  // out empty must not do that by accident.
  if (name->empty()) return output.Fail(ExitUsage, "key name is empty");
  options.keyGiven = true;
  options.keyName = std::move(*name);
  options.keyNameUtf8.clear();
  return ExitOk;
}

CommandKey ObtainCommandKey(const CliOptions& options, const CliEnvironment& env, Output& output, bool severalPorts) {
  const std::filesystem::path store = env.keyStore.empty() ? KeyStorePath() : env.keyStore;
  KeyObtainHooks hooks;
  hooks.progress = [&](int chunk) { output.Progress("deriving key", chunk, KeyDerivationChunks, severalPorts); };
  const ObtainedKey obtained = vorsal::ObtainKey(options.keyName, store, hooks);
  CommandKey result;
  result.key = obtained.key;
  // A name kept off the command line (typed or read from a file) is not
  // shown on the screen either.
  const std::string name = options.keyFile.empty() ? "key '" + options.keyNameUtf8 + "'" : "the key";
  if (obtained.source == KeySourceKind::Damaged) {
    // A name kept off the command line is not shown even here.
    const std::string entry =
        options.keyFile.empty() ? "the entry '" + options.keyNameUtf8 + "'" : "the entry of the key name";
    output.Say(entry + " in " + platform::Utf8FromPath(store) +
               " is not a key of 64 hexadecimal digits; no modem was written. Correct the entry, or store the key "
               "anew with vorsal-key --store");
    result.refused = true;
    return result;
  }
  if (obtained.source == KeySourceKind::Store) {
    output.Message() << name << " found in " << platform::Utf8FromPath(store) << '\n';
    return result;
  }
  switch (obtained.storing) {
    case KeyStoring::Stored:
      output.Message() << name << " stored in " << platform::Utf8FromPath(store) << '\n';
      break;
    case KeyStoring::KeptOther:
      output.Message() << name << " is in " << platform::Utf8FromPath(store) << " with another key, left as it is\n";
      break;
    case KeyStoring::NotStorable:
      output.Message() << "key name cannot be kept in Keys.ini as it is; the key is written but not stored\n";
      break;
    case KeyStoring::Failed:
      output.Message() << obtained.storeError << "; the key goes to the modem but is not stored\n";
      result.notStored = true;
      break;
    case KeyStoring::NotTried:
      break;
  }
  return result;
}

}  // namespace vorsal::cli
