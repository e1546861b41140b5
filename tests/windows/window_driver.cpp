// Drives vorsal.exe under Wine by window messages, as a user would through
// its controls (child controls are no X windows, so screen positions would
// not reach them). Each argument is one step, run in order; a step that
// waits gives up after 30 s and the driver exits with 1.
//   window                 wait for the main window ("Vorsal v." title)
//   port NAME              open the port list, choose NAME, close the list on it
//   arrows NAME            open and close the port list, then press Down in
//                          the closed list until NAME is shown
//   enter ID               press Enter in the control
//   up ID                  press Up in the control
//   type ID TEXT           type TEXT into the control, key by key
//   listed NAME / unlisted NAME
//                          wait until the port list holds NAME / no longer does
//   devicechange           tell the window that devices came or went
//   portfits NAME          the port box shows NAME whole when it is chosen
//   noerror                no error box is open
//   minimize / restore     minimise the window / restore it
//   client H               the client area is H designed pixels high at the
//                          display's DPI, the status bar at its bottom edge
//   dpi N                  this Wine environment draws at N DPI
//   dpichange N            tell the window its DPI is now N (as when it moves
//                          to another monitor); later steps measure at N
//   layout                 no control overlaps another and every text fits
//                          its control, in every shown panel
//   progressbar ID         the control is the system's progress bar
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
#include "tests/windows/driver_support.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using vorsal::platform::Utf8FromWide;
using vorsal::platform::WideFromUtf8;
using vorsal::test::Fail;
using vorsal::test::FindChild;
using vorsal::test::FindTopLevel;
using vorsal::test::Text;
using vorsal::test::WaitFor;

HWND mainWindow = nullptr;

HWND Control(int id) {
  HWND control = FindChild(mainWindow, [id](HWND window) { return GetDlgCtrlID(window) == id; });
  if (control == nullptr) Fail("no control " + std::to_string(id));
  return control;
}

void Notify(HWND control, int code) {
  SendMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code),
               reinterpret_cast<LPARAM>(control));
}

// A status bar panel's text, read through a buffer in the window's process.
std::string StatusText(int panel) {
  HWND bar = FindChild(mainWindow, [](HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return std::wstring(name) == STATUSCLASSNAMEW;
  });
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

int drawnDpi = 0;  // set by dpichange: the DPI the window draws at

int Dpi() {
  if (drawnDpi != 0) return drawnDpi;
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi;
}

std::string ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return Utf8FromWide(name);
}

bool Is(HWND window, const char* className) { return _stricmp(ClassOf(window).c_str(), className) == 0; }

// Lets the window's thread finish what it is handling: a sent message is
// taken only between messages (or in a modal loop).
void Sync() { SendMessageW(mainWindow, WM_NULL, 0, 0); }

// The width of the control's text in the font the window gives it,
// re-created here (a font handle of another process cannot be read): the
// panels' dialog font, MS Sans Serif 8 at the display's DPI, and the large
// bold font of the address displays.
int TextWidth(HWND control, const std::wstring& text) {
  const int id = GetDlgCtrlID(control);
  const bool large = id == 1014 || id == 1022;
  HDC dc = GetDC(nullptr);
  HFONT copy = CreateFontW(large ? -MulDiv(16, Dpi(), 96) : -MulDiv(8, Dpi(), 72), 0, 0, 0, large ? FW_BOLD : FW_NORMAL,
                           FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
  HGDIOBJ old = SelectObject(dc, copy);
  // A label's '&' marks the next letter and takes no room.
  std::wstring shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && Is(control, "Static") && (GetWindowLongW(control, GWL_STYLE) & SS_NOPREFIX) == 0) continue;
    shown += text[i];
  }
  SIZE size{};
  GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &size);
  SelectObject(dc, old);
  DeleteObject(copy);
  ReleaseDC(nullptr, dc);
  return size.cx;
}

// The room a control has for its text: labels and inputs their client
// width (an input less its margins), boxes beside their check mark, buttons
// within their edges, group boxes beside their frame, a closed list beside
// its arrow. -1: a control without a text of its own.
int TextRoom(HWND control) {
  RECT client{};
  GetClientRect(control, &client);
  const LONG style = GetWindowLongW(control, GWL_STYLE);
  if (Is(control, "Static")) return (style & SS_TYPEMASK) == SS_LEFT ? client.right : -1;
  if (Is(control, "Edit")) {
    const auto margins = static_cast<DWORD>(SendMessageW(control, EM_GETMARGINS, 0, 0));
    return client.right - LOWORD(margins) - HIWORD(margins) - 2;
  }
  if (Is(control, "ComboBox")) return client.right - GetSystemMetrics(SM_CXVSCROLL) - 4;
  if (!Is(control, "Button")) return -1;
  switch (style & BS_TYPEMASK) {
    case BS_GROUPBOX: return client.right - MulDiv(16, Dpi(), 96);
    case BS_AUTOCHECKBOX:
    case BS_CHECKBOX:
    case BS_AUTORADIOBUTTON:
    case BS_RADIOBUTTON: return client.right - GetSystemMetrics(SM_CXMENUCHECK) - 4;
    default: return client.right - 4 * GetSystemMetrics(SM_CXEDGE);
  }
}

