// Drives vorsal.exe under Wine by window messages, as a user would through
// its controls (child controls are no X windows, so screen positions would
// not reach them). Each argument is one step, run in order; a step that
// waits gives up after 30 s and the driver exits with 1.
//   window                 wait for the main window ("Vorsal v." title)
//   port NAME              open the port list, choose NAME
//   click ID               press the button (posted: a modal dialog may follow)
//   set ID TEXT            set the control's text
//   check ID               tick the check box
//   expect ID TEXT         wait until the control shows TEXT
//   checked ID             wait until the box is ticked
//   status N TEXT          wait until status panel N shows TEXT
//   title TEXT             wait until the title ends in TEXT
//   key F1                 press F1 in the port box
//   dialog                 wait for a key dialog to open
//   modal                  wait for a key dialog to open and for both to end
//   error TEXT             wait for an error box containing TEXT; close it
//   print ID               print the control's text once it is no "****"
//   whole ID               the control's text fits it in the control's font
//   codepage N             the ANSI code page of this Wine environment is N
//   exits N COMMAND-LINE   run the command line as it stands; it ends with N
//   close                  close the window and wait for it to go
#include "platform/win32_text.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

namespace {

using vorsal::platform::Utf8FromWide;
using vorsal::platform::WideFromUtf8;

HWND mainWindow = nullptr;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "window_driver: %s\n", what.c_str());
  std::exit(1);
}

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 600; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string Text(HWND window) {
  wchar_t buffer[1024] = {};
  SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
  return Utf8FromWide(buffer);
}

HWND FindTopLevel(const std::wstring& titlePrefix) {
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

HWND Control(int id) {
  struct Search {
    int id;
    HWND found = nullptr;
  } search{id};
  EnumChildWindows(
      mainWindow,
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        if (GetDlgCtrlID(window) != s.id) return TRUE;
        s.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) Fail("no control " + std::to_string(id));
  return search.found;
}

void Notify(HWND control, int code) {
  SendMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code),
               reinterpret_cast<LPARAM>(control));
}

// A status bar panel's text, read through a buffer in the window's process.
std::string StatusText(int panel) {
  HWND bar = nullptr;
  EnumChildWindows(
      mainWindow,
      [](HWND window, LPARAM data) -> BOOL {
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (std::wstring(name) != STATUSCLASSNAMEW) return TRUE;
        *reinterpret_cast<HWND*>(data) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&bar));
  if (bar == nullptr) Fail("no status bar");
  DWORD pid = 0;
  GetWindowThreadProcessId(bar, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ, FALSE, pid);
  void* remote = VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE);
  SendMessageW(bar, SB_GETTEXTW, static_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(remote));
  wchar_t buffer[2048] = {};
  ReadProcessMemory(process, remote, buffer, sizeof buffer - sizeof(wchar_t), nullptr);
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return Utf8FromWide(buffer);
}

void Expect(const std::string& what, const std::function<std::string()> read, const std::string& wanted) {
  if (!WaitFor([&] { return read() == wanted; })) Fail(what + ": '" + read() + "', expected '" + wanted + "'");
}

std::wstring Arg(wchar_t** argv, int argc, int i) {
  if (i >= argc) Fail("a step lacks its argument");
  return argv[i];
}

