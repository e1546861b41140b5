#include "cli/key_input.h"

#include "app/command_line.h"
#include "keys/key_store.h"
#include "keys/obtain_key.h"
#include "platform/files.h"

#include <fstream>

namespace vorsal::cli {

// Kept off the command line, where every user of the computer could read it.
int ReadKeyName(CliOptions& options, CliEnvironment& env, Output& output) {
  std::optional<std::string> typed;
  if (options.keyFile != "-") {
    std::ifstream file(platform::PathFromUtf8(options.keyFile), std::ios::binary);
    std::string line;
    if (!file || !std::getline(file, line)) {
      return output.Fail(ExitUsage, "cannot read the key name from " + QuotedArgument(options.keyFile));
    }
    typed = line;
  } else if (env.readSecret) {
    typed = env.readSecret("key name: ");
  } else if (env.in != nullptr) {
    std::string line;
    if (std::getline(*env.in, line)) typed = line;
  }
  if (!typed) return output.Fail(ExitUsage, "no key name given");
  if (!typed->empty() && typed->back() == '\r') typed->pop_back();
  std::string error;
  if (!AssignKeyName(options, *typed, &error)) return output.Fail(ExitUsage, error);
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