// Whether a control's text fits inside it in its font; a cut-off last
// letter is the fault.
bool TextFits(HWND control) {
  const int room = TextRoom(control);
  return room < 0 || TextWidth(control, WideFromUtf8(Text(control))) <= room;
}

RECT PlaceIn(HWND parent, HWND child) {
  RECT place{};
  GetWindowRect(child, &place);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&place), 2);
  return place;
}

bool Overlap(const RECT& a, const RECT& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}
bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top && inner.bottom <= outer.bottom;
}

std::string Describe(HWND control) {
  const RECT place = PlaceIn(GetParent(control), control);
  return std::to_string(GetDlgCtrlID(control)) + " '" + Text(control) + "' (" + std::to_string(place.left) + "," +
         std::to_string(place.top) + ")-(" + std::to_string(place.right) + "," + std::to_string(place.bottom) + ")";
}

std::vector<HWND> VisibleChildren(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (IsWindowVisible(child)) children.push_back(child);
  }
  return children;
}

// Within the main window: the stacked parts lie side by side inside its
// client area. Within each shown panel: every control inside it; a group
// box and another control either nested or apart; two other controls
// apart; every text whole.
void CheckLayout() {
  std::vector<std::string> faults;
  RECT client{};
  GetClientRect(mainWindow, &client);
  const std::vector<HWND> parts = VisibleChildren(mainWindow);
  for (size_t i = 0; i < parts.size(); ++i) {
    const RECT a = PlaceIn(mainWindow, parts[i]);
    if (!Inside(a, client)) faults.push_back("outside the window: " + Describe(parts[i]));
    for (size_t j = i + 1; j < parts.size(); ++j) {
      if (Overlap(a, PlaceIn(mainWindow, parts[j]))) faults.push_back("parts overlap: " + Describe(parts[i]) + ", " + Describe(parts[j]));
    }
    if (!Is(parts[i], "#32770")) continue;
    RECT panel{};
    GetClientRect(parts[i], &panel);
    const std::vector<HWND> controls = VisibleChildren(parts[i]);
    for (size_t k = 0; k < controls.size(); ++k) {
      const RECT c = PlaceIn(parts[i], controls[k]);
      const bool group = Is(controls[k], "Button") && (GetWindowLongW(controls[k], GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
      if (!Inside(c, panel)) faults.push_back("outside its panel: " + Describe(controls[k]));
      if (!TextFits(controls[k])) faults.push_back("text cut: " + Describe(controls[k]));
      for (size_t m = k + 1; m < controls.size(); ++m) {
        const RECT d = PlaceIn(parts[i], controls[m]);
        const bool otherGroup =
            Is(controls[m], "Button") && (GetWindowLongW(controls[m], GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
        if (!Overlap(c, d)) continue;
        if ((group && Inside(d, c)) || (otherGroup && Inside(c, d))) continue;
        // Up-down arrows stand on their input's border, as the system
        // places them.
        const auto buddy = [](HWND arrows, HWND input) {
          return Is(arrows, "msctls_updown32") &&
                 reinterpret_cast<HWND>(SendMessageW(arrows, UDM_GETBUDDY, 0, 0)) == input;
        };
        if (buddy(controls[k], controls[m]) || buddy(controls[m], controls[k])) continue;
        faults.push_back("overlap: " + Describe(controls[k]) + ", " + Describe(controls[m]));
      }
    }
  }
  if (!faults.empty()) {
    std::string all = "layout at " + std::to_string(Dpi()) + " DPI:";
    for (const std::string& fault : faults) all += "\n  " + fault;
    Fail(all);
  }
}

void PressKey(HWND control, UINT key) {
  PostMessageW(control, WM_KEYDOWN, key, 1);
  PostMessageW(control, WM_KEYUP, key, 1 | (3u << 30));
}

int PortIndex(HWND box, const std::wstring& name) {
  return static_cast<int>(SendMessageW(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name.c_str())));
}

}  // namespace

int main() {
  vorsal::test::driverName = "window_driver";
  // Coordinates and fonts as the DPI-aware window sees them.
  SetProcessDPIAware();
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
      const int index = PortIndex(box, name);
      if (index == CB_ERR) Fail("no port " + Utf8FromWide(name) + " in the list");
      SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
      // The notices of a list closed on a choice.
      PostMessageW(GetParent(box), WM_COMMAND, MAKEWPARAM(1001, CBN_SELENDOK), reinterpret_cast<LPARAM>(box));
      PostMessageW(GetParent(box), WM_COMMAND, MAKEWPARAM(1001, CBN_CLOSEUP), reinterpret_cast<LPARAM>(box));
    } else if (step == L"arrows") {
      HWND box = Control(1001);
      SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
      SendMessageW(box, CB_SHOWDROPDOWN, FALSE, 0);
      const std::wstring name = Arg(argv, argc, ++i);
      const int index = PortIndex(box, name);
      if (index == CB_ERR) Fail("no port " + Utf8FromWide(name) + " in the list");
      for (int step = 0; step <= index; ++step) {
        const auto before = SendMessageW(box, CB_GETCURSEL, 0, 0);
        if (before == index) break;
        SetForegroundWindow(mainWindow);
        PressKey(box, VK_DOWN);
        if (!WaitFor([&] { return SendMessageW(box, CB_GETCURSEL, 0, 0) != before; })) Fail("Down moved nothing");
        Sync();
      }
    } else if (step == L"enter" || step == L"up") {
      HWND control = Control(std::stoi(Arg(argv, argc, ++i)));
      PressKey(control, step == L"enter" ? VK_RETURN : VK_UP);
      Sync();
    } else if (step == L"type") {
      HWND control = Control(std::stoi(Arg(argv, argc, ++i)));
      for (wchar_t c : Arg(argv, argc, ++i)) PostMessageW(control, WM_CHAR, c, 1);
      Sync();
    } else if (step == L"listed" || step == L"unlisted") {
      HWND box = Control(1001);
      const std::wstring name = Arg(argv, argc, ++i);
      const bool wanted = step == L"listed";
      if (!WaitFor([&] { return (PortIndex(box, name) != CB_ERR) == wanted; })) {
        Fail("port " + Utf8FromWide(name) + (wanted ? " not listed" : " still listed"));
      }
    } else if (step == L"portfits") {
      HWND box = Control(1001);
      const std::wstring name = Arg(argv, argc, ++i);
      if (TextWidth(box, name) > TextRoom(box)) Fail("the port box cuts " + Utf8FromWide(name));
    } else if (step == L"devicechange") {
      SendMessageW(mainWindow, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0);
    } else if (step == L"noerror") {
      Sync();
      if (FindTopLevel(L"Error") != nullptr) Fail("an error box is open");
    } else if (step == L"minimize" || step == L"restore") {
      const bool minimise = step == L"minimize";
      PostMessageW(mainWindow, WM_SYSCOMMAND, minimise ? SC_MINIMIZE : SC_RESTORE, 0);
      if (!WaitFor([&] { return (IsIconic(mainWindow) != FALSE) == minimise; })) Fail("the window did not " + Utf8FromWide(step));
    } else if (step == L"client") {
      const int wanted = MulDiv(std::stoi(Arg(argv, argc, ++i)), Dpi(), 96);
      HWND bar = FindWindowExW(mainWindow, nullptr, STATUSCLASSNAMEW, nullptr);
      if (bar == nullptr) Fail("no status bar");
      RECT client{};
      const auto placed = [&] {
        GetClientRect(mainWindow, &client);
        return client.bottom == wanted && PlaceIn(mainWindow, bar).bottom == wanted;
      };
      if (!WaitFor(placed)) {
        Fail("client height " + std::to_string(client.bottom) + ", status bar down to " +
             std::to_string(PlaceIn(mainWindow, bar).bottom) + ", expected " + std::to_string(wanted));
      }
    } else if (step == L"dpi") {
      const int wanted = std::stoi(Arg(argv, argc, ++i));
      if (Dpi() != wanted) Fail("drawn at " + std::to_string(Dpi()) + " DPI");
    } else if (step == L"dpichange") {
      // The suggested frame, in the window's own process as the system
      // would hand it.
      drawnDpi = std::stoi(Arg(argv, argc, ++i));
      RECT frame{};
      GetWindowRect(mainWindow, &frame);
      frame.right = frame.left + MulDiv(frame.right - frame.left, drawnDpi, 96);
      frame.bottom = frame.top + MulDiv(frame.bottom - frame.top, drawnDpi, 96);
      DWORD pid = 0;
      GetWindowThreadProcessId(mainWindow, &pid);
      HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
      void* remote = VirtualAllocEx(process, nullptr, sizeof frame, MEM_COMMIT, PAGE_READWRITE);
      WriteProcessMemory(process, remote, &frame, sizeof frame, nullptr);
      SendMessageW(mainWindow, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(drawnDpi, drawnDpi), reinterpret_cast<LPARAM>(remote));
      VirtualFreeEx(process, remote, 0, MEM_RELEASE);
      CloseHandle(process);
    } else if (step == L"layout") {
      Sync();
      CheckLayout();
    } else if (step == L"progressbar") {
      HWND control = Control(std::stoi(Arg(argv, argc, ++i)));
      if (!Is(control, "msctls_progress32")) Fail("the gauge is a " + ClassOf(control));
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
      Sync();
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
