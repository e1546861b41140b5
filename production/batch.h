// The production batch: one worker per port, each waiting for a modem,
// configuring it (the key first, then an address the read-back confirms),
// journaling it and waiting for it to be disconnected, all drawing on one
// address pool or on the registry. The first stop request ends the batch
// after the modems in hand, the second abandons them (they are journaled
// still). What happens is reported to a listener as values; the client
// words and shows it.
#pragma once

#include "keys/key_derivation.h"
#include "production/journal.h"
#include "production/journal_record.h"
#include "production/modem_steps.h"
#include "production/registry_link.h"
#include "protocol/frame.h"
#include "serial/usb_identity.h"

#include <atomic>
#include <filesystem>
#include <list>
#include <thread>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vorsal::production {

// The identity of a USB adapter as the journal keeps it (vendor:product
// and its serial or by-id name); empty for other ports.
std::string AdapterIdentity(const UsbIdentity& usb);

// The addresses of one batch, handed out to all its ports: an address is
// reserved for one modem at a time, taken for good once a modem holds it,
// and given back when the modem it was offered did not take it.
class AddressPool {
 public:
  explicit AddressPool(int start) : start_(start) {}
  std::optional<int> Reserve();
  // Reserves an address handed out elsewhere (by the registry).
  void Reserve(int address) { reserved_.insert(address); }
  void Take(int address);
  void GiveBack(int address) { reserved_.erase(address); }
  bool Taken(int address) const { return taken_.count(address) != 0; }
  // The lowest address neither taken nor reserved.
  int Next() const;

 private:
  int start_;
  std::set<int> taken_;
  std::set<int> reserved_;
};

// The ports, each device once: a link and the device it names (or two
// links to one device) are one port, the first named.
std::vector<std::string> DistinctDevices(const std::vector<std::string>& paths);

struct BatchPort {
  std::string path;
  std::string adapter;  // AdapterIdentity of the port's adapter
};

// How many modems a batch may be asked for (--count): one at least, and no
// more than a network has addresses.
constexpr int MinBatchCount = 1;
constexpr int MaxBatchCount = MaxAddress + 1;

struct BatchSettings {
  std::vector<BatchPort> ports;
  int network = 0;
  int start = 1;
  int count = 0;  // 0: until stopped
  bool keyGiven = false;
  BinaryKeyBytes key{};
  int retries = 0;
};

// A modem the batch finished with: its journal line (stamped and written),
// what it reported when it came, and why it ended so (the line's message
// in values).
struct ModemEnded {
  std::string port;
  ModemParams found;
  JournalRecord record;
  EndReason reason;
};

struct BatchCounters {
  int done = 0;
  int failed = 0;
  int inHand = 0;
  int nextAddress = 0;  // of the pool; meaningless while the registry gives them
  bool fromRegistry = false;
};

// Called from the ports' workers, each on its own thread.
class BatchListener {
 public:
  virtual ~BatchListener() = default;
  // A port that could not be opened: the reason and the advice.
  virtual void PortFailed(const std::string& port, const std::string& failure) = 0;
  // Waiting for a modem; `nextAddress` empty when the registry gives it.
  virtual void Waiting(const std::string& port, std::optional<int> nextAddress) = 0;
  // The first modem already holds the start address, and no key tells
  // new modems from configured ones.
  virtual void StartAddressInUse(int start) = 0;
  virtual void KeyParts(const std::string& port, int acknowledged) = 0;
  // The address goes to the modem and is read back.
  virtual void AddressWriting(const std::string& /*port*/, int /*address*/) {}
  // A modem is done, failed, refused, skipped or interrupted.
  virtual void Ended(const ModemEnded& modem) = 0;
  virtual void Counters(const BatchCounters& counters) = 0;
  virtual void Disconnect(const std::string& port) = 0;
  // The modem on the port failed twice without leaving it: it is to be
  // taken away, and the port waits until its line stays silent.
  virtual void TakeAway(const std::string& port) { Disconnect(port); }
  // The port's device is not there (missing at the start, or gone for a
  // while); the port keeps trying to open it.
  virtual void AdapterGone(const std::string& port) = 0;
  // A modem this run configured came back (its footprint says so).
  virtual void AlreadyConfigured(const std::string& port, int address) = 0;
  // The batch has its count of modems; the modem on the port is left alone.
  virtual void LeftForCount(const std::string& port, int count) = 0;
  // A stop came while the modem answered; it is left alone.
  virtual void LeftAtStop(const std::string& port, int address) = 0;
  // Without a key: a modem answers at an address this run wrote. True to
  // write the next address over it, false to leave it alone.
  virtual bool RewriteSeenAddress(const std::string& port, int address) = 0;
  // A journal line could not be written; the batch ends after the modems
  // in hand.
  virtual void JournalFailed(const std::string& error) = 0;
  // The registry went away; the batch ends after the modems in hand.
  virtual void RegistryLost(const std::string& error, const std::filesystem::path& spool) = 0;
};

