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

// The first visible top-level window whose title starts with titlePrefix.
inline HWND FindTopLevel(const std::wstring& titlePrefix) {
  struct Search {
    std::wstring prefix;
    HWND found = nullptr;
  } search{titlePrefix};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        wchar_t title[256] = {};
        GetWindowTextW(window, title, 256);
        if (IsWindowVisible(window) && std::wstring(title).rfind(s.prefix, 0) == 0) {
          s.found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace vorsal::test
