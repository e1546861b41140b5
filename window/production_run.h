// A production run as both windows drive it, without a toolkit: the
// journal and the registry opened as vorsal-cli batch opens them, the key
// looked up in Keys.ini or derived, then production::Batch on a thread of
// its own with the ProductionModel as its listener. The window draws the
// model on a timer and forwards the stop button and the system's port list
// here; the model tells when the batch has returned (RunState::Finished).
#pragma once

#include "keys/obtain_key.h"
#include "window/production_model.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vorsal {

struct ProductionRunSetup {
  ProductionSettings settings;               // keyName as typed (UTF-8); empty: no key
  std::vector<production::BatchPort> ports;  // the checked ports, or every USB adapter
  std::filesystem::path journal;             // empty: the user's journal.csv
  std::filesystem::path keyStore;            // Keys.ini; empty: the user's
  int connectionType = 0;
};

// What a test puts in place of the devices and of time.
struct ProductionRunEnvironment {
  // The line to the modem at a device path, created on its worker's
  // thread; empty: the serial device.
  std::function<std::unique_ptr<production::ModemLine>(const std::string& path)> openLine;
  std::function<void(int ms)> sleep;  // paces the batch's polls; empty: real sleeps
};

// The system's ports as the production window offers them, each with its
// adapter's identity, less the one the main window holds (one port, one
// owner).
std::vector<production::BatchPort> ProductionPorts(const std::string& heldByMainWindow);
// The ports a run serves: with "all USB adapters" every offered port that
// has an adapter, else the checked ones (never the main window's).
std::vector<production::BatchPort> RunPorts(const ProductionSettings& settings,
                                            const std::vector<production::BatchPort>& offered,
                                            const std::string& heldByMainWindow);
// The journal file a run writes: `journal`, else the user's journal.csv.
std::filesystem::path RunJournalFile(const std::filesystem::path& journal);
// "Отчёт…": the report of this station's journal, written whole into
// `output`. False with `error` (the user's text) when the journal cannot be
// read or the file cannot be written.
bool WriteStationReport(const std::filesystem::path& journal, const std::filesystem::path& output,
                        std::string& error);

class ProductionRun {
 public:
  explicit ProductionRun(ProductionModel& model, ProductionRunEnvironment environment = {});
  // A run still going is abandoned (its modems are journaled still) and
  // waited for.
  ~ProductionRun();
  ProductionRun(const ProductionRun&) = delete;
  ProductionRun& operator=(const ProductionRun&) = delete;

  // Opens the journal and the registry, obtains the key (`keyHooks` show a
  // derivation's progress and may cancel it) and starts the batch. False
  // with `error` (the user's text) when any of that fails or is cancelled:
  // then no modem is touched and the model is left as it was.
  bool Start(const ProductionRunSetup& setup, const KeyObtainHooks& keyHooks, std::string& error);
  // The stop button: the first ends after the modems in hand, the second
  // abandons them.
  void Stop();
  // The system's ports now: lost ones show as such, and with "all USB
  // adapters" a new adapter joins the run.
  void PortsChanged(const std::vector<production::BatchPort>& present);
  // Once the batch has returned: waits for its thread and returns true, once.
  bool Poll();
  // Waits for the batch to return (after a stop), then as Poll.
  void Wait() { Join(); }
  bool Running() const { return worker_.joinable(); }
  // What the opening said besides (warnings, a key not stored), to show.
  const std::vector<std::string>& Notes() const { return notes_; }

 private:
  void Join();

  ProductionModel& model_;
  ProductionRunEnvironment environment_;
  struct Resources;  // the journal, the registry and the batch of the run
  std::unique_ptr<Resources> resources_;
  std::vector<std::string> notes_;
  std::atomic<bool> returned_{false};
  std::thread worker_;
};

}  // namespace vorsal
