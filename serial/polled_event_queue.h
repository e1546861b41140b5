// An event queue for a thread without an event loop of its own: posted
// calls wait until the owning thread polls the queue, which runs them there.
#pragma once

#include "serial/event_queue.h"

#include <deque>
#include <functional>
#include <mutex>

namespace vorsal {

class PolledEventQueue final : public EventQueue {
 public:
  void Post(std::function<void()> call) override {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }

  // Runs every call posted so far, in order, on the calling thread; calls
  // those post meanwhile wait for the next poll. Returns how many ran.
  int RunPosted() {
    std::deque<std::function<void()>> calls;
    {
      std::lock_guard lock(mutex_);
      calls.swap(calls_);
    }
    for (auto& call : calls) call();
    return static_cast<int>(calls.size());
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> calls_;
};

}  // namespace vorsal
