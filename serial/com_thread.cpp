#include "serial/com_thread.h"

#include <QMetaObject>

#include <cerrno>
#include <cstdint>
#include <linux/serial.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <system_error>
#include <unistd.h>

namespace vorsal {

namespace {

// How often line changes are sampled when someone listens for them: the
// system can't wake a waiter on them.
constexpr int kLineSampleMs = 100;

void Signal(int eventFd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(eventFd, &one, sizeof one);
}

void CloseIfOpen(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool AddToWaitSet(int pollFd, int fd, std::uint32_t events) {
  epoll_event ev{};
  ev.events = events;
  ev.data.fd = fd;
  return epoll_ctl(pollFd, EPOLL_CTL_ADD, fd, &ev) == 0;
}

// The events and error kinds that changed counters stand for.
void CompareCounts(const serial_icounter_struct& was, const serial_icounter_struct& now,
                   TComEvents& events, TComErrors& errors) {
  if (now.frame != was.frame) errors |= ErrorBit(ceFrame);
  if (now.parity != was.parity) errors |= ErrorBit(ceRxParity);
  if (now.overrun != was.overrun) errors |= ErrorBit(ceOverrun);
  if (now.buf_overrun != was.buf_overrun) errors |= ErrorBit(ceRxOver);
  if (now.brk != was.brk) {
    errors |= ErrorBit(ceBreak);
    events |= EventBit(evBreak);
  }
  if (errors != 0) events |= EventBit(evError);
  if (now.rng != was.rng) events |= EventBit(evRing);
  if (now.cts != was.cts) events |= EventBit(evCTS);
  if (now.dsr != was.dsr) events |= EventBit(evDSR);
  if (now.dcd != was.dcd) events |= EventBit(evRLSD);
}

}  // namespace

TComThread::TComThread(TCustomComPort* port, int fd, TComEvents events, int inputSize,
                       bool sampleLines)
    : port_(port),
      fd_(fd),
      events_(events),
      inputSize_(inputSize),
      sampleLines_(sampleLines),
      hand_(std::make_shared<TCustomComPort::HandOver>()) {
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  txFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  pollFd_ = epoll_create1(EPOLL_CLOEXEC);
  // The device is watched edge-triggered: a wake-up means new bytes, so bytes
  // a handler leaves unread don't wake the thread again and again.
  const bool ready = stopFd_ >= 0 && txFd_ >= 0 && pollFd_ >= 0 &&
                     AddToWaitSet(pollFd_, stopFd_, EPOLLIN) &&
                     AddToWaitSet(pollFd_, txFd_, EPOLLIN) &&
                     AddToWaitSet(pollFd_, fd_, EPOLLIN | EPOLLET);
  int error = errno;
  if (ready) {
    try {
      thread_ = std::thread(&TComThread::Run, this);
      return;
    } catch (const std::system_error& e) {
      error = e.code().value();
    }
  }
  CloseHandles();
  throw EComPort(CE_OpenFailed, error);
}

TComThread::~TComThread() {
  RequestStop();
  Join();
  CloseHandles();
}

void TComThread::CloseHandles() {
  CloseIfOpen(stopFd_);
  CloseIfOpen(txFd_);
  CloseIfOpen(pollFd_);
}

void TComThread::RequestStop() {
  {
    std::lock_guard lock(hand_->mutex);
    hand_->stop = true;
  }
  hand_->changed.notify_all();
  Signal(stopFd_);
}

void TComThread::Join() {
  if (thread_.joinable()) thread_.join();
}

void TComThread::NotifyTxEmpty() { Signal(txFd_); }

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
  // The call is dropped if the port object is gone; Close runs the batch
  // itself in that case before the object goes.
  TCustomComPort* port = port_;
  std::shared_ptr<TCustomComPort::HandOver> shared = hand_;
  if (port->eventQueue_ != nullptr) {
    port->eventQueue_->Post([port, shared] { port->ServeDelivery(shared); });
  } else {
    QMetaObject::invokeMethod(port, [port, shared] { port->ServeDelivery(shared); }, Qt::QueuedConnection);
  }
  std::unique_lock lock(hand.mutex);
  // A delivery already running when Close is called can only end after
  // Close returns (Close was called from inside it): give up waiting then.
  hand.changed.wait(lock, [&] { return !hand.pending || (hand.stop && hand.serving); });
  if (hand.pending) return false;
  if (hand.error) failure_ = hand.error;
  return true;
}

void TComThread::Run() {
  serial_icounter_struct counts{};
  const bool counted = ioctl(fd_, TIOCGICOUNT, &counts) == 0;
  bool lost = false;
  for (;;) {
    const int timeout = (counted && sampleLines_ && !lost) ? kLineSampleMs : -1;
    epoll_event ready[3];
    const int n = epoll_wait(pollFd_, ready, 3, timeout);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    hand_->wakeups.fetch_add(1, std::memory_order_relaxed);

    bool stop = false, data = false, hangUp = false;
    TComEvents batch = 0;
    TComErrors errors = 0;
    for (int i = 0; i < n; ++i) {
      if (ready[i].data.fd == stopFd_) {
        stop = true;
      } else if (ready[i].data.fd == txFd_) {
        std::uint64_t value;
        [[maybe_unused]] const ssize_t r = ::read(txFd_, &value, sizeof value);
        batch |= EventBit(evTxEmpty);
      } else {
        hangUp = (ready[i].events & (EPOLLHUP | EPOLLERR)) != 0;
        data = (ready[i].events & EPOLLIN) != 0;
      }
    }
    if (stop) break;
    if (lost) continue;

    int waiting = 0;
    if (!hangUp && data && ioctl(fd_, FIONREAD, &waiting) != 0) {
      hangUp = DeviceGone(errno);
      waiting = 0;
    }
    if (hangUp) {
      // The device is gone: say so once and from now on wait for the stop
      // signal alone (a hung-up tty reads as always ready).
      lost = true;
      epoll_ctl(pollFd_, EPOLL_CTL_DEL, fd_, nullptr);
      if (!Deliver(EventBit(evError), ErrorBit(ceIO))) break;
      continue;
    }
    if (failure_) continue;  // a handler raised: deaf until reopened

    if (waiting > 0) batch |= EventBit(evRxChar);
    if (waiting > 0 && std::int64_t{waiting} * 10 >= std::int64_t{inputSize_} * 8) {
      batch |= EventBit(evRx80Full);
    }
    serial_icounter_struct now{};
    if (counted && ioctl(fd_, TIOCGICOUNT, &now) == 0) {
      CompareCounts(counts, now, batch, errors);
      counts = now;
    }
    batch &= events_;
    if (batch == 0) continue;
    if (!Deliver(batch, errors)) break;
  }
}

}  // namespace vorsal
