// What the Windows test drivers share: failing with a message, waiting for
// a condition, a window's text and finding a top-level window by its title.
#pragma once

#include "platform/win32_text.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace vorsal::test {

// The driver's name, put before its messages.
inline const char* driverName = "driver";

[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", driverName, what.c_str());
  std::exit(1);
}

// Polls `done` every 50 ms for 30 s at the most.
inline bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 600; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

inline std::string Text(HWND window) {
  wchar_t buffer[2048] = {};
  SendMessageW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer));
  return platform::Utf8FromWide(buffer);
}

namespace detail {

struct Search {
  const std::function<bool(HWND)>* match;
  HWND found = nullptr;
};

// Enumeration callbacks are named functions: they must use the system's
// calling convention, which on 32-bit Windows is not a lambda's.
inline BOOL CALLBACK SearchStep(HWND window, LPARAM data) {
  auto& search = *reinterpret_cast<Search*>(data);
  if (!(*search.match)(window)) return TRUE;
  search.found = window;
  return FALSE;
}

}  // namespace detail

// The first child window of `parent`, at any depth, that `match` accepts;
// nullptr when there is none.
inline HWND FindChild(HWND parent, const std::function<bool(HWND)>& match) {
  detail::Search search{&match};
  EnumChildWindows(parent, &detail::SearchStep, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The first visible top-level window whose title starts with titlePrefix.
inline HWND FindTopLevel(const std::wstring& titlePrefix) {
  const std::function<bool(HWND)> match = [&](HWND window) {
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    return IsWindowVisible(window) && std::wstring(title).rfind(titlePrefix, 0) == 0;
  };
  detail::Search search{&match};
  EnumWindows(&detail::SearchStep, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace vorsal::test
