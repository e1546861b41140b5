#include "win/layout.h"

#include <algorithm>
#include <string>

namespace vorsal {

namespace {
constexpr int DesignedUnitWidth = 6;    // pixels per 4 dialog units across
constexpr int DesignedUnitHeight = 13;  // pixels per 8 dialog units down
constexpr int ComboListHeight = 200;    // the whole box when its list is down

int Scale(int pixels, int designed, int actual) { return MulDiv(pixels, designed, actual); }

RECT PlaceIn(HWND dialog, HWND child) {
  RECT place{};
  GetWindowRect(child, &place);
  MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&place), 2);
  return place;
}

// The width a label or a check box needs for its text in its own font; 0
// for every other control.
int TextWidth(HWND control) {
  wchar_t name[32] = {};
  GetClassNameW(control, name, 32);
  const LONG style = GetWindowLongW(control, GWL_STYLE);
  int extra = 0;
  if (_wcsicmp(name, L"Button") == 0) {
    const LONG kind = style & BS_TYPEMASK;
    if (kind != BS_AUTOCHECKBOX && kind != BS_CHECKBOX && kind != BS_AUTORADIOBUTTON && kind != BS_RADIOBUTTON) return 0;
    extra = GetSystemMetrics(SM_CXMENUCHECK) + 6;  // the box and the gap to its text
  } else if (_wcsicmp(name, L"Static") != 0 || (style & SS_TYPEMASK) != SS_LEFT) {
    return 0;
  }
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)), L'\0');
  GetWindowTextW(control, text.data(), static_cast<int>(text.size()) + 1);
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size.cx + extra;
}

