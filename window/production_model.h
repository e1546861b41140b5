// The production window's rules without a toolkit: its settings (what is
// remembered and what never is), a tile per port with its step and colour,
// the counters, the run's journal lines newest first, the two stops, closing
// during a run, one owner per port, and ports that come and go. The batch
// itself is production::Batch, which reports to this model from its
// workers' threads; a window reads the model on its timer and draws it.
#pragma once

#include "production/batch.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vorsal {

struct ProductionSettings {
  std::vector<std::string> ports;  // the checked ports; ignored with allUsbAdapters
  bool allUsbAdapters = true;
  int network = NetworkWorking;
  int start = 1;
  std::string keyName;            // from the Keys.ini list or typed; never remembered
  std::optional<int> count;       // empty: until stopped
  std::string registry;           // connection string; empty: the station's own addresses
};

// What is kept of the settings per user: the key name never, the registry's
// connection string without its password.
ProductionSettings RememberedSettings(const ProductionSettings& settings);
std::string WithoutPassword(const std::string& connection);

enum class TileStep { Waiting, Key, Address, Done, Failed, Disconnect, TakeAway, Lost, Stopped };
enum class TileColour { Idle, Busy, Done, Failed, Lost };

struct PortTile {
  std::string port;
  std::string adapter;
  TileStep step = TileStep::Waiting;
  int keyParts = 0;   // with Key
  int address = -1;   // with Address and Done
  std::string reason;  // with Failed and TakeAway
  std::string Text() const;  // what the tile says
  TileColour Colour() const;
};

enum class RunState { Idle, Running, Stopping, Abandoning, Finished };

struct ProductionCounters {
  int done = 0;
  int failed = 0;
  std::string next;          // the next address, or that the registry gives it
  long long elapsedSeconds = 0;
  int modemsPerHour = 0;     // done per hour of the run so far
};

class ProductionModel : public production::BatchListener {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // `now`: the time the counters are measured by; empty: the steady clock.
  explicit ProductionModel(Clock now = {});

  // The ports a user may check: the system's, less the one the main window
  // holds open (one port, one owner).
  static std::vector<production::BatchPort> OfferedPorts(const std::vector<production::BatchPort>& system,
                                                         const std::string& heldByMainWindow);

  // A run begins on these ports (a tile each, waiting). False with `error`
  // when there is nothing to run on or no key name where a key is wanted.
  bool Start(const ProductionSettings& settings, const std::vector<production::BatchPort>& ports,
             std::string& error);
  // The batch has returned.
  void Finished(const production::BatchResult& result);

  // The stop button: the first press ends the run after the modems in hand,
  // the second abandons them (they are journaled still).
  void Stop();
  // For the batch: how many stops have been asked for.
  int StopRequests() const;

  // Closing the window: true when it may close at once; during a run the
  // user is asked first.
  bool MayCloseWithoutAsking() const;

  // The system's ports now. Ports of the run that are gone show as lost
  // (the others go on); with "all USB adapters", an adapter that was not
  // in the run yet joins it: it is returned, for the batch to serve.
  std::vector<production::BatchPort> PortsChanged(const std::vector<production::BatchPort>& present);

  RunState State() const;
  std::vector<PortTile> Tiles() const;
  ProductionCounters Counters() const;
  // The CSV lines of the run's journal, newest first.
  std::vector<std::string> JournalLines() const;
  // What went wrong beyond a modem (the journal, the registry), oldest first.
  std::vector<std::string> Messages() const;

  // production::BatchListener, called from the batch's threads.
  void PortFailed(const std::string& port, const std::string& failure) override;
  void Waiting(const std::string& port, std::optional<int> nextAddress) override;
  void StartAddressInUse(int) override {}
  void KeyParts(const std::string& port, int acknowledged) override;
  void AddressWriting(const std::string& port, int address) override;
  void Ended(const production::ModemEnded& modem) override;
  void Counters(const production::BatchCounters& counters) override;
  void Disconnect(const std::string& port) override;
  void TakeAway(const std::string& port) override;
  void AlreadyConfigured(const std::string& port, int address) override;
  void LeftForCount(const std::string& port, int count) override;
  void LeftAtStop(const std::string& port, int address) override;
  void AdapterGone(const std::string& port) override;
  bool RewriteSeenAddress(const std::string&, int) override { return false; }
  void JournalFailed(const std::string& error) override;
  void RegistryLost(const std::string& error, const std::filesystem::path& spool) override;

 private:
  PortTile* TileOf(const std::string& port);  // under mutex_
  std::string NextText(int next) const;

  Clock now_;
  mutable std::mutex mutex_;
  ProductionSettings settings_;
  RunState state_ = RunState::Idle;
  int stops_ = 0;
  std::chrono::steady_clock::time_point started_{}, ended_{};
  std::vector<PortTile> tiles_;
  production::BatchCounters counters_;
  std::vector<std::string> journal_;  // oldest first
  std::vector<std::string> messages_;
};

}  // namespace vorsal
