#include "win/layout.h"

#include <string>

namespace vorsal {

namespace {
constexpr int DesignedUnitWidth = 6;    // pixels per 4 dialog units across
constexpr int DesignedUnitHeight = 13;  // pixels per 8 dialog units down
constexpr int ComboListHeight = 200;    // the whole box when its list is down

int Scale(int pixels, int designed, int actual) { return MulDiv(pixels, designed, actual); }
}  // namespace

void FitToDesignedPixels(HWND dialog) {
  RECT units{0, 0, 4, 8};
  MapDialogRect(dialog, &units);
  const int across = units.right, down = units.bottom;
  if (across <= 0 || down <= 0 || (across == DesignedUnitWidth && down == DesignedUnitHeight)) return;
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
