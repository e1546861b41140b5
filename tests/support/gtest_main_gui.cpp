// Test entry for suites that construct real windows. Without a display they
// run on the offscreen platform. WaitUntil pumps Qt's event loop, where the
// window's port delivers its events.
#include "support/event_pump.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  vorsal::test::SetEventPump([] { QCoreApplication::processEvents(); });
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
