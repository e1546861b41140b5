#include "win/win32_event_queue.h"

#include <utility>

namespace vorsal {

void Win32EventQueue::Attach(HWND window) {
  std::lock_guard guard(lock_);
  window_ = window;
  if (window_ != nullptr && !calls_.empty()) PostMessageW(window_, WM_RUN_POSTED, 0, 0);
}

void Win32EventQueue::Post(std::function<void()> call) {
  std::lock_guard guard(lock_);
  calls_.push_back(std::move(call));
  if (window_ != nullptr) PostMessageW(window_, WM_RUN_POSTED, 0, 0);
}

// One call at a time is taken out under the lock and run outside it, so a
// call may post further calls (they run in this same pass).
void Win32EventQueue::RunPending() {
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard guard(lock_);
      if (calls_.empty()) return;
      call = std::move(calls_.front());
      calls_.pop_front();
    }
    call();
  }
}

}  // namespace vorsal