// Whether a label's or check box's text fits inside the control, measured
// in the panels' dialog font, MS Sans Serif 8 (a font handle of another
// process cannot be read here); a cut-off last letter is the fault.
bool TextFits(HWND control) {
  HDC dc = GetDC(nullptr);
  HFONT copy = CreateFontW(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
  HGDIOBJ old = SelectObject(dc, copy);
  const std::wstring text = WideFromUtf8(Text(control));
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  DeleteObject(copy);
  ReleaseDC(nullptr, dc);
  RECT room{};
  GetClientRect(control, &room);
  const LONG kind = GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
  const bool box = kind == BS_AUTOCHECKBOX || kind == BS_AUTORADIOBUTTON || kind == BS_CHECKBOX || kind == BS_RADIOBUTTON;
  return size.cx + (box ? GetSystemMetrics(SM_CXMENUCHECK) + 4 : 0) <= room.right;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 1; i < argc; ++i) {
    const std::wstring step = argv[i];
    if (step == L"window") {
      if (!WaitFor([] { return (mainWindow = FindTopLevel(L"Vorsal v.")) != nullptr; })) Fail("no main window");
    } else if (step == L"port") {
      HWND box = Control(1001);
      Notify(box, CBN_DROPDOWN);
      const std::wstring name = Arg(argv, argc, ++i);
      if (SendMessageW(box, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name.c_str())) == CB_ERR) {
        Fail("no port " + Utf8FromWide(name) + " in the list");
      }
      PostMessageW(GetParent(box), WM_COMMAND, MAKEWPARAM(1001, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
    } else if (step == L"click") {
      PostMessageW(Control(std::stoi(Arg(argv, argc, ++i))), BM_CLICK, 0, 0);
    } else if (step == L"set") {
      HWND control = Control(std::stoi(Arg(argv, argc, ++i)));
      SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Arg(argv, argc, ++i).c_str()));
    } else if (step == L"check") {
      SendMessageW(Control(std::stoi(Arg(argv, argc, ++i))), BM_SETCHECK, BST_CHECKED, 0);
    } else if (step == L"expect") {
      HWND control = Control(std::stoi(Arg(argv, argc, ++i)));
      const std::string wanted = Utf8FromWide(Arg(argv, argc, ++i));
      Expect("control " + std::to_string(GetDlgCtrlID(control)), [&] { return Text(control); }, wanted);
    } else if (step == L"checked") {
      HWND box = Control(std::stoi(Arg(argv, argc, ++i)));
      if (!WaitFor([&] { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; })) Fail("a box is not ticked");
    } else if (step == L"status") {
      const int panel = std::stoi(Arg(argv, argc, ++i));
      Expect("status panel " + std::to_string(panel), [&] { return StatusText(panel); },
             Utf8FromWide(Arg(argv, argc, ++i)));
    } else if (step == L"title") {
      const std::string wanted = Utf8FromWide(Arg(argv, argc, ++i));
      const auto ending = [&] {
        const std::string title = Text(mainWindow);
        return title.size() >= wanted.size() ? title.substr(title.size() - wanted.size()) : title;
      };
      Expect("title", ending, wanted);
    } else if (step == L"key") {
      if (Arg(argv, argc, ++i) != L"F1") Fail("only F1 is pressed");
      PostMessageW(Control(1001), WM_KEYDOWN, VK_F1, 1);
      PostMessageW(Control(1001), WM_KEYUP, VK_F1, 1 | (3u << 30));
    } else if (step == L"dialog") {
      if (!WaitFor([] { return !IsWindowEnabled(mainWindow); })) Fail("no key dialog opened");
    } else if (step == L"modal") {
      // A modal key dialog disables the main window while it is shown.
      // Between the key computation and the key transfer the window is
      // enabled for a moment: the dialogs have ended once it has stayed
      // enabled for a second.
      if (!WaitFor([] { return !IsWindowEnabled(mainWindow); })) Fail("no key dialog opened");
      int enabledPolls = 0;
      if (!WaitFor([&] {
            enabledPolls = IsWindowEnabled(mainWindow) ? enabledPolls + 1 : 0;
            return enabledPolls >= 20;
          })) {
        Fail("the key dialogs did not end");
      }
    } else if (step == L"error") {
      const std::string wanted = Utf8FromWide(Arg(argv, argc, ++i));
      HWND box = nullptr;
      if (!WaitFor([&] { return (box = FindTopLevel(L"Error")) != nullptr; })) Fail("no error box");
      HWND message = GetDlgItem(box, 0xFFFF);
      const std::string shown = message != nullptr ? Text(message) : std::string();
      if (shown.find(wanted) == std::string::npos) Fail("error box: '" + shown + "', expected '" + wanted + "'");
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    } else if (step == L"print") {
      HWND control = Control(std::stoi(Arg(argv, argc, ++i)));
      if (!WaitFor([&] { return Text(control) != "****"; })) Fail("the display stays empty");
      std::printf("%s\n", Text(control).c_str());
    } else if (step == L"whole") {
      HWND control = Control(std::stoi(Arg(argv, argc, ++i)));
      if (!TextFits(control)) Fail("the text of control " + std::to_string(GetDlgCtrlID(control)) + " is cut: '" + Text(control) + "'");
    } else if (step == L"codepage") {
      const std::wstring wanted = Arg(argv, argc, ++i);
      if (GetACP() != static_cast<UINT>(std::stoi(wanted))) Fail("ANSI code page " + std::to_string(GetACP()));
    } else if (step == L"exits") {
      const DWORD wanted = static_cast<DWORD>(std::stoul(Arg(argv, argc, ++i)));
      std::wstring line = Arg(argv, argc, ++i);
      STARTUPINFOW startup{};
      startup.cb = sizeof startup;
      PROCESS_INFORMATION child{};
      if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        Fail("cannot run " + Utf8FromWide(line));
      }
      WaitForSingleObject(child.hProcess, INFINITE);
      DWORD code = 0;
      GetExitCodeProcess(child.hProcess, &code);
      CloseHandle(child.hThread);
      CloseHandle(child.hProcess);
      if (code != wanted) Fail(Utf8FromWide(line) + " ended with " + std::to_string(code));
    } else if (step == L"close") {
      PostMessageW(mainWindow, WM_CLOSE, 0, 0);
      if (!WaitFor([] { return IsWindow(mainWindow) == FALSE; })) Fail("the window did not close");
    } else {
      Fail("unknown step " + Utf8FromWide(step));
    }
  }
  return 0;
}
