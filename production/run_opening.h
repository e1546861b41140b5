// Opening what a production run records into, the same for every client:
// the journal file (the user's journal.csv unless another is named) and the
// registry (its connection string checked, then the lines an earlier run
// could not send sent first). A failure says what went wrong and the run
// must not start; notes are said and do not stop it.
#pragma once

#include "production/journal.h"
#include "production/registry_link.h"

#include <filesystem>
#include <string>
#include <vector>

namespace vorsal::production {

// journal.csv in the user's data directory; empty when there is none.
std::filesystem::path DefaultJournalFile();
// Where registry lines wait while the registry cannot be reached: beside the journal.
std::filesystem::path RegistrySpool(const std::filesystem::path& journal);

// A note of an opening: its kind and values for a client to word, and the
// English text the command line says.
struct OpeningNote {
  enum class Kind {
    JournalReadable,   // other users may read `file`
    RegistryPassword,  // the connection string holds a password
    RegistryWarning,   // the registry opened with a warning (`text` after "warning: ")
    SentEarlier,       // `count` lines of an earlier run sent to the registry
  };
  Kind kind = Kind::JournalReadable;
  std::string text;
  std::string file;
  int count = 0;
  std::string detail;  // RegistryWarning: the registry's own words
};

struct Opening {
  enum class Failure {
    None,
    Unreadable,  // the registry's connection string cannot be read
    NotOpened,   // the file or the registry could not be opened
  };
  Failure failure = Failure::None;
  std::string error;               // with a failure
  std::vector<OpeningNote> notes;  // warnings and what was done, in order
  bool Ok() const { return failure == Failure::None; }
};

// `file` empty: there is no place for a journal (a failure).
Opening OpenJournalFile(Journal& journal, const std::filesystem::path& file);
// `target` empty: no registry, nothing to do.
Opening OpenRegistryFor(RegistryLink& registry, const std::string& target, const std::filesystem::path& journalFile,
                        RegistryLink::Use use);

}  // namespace vorsal::production