bool IsGroupBox(HWND control) {
  wchar_t name[32] = {};
  GetClassNameW(control, name, 32);
  return _wcsicmp(name, L"Button") == 0 && (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

// The innermost group box around the control's top left corner, if any.
HWND GroupOf(HWND dialog, HWND control) {
  const RECT place = PlaceIn(dialog, control);
  HWND inner = nullptr;
  LONG innerWidth = 0;
  for (HWND group = GetWindow(dialog, GW_CHILD); group != nullptr; group = GetWindow(group, GW_HWNDNEXT)) {
    if (group == control || !IsGroupBox(group)) continue;
    const RECT frame = PlaceIn(dialog, group);
    const bool around =
        place.left >= frame.left && place.left < frame.right && place.top >= frame.top && place.top < frame.bottom;
    if (around && (inner == nullptr || frame.right - frame.left < innerWidth)) {
      inner = group;
      innerWidth = frame.right - frame.left;
    }
  }
  return inner;
}

// The right edge a control may reach: that of the innermost group box
// around its left end, or of the dialog.
int RoomRight(HWND dialog, HWND control, int dialogWidth) {
  HWND group = GroupOf(dialog, control);
  return (group != nullptr ? static_cast<int>(PlaceIn(dialog, group).right) : dialogWidth) - 4;
}

// Moves the controls that follow `from` (a control `place` wide) on its lines
// right of `right` + 4, each as far as its own room allows. Group boxes stay,
// and so do the controls inside `from`.
void PushFollowers(HWND dialog, HWND from, const RECT& place, int right, int dialogWidth) {
  for (HWND next = GetWindow(dialog, GW_CHILD); next != nullptr; next = GetWindow(next, GW_HWNDNEXT)) {
    const RECT other = PlaceIn(dialog, next);
    const bool sameLine = other.top < place.bottom && other.bottom > place.top;
    if (next == from || !sameLine || other.left < place.right || other.left >= right + 4) continue;
    if (IsGroupBox(next) || GroupOf(dialog, next) == from) continue;
    // A label whose text still fits gives up room on its left and keeps
    // its right edge, which a control after it may meet.
    if (const int text = TextWidth(next); text > 0 && other.right - (right + 4) >= text) {
      SetWindowPos(next, nullptr, right + 4, other.top, other.right - (right + 4), other.bottom - other.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      continue;
    }
    const int width = other.right - other.left;
    const int left = std::min(right + 4, RoomRight(dialog, next, dialogWidth) - width);
    SetWindowPos(next, nullptr, left, other.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

// How far the group box may grow to the right: into the gap before the
// controls that follow it on its lines (keeping 4 pixels) and their own
// room beyond it, within its own room.
int GroupSlack(HWND dialog, HWND group, int dialogWidth) {
  const RECT frame = PlaceIn(dialog, group);
  int slack = RoomRight(dialog, group, dialogWidth) - frame.right;
  for (HWND next = GetWindow(dialog, GW_CHILD); next != nullptr; next = GetWindow(next, GW_HWNDNEXT)) {
    const RECT other = PlaceIn(dialog, next);
    const bool sameLine = other.top < frame.bottom && other.bottom > frame.top;
    if (next == group || !sameLine || other.left < frame.right || IsGroupBox(next)) continue;
    slack = std::min(slack, static_cast<int>(other.left - frame.right - 4 + RoomRight(dialog, next, dialogWidth) -
                                             other.right));
  }
  return std::max(slack, 0);
}

// A label or check box whose text is wider in the font in use than its
// designed room grows to the right as far as its group allows; when that is
// not enough the group box grows too, as far as what follows it can give
// way. A control that follows on the line moves right as far as needed.
void WidenToTexts(HWND dialog, int dialogWidth) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT place = PlaceIn(dialog, child);
    const int needed = TextWidth(child);
    if (needed <= place.right - place.left) continue;
    const int wanted = static_cast<int>(place.left) + needed;
    if (HWND group = GroupOf(dialog, child); group != nullptr && wanted > RoomRight(dialog, child, dialogWidth)) {
      const RECT frame = PlaceIn(dialog, group);
      const int grow = std::min(wanted - RoomRight(dialog, child, dialogWidth), GroupSlack(dialog, group, dialogWidth));
      if (grow > 0) {
        // The followers move first: once the group has grown over a
        // follower's corner, that follower would measure its room inside
        // the group and slide left over it.
        PushFollowers(dialog, group, frame, frame.right + grow, dialogWidth);
        SetWindowPos(group, nullptr, 0, 0, frame.right - frame.left + grow, frame.bottom - frame.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
    }
    const int right = std::min(wanted, RoomRight(dialog, child, dialogWidth));
    if (right <= place.right) continue;
    SetWindowPos(child, nullptr, 0, 0, right - place.left, place.bottom - place.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    PushFollowers(dialog, child, place, right, dialogWidth);
  }
}
}  // namespace

void FitToDesignedPixels(HWND dialog, int dpi) {
  RECT units{0, 0, 4, 8};
  MapDialogRect(dialog, &units);
  // Pixels in the font in use per designed pixel at this DPI, as fractions:
  // `across` / (6 * dpi / 96) across, `down` / (13 * dpi / 96) down.
  const int across = units.right * 96, down = units.bottom * 96;
  if (across <= 0 || down <= 0) return;
  const int designedAcross = DesignedUnitWidth * dpi, designedDown = DesignedUnitHeight * dpi;
  RECT client{};
  GetClientRect(dialog, &client);
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT place{};
    GetWindowRect(child, &place);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&place), 2);
    wchar_t name[32] = {};
    GetClassNameW(child, name, 32);
    const bool combo = _wcsicmp(name, L"ComboBox") == 0;
    // Edges are scaled, not sizes, so that controls that meet still meet.
    const int left = Scale(place.left, designedAcross, across), top = Scale(place.top, designedDown, down);
    const int height = combo ? MulDiv(ComboListHeight, dpi, 96) : Scale(place.bottom, designedDown, down) - top;
    SetWindowPos(child, nullptr, left, top, Scale(place.right, designedAcross, across) - left, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  WidenToTexts(dialog, Scale(client.right, designedAcross, across));
}

void RescaleForDpi(HWND dialog, int oldDpi, int newDpi, int dialogWidth) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    const RECT place = PlaceIn(dialog, child);
    const int left = MulDiv(place.left, newDpi, oldDpi), top = MulDiv(place.top, newDpi, oldDpi);
    SetWindowPos(child, nullptr, left, top, MulDiv(place.right, newDpi, oldDpi) - left,
                 MulDiv(place.bottom, newDpi, oldDpi) - top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  WidenToTexts(dialog, dialogWidth);
}

HFONT CreateDialogFont(int dpi) {
  return CreateFontW(-MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
}

HFONT CreateScaledFont(int dpi, int pixelsAt96, bool bold, const wchar_t* face, DWORD pitchAndFamily) {
  return CreateFontW(-MulDiv(pixelsAt96, dpi, 96), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, pitchAndFamily, face);
}

int WindowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr && window != nullptr) {
    if (const UINT dpi = getDpiForWindow(window); dpi > 0) return static_cast<int>(dpi);
  }
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

void KeepDialogDpiChangesToItself(HWND dialog) {
  // Left to the system, a dialog of a per-monitor aware program would scale
  // its font and controls itself on a DPI change, on top of the window's own
  // scaling. (Windows 10 1703 and later; earlier ones send no DPI change.)
  using Function = BOOL(WINAPI*)(HWND, int, int);
  static const auto setBehavior = reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetDialogDpiChangeBehavior")));
  constexpr int disableAll = 1;  // DDC_DISABLE_ALL
  if (setBehavior != nullptr) setBehavior(dialog, disableAll, disableAll);
}

void SetClientSize(HWND window, int width, int height) {
  RECT frame{0, 0, width, height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), GetMenu(window) != nullptr,
                     static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)));
  // A minimised window keeps the size it is restored to in its placement;
  // resizing it would size its icon, and the restore would bring back the
  // old size.
  if (IsIconic(window)) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(window, &placement);
    RECT& normal = placement.rcNormalPosition;
    normal.right = normal.left + (frame.right - frame.left);
    normal.bottom = normal.top + (frame.bottom - frame.top);
    placement.showCmd = SW_SHOWMINNOACTIVE;
    SetWindowPlacement(window, &placement);
    return;
  }
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // A menu bar that wraps takes more room than one line: the client area is
  // measured and the difference added.
  RECT client{};
  GetClientRect(window, &client);
  if (client.bottom != height || client.right != width) {
    GetWindowRect(window, &frame);
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left + width - client.right,
                 frame.bottom - frame.top + height - client.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

}  // namespace vorsal
