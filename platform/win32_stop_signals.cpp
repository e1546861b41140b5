// Stop requests on Windows: the console's Ctrl+C, Ctrl+Break and its
// window being closed, taken by a handler of SetConsoleCtrlHandler (which
// the system runs on a thread of its own) and counted as on Linux.
#include "platform/stop_signals.h"

#include <windows.h>

#include <cstring>

namespace vorsal::platform {

namespace {

std::atomic<int> stopSignals{0};

std::atomic<const char*> notices[2] = {nullptr, nullptr};

BOOL WINAPI CountStop(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      break;
    default:
      return FALSE;
  }
  const int before = stopSignals.fetch_add(1);
  const char* notice = before < 2 ? notices[before].load() : nullptr;
  if (notice != nullptr) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), notice, static_cast<DWORD>(std::strlen(notice)), &written, nullptr);
  }
  if (event == CTRL_CLOSE_EVENT) {
    // The system ends the program as soon as this returns; waiting here
    // gives it the few seconds the system allows to leave the modem and
    // its files in order (its own end ends this thread too).
    ::Sleep(INFINITE);
  }
  return TRUE;
}

void Catch() {
  static std::atomic<bool> installed{false};
  if (!installed.exchange(true)) ::SetConsoleCtrlHandler(CountStop, TRUE);
}

}  // namespace

void CatchStopSignals(const char* firstNotice, const char* secondNotice) {
  notices[0] = firstNotice;
  notices[1] = secondNotice;
  Catch();
}

// The window's console, when it was started from one: the same events,
// counted without a word (a program without a console gets none).
void CatchWindowCloseSignals() {
  notices[0] = nullptr;
  notices[1] = nullptr;
  Catch();
}

const std::atomic<int>& StopSignalCounter() { return stopSignals; }

// Windows has no SIGPIPE: a write to a closed pipe already fails with an
// error the program reports.
void IgnoreBrokenPipe() {}

}  // namespace vorsal::platform
