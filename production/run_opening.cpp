#include "production/run_opening.h"

#include "app/program_paths.h"
#include "platform/files.h"

namespace vorsal::production {

namespace {

OpeningNote& Noted(Opening& opening, OpeningNote::Kind kind, std::string text) {
  OpeningNote& note = opening.notes.emplace_back();
  note.kind = kind;
  note.text = std::move(text);
  return note;
}

}  // namespace

std::filesystem::path DefaultJournalFile() {
  const std::filesystem::path dir = UserDataDir();
  return dir.empty() ? dir : dir / "journal.csv";
}

std::filesystem::path RegistrySpool(const std::filesystem::path& journal) {
  return journal.empty() ? journal : journal.parent_path() / "registry-pending.tsv";
}

Opening OpenJournalFile(Journal& journal, const std::filesystem::path& file) {
  Opening opening;
  if (file.empty()) {
    opening.failure = Opening::Failure::NotOpened;
    opening.error = "no place for the journal";
    return opening;
  }
  if (!journal.Open(file, &opening.error)) {
    opening.failure = Opening::Failure::NotOpened;
    return opening;
  }
  if (journal.OthersMayRead()) {
    const std::string name = platform::Utf8FromPath(file);
    OpeningNote& note = Noted(opening, OpeningNote::Kind::JournalReadable,
                              "warning: other users may read " + name +
                                  "; journals of earlier versions hold key names (chmod 600 it)");
    note.file = name;
  }
  return opening;
}

Opening OpenRegistryFor(RegistryLink& registry, const std::string& target, const std::filesystem::path& journalFile,
                        RegistryLink::Use use) {
  Opening opening;
  if (target.empty()) return opening;
  bool holdsPassword = false;
  std::string problem;
  if (!RegistryLink::Available(problem)) {
    opening.failure = Opening::Failure::NotOpened;
    opening.error = problem;
    return opening;
  }
  if (!RegistryLink::CheckTarget(target, holdsPassword, problem)) {
    opening.failure = Opening::Failure::Unreadable;
    opening.error = "the registry's connection string cannot be read: " + problem;
    return opening;
  }
  if (holdsPassword) {
    Noted(opening, OpeningNote::Kind::RegistryPassword,
        "warning: the registry's connection string holds a password, which other users may read in the "
        "process list or the shell's history; keep it in ~/.pgpass, PGPASSWORD or a service file instead");
  }
  const std::filesystem::path spool = RegistrySpool(journalFile);
  if (spool.empty()) {
    opening.failure = Opening::Failure::NotOpened;
    opening.error = "no place for the registry's pending lines: set XDG_DATA_HOME or HOME, or use --journal";
    return opening;
  }
  int sent = 0;
  std::string error;
  if (!registry.Open(target, spool, use, sent, error)) {
    opening.failure = Opening::Failure::NotOpened;
    opening.error = error;
    return opening;
  }
  for (const std::string& notice : registry.TakeNotices()) {
    Noted(opening, OpeningNote::Kind::RegistryWarning, "warning: " + notice).detail = notice;
  }
  if (sent > 0) {
    Noted(opening, OpeningNote::Kind::SentEarlier,
          "sent " + std::to_string(sent) + " journal line(s) of an earlier run to the registry")
        .count = sent;
  }
  return opening;
}

}  // namespace vorsal::production
