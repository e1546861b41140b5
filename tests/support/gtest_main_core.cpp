// Test entry for suites that need no window. Serial ports in these suites
// deliver through the test event pump (support/event_pump.h), so no event
// loop of a toolkit is needed.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
