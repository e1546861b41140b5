// The production's side of the registry that several stations share:
// addresses for the batch, its journal lines, the registry's tables and its
// summary of runs. Safe to use from the batch's port threads. Built without
// libpq, every call fails saying so.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "production/journal.h"

namespace vorsal::production {

class RegistryLink {
 public:
  RegistryLink();
  ~RegistryLink();
  RegistryLink(const RegistryLink&) = delete;
  RegistryLink& operator=(const RegistryLink&) = delete;

  // The connection string of --registry, else of VORSAL_REGISTRY; empty:
  // no registry.
  static std::string Target(const std::string& fromCommandLine);
  // Whether the connection string can be read (false with `error` set) and
  // whether it holds a password (`holdsPassword`). Without the registry
  // built, every string reads.
  static bool CheckTarget(const std::string& target, bool& holdsPassword, std::string& error);
  // Whether this program has the registry: built with it and, on Windows,
  // its libpq.dll loaded (false with `error` naming what is missing).
  static bool Available(std::string& error);

  // What the connection is for: creating the tables, reading them, or a
  // batch (whose user must be allowed to take addresses and store lines).
  enum class Use { Init, Read, Batch };
  // Connects. Unless for Init, checks the tables (and for a batch the
  // user's privileges, before anything is written) and first sends the
  // lines kept in `spool` by a run that lost the registry; `sent` counts
  // them.
  bool Open(const std::string& target, const std::filesystem::path& spool, Use use, int& sent, std::string& error);
  bool Active() const { return active_; }
  // Where lines wait while the registry cannot be reached.
  std::filesystem::path SpoolFile() const { return spool_; }

  // A command in progress is cancelled when a stop comes meanwhile.
  void SetStopRequests(std::function<int()> stopRequests);

  // Refused: the server answered, and said no (a privilege taken away).
  enum class Take { Ok, Exhausted, Lost, Refused, Stopped };
  // The lowest free address of `network` from `from` on, taken for this run
  // in the registry before any modem is written with it.
  Take TakeAddress(int network, int from, int last, const RunIdentity& run, const std::string& port, int& address,
                   std::string& error);
  // Gives back an address the run took but no modem holds.
  void Release(int network, int address, const RunIdentity& run);
  // Stores the stamped journal line under the run's next line id; when the
  // registry cannot take it, keeps it for the next run and returns false.
  // A line the registry refuses for what it holds is set aside (see
  // TakeNotices) and the run goes on: true.
  bool Record(const JournalRecord& record, std::string& error);

  // Creates or checks the tables; `description` names the database.
  bool Init(std::string& description, std::string& error);
  // Every run of every station, oldest first.
  bool Summary(std::vector<RunSummary>& runs, std::string& error);
  // Every station's journal lines, as the registry received them.
  bool Records(std::vector<JournalRecord>& records, std::string& error);
  // "database NAME on HOST as USER", never the password; empty when not open.
  std::string Describe() const;
  // What the link has to tell that stops nothing, each once: lines kept
  // for other registries, lines set aside because the registry refused
  // them, a damaged spool. Open leaves its own here, Record adds the lines
  // it set aside.
  std::vector<std::string> TakeNotices();

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::filesystem::path spool_;
  bool active_ = false;
};

}  // namespace vorsal::production
