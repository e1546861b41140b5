// The Win32 window's entry: the serial port component, the program's
// identity, the main window and the message loop; the window goes first
// (closing the port) and the port component last.
#include "app/identity.h"
#include "win/main_window.h"

#include <commctrl.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS |
                                                     ICC_UPDOWN_CLASS | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  vorsal::TComPort comPort;  // the one serial port component; outlives the window
  vorsal::InitIdentity();
  int result = 0;
  {
    vorsal::MainWindow window(instance, comPort);
    if (window.Handle() == nullptr) return 1;
    window.CloseOnStopSignals();
    window.Show();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      if (window.PreTranslate(message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    result = static_cast<int>(message.wParam);
  }
  return result;
}
