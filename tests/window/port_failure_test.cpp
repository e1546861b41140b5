// What the "cannot open the port" box says where the system's reason is all
// there is to tell; built for Linux and Windows, whose codes differ.
#include "support/temp_files.h"
#include "platform/files.h"
#include "serial/com_port.h"
#include "window/port_failure.h"

#include <gtest/gtest.h>

namespace vorsal::testing {
namespace {

// The box quotes the system's own words for the code, which on Windows are
// not the C library's: code 31 is "a device attached to the system is not
// functioning" there, "too many links" to the C library.
TEST(PortFailureTest, TheSystemsReasonIsItsOwnMessageForTheCode) {
  const test::TempDir dir;
  const std::string path = (dir / "port").string();
  test::WriteAll(path, {});
  constexpr int code = 31;
  const std::string text = DescribePortOpenFailure(path, code, "Unable to open com port");
  EXPECT_NE(text.find(platform::SystemErrorText(code)), std::string::npos) << text;
  EXPECT_NE(text.find("(код 31)"), std::string::npos) << text;

  // The port's exceptions carry -1 when the system gave no reason.
  const EComPort failure(CE_SetStateFailed);
  ASSERT_EQ(failure.SystemCode(), -1);
  EXPECT_EQ(DescribePortOpenFailure("ttyS0", failure.SystemCode(), failure.what()), failure.what());
}

}  // namespace
}  // namespace vorsal::testing
