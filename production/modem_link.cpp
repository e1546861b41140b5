#include "production/modem_link.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace vorsal::production {

namespace {

class SteadyClock : public LinkClock {
 public:
  TimePoint Now() override { return std::chrono::steady_clock::now(); }
  void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, TimePoint deadline,
                 const std::function<bool()>& ready) override {
    wake.wait_until(lock, deadline, ready);
  }
  void Sleep(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

}  // namespace

LinkClock& SystemClock() {
  static SteadyClock clock;
  return clock;
}

// ---- Event loop -------------------------------------------------------------

bool LinkLoop::RunUntil(LinkClock::TimePoint deadline, const std::function<bool()>& done) {
  for (;;) {
    RunPosted();
    if (done()) return true;
    // Checked before waiting, so a port that never falls silent (a stream of
    // noise) still lets the deadline pass.
    if (clock_.Now() >= deadline) return false;
    AwaitPost([&](std::condition_variable& posted, std::unique_lock<std::mutex>& lock,
                  const std::function<bool()>& ready) { clock_.WaitUntil(posted, lock, deadline, ready); });
  }
}

// ---- Link --------------------------------------------------------------------

ModemLink::ModemLink(int retries, LinkClock* clock)
    : retries_(retries),
      clock_(clock != nullptr ? *clock : SystemClock()),
      loop_(clock_),
      engine_(*this, *this, [this] { return connectionType_; }, nullptr, [this](int ms) { clock_.Sleep(ms); }) {
  comPort_.SetEventQueue(&loop_);
  // A reply is handled in the same delivery that brought its last byte.
  comPort_.OnRxChar = [this](TCustomComPort*, int) {
    try {
      engine_.CommPortRxChar();
      engine_.TimerRXTimer();
    } catch (const EComPort& e) {
      PortFailed(e.what());
    }
  };
  comPort_.OnError = [this](TCustomComPort*, TComErrors errors) {
    if (errors & ErrorBit(ceIO)) PortFailed("the device went away (unplugged or closed)");
  };
}

ModemLink::~ModemLink() {
  Close();
  comPort_.OnRxChar = nullptr;
  comPort_.OnError = nullptr;
}

void ModemLink::Open(const std::string& path, int connectionType) {
  connectionType_ = connectionType;
  SetModemLine(comPort_, path, connectionType);
  comPort_.Open();
  lost_ = false;
  portError_.clear();
  engine_.SetExchangeState(ExchangeNone);
}

void ModemLink::Close() {
  try {
    comPort_.Close();
  } catch (const EComPort&) {
    // Closing a device that is already gone has nothing left to report.
  }
}

void ModemLink::PortFailed(const std::string& message) {
  if (!lost_) portError_ = message;
  lost_ = true;
}

bool ModemLink::Send(const ModemFrame& frame) {
  try {
    engine_.SendFrame(frame, RequestPauseMs);
    return true;
  } catch (const EComPort& e) {
    PortFailed(e.what());
  } catch (const ShortWrite& e) {
    PortFailed(e.what());
  }
  return false;
}

Outcome ModemLink::ExchangeOnce(const ModemFrame& frame, Reply expected) {
  // Deliveries already posted belong to earlier requests: run them, then
  // drop whatever they and the port still hold.
  loop_.RunPosted();
  if (lost_) return Outcome::PortLost;
  try {
    engine_.DiscardInput();
  } catch (const EComPort& e) {
    PortFailed(e.what());
    return Outcome::PortLost;
  }
  expected_ = expected;
  received_ = Reply::None;
  const int heardBefore = engine_.ReceivedByteCount;
  if (!Send(frame)) return Outcome::PortLost;
  const bool waited = Await(After(ReplyTimeoutMs), [&] { return received_ == expected || lost_; });
  expected_ = Reply::None;
  if (lost_) return Outcome::PortLost;
  if (waited && received_ == expected) return Outcome::Ok;
  if (engine_.Awaiting()) engine_.FinishExchange(false);
  // An abandoned wait heard nothing worth judging.
  if (!waited) return Outcome::NoReply;
  return engine_.ReceivedByteCount != heardBefore ? Outcome::NotAccepted : Outcome::NoReply;
}

Outcome ModemLink::Exchange(const ModemFrame& frame, Reply expected) {
  for (int attempt = 0;; ++attempt) {
    const Outcome outcome = ExchangeOnce(frame, expected);
    if (outcome != Outcome::NoReply || attempt >= retries_ || Abandoned()) return outcome;
  }
}

bool ModemLink::Abandoned() const { return abandon_ && abandon_(); }

bool ModemLink::Await(LinkClock::TimePoint deadline, const std::function<bool()>& done) {
  if (!abandon_) {
    loop_.RunUntil(deadline, done);
    return true;
  }
  for (;;) {
    if (Abandoned()) return false;
    if (loop_.RunUntil(std::min(deadline, After(AbandonPollMs)), done) || clock_.Now() >= deadline) return true;
  }
}

Outcome ModemLink::ReadParams(ModemParams& params) {
  const Outcome outcome = Exchange(BuildReadParams(), Reply::Params);
  if (outcome == Outcome::Ok) params = params_;
  return outcome;
}

Outcome ModemLink::WriteAddress(const ModemParams& current, int newAddress, int newNetwork) {
  ModemParams now = current;
  for (int attempt = 0;; ++attempt) {
    const ModemFrame frame =
        BuildSetAddress(AddressWord(now.address, now.network), AddressWord(newAddress, newNetwork));
    const Outcome outcome = ExchangeOnce(frame, Reply::Address);
    if (outcome == Outcome::Ok || outcome == Outcome::PortLost) return outcome;
    // The modem may have taken the new word and only its reply got lost or
    // garbled; a second write over the old word would then go unanswered for
    // good, and a report of failure would be false.
    const Outcome read = ReadParams(now);
    if (read != Outcome::Ok) return read;
    if (now.address == newAddress && now.network == newNetwork) return Outcome::Ok;
    // A reply that did not fit, from a modem that kept its word, is a
    // refusal; silence may be retried.
    if (outcome == Outcome::NotAccepted || attempt >= retries_) return outcome;
  }
}

Outcome ModemLink::ReadFootprint(std::string& footprint) {
  const Outcome outcome = Exchange(BuildReadFootprint(), Reply::Footprint);
  if (outcome == Outcome::Ok) footprint = footprint_;
  return outcome;
}

Outcome ModemLink::SendKey(const std::uint8_t* key32, const std::function<void(int)>& progress) {
  int heardAtLastAck = 0;
  int repeats = 0;  // of the part awaited now
  KeyTransferHooks hooks;
  hooks.sleep = [this](int ms) { clock_.Sleep(ms); };
  hooks.pump = [this] { loop_.RunPosted(); };
  hooks.cancelRequested = [this] { return lost_ || Abandoned(); };
  hooks.progress = [&](int acknowledged) {
    heardAtLastAck = engine_.ReceivedByteCount;
    repeats = 0;
    if (progress) progress(acknowledged);
  };
  // A slice ends early once an acknowledgement has changed KeyAckIndex.
  hooks.awaitAck = [this](int ms) {
    const int before = engine_.KeyAckIndex;
    Await(After(ms), [&] { return engine_.KeyAckIndex != before || lost_; });
  };
  // A part met with silence is sent again, `retries` times; a reply that
  // did not fit is not retried.
  hooks.repeatPart = [&](int) {
    if (lost_ || Abandoned() || engine_.ReceivedByteCount != heardAtLastAck || repeats >= retries_) return false;
    ++repeats;
    return true;
  };
  loop_.RunPosted();
  if (lost_) return Outcome::PortLost;
  KeyTransferResult result;
  try {
    engine_.DiscardInput();  // an earlier exchange's late reply
    heardAtLastAck = engine_.ReceivedByteCount;
    result = SendKeyParts(engine_, key32, hooks);
  } catch (const EComPort& e) {
    PortFailed(e.what());
    return Outcome::PortLost;
  } catch (const ShortWrite& e) {
    PortFailed(e.what());
    return Outcome::PortLost;
  }
  if (result == KeyTransferResult::Done) return Outcome::Ok;
  // Cancelled: our own stop on a lost port, or an abandoned transfer;
  // PortClosed: the port went away while a part was awaited.
  if (result == KeyTransferResult::Cancelled && !lost_) return Outcome::NoReply;
  if (result == KeyTransferResult::Cancelled || result == KeyTransferResult::PortClosed) return Outcome::PortLost;
  // A part went unacknowledged: silence, or a reply that did not fit.
  return engine_.ReceivedByteCount != heardAtLastAck ? Outcome::NotAccepted : Outcome::NoReply;
}

// ---- What the replies say ------------------------------------------------------

void ModemLink::ParamsRead(const ParamsReply& params) {
  if (expected_ != Reply::Params) return;
  params_.address = params.address;
  params_.network = params.serviceNetwork ? NetworkService : NetworkWorking;
  params_.firmware = std::to_string(params.firmwareMajor) + "." + std::to_string(params.firmwareMinor);
  params_.platform = std::string(FirmwarePlatformName(params.firmwareMajor));
  params_.keyFunctions = OffersKeyFunctions(params);
  received_ = Reply::Params;
}

void ModemLink::AddressWritten(const AddressReply&) {
  if (expected_ == Reply::Address) received_ = Reply::Address;
}

void ModemLink::FootprintRead(const KeyFootprint& footprint) {
  if (expected_ != Reply::Footprint) return;
  char text[FootprintTextSize];
  footprint_ = std::string(FormatFootprint(footprint, text));
  received_ = Reply::Footprint;
}

}  // namespace vorsal::production
