// Program entry: the serial port component, the program's identity, the main
// window, the two key dialogs and the message loop; at the end the windows go
// first (the main window closing the port) and the port component last.
#include "app/identity.h"
#include "platform/process.h"
#include "platform/stop_signals.h"
#include "ui/hash_calculate_form.h"
#include "ui/key_transfer_form.h"
#include "ui/main_form.h"
#include "window/production_options.h"
#include "window/texts.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace {

// A termination signal (SIGINT, SIGTERM, SIGHUP) closes the main window like
// the user would (the model decides when: after a key transfer at work), so
// the port is closed before the process ends. The signal only counts; the
// window looks at the count on the GUI thread every 100 ms, the pace of its
// receive timer, which is always running anyway.
void CloseOnTerminationSignals(vorsal::TFormMain& window) {
  vorsal::platform::CatchWindowCloseSignals();
  const int before = vorsal::platform::StopSignalCounter().load();
  auto* watch = new QTimer(&window);
  QObject::connect(watch, &QTimer::timeout, &window, [&window, watch, before] {
    if (vorsal::platform::StopSignalCounter().load() == before) return;
    watch->stop();
    window.Model.StopRequested();
  });
  watch->start(100);
}

}  // namespace

int main(int argc, char** argv) {
  // The program takes only the production window's options; Qt's own
  // (-style, -stylesheet, -reverse, ...) are not among them: the
  // application sees the program name alone.
  const vorsal::ProductionOptions options =
      vorsal::ParseProductionOptions(vorsal::platform::ProgramArguments(argc, argv));
  int applicationArgc = argc > 0 ? 1 : 0;
  QApplication application(applicationArgc, argv);
  // The desktop entry the installed program is started from: desktops match
  // the window to it for the taskbar icon and name.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.vorsal.Vorsal"));
  vorsal::TComPort comPort;  // the one serial port component; outlives every window
  vorsal::InitIdentity();
  if (!options.ok()) {
    // A bad command line opens nothing and starts nothing.
    QMessageBox::critical(nullptr, QString::fromUtf8(vorsal::texts::ErrorBoxTitle),
                          QString::fromStdString(vorsal::ProductionOptionsMessage(options)));
    return 2;
  }
  int result = 0;
  {
    vorsal::TFormMain formMain(comPort);
    // Created after the main window's creation handler has run, hidden;
    // destroyed before it.
    vorsal::TFormHashCalculate formHashCalculate(&formMain);
    vorsal::TFormKeyTransfer formKeyTransfer(&formMain);
    CloseOnTerminationSignals(formMain);
    formMain.show();
    if (options.production) formMain.OpenProduction(options);
    result = application.exec();
  }
  return result;
}
