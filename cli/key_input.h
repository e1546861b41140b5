// The key of a command: its name read from --key-file (a file's first line,
// or standard input, typed without echo on a terminal), then the key looked
// up in Keys.ini or derived and stored.
#pragma once

#include "cli/commands.h"
#include "cli/output.h"
#include "keys/key_derivation.h"

namespace vorsal::cli {

// Sets the key name of `options` from --key-file; ExitOk or the status of
// the failure it said.
int ReadKeyName(CliOptions& options, CliEnvironment& env, Output& output);

struct CommandKey {
  BinaryKeyBytes key{};
  bool notStored = false;  // a derived key that Keys.ini could not take
  bool refused = false;    // Keys.ini holds the name with a value that is no key (said)
};
// Looks the key up in Keys.ini or derives and stores it, saying where it
// is. A key that Keys.ini cannot keep still goes to the modem: that is what
// was asked for, and the same name derives the same key next time.
CommandKey ObtainCommandKey(const CliOptions& options, const CliEnvironment& env, Output& output, bool severalPorts);

}  // namespace vorsal::cli
