// Test entry for suites that need no window: a QCoreApplication provides the
// event loop that the serial port's hand-over to the main thread relies on.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
