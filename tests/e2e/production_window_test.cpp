// The production window against four simulated modems on four ports: five
// factory-default modems get the key and an address each; one fails its key
// transfer, is swapped back and reworked. No address is given twice and the
// journal holds one line per modem touched.
#include "support/sim_process.h"
#include "tests/production/fake_line.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_files.h"
#include "ui/main_form.h"
#include "ui/production_form.h"
#include "window/production_options.h"

#include <QListWidget>

#include <gtest/gtest.h>

#include <array>
#include <set>

namespace vorsal::testing {
namespace {

class ProductionWindowTest : public ::testing::Test {
 protected:
  ProductionWindowTest() {
    test::WriteAll(dir / "Keys.ini", "[Keys]\r\nK=" + std::string(64, 'A') + "\r\n");
    for (int i = 0; i < 4; ++i) {
      links[i] = (dir / ("modem" + std::to_string(i))).string();
      ports.push_back({links[i], "sim:" + std::to_string(i)});
    }
  }

  TFormProductionHooks Hooks() {
    TFormProductionHooks hooks;
    hooks.Ask = [this](const QString& question) { return asked.push_back(question), false; };
    hooks.ShowError = [this](const QString& text) { errors.push_back(text); };
    hooks.Ports = [this] { return ports; };
    hooks.SettingsFile = QString::fromStdString((dir / "production.ini").string());
    hooks.DeviceFolder = QString::fromStdString(dir.path().string());
    hooks.Journal = dir / "journal.csv";
    hooks.KeyStore = dir / "Keys.ini";
    hooks.ReportFile = [this] { return QString::fromStdString(report.string()); };
    return hooks;
  }
  // A modem is connected to port `i` (factory default unless `args` say otherwise).
  void Connect(int i, std::vector<std::string> args = {}) {
    sims[i].Stop();
    args.insert(args.end(), {"--link", links[i]});
    ASSERT_TRUE(sims[i].Start(VORSAL_SIM_EXE, args)) << sims[i].Error();
  }
  bool AwaitJournalLines(TFormProduction& form, std::size_t count) {
    return test::WaitUntil([&] { return form.Model().JournalLines().size() >= count; }, true, 120000);
  }

  test::TempDir dir;
  const std::filesystem::path report = dir / "report.html";
  std::array<std::string, 4> links;
  std::array<SimProcess, 4> sims;
  std::vector<production::BatchPort> ports;
  std::vector<QString> asked, errors;
};

TEST_F(ProductionWindowTest, FiveModemsOnFourPortsOneReworkedAfterItsKeyFailed) {
  for (int i = 0; i < 4; ++i) Connect(i, i == 1 ? std::vector<std::string>{"--no-ack-part", "3"} : std::vector<std::string>{});
  TFormProduction form(Hooks());
  form.show();
  ProductionSettings settings;
  settings.allUsbAdapters = false;
  settings.ports.assign(links.begin(), links.end());
  settings.network = NetworkWorking;
  settings.start = 20;
  settings.keyName = "K";
  form.Fill(settings);
  form.StartClick();
  ASSERT_TRUE(errors.empty()) << errors.front().toStdString();

  // Three modems done and the one whose key failed, in whatever order a
  // loaded machine finishes them.
  ASSERT_TRUE(test::WaitUntil(
      [&] { return form.Model().Counters().done >= 3 && form.Model().Counters().failed >= 1; }, true, 120000))
      << test::ReadAll(dir / "journal.csv");
  EXPECT_EQ(form.Model().Counters().failed, 1);
  // The failed modem is swapped back and reworked; a fifth takes the first port.
  Connect(1);
  Connect(0);
  ASSERT_TRUE(AwaitJournalLines(form, 6)) << test::ReadAll(dir / "journal.csv");

  form.close();
  EXPECT_EQ(asked.size(), 1u) << "closing during a run asks first";
  EXPECT_TRUE(form.isVisible());
  form.StopClick();
  ASSERT_TRUE(test::WaitUntil([&] { return form.Model().State() == RunState::Finished; }, true, 60000));

  const auto lines = JournalFields(dir / "journal.csv");
  ASSERT_EQ(lines.size(), 6u) << test::ReadAll(dir / "journal.csv");
  std::multiset<std::string> addresses;
  int failed = 0;
  for (const auto& line : lines) {
    if (line.at("result") == "ok") {
      addresses.insert(line.at("new_address"));
      EXPECT_EQ(line.at("new_network"), "working");
    } else {
      ++failed;
      EXPECT_EQ(line.at("port"), links[1]);
      EXPECT_EQ(line.at("new_address"), "1") << "a modem whose key failed keeps its address";
    }
  }
  EXPECT_EQ(failed, 1);
  EXPECT_EQ(addresses, (std::multiset<std::string>{"20", "21", "22", "23", "24"}));
  const ProductionCounters counters = form.Model().Counters();
  EXPECT_EQ(counters.done, 5);
  EXPECT_EQ(counters.failed, 1);
  EXPECT_EQ(counters.next, "25");
  EXPECT_EQ(form.ListJournal->count(), 6);
  // The key name is never remembered; the rest of the settings are.
  const std::string stored = test::ReadAll(dir / "production.ini");
  EXPECT_EQ(stored.find("K\n"), std::string::npos);
  EXPECT_NE(stored.find("start=20"), std::string::npos);

  // "Отчёт…": this station's journal as a report, into the file picked.
  form.ReportClick();
  EXPECT_TRUE(errors.empty());
  EXPECT_NE(test::ReadAll(report).find("<svg"), std::string::npos);

  form.close();
  EXPECT_FALSE(form.isVisible());
}

// vorsal --production --run: the window opens filled in from the command
// line over the remembered settings, and starts.
TEST_F(ProductionWindowTest, TheCommandLineFillsTheWindowAndRunStartsIt) {
  Connect(2);
  test::WriteAll(dir / "key-name", "K\n");
  TFormMainHooks hooks;
  hooks.ShowError = [this](const QString& text, const QString&) { errors.push_back(text); };
  hooks.Production = Hooks();
  TComPort port;
  TFormMain form(port, hooks);
  const ProductionOptions options =
      ParseProductionOptions({"--production", "--run", "-p", links[2], "--network", "working", "--start", "40",
                              "--count", "1", "--key-file", (dir / "key-name").string(), "--journal",
                              (dir / "station.csv").string()});
  ASSERT_TRUE(options.ok()) << options.error;
  form.OpenProduction(options);
  TFormProduction& production = *form.FormProduction();
  EXPECT_TRUE(production.isVisible());
  ASSERT_TRUE(test::WaitUntil([&] { return production.Model().State() == RunState::Finished; }, true, 60000));
  EXPECT_TRUE(errors.empty());
  const auto lines = JournalFields(dir / "station.csv");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].at("port"), links[2]);
  EXPECT_EQ(lines[0].at("new_address"), "40");
  EXPECT_EQ(lines[0].at("new_network"), "working");
  EXPECT_EQ(lines[0].at("result"), "ok");
  EXPECT_NE(lines[0].at("footprint"), "") << "the key of --key-file went to the modem";
}

}  // namespace
}  // namespace vorsal::testing
