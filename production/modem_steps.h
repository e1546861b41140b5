// One modem's steps, as the batch and the single commands take them: the
// line to the modem, the address write verified by a read-back, the key
// transfer with its footprint, and how far a stop has gone.
#pragma once

#include "production/journal_record.h"
#include "production/modem_link.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vorsal::production {

// What the steps need of the modem on one port: a ModemLink on the device,
// or a stand-in in tests. One line is used by one thread.
class ModemLine {
 public:
  virtual ~ModemLine() = default;
  // Opens the port; false with `failure` (when given) set to the reason and
  // what the user can do about it.
  virtual bool Open(std::string* failure) = 0;
  // Whether the last Open failed because there is no such device (an
  // adapter unplugged, or not plugged in yet): worth trying again.
  virtual bool Missing() const { return false; }
  virtual bool IsOpen() const = 0;
  virtual void Close() = 0;
  virtual std::string PortError() const = 0;
  virtual Outcome ReadParams(ModemParams& params) = 0;
  virtual Outcome WriteAddress(const ModemParams& current, int address, int network) = 0;
  virtual Outcome SendKey(const std::uint8_t* key32, const std::function<void(int acknowledged)>& progress) = 0;
  virtual Outcome ReadFootprint(std::string& footprint) = 0;
  // While `abandon` holds, an exchange in progress ends at once as NoReply.
  virtual void SetAbandon(std::function<bool()> abandon) = 0;
};

// How far a stop has gone: the stop requests that abandon an exchange at
// each stage.
constexpr int AbandonWhileWaiting = 1;      // nothing is half done while waiting for a modem
constexpr int AbandonWhileConfiguring = 2;  // the first request lets the modem in hand finish
constexpr int AbandonReadBack = 3;          // after an abandoned exchange, what the modem holds

// How an operation on a modem ended, as its caller reports it (the command
// line as its exit status).
enum class Verdict { Ok, PortFailed, NoReply, Refused, StoreFailed, Interrupted };
Verdict VerdictOf(Outcome outcome);

constexpr const char* KeyRefusedByFirmware = " does not offer the key functions";

// Why a modem ended as it did, as values each client words in its own
// language (the journal line's message is the English wording of the same).
enum class EndStep {
  Configured,            // the modem holds the new address
  SeenAddress,           // without a key: answers at `address`, which this run wrote; left alone
  NoKeyFunctions,        // its firmware offers no key functions
  RegistryExhausted,     // the registry has no address left
  RegistryRefused,       // the registry refused an address
  RegistryStopped,       // stopped while the registry was asked
  RegistryLost,          // the registry went away
  AddressesUsedUp,       // none left from `address` (the start) to the network's last
  KeyTransfer,           // `outcome` after `keyParts` acknowledged parts
  FootprintRead,         // `outcome` reading the footprint after the key
  FootprintDiffers,      // the footprint differs from earlier modems' with this key
  StoppedBeforeAddress,  // a second stop came before the address was written
  AddressWrite,          // `outcome` of the write; `mayHold`: not read back, it may hold `address`
  ReadBack,              // the write was answered, its read-back had `outcome`
  AddressDiffers,        // read back: the modem reports `address` in `network`
};
struct EndReason {
  EndStep step = EndStep::Configured;
  Outcome outcome = Outcome::Ok;
  bool stopped = false;  // a second stop abandoned the exchange
  int keyParts = 0;
  int address = -1;
  int network = 0;
  bool mayHold = false;
};

// A journal record of `operation` on the port, and what the modem held
// before (`SetOld`) and holds afterwards (`SetNew`).
JournalRecord Entry(std::string operation, const std::string& port, const std::string& adapter);
void SetOld(JournalRecord& entry, const ModemParams& params);
void SetNew(JournalRecord& entry, const ModemParams& params);

// Writes the address and network and reads them back. After a failure,
// `after` holds what the modem reports when it could be read (`readBack`).
struct AddressWrite {
  Outcome outcome = Outcome::Ok;
  Outcome written = Outcome::Ok;  // the write's own outcome
  std::string message;  // empty when the modem holds the new word
  ModemParams after;    // read back, or as the modem's own answer to the write has it
  bool readBack = false;
  bool acknowledged = false;  // the modem answered that it took the write

  // True when the modem was read back holding the word asked for: the
  // write is done, whatever its own reply was.
  bool Holds(int address, int network) const {
    return readBack && after.address == address && after.network == network;
  }
};

// Puts what a write of `address` and `network` left into the journal line:
// the word read back or acknowledged, else the word asked for, which the
// modem may hold. Returns the line's message: empty for a clean write, a
// note for one taken despite its reply, otherwise what failed (saying when
// the outcome is unknown).
std::string NoteWrite(JournalRecord& entry, const AddressWrite& write, int address, int network);
// The same write as a reason; `stopped` as the steps tell it.
EndReason ReasonOf(const AddressWrite& write, int address, int network, bool stopped);

class ModemSteps {
 public:
  // `retries`: how often an exchange without reply is repeated.
  // `stopRequests`: how many stop requests have come so far.
  ModemSteps(int retries, std::function<int()> stopRequests)
      : retries_(retries), stopRequests_(std::move(stopRequests)) {}

  int StopRequests() const { return stopRequests_ ? stopRequests_() : 0; }
  // A second stop abandons the exchange in hand.
  bool Abandoning() const { return StopRequests() >= AbandonWhileConfiguring; }
  // A failure's journal result and verdict: interrupted when a second stop
  // abandoned it.
  std::string_view FailureResult() const { return Abandoning() ? ResultInterrupted : ResultFailed; }
  Verdict FailureVerdict(Verdict verdict) const { return Abandoning() ? Verdict::Interrupted : verdict; }

  // What an exchange's outcome tells the user.
  std::string OutcomeText(Outcome outcome, const ModemLine& line) const;

  AddressWrite WriteVerified(ModemLine& line, const ModemParams& current, int address, int network) const;
  // Writes the key and reads the footprint back. On failure the message
  // says how far the transfer came, and `footprint` holds what the modem
  // reports afterwards when it could be read; empty on success. `reason`
  // (when given) tells the same failure as values.
  std::string WriteKey(ModemLine& line, const std::uint8_t* key32, const std::function<void(int)>& progress,
                       std::string& footprint, Outcome& outcome, EndReason* reason = nullptr) const;

 private:
  int retries_;
  std::function<int()> stopRequests_;
};

}  // namespace vorsal::production
