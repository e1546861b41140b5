// A secret from the console on Windows: the console input's echo switched
// off through SetConsoleMode while the line is read, and switched back on
// after it. Input that is not a console (a pipe, a file) is read as it is.
#include "platform/terminal_input.h"
#include "platform/win32_text.h"

#include <windows.h>

#include <iostream>

namespace vorsal::platform {

namespace {

HANDLE consoleInput = INVALID_HANDLE_VALUE;
DWORD savedMode = 0;

// Ctrl+C at the prompt: the echo comes back before the program hears of it
// (handlers run last-installed first).
BOOL WINAPI RestoreEcho(DWORD) {
  ::SetConsoleMode(consoleInput, savedMode);
  return FALSE;
}

}  // namespace

std::optional<std::string> ReadSecretLine(const std::string& prompt, std::size_t maxBytes) {
  std::cerr << prompt << std::flush;
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  const bool console = ::GetConsoleMode(input, &mode) != 0;
  if (console) {
    consoleInput = input;
    savedMode = mode;
    ::SetConsoleCtrlHandler(RestoreEcho, TRUE);
    ::SetConsoleMode(input, (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT);
  }
  // A console is read as UTF-16 (its code page may not hold the name); a
  // pipe or file gives its bytes as they are.
  std::string line;
  std::wstring wide;
  bool complete = false;
  while (line.size() < maxBytes && wide.size() < maxBytes) {
    wchar_t w = 0;
    char c = 0;
    DWORD got = 0;
    const BOOL read = console ? ::ReadConsoleW(input, &w, 1, &got, nullptr) : ::ReadFile(input, &c, 1, &got, nullptr);
    if (!read || got == 0) break;
    if (console ? w == L'\n' : c == '\n') {
      complete = true;
      break;
    }
    if (console) {
      wide += w;
    } else {
      line += c;
    }
  }
  if (console) {
    line = Utf8FromWide(wide);
    ::SetConsoleMode(input, savedMode);
    ::SetConsoleCtrlHandler(RestoreEcho, FALSE);
    // The newline the user typed was not echoed.
    std::cerr << '\n' << std::flush;
  }
  if (!complete && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace vorsal::platform