struct BatchEnvironment {
  // The line to the modem at a device path, created on the worker's thread.
  std::function<std::unique_ptr<ModemLine>(const std::string& path)> openLine;
  // Paces the polls while a modem stays connected or its port is away.
  std::function<void(int ms)> sleep;
  // How many stop requests have come so far.
  std::function<int()> stopRequests;
};

struct BatchResult {
  Verdict verdict = Verdict::Ok;
  BatchCounters counters;
};

class Batch {
 public:
  // `journal` (when open) and `registry` (when active) receive every line;
  // `run` stamps them.
  Batch(BatchSettings settings, BatchEnvironment environment, Journal& journal, RegistryLink& registry,
        RunIdentity run, BatchListener& listener);
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  // Serves every port until the batch ends; no port talks to its modem
  // before every port is open.
  BatchResult Run();
  // A port that appeared during the run (an adapter plugged in) joins it
  // on a worker of its own, from any thread; false once the batch is
  // stopping or has ended.
  bool Join(const BatchPort& port);

 private:
  enum class Seen { New, Done, Skip, Unknown };
  bool Finished() const { return finished_.load(); }
  bool StopWaiting() const { return steps_.StopRequests() >= AbandonWhileWaiting || Finished(); }
  // `failedOpens`: openings of the port that failed in a row; updated.
  bool AwaitModem(ModemLine& line, const BatchPort& port, ModemParams& params, int& silentPolls, int& failedOpens);
  bool AwaitDisconnect(ModemLine& line, int silentPolls);
  bool BeginModem();
  // `again`: the modem failed on its port before and has not left it; it
  // is counted once, as a modem, by its last outcome.
  void EndModem(Verdict verdict, std::string_view result, bool again);
  BatchCounters CountersLocked() const;
  Seen SeenBefore(ModemLine& line, const BatchPort& port, const ModemParams& current);
  Verdict Record(JournalRecord& entry, Verdict verdict, std::string_view result, const std::string& message);
  void LoseRegistry(const std::string& error);
  void GiveBack(int address);
  void Mark(JournalRecord mark);
  std::string RunEndReason() const;  // under state_
  // False when the modem could not be told apart yet (nothing was done).
  // `failures`: how often the modem on the port has failed without leaving
  // it; updated.
  bool ConfigureModem(ModemLine& line, const BatchPort& port, const ModemParams& current, int& failures);
  void WarnAboutStart(const ModemParams& first);
  void ServePort(const BatchPort& port, std::function<void()> arriveAndWait);

  BatchSettings settings_;
  BatchEnvironment environment_;
  Journal& journal_;
  RegistryLink& registry_;
  RunIdentity run_;
  BatchListener& listener_;
  ModemSteps steps_;

  mutable std::mutex state_;
  AddressPool pool_;                // under state_
  std::string referenceFootprint_;  // the first footprint of the batch's key, under state_
  int done_ = 0, failed_ = 0, inHand_ = 0;  // under state_
  Verdict verdict_ = Verdict::Ok;          // under state_
  std::atomic<bool> finished_{false};
  std::atomic<bool> firstSeen_{false};
  std::atomic<bool> registryLostSaid_{false};

  std::mutex joining_;
  std::list<BatchPort> joinedPorts_;    // under joining_; a list keeps each worker's port in place
  std::vector<std::thread> joined_;     // under joining_; taken by Run to wait for them
  bool ended_ = false;                  // under joining_: Run has waited for every worker
};

}  // namespace vorsal::production
