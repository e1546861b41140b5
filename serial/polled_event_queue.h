// An event queue for a thread without an event loop of its own: posted
// calls wait until the owning thread polls the queue, which runs them there.
// The owner may also sleep until something is posted (AwaitPost).
#pragma once

#include "serial/event_queue.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace vorsal {

class PolledEventQueue : public EventQueue {
 public:
  void Post(std::function<void()> call) override {
    {
      std::lock_guard lock(mutex_);
      calls_.push_back(std::move(call));
    }
    posted_.notify_one();
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

  // Returns at once when calls are waiting; otherwise calls
  // wait(condition, lock, ready) with the queue's lock held, which returns
  // once ready() holds (the condition is notified by every post) or when it
  // gives up.
  template <class Wait>
  void AwaitPost(Wait&& wait) {
    std::unique_lock lock(mutex_);
    if (!calls_.empty()) return;
    wait(posted_, lock, [this] { return !calls_.empty(); });
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> calls_;
};

}  // namespace vorsal
