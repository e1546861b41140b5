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
        SetWindowPos(group, nullptr, 0, 0, frame.right - frame.left + grow, frame.bottom - frame.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        PushFollowers(dialog, group, frame, frame.right + grow, dialogWidth);
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

void FitToDesignedPixels(HWND dialog) {
  RECT units{0, 0, 4, 8};
  MapDialogRect(dialog, &units);
  const int across = units.right, down = units.bottom;
  if (across <= 0 || down <= 0) return;
  RECT client{};
  GetClientRect(dialog, &client);
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT place{};
    GetWindowRect(child, &place);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&place), 2);
    wchar_t name[32] = {};
    GetClassNameW(child, name, 32);
    const bool combo = _wcsicmp(name, L"ComboBox") == 0;
    const int height = combo ? ComboListHeight : Scale(place.bottom - place.top, DesignedUnitHeight, down);
    SetWindowPos(child, nullptr, Scale(place.left, DesignedUnitWidth, across), Scale(place.top, DesignedUnitHeight, down),
                 Scale(place.right - place.left, DesignedUnitWidth, across), height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  WidenToTexts(dialog, Scale(client.right, DesignedUnitWidth, across));
}

void SetClientSize(HWND window, int width, int height) {
  RECT frame{0, 0, width, height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), GetMenu(window) != nullptr,
                     static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)));
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
