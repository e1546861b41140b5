// The running program on Windows: GetModuleFileNameW, %APPDATA%, the
// Program Files folders (SHGetKnownFolderPath), the user and computer
// names, the console mode of a standard handle, localtime_s and gmtime_s;
// and the UTF-8 / UTF-16 conversions of the other win32 files.
#include "platform/process.h"
#include "platform/win32_text.h"

#include <windows.h>

#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vorsal::platform {

std::wstring WideFromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) return {};
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size, nullptr,
                          nullptr);
  }
  return narrow;
}

std::vector<std::string> ProgramArguments(int, char**) {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

namespace {

// The console's code pages as the program found them: the console outlives
// the program, and the shell that started it expects its own back.
UINT originalOutputCodePage = 0;
UINT originalInputCodePage = 0;

void RestoreConsoleCodePages() {
  ::SetConsoleOutputCP(originalOutputCodePage);
  ::SetConsoleCP(originalInputCodePage);
}

}  // namespace

void UseBinaryStandardOutput() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

void UseUtf8Console() {
  originalOutputCodePage = ::GetConsoleOutputCP();
  originalInputCodePage = ::GetConsoleCP();
  if (originalOutputCodePage == 0) return;  // no console
  ::SetConsoleOutputCP(CP_UTF8);
  ::SetConsoleCP(CP_UTF8);
  std::atexit(RestoreConsoleCodePages);
}

std::string ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return Utf8FromWide(std::wstring_view(buffer.data(), n));
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::filesystem::path UserDataDir() {
  const wchar_t* appData = ::_wgetenv(L"APPDATA");
  if (appData == nullptr || appData[0] == L'\0') return {};
  const std::filesystem::path base(appData);
  if (!base.is_absolute()) return {};
  return base / L"Vorsal";
}

std::vector<std::filesystem::path> ProgramFilesDirs() {
  std::vector<std::filesystem::path> dirs;
  for (const KNOWNFOLDERID& id : {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86}) {
    wchar_t* path = nullptr;
    if (::SHGetKnownFolderPath(id, 0, nullptr, &path) == S_OK && path[0] != L'\0') {
      std::filesystem::path dir(path);
      if (std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) dirs.push_back(std::move(dir));
    }
    ::CoTaskMemFree(path);  // also when the call failed
  }
  return dirs;
}

// Windows has no separate login: the user the program runs as is the one
// who logged in (or who gave their name to "run as").
std::string LoginName() {
  wchar_t name[257] = {};
  DWORD size = 257;
  if (!::GetUserNameW(name, &size) || size == 0) return {};
  return Utf8FromWide(std::wstring_view(name, size - 1));
}

std::string HostName() {
  wchar_t name[256] = {};
  DWORD size = 256;
  if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size) || size == 0) {
    size = 256;
    if (!::GetComputerNameW(name, &size)) return {};
  }
  return Utf8FromWide(std::wstring_view(name, size));
}

bool IsTerminal(StandardStream stream) {
  const DWORD which = stream == StandardStream::Input    ? STD_INPUT_HANDLE
                      : stream == StandardStream::Output ? STD_OUTPUT_HANDLE
                                                         : STD_ERROR_HANDLE;
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

std::tm LocalTime(std::time_t time) {
  std::tm result{};
  ::localtime_s(&result, &time);
  return result;
}

std::tm UtcTime(std::time_t time) {
  std::tm result{};
  ::gmtime_s(&result, &time);
  return result;
}

}  // namespace vorsal::platform
