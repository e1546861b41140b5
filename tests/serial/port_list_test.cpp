#include "serial/com_port.h"
#include "serial/port_list.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vorsal {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

Names Ordered(Names names) {
  OrderComPorts(names);
  return names;
}

TEST(OrderComPorts, MovesNumberedPortsToTheFrontByExchange) {
  EXPECT_EQ(Ordered({"COM10", "COM3", "XYZ", "COM1"}), (Names{"COM1", "COM3", "COM10", "XYZ"}));
  // Exchanges, not a sort: the names left behind are not restored to order.
  EXPECT_EQ(Ordered({"A", "B", "COM2"}), (Names{"COM2", "B", "A"}));
  EXPECT_EQ(Ordered({"X", "com5"}), (Names{"com5", "X"}));
  EXPECT_EQ(Ordered({"COM05", "COM257", "COM256"}), (Names{"COM256", "COM257", "COM05"}));
  EXPECT_EQ(Ordered({"COM2", "COM2", "COM1"}), (Names{"COM1", "COM2", "COM2"}));
  EXPECT_EQ(Ordered({}), Names{});
}

TEST(NaturalLess, ComparesDigitRunsAsNumbers) {
  EXPECT_TRUE(NaturalLess("ttyS2", "ttyS10"));
  EXPECT_FALSE(NaturalLess("ttyS10", "ttyS2"));
  EXPECT_TRUE(NaturalLess("ttyACM0", "ttyS0"));
  EXPECT_TRUE(NaturalLess("ttyS1", "ttyS01"));
  EXPECT_FALSE(NaturalLess("ttyS1", "ttyS1"));
  EXPECT_TRUE(NaturalLess("ttyS", "ttyS0"));
  // Leading zeros do not make a number larger.
  EXPECT_TRUE(NaturalLess("ttyS002", "ttyS10"));
  EXPECT_FALSE(NaturalLess("ttyS10", "ttyS002"));
  EXPECT_TRUE(NaturalLess("ttyUSB09", "ttyUSB10"));
  EXPECT_TRUE(NaturalLess("ttyS0010", "ttyS11"));
}

class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_ / "devices" / "usb");
    unsetenv("VORSAL_EXTRA_PORTS");
  }
  void TearDown() override { unsetenv("VORSAL_EXTRA_PORTS"); }
  // A tty class entry; `device` adds the link to its hardware, `type` the
  // UART type file that serial_core provides.
  void Entry(const std::string& name, bool device, const char* type = nullptr) {
    const fs::path entry = root_ / "class" / "tty" / name;
    fs::create_directories(entry);
    if (device) fs::create_directory_symlink(root_ / "devices" / "usb", entry / "device");
    if (type != nullptr) std::ofstream(entry / "type") << type << "\n";
  }

  test::TempDir temp_;
  const fs::path root_ = temp_.path();
};

TEST_F(FakeSysfs, ListsDevicePortsInNaturalOrderWithoutEmptyUartSlots) {
  Entry("ttyS0", true, "4");
  Entry("ttyS1", true, "0");  // legacy slot without hardware
  Entry("ttyS10", true, "4");
  Entry("ttyS2", true, "4");
  Entry("ttyUSB0", true);
  Entry("ttyACM0", true);
  Entry("tty1", false);  // virtual console
  Entry("console", false);
  EXPECT_EQ(SystemPortNames(root_.string()),
            (Names{"ttyACM0", "ttyS0", "ttyS2", "ttyS10", "ttyUSB0"}));
}

TEST_F(FakeSysfs, PortListAppendsExtraPathsThenOrdersComNames) {
  Entry("ttyUSB0", true);
  setenv("VORSAL_EXTRA_PORTS", "/tmp/vorsal-modem::COM2:", 1);
  TComPort port;
  port.SetSysfsRoot(root_.string());
  port.UpdatePortList();
  EXPECT_EQ(port.PortList(), (Names{"COM2", "/tmp/vorsal-modem", "ttyUSB0"}));

  // Refilled, not appended to.
  unsetenv("VORSAL_EXTRA_PORTS");
  port.UpdatePortList();
  EXPECT_EQ(port.PortList(), Names{"ttyUSB0"});
}

TEST_F(FakeSysfs, MissingOrUnreadableTableGivesAnEmptyList) {
  TComPort port;
  port.SetSysfsRoot((root_ / "nowhere").string());
  port.UpdatePortList();
  EXPECT_TRUE(port.PortList().empty());

  fs::create_directories(root_ / "class");
  std::ofstream(root_ / "class" / "tty") << "not a directory";
  port.SetSysfsRoot(root_.string());
  port.UpdatePortList();
  EXPECT_TRUE(port.PortList().empty());
}

}  // namespace
}  // namespace vorsal
