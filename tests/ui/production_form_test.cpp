// The production window on the offscreen platform with stand-in modems:
// an adapter plugged in during an "all USB adapters" run joins it.
#include "tests/production/fake_line.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_files.h"
#include "ui/production_form.h"

#include <gtest/gtest.h>

#include <mutex>

namespace vorsal::testing {
namespace {

TEST(ProductionFormTest, AnAdapterPluggedInDuringTheRunGetsATileAndItsModemIsServed) {
  const test::TempDir dir;
  test::WriteAll(dir / "Keys.ini", "[Keys]\r\nK=" + std::string(64, '5') + "\r\n");
  std::vector<production::BatchPort> present = {{"/dev/A", "0403:6001 serial A"}, {"/dev/ttyS0", ""}};
  std::mutex mutex;
  std::map<std::string, std::deque<FakeModem>> modems{{"A", {FakeModem{}}}, {"B", {FakeModem{}}}};
  TFormProductionHooks hooks;
  hooks.ShowError = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };
  hooks.Ports = [&] { return present; };
  hooks.SettingsFile = QString::fromStdString((dir / "production.ini").string());
  hooks.DeviceFolder = QString::fromStdString(dir.path().string());
  hooks.Journal = dir / "journal.csv";
  hooks.KeyStore = dir / "Keys.ini";
  hooks.Environment.sleep = [](int) { std::this_thread::yield(); };
  hooks.Environment.openLine = [&](const std::string& path) {
    const std::lock_guard<std::mutex> guard(mutex);
    return std::make_unique<FakeLine>(&modems.at(std::filesystem::path(path).filename().string()));
  };
  TFormProduction form(hooks);
  ProductionSettings settings = form.Settings();
  EXPECT_TRUE(settings.allUsbAdapters) << "all USB adapters by default";
  settings.network = NetworkWorking;
  settings.start = 30;
  settings.keyName = "K";
  form.Fill(settings);
  form.StartClick();
  ASSERT_EQ(form.Model().Tiles().size(), 1u) << "a port without an adapter is left out";

  present.push_back({"/dev/B", "0403:6001 serial B"});
  test::WriteAll(dir / "ttyUSB1", {});  // the device folder changes
  ASSERT_TRUE(test::WaitUntil([&] { return form.Model().JournalLines().size() == 2; }, true, 60000));
  ASSERT_EQ(form.Model().Tiles().size(), 2u);
  EXPECT_EQ(form.Model().Tiles()[1].port, "/dev/B");
  form.StopClick();
  ASSERT_TRUE(test::WaitUntil([&] { return form.Model().State() == RunState::Finished; }, true, 60000));
}

}  // namespace
}  // namespace vorsal::testing
