#include "production/batch.h"

#include <algorithm>
#include <latch>
#include <thread>

namespace vorsal::production {

namespace {

constexpr int PollPauseMs = 500;    // between parameter reads while a modem stays connected
constexpr int ReopenPauseMs = 500;  // between attempts to open a port that went away
// A modem counts as gone after this many polls in a row without a reply: on
// a noisy line one lost reply is no unplugging.
constexpr int SilentPollsForGone = 2;
// A modem that failed twice is to be taken away: the port waits for a
// longer silence, so that a flaky modem which drops off and comes back is
// not taken for the next one.
constexpr int SilentPollsForRemoved = 6;
// Failed openings of a port that went away after which its adapter is
// reported gone (about ten seconds).
constexpr int OpensBeforeGone = 20;
// Failures of one modem after which the operator is told to take it away.
constexpr int FailuresBeforeTakeAway = 2;
// Footprint reads tried before a modem at a written address is taken for
// one this run configured or not.
constexpr int FootprintAttempts = 3;

}  // namespace

std::string AdapterIdentity(const UsbIdentity& usb) {
  if (!usb.IsUsb()) return {};
  std::string text = usb.vendorId + ":" + usb.productId;
  if (!usb.serial.empty()) text += " serial " + usb.serial;
  else if (!usb.byIdLink.empty()) text += " " + usb.byIdLink;
  return text;
}

std::vector<std::string> DistinctDevices(const std::vector<std::string>& paths) {
  std::vector<std::string> distinct;
  std::vector<std::filesystem::path> devices;
  for (const std::string& path : paths) {
    std::error_code ec;
    std::filesystem::path device = std::filesystem::canonical(path, ec);
    if (ec) device = path;  // not there (yet), or a name the system resolves itself
    if (std::find(devices.begin(), devices.end(), device) != devices.end()) continue;
    devices.push_back(device);
    distinct.push_back(path);
  }
  return distinct;
}

std::optional<int> AddressPool::Reserve() {
  const int address = Next();
  if (address > MaxAddress) return std::nullopt;
  reserved_.insert(address);
  return address;
}

void AddressPool::Take(int address) {
  reserved_.erase(address);
  taken_.insert(address);
}

int AddressPool::Next() const {
  int address = start_;
  while (taken_.count(address) != 0 || reserved_.count(address) != 0) ++address;
  return address;
}

Batch::Batch(BatchSettings settings, BatchEnvironment environment, Journal& journal, RegistryLink& registry,
             RunIdentity run, BatchListener& listener)
    : settings_(std::move(settings)), environment_(std::move(environment)), journal_(journal), registry_(registry),
      run_(std::move(run)), listener_(listener), steps_(settings_.retries, environment_.stopRequests),
      pool_(settings_.start) {
  if (!environment_.sleep) {
    environment_.sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  }
  registry_.SetStopRequests(environment_.stopRequests);
}

// Reads until a modem answers; false when stopped first. A port that went
// away (an adapter unplugged with its modem) is opened again and again.
// `silentPolls` counts the reads and openings that found nothing.
bool Batch::AwaitModem(ModemLine& line, const BatchPort& port, ModemParams& params, int& silentPolls,
                       int& failedOpens) {
  line.SetAbandon([this] { return StopWaiting(); });
  silentPolls = 0;
  while (!StopWaiting()) {
    if (!line.IsOpen()) {
      // A port that went away took its modem with it.
      ++silentPolls;
      line.Close();
      if (!line.Open(nullptr)) {
        if (++failedOpens == OpensBeforeGone) listener_.AdapterGone(port.path);
        environment_.sleep(ReopenPauseMs);
        continue;
      }
      failedOpens = 0;
    }
    if (line.ReadParams(params) == Outcome::Ok) return true;
    ++silentPolls;
  }
  return false;
}

// Reads until the modem stays silent for `silentPolls` polls in a row (or
// its port goes away); false when stopped first. A garbled reply is an
// answer: something is there.
bool Batch::AwaitDisconnect(ModemLine& line, int silentPolls) {
  line.SetAbandon([this] { return StopWaiting(); });
  int silent = 0;
  while (!StopWaiting()) {
    ModemParams params;
    const Outcome outcome = line.ReadParams(params);
    if (StopWaiting()) break;
    if (outcome == Outcome::PortLost) return true;
    silent = outcome == Outcome::NoReply ? silent + 1 : 0;
    if (silent >= silentPolls) return true;
    environment_.sleep(PollPauseMs);
  }
  return false;
}

// Takes a place for one more modem unless the count is reached with the
// modems done and in hand.
bool Batch::BeginModem() {
  const std::lock_guard<std::mutex> guard(state_);
  if (settings_.count != 0 && done_ + inHand_ >= settings_.count) return false;
  ++inHand_;
  return true;
}

void Batch::EndModem(Verdict verdict, std::string_view result, bool again) {
  BatchCounters counters;
  {
    const std::lock_guard<std::mutex> guard(state_);
    --inHand_;
    switch (CountOf(result)) {
      case Counted::Done: ++done_; break;
      case Counted::Skipped: break;
      case Counted::Failed:
        ++failed_;
        verdict_ = verdict;
        break;
    }
    // The modem was counted as failed before: it counts once, by this outcome.
    if (again) --failed_;
    if (verdict == Verdict::StoreFailed) {
      verdict_ = verdict;
      finished_ = true;  // nothing more without a journal
    }
    if (settings_.count != 0 && done_ >= settings_.count) finished_ = true;
    if (pool_.Next() > MaxAddress && inHand_ == 0) finished_ = true;
    counters = CountersLocked();
  }
  listener_.Counters(counters);
}

BatchCounters Batch::CountersLocked() const {
  BatchCounters counters;
  counters.done = done_;
  counters.failed = failed_;
  counters.inHand = inHand_;
  counters.nextAddress = pool_.Next();
  counters.fromRegistry = registry_.Active();
  return counters;
}

// Whether a modem that answers at an address this run wrote is one this
// run configured. With a key its footprint tells; without one the
// listener decides.
Batch::Seen Batch::SeenBefore(ModemLine& line, const BatchPort& port, const ModemParams& current) {
  {
    const std::lock_guard<std::mutex> guard(state_);
    if (current.network != settings_.network || !pool_.Taken(current.address)) return Seen::New;
  }
  if (settings_.keyGiven) {
    // Only a footprint read tells a new modem: one whose reads all fail is
    // not written (its address may be this run's), but met again.
    std::string footprint;
    for (int attempt = 0; attempt < FootprintAttempts; ++attempt) {
      if (StopWaiting()) return Seen::Unknown;
      if (line.ReadFootprint(footprint) != Outcome::Ok) continue;
      const std::lock_guard<std::mutex> guard(state_);
      return footprint == referenceFootprint_ ? Seen::Done : Seen::New;
    }
    return Seen::Unknown;
  }
  return listener_.RewriteSeenAddress(port.path, current.address) ? Seen::New : Seen::Skip;
}

// Stamps and writes the line to the journal and the registry, before
// anything is shown about it, so a closed output never costs the record.
// A journal that fails turns a success into StoreFailed.
Verdict Batch::Record(JournalRecord& entry, Verdict verdict, std::string_view result, const std::string& message) {
  entry.result = std::string(result);
  entry.message = message;
  Stamp(entry, run_);
  std::string error;
  if (journal_.IsOpen() && !journal_.Append(entry, &error)) {
    listener_.JournalFailed(error);
    if (verdict == Verdict::Ok) verdict = Verdict::StoreFailed;
  }
  if (registry_.Active() && !registry_.Record(entry, error)) {
    LoseRegistry(error);
    if (verdict == Verdict::Ok) verdict = Verdict::StoreFailed;
  }
  return verdict;
}

// The registry went away: no more addresses, so no more modems.
void Batch::LoseRegistry(const std::string& error) {
  if (registryLostSaid_.exchange(true)) return;
  finished_ = true;
  listener_.RegistryLost(error, registry_.SpoolFile());
}

// One modem of the batch, from its first answer to its journal line.
bool Batch::ConfigureModem(ModemLine& line, const BatchPort& port, const ModemParams& current, int& failures) {
  JournalRecord entry = Entry("batch", port.path, port.adapter);
  SetOld(entry, current);
  EndReason reason;
  // A modem that failed and never left its port is tried again: its line
  // says so, and it counts once, by its last outcome.
  const bool again = failures > 0;
  const auto finish = [&](Verdict verdict, std::string_view result, const std::string& message) {
    verdict = Record(entry, verdict, result, again ? std::string(RepeatMark) + message : message);
    listener_.Ended({port.path, current, entry, reason});
    EndModem(verdict, result, again);
    failures = CountOf(result) == Counted::Failed ? failures + 1 : 0;
    return true;
  };

  switch (SeenBefore(line, port, current)) {
    case Seen::Unknown:
      return false;
    case Seen::Done:
      failures = 0;
      listener_.AlreadyConfigured(port.path, current.address);
      return true;
    case Seen::Skip:
      if (!BeginModem()) return listener_.LeftForCount(port.path, settings_.count), true;
      reason.step = EndStep::SeenAddress;
      reason.address = current.address;
      return finish(Verdict::Ok, ResultSkipped,
                    "answers at address " + std::to_string(current.address) +
                        ", which this run wrote; left as it is (without a key a new modem cannot be told from it)");
    case Seen::New:
      break;
  }
  if (!BeginModem()) return listener_.LeftForCount(port.path, settings_.count), true;
  line.SetAbandon([this] { return steps_.Abandoning(); });
  // Unless it ends otherwise, the modem keeps the address it came with.
  reason.address = current.address;
  reason.network = current.network;
  if (settings_.keyGiven && !current.keyFunctions) {
    reason.step = EndStep::NoKeyFunctions;
    return finish(Verdict::Refused, ResultRefused, "firmware " + current.firmware + KeyRefusedByFirmware);
  }
  // The address is taken before the modem is touched: a network whose
  // addresses are used up, or a registry that says no, leaves the modem as
  // it came, without the key.
  const std::string keeps = "the modem keeps address " + std::to_string(current.address);
  std::optional<int> address;
  if (registry_.Active()) {
    int taken = -1;
    std::string error;
    switch (registry_.TakeAddress(settings_.network, settings_.start, MaxAddress, run_, port.path, taken, error)) {
      case RegistryLink::Take::Ok: {
        const std::lock_guard<std::mutex> guard(state_);
        pool_.Reserve(taken);
        address = taken;
        break;
      }
      case RegistryLink::Take::Exhausted:
        reason.step = EndStep::RegistryExhausted;
        finished_ = true;
        return finish(Verdict::Refused, ResultRefused, error + "; nothing written: " + keeps);
      case RegistryLink::Take::Refused:
        reason.step = EndStep::RegistryRefused;
        finished_ = true;
        return finish(Verdict::StoreFailed, ResultRefused, error + "; nothing written: " + keeps);
      case RegistryLink::Take::Stopped:
        reason.step = EndStep::RegistryStopped;
        return finish(Verdict::Interrupted, ResultInterrupted, error + "; nothing written: " + keeps);
      case RegistryLink::Take::Lost:
        reason.step = EndStep::RegistryLost;
        LoseRegistry(error);
        return finish(Verdict::StoreFailed, ResultFailed, "no address from the registry, nothing written: " + keeps);
    }
  } else {
    const std::lock_guard<std::mutex> guard(state_);
    address = pool_.Reserve();
  }
  if (!address) {
    reason.step = EndStep::AddressesUsedUp;
    reason.address = settings_.start;
    return finish(Verdict::Refused, ResultRefused,
                  "the network's addresses are used up: none is left from " + std::to_string(settings_.start) +
                      " to " + std::to_string(MaxAddress) + "; nothing written: " + keeps);
  }
  if (settings_.keyGiven) {
    // The key first: its parts carry no address, so a modem whose key
    // fails keeps the address it came with, and the one taken for it goes
    // back to the next modem.
    Outcome outcome = Outcome::Ok;
    std::string failure = steps_.WriteKey(
        line, settings_.key.data(), [&](int parts) { listener_.KeyParts(port.path, parts); }, entry.footprint,
        outcome, &reason);
    if (failure.empty()) {
      const std::lock_guard<std::mutex> guard(state_);
      if (referenceFootprint_.empty()) referenceFootprint_ = entry.footprint;
      if (entry.footprint != referenceFootprint_) {
        outcome = Outcome::NotAccepted;
        reason.step = EndStep::FootprintDiffers;
        failure = "verification failed: footprint " + entry.footprint + ", earlier modems with this key report " +
                  referenceFootprint_;
      }
    }
    if (!failure.empty()) {
      GiveBack(*address);
      return finish(steps_.FailureVerdict(VerdictOf(outcome)), steps_.FailureResult(), failure);
    }
  }
  if (steps_.Abandoning()) {
    // Stopped before the address was written: the modem does not hold it.
    GiveBack(*address);
    reason.step = EndStep::StoppedBeforeAddress;
    return finish(Verdict::Interrupted, ResultInterrupted, "stopped before the address was written: " + keeps);
  }
  listener_.AddressWriting(port.path, *address);
  const AddressWrite write = steps_.WriteVerified(line, current, *address, settings_.network);
  const bool holds = write.Holds(*address, settings_.network);
  const std::string message = NoteWrite(entry, write, *address, settings_.network);
  reason = ReasonOf(write, *address, settings_.network, steps_.Abandoning());
  // An address the modem holds, or may hold, is never handed out again.
  if (holds || !write.readBack) {
    const std::lock_guard<std::mutex> guard(state_);
    pool_.Take(*address);
  } else {
    GiveBack(*address);
  }
  // A reply that was not accepted, yet the modem took the word: it is
  // configured, and the journal says how it went.
  if (holds) return finish(Verdict::Ok, ResultOk, message);
  return finish(steps_.FailureVerdict(VerdictOf(write.outcome)), steps_.FailureResult(), message);
}

// An address taken for a modem that does not hold it: free again, for this
// batch and in the registry.
void Batch::GiveBack(int address) {
  {
    const std::lock_guard<std::mutex> guard(state_);
    pool_.GiveBack(address);
  }
  if (registry_.Active()) registry_.Release(settings_.network, address, run_);
}

// Without a key, a modem that arrives with the start address cannot be
// told from one this run gave it.
void Batch::WarnAboutStart(const ModemParams& first) {
  if (settings_.keyGiven || firstSeen_.exchange(true)) return;
  if (first.address == settings_.start && first.network == settings_.network) {
    listener_.StartAddressInUse(settings_.start);
  }
}

// One port of the batch, on a thread of its own.
void Batch::ServePort(const BatchPort& port, std::function<void()> arriveAndWait) {
  std::unique_ptr<ModemLine> line = environment_.openLine(port.path);
  std::string failure;
  const bool opened = line->Open(&failure);
  arriveAndWait();
  // A device that is not there yet is waited for, as one that goes away
  // during the run; any other failure (no permission, in use) ends the port.
  int failedOpens = 0;
  if (!opened && line->Missing()) {
    listener_.AdapterGone(port.path);
    failedOpens = OpensBeforeGone;  // said already
  } else if (!opened) {
    listener_.PortFailed(port.path, failure);
    const std::lock_guard<std::mutex> guard(state_);
    verdict_ = Verdict::PortFailed;
    return;
  }
  int failures = 0;  // of the modem on the port, which has not left it since
  ModemParams cameAs;  // what the last modem on the port answered when it came
  while (!StopWaiting()) {
    std::optional<int> next;
    if (!registry_.Active()) {
      const std::lock_guard<std::mutex> guard(state_);
      next = pool_.Next();
    }
    listener_.Waiting(port.path, next);
    ModemParams current;
    int silentPolls = 0;
    if (!AwaitModem(*line, port, current, silentPolls, failedOpens)) break;
    // A modem that answers at the first read after the line went quiet, on
    // a port that stayed, as the failed one did, is the one that was there:
    // nobody plugs the next in that fast.
    if (silentPolls > 0 || current.address != cameAs.address || current.network != cameAs.network ||
        current.firmware != cameAs.firmware) {
      failures = 0;
    }
    cameAs = current;
    if (StopWaiting()) {
      listener_.LeftAtStop(port.path, current.address);
      break;
    }
    WarnAboutStart(current);
    if (!ConfigureModem(*line, port, current, failures)) continue;  // not told apart yet: read it again
    // The last modem of the count is done: nothing more to wait for.
    if (StopWaiting()) break;
    const bool takeAway = failures >= FailuresBeforeTakeAway;
    if (takeAway) listener_.TakeAway(port.path);
    else listener_.Disconnect(port.path);
    if (!AwaitDisconnect(*line, takeAway ? SilentPollsForRemoved : SilentPollsForGone)) break;
    if (takeAway) failures = 0;
  }
  line->Close();
}

// Journals the run's start or end (a line of its own, which no modem
// counts on); a journal that cannot take it ends the run.
void Batch::Mark(JournalRecord mark) {
  const std::string message = mark.message;
  if (Record(mark, Verdict::Ok, ResultSkipped, message) == Verdict::StoreFailed) {
    const std::lock_guard<std::mutex> guard(state_);
    verdict_ = Verdict::StoreFailed;
    finished_ = true;
  }
}

// Why the run ended, as its end line says.
std::string Batch::RunEndReason() const {
  const int stops = steps_.StopRequests();
  if (stops >= AbandonWhileWaiting) return "stopped twice: the modems in hand were abandoned";
  if (stops > 0) return "stopped";
  if (verdict_ == Verdict::StoreFailed) {
    return registryLostSaid_ ? "the registry was lost" : "the journal could not be written";
  }
  if (settings_.count != 0 && done_ >= settings_.count) return std::to_string(settings_.count) + " modem(s) done";
  if (pool_.Next() > MaxAddress) return "no address left in the network";
  return "ended; its last modem's line tells why";
}

BatchResult Batch::Run() {
  {
    std::string what = std::string(NetworkName(settings_.network)) + " network, from address " +
                       std::to_string(settings_.start) +
                       (settings_.count ? ", " + std::to_string(settings_.count) + " modem(s)" : ", until stopped") +
                       (settings_.keyGiven ? ", with a key" : ", without a key") + ", ports";
    for (const BatchPort& port : settings_.ports) what += " " + port.path;
    Mark(RunMark(OperationRunStart, "batch", what));
  }
  std::latch allOpen(static_cast<std::ptrdiff_t>(settings_.ports.size()));
  const auto arrive = [&allOpen] { allOpen.arrive_and_wait(); };
  if (settings_.ports.size() == 1) {
    ServePort(settings_.ports[0], arrive);
  } else {
    std::vector<std::thread> threads;
    for (const BatchPort& port : settings_.ports) threads.emplace_back([this, &port, &arrive] { ServePort(port, arrive); });
    for (std::thread& thread : threads) thread.join();
  }
  // The ports that joined meanwhile, until none is left to wait for.
  for (;;) {
    std::vector<std::thread> workers;
    {
      const std::lock_guard<std::mutex> guard(joining_);
      if (joined_.empty()) {
        ended_ = true;
        break;
      }
      workers.swap(joined_);
    }
    for (std::thread& worker : workers) worker.join();
  }
  std::string reason;
  {
    const std::lock_guard<std::mutex> guard(state_);
    reason = RunEndReason();
  }
  Mark(RunMark(OperationRunEnd, "batch", reason));
  const std::lock_guard<std::mutex> guard(state_);
  return {verdict_, CountersLocked()};
}

bool Batch::Join(const BatchPort& port) {
  const std::lock_guard<std::mutex> guard(joining_);
  if (ended_ || StopWaiting()) return false;
  const BatchPort& kept = joinedPorts_.emplace_back(port);
  joined_.emplace_back([this, &kept] { ServePort(kept, [] {}); });
  return true;
}

}  // namespace vorsal::production
