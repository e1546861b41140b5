#include "cli/modem_link.h"

#include <QCoreApplication>

#include <charconv>
#include <chrono>
#include <thread>
#include <utility>

namespace vorsal::cli {

namespace {

void SleepThread(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The separator the engine puts between the version and the platform name.
constexpr std::string_view PlatformPrefix = " -- '";

}  // namespace

ModemLink::ModemLink(std::function<void(int)> sleep, int retries)
    : sleep_(sleep ? std::move(sleep) : SleepThread),
      retries_(retries),
      engine_(*this, *this, sleep_) {
  comPort_.OnRxChar = [this](TCustomComPort*, int) {
    try {
      engine_.CommPortRxChar();
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
  SetConnectionTypeSource([connectionType] { return connectionType; });
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

void ModemLink::Tick() {
  events_.processEvents();
  engine_.TimerRXTimer();
  if (gaugeRunning_) engine_.TimerGaugeTimer();
}

Outcome ModemLink::ExchangeOnce(const ModemFrame& frame, Reply expected) {
  if (lost_) return Outcome::PortLost;
  reply_ = Reply::None;
  params_ = {};
  footprint_.clear();
  const int heardBefore = engine_.ReceivedByteCount;
  try {
    engine_.SendFrame(frame, RequestPauseMs);
  } catch (const EComPort& e) {
    PortFailed(e.what());
    return Outcome::PortLost;
  }
  while (engine_.ExchangeState == ExchangeNone) {
    if (abandon_ && abandon_()) return Outcome::NoReply;
    sleep_(TickMs);
    Tick();
    if (lost_) return Outcome::PortLost;
  }
  if (engine_.ExchangeState == ExchangeOk && reply_ == expected) return Outcome::Ok;
  return engine_.ReceivedByteCount != heardBefore ? Outcome::NotAccepted : Outcome::NoReply;
}

Outcome ModemLink::Exchange(const ModemFrame& frame, Reply expected) {
  for (int attempt = 0;; ++attempt) {
    const Outcome outcome = ExchangeOnce(frame, expected);
    if (outcome != Outcome::NoReply || attempt >= retries_ || (abandon_ && abandon_())) return outcome;
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
    if (outcome != Outcome::NoReply) return outcome;
    // The modem may have taken the new word and only its reply got lost; a
    // second write over the old word would then go unanswered for good.
    const Outcome read = ReadParams(now);
    if (read != Outcome::Ok) return read;
    if (now.address == newAddress && now.network == newNetwork) return Outcome::Ok;
    if (attempt >= retries_) return Outcome::NoReply;
  }
}

Outcome ModemLink::ReadFootprint(std::string& footprint) {
  const Outcome outcome = Exchange(BuildReadFootprint(), Reply::Footprint);
  if (outcome == Outcome::Ok) footprint = footprint_;
  return outcome;
}

Outcome ModemLink::SendKey(const std::uint8_t* key32, const std::function<void(int)>& progress) {
  int heardAtLastAck = 0;
  KeyTransferHooks hooks;
  hooks.sleep = sleep_;
  hooks.pump = [this] { Tick(); };
  hooks.cancelRequested = [this] { return lost_ || (abandon_ && abandon_()); };
  hooks.progress = [&](int acknowledged) {
    heardAtLastAck = engine_.ReceivedByteCount;
    if (progress) progress(acknowledged);
  };
  for (int attempt = 0;; ++attempt) {
    if (lost_) return Outcome::PortLost;
    heardAtLastAck = engine_.ReceivedByteCount;
    KeyTransferResult result;
    try {
      result = SendKeyParts(engine_, key32, hooks);
    } catch (const EComPort& e) {
      PortFailed(e.what());
      return Outcome::PortLost;
    }
    if (result == KeyTransferResult::Done) return Outcome::Ok;
    // Cancelled: our own stop on a lost port; PortClosed: the port went away
    // while a part was awaited.
    if (result == KeyTransferResult::Cancelled && !lost_) return Outcome::NoReply;
    if (result == KeyTransferResult::Cancelled || result == KeyTransferResult::PortClosed) return Outcome::PortLost;
    // A part went unacknowledged: silence may be retried, a reply that did
    // not fit may not.
    if (engine_.ReceivedByteCount != heardAtLastAck) return Outcome::NotAccepted;
    if (attempt >= retries_) return Outcome::NoReply;
  }
}

// ---- What the engine shows -------------------------------------------------

void ModemLink::SetAddressText(std::string_view text) {
  int value = -1;
  std::from_chars(text.data(), text.data() + text.size(), value);
  params_.address = value;
  reply_ = Reply::Address;  // a parameters reply goes on to the version text
}

void ModemLink::SetNetworkBoxes(bool serviceNetwork) {
  params_.network = serviceNetwork ? NetworkService : NetworkWorking;
}

void ModemLink::SetVersionText(std::string_view text) {
  const std::size_t split = text.find(PlatformPrefix);
  params_.firmware = std::string(text.substr(0, split));
  if (split != std::string_view::npos) {
    std::string_view name = text.substr(split + PlatformPrefix.size());
    if (!name.empty() && name.back() == '\'') name.remove_suffix(1);
    params_.platform = std::string(name);
  }
  reply_ = Reply::Params;
}

void ModemLink::ShowParametersPanels(bool keyPanel) { params_.keyFunctions = keyPanel; }

void ModemLink::SetFootprintText(std::string_view text) {
  footprint_ = std::string(text);
  reply_ = Reply::Footprint;
}

}  // namespace vorsal::cli
