#include "serial/com_thread.h"

#include <cstdint>
#include <system_error>

namespace vorsal {

namespace {

using platform::SerialWakeup;

// The port's event kinds and error kinds for what the device reported.
void Translate(const SerialWakeup& wakeup, TComEvents& events, TComErrors& errors) {
  static constexpr std::pair<unsigned, TComEvent> kEvents[] = {
      {SerialWakeup::RxChar, evRxChar}, {SerialWakeup::TxEmpty, evTxEmpty}, {SerialWakeup::Break, evBreak},
      {SerialWakeup::Ring, evRing},     {SerialWakeup::Cts, evCTS},         {SerialWakeup::Dsr, evDSR},
      {SerialWakeup::Rlsd, evRLSD},     {SerialWakeup::LineError, evError}};
  static constexpr std::pair<unsigned, TComError> kErrors[] = {{SerialWakeup::Frame, ceFrame},
                                                               {SerialWakeup::ParityError, ceRxParity},
                                                               {SerialWakeup::Overrun, ceOverrun},
                                                               {SerialWakeup::RxOver, ceRxOver},
                                                               {SerialWakeup::BreakError, ceBreak}};
  for (const auto& [bit, kind] : kEvents) {
    if (wakeup.events & bit) events |= EventBit(kind);
  }
  for (const auto& [bit, kind] : kErrors) {
    if (wakeup.errors & bit) errors |= ErrorBit(kind);
  }
}

}  // namespace

TComThread::TComThread(TCustomComPort* port, platform::SerialDevice& device, TComEvents events, int inputSize,
                       bool sampleLines)
    : port_(port),
      device_(device),
      events_(events),
      inputSize_(inputSize),
      hand_(std::make_shared<TCustomComPort::HandOver>()) {
  int error = device_.BeginEvents(sampleLines);
  if (error == 0) {
    try {
      thread_ = std::thread(&TComThread::Run, this);
      return;
    } catch (const std::system_error& e) {
      error = e.code().value();
    }
  }
  device_.EndEvents();
  throw EComPort(CE_OpenFailed, error);
}

TComThread::~TComThread() {
  RequestStop();
  Join();
  device_.EndEvents();
}

void TComThread::RequestStop() {
  {
    std::lock_guard lock(hand_->mutex);
    hand_->stop = true;
  }
  hand_->changed.notify_all();
  device_.StopEvents();
}

void TComThread::Join() {
  if (thread_.joinable()) thread_.join();
}

bool TComThread::Deliver(TComEvents events, TComErrors errors) {
  TCustomComPort::HandOver& hand = *hand_;
  {
    std::lock_guard lock(hand.mutex);
    if (hand.stop) return false;
    hand.errors |= errors;
    hand.events = events;
    hand.error = nullptr;
    hand.pending = true;
  }
  // Without a queue the batch waits for one to be set, or for Close, which
  // runs it itself.
  port_->PostDelivery(hand_);
  std::unique_lock lock(hand.mutex);
  // A delivery already running when Close is called can only end after
  // Close returns (Close was called from inside it): give up waiting then.
  hand.changed.wait(lock, [&] { return !hand.pending || (hand.stop && hand.serving); });
  if (hand.pending) return false;
  if (hand.error) failure_ = hand.error;
  return true;
}

void TComThread::Run() {
  for (;;) {
    const SerialWakeup wakeup = device_.WaitEvents();
    if (wakeup.stopped) break;
    if (wakeup.lost) {
      // Reported once; the device then wakes the thread only to stop it.
      if (!Deliver(EventBit(evError), ErrorBit(ceIO))) break;
      continue;
    }
    if (failure_) continue;  // a handler raised: deaf until reopened

    TComEvents batch = 0;
    TComErrors errors = 0;
    Translate(wakeup, batch, errors);
    if (wakeup.waiting > 0 && std::int64_t{wakeup.waiting} * 10 >= std::int64_t{inputSize_} * 8) {
      batch |= EventBit(evRx80Full);
    }
    batch &= events_;
    if (batch == 0) continue;
    if (!Deliver(batch, errors)) break;
  }
}

}  // namespace vorsal
