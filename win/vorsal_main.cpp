// The Win32 window's entry: the serial port component, the program's
// identity, the main window and the message loop; the window goes first
// (closing the port) and the port component last. `vorsal.exe --production`
// opens the production window filled in from the command line, and with
// --run starts it; a bad command line is said in a box and nothing opens.
#include "app/identity.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/win32_text.h"
#include "win/main_window.h"
#include "window/production_options.h"
#include "window/texts.h"

#include <commctrl.h>
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS |
                                                     ICC_UPDOWN_CLASS | ICC_WIN95_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  const vorsal::ProductionOptions options = vorsal::ParseProductionOptions(vorsal::platform::ProgramArguments(__argc, __argv));
  if (!options.ok()) {
    MessageBoxW(nullptr, vorsal::platform::WideFromUtf8(vorsal::ProductionOptionsMessage(options)).c_str(),
                vorsal::platform::WideFromUtf8(vorsal::texts::ErrorBoxTitle).c_str(), MB_OK | MB_ICONERROR);
    return 2;
  }
  vorsal::TComPort comPort;  // the one serial port component; outlives the window
  vorsal::InitIdentity();
  int result = 0;
  {
    vorsal::MainWindow window(instance, comPort);
    if (window.Handle() == nullptr) return 1;
    window.CloseOnStopSignals();
    window.Show();
    if (options.production) {
      vorsal::ProductionWindow& production = window.Production();
      vorsal::ProductionSettings settings = production.Settings();
      vorsal::ApplyProductionOptions(options, settings);
      production.Fill(settings);
      production.SetJournal(vorsal::platform::PathFromUtf8(options.journal));
      production.Show();
      if (options.run) production.StartClick();
    }
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
