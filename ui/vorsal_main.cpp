// Program entry: the serial port component, the program's identity, the main
// window, the two key dialogs and the message loop; at the end the windows go
// first (the main window closing the port) and the port component last.
#include "app/identity.h"
#include "ui/hash_calculate_form.h"
#include "ui/key_transfer_form.h"
#include "ui/main_form.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <unistd.h>

namespace {

// A termination signal closes the main window like the user would, so the
// port is closed before the process ends.
int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

void CloseOnTerminationSignals(QWidget& window) {
  if (::pipe(signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, notifier] {
    notifier->setEnabled(false);
    // A key dialog at work stops at its next check and stores and sends
    // nothing more once the window (and with it the port) is closed.
    for (vorsal::TKeyDialog* dialog : {static_cast<vorsal::TKeyDialog*>(vorsal::FormHashCalculate),
                                       static_cast<vorsal::TKeyDialog*>(vorsal::FormKeyTransfer)}) {
      if (dialog != nullptr) dialog->StopForExit();
    }
    window.close();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  // The program takes no command-line arguments, Qt's own (-style,
  // -stylesheet, -reverse, ...) included: the application sees the program
  // name alone.
  int applicationArgc = argc > 0 ? 1 : 0;
  QApplication application(applicationArgc, argv);
  // The desktop entry the installed program is started from: desktops match
  // the window to it for the taskbar icon and name.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.vorsal.Vorsal"));
  vorsal::TComPort comPort;  // the one serial port component; outlives every window
  vorsal::InitIdentity();
  int result = 0;
  {
    vorsal::TFormMain formMain(comPort);
    // Created after the main window's creation handler has run, hidden;
    // destroyed before it.
    vorsal::TFormHashCalculate formHashCalculate(&formMain);
    vorsal::TFormKeyTransfer formKeyTransfer(&formMain);
    CloseOnTerminationSignals(formMain);
    formMain.show();
    result = application.exec();
  }
  return result;
}
