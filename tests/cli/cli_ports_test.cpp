// The port side of vorsal-cli without a modem: adapter identity from a fake
// sysfs tree, the choice of port without -p, and the output encodings.
#include "cli/commands.h"
#include "production/journal.h"
#include "cli/json_text.h"
#include "serial/usb_identity.h"
#include "tests/support/temp_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using ::testing::HasSubstr;

namespace vorsal::cli {
namespace {

using production::CsvField;
using production::CsvLine;

namespace fs = std::filesystem;

class FakeAdapters : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("VORSAL_EXTRA_PORTS"); }
  // A USB serial adapter as the kernel shows it: the tty's device link leads
  // to the usb-serial port below the interface below the USB device.
  void Adapter(const std::string& tty, const std::string& serial) {
    const fs::path usb = sysfs / "devices" / "usb1" / ("1-" + serial);
    const fs::path port = usb / "1-1:1.0" / tty;
    fs::create_directories(port);
    for (const auto& [name, value] : {std::pair<std::string, std::string>{"idVendor", "0403"},
                                      {"idProduct", "6001"}, {"manufacturer", "Maker"},
                                      {"product", "Serial Cable"}, {"serial", serial}}) {
      std::ofstream(usb / name) << value << "\n";
    }
    fs::create_directories(sysfs / "class" / "tty" / tty);
    fs::create_directory_symlink(port, sysfs / "class" / "tty" / tty / "device");
    fs::create_directories(byId);
    fs::create_symlink("/dev/" + tty, byId / ("usb-Maker_Serial_Cable_" + serial + "-if00-port0"));
  }
  int Run(std::vector<std::string> args) {
    const ParsedCommandLine parsed = ParseCommandLine(args);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    CliEnvironment env;
    env.out = &out;
    env.err = &err;
    env.sysfsRoot = sysfs.string();
    env.byIdDir = byId.string();
    return RunCli(parsed.options, env);
  }

  test::TempDir dir;
  const fs::path sysfs = dir / "sys";
  const fs::path byId = dir / "by-id";  // stands for /dev/serial/by-id
  std::ostringstream out, err;
};

TEST_F(FakeAdapters, PortsShowTheAdapterAndTheOnlyAdapterIsPicked) {
  fs::create_directories(sysfs / "class" / "tty" / "ttyS0");
  fs::create_directory_symlink(dir.path(), sysfs / "class" / "tty" / "ttyS0" / "device");  // a plain UART
  Adapter("ttyUSB0", "A50285BI");

  const UsbIdentity identity = ReadUsbIdentity("/dev/ttyUSB0", sysfs.string(), byId.string());
  EXPECT_EQ(identity.vendorId, "0403");
  EXPECT_EQ(identity.productId, "6001");
  EXPECT_EQ(identity.manufacturer, "Maker");
  EXPECT_EQ(identity.product, "Serial Cable");
  EXPECT_EQ(identity.serial, "A50285BI");
  EXPECT_EQ(identity.byIdLink, (byId / "usb-Maker_Serial_Cable_A50285BI-if00-port0").string());
  EXPECT_FALSE(ReadUsbIdentity("/dev/ttyS0", sysfs.string(), byId.string()).IsUsb());

  EXPECT_EQ(Run({"ports", "--json"}), ExitOk);
  EXPECT_EQ(out.str(),
            "{\"path\":\"/dev/ttyS0\",\"by_id\":\"\",\"usb\":false,\"vendor_id\":\"\",\"product_id\":\"\","
            "\"manufacturer\":\"\",\"product\":\"\",\"serial\":\"\"}\n"
            "{\"path\":\"/dev/ttyUSB0\",\"by_id\":\"" + identity.byIdLink + "\",\"usb\":true,"
            "\"vendor_id\":\"0403\",\"product_id\":\"6001\",\"manufacturer\":\"Maker\","
            "\"product\":\"Serial Cable\",\"serial\":\"A50285BI\"}\n");

  // Without -p the one adapter is used and named (its device is not here,
  // so the open fails as an open).
  EXPECT_EQ(Run({"read"}), ExitPortFailed);
  EXPECT_THAT(err.str(), HasSubstr("using /dev/ttyUSB0  0403:6001 Maker Serial Cable serial A50285BI"));
  EXPECT_THAT(err.str(), HasSubstr("cannot open /dev/ttyUSB0"));

  Adapter("ttyUSB1", "B7");
  err.str("");
  EXPECT_EQ(Run({"read"}), ExitUsage);
  EXPECT_THAT(err.str(), HasSubstr("2 USB serial adapters found; use -p PORT"));
}

TEST(CliEncodings, CsvAndJsonKeepEveryCharacter) {
  EXPECT_EQ(CsvField("plain text"), "plain text");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("two\nlines\r"), "\"two\nlines\r\"");
  EXPECT_EQ(CsvLine({"a", "", "b,c"}), "a,,\"b,c\"\r\n");
  EXPECT_EQ(JsonString("q\"b\\n\n\t\x01Ключ"), "\"q\\\"b\\\\n\\n\\t\\u0001Ключ\"");
}

}  // namespace
}  // namespace vorsal::cli
