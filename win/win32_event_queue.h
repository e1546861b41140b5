// The Win32 window's event queue: calls from the serial port's event thread
// (and the window's own posted calls) are kept in order and announced to
// the window with a posted WM_APP message, whose handler runs them on the
// GUI thread.
#pragma once

#include "serial/event_queue.h"

#include <deque>
#include <functional>
#include <mutex>

#include <windows.h>

namespace vorsal {

inline constexpr UINT WM_RUN_POSTED = WM_APP;

class Win32EventQueue final : public EventQueue {
 public:
  // Calls posted before a window is attached wait for the first one.
  void Attach(HWND window);
  void Post(std::function<void()> call) override;
  // Runs every call waiting now, in order (from the WM_APP handler).
  void RunPending();

 private:
  std::mutex lock_;
  std::deque<std::function<void()>> calls_;
  HWND window_ = nullptr;
};

}  // namespace vorsal
