#include "window/production_run.h"

#include "production/journal.h"
#include "tests/production/fake_line.h"
#include "tests/support/temp_files.h"
#include "window/texts.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <set>

namespace vorsal::testing {
namespace {

namespace fs = std::filesystem;
using production::BatchPort;

class ProductionRunTest : public ::testing::Test {
 protected:
  ProductionRunTest() {
    test::WriteAll(keyStore, "[Keys]\r\nK=" + std::string(64, '5') + "\r\n");
    setup.journal = dir / "journal.csv";
    setup.keyStore = keyStore;
    setup.settings.keyName = "K";
    setup.settings.start = 20;
    setup.settings.network = NetworkService;
    setup.ports = {{"/dev/A", "0403:6001 serial A"}};
  }

  ProductionRunEnvironment Environment() {
    ProductionRunEnvironment environment;
    environment.sleep = [](int) { std::this_thread::yield(); };
    environment.openLine = [this](const std::string& path) {
      const std::string name = fs::path(path).filename().string();
      {
        const std::lock_guard<std::mutex> guard(mutex);
        ++opened;
      }
      return std::make_unique<FakeLine>(&modems.at(name), [this, name] {
        const std::lock_guard<std::mutex> guard(mutex);
        if (idle.insert(name).second) changed.notify_all();
      });
    };
    return environment;
  }
  // Waits until every modem of the port has been served and taken away.
  void AwaitIdle(const std::string& name) {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::minutes(1), [&] { return idle.count(name) != 0; })) << name;
  }
  std::vector<std::map<std::string, std::string>> Lines() const { return JournalFields(setup.journal); }

  test::TempDir dir;
  const fs::path keyStore = dir / "Keys.ini";
  ProductionRunSetup setup;
  std::map<std::string, std::deque<FakeModem>> modems{{"A", {}}, {"B", {}}};
  std::mutex mutex;
  std::condition_variable changed;
  std::set<std::string> idle;
  int opened = 0;
  ProductionModel model;
};

TEST_F(ProductionRunTest, AnAdapterPluggedInJoinsTheRunAndAStopEndsItAfterTheModemsInHand) {
  modems["A"] = {FakeModem{}, FakeModem{}};
  modems["B"] = {FakeModem{}};
  ProductionRun run(model, Environment());
  std::string error;
  ASSERT_TRUE(run.Start(setup, {}, error)) << error;
  AwaitIdle("A");
  run.PortsChanged({setup.ports[0], {"/dev/B", "0403:6001 serial B"}});
  AwaitIdle("B");
  run.Stop();
  run.Wait();
  EXPECT_EQ(model.State(), RunState::Finished);
  EXPECT_EQ(model.Tiles().size(), 2u);
  std::set<std::string> addresses, ports;
  for (const auto& line : Lines()) {
    EXPECT_EQ(line.at("result"), "ok");
    addresses.insert(line.at("new_address"));
    ports.insert(line.at("port"));
  }
  EXPECT_EQ(addresses, (std::set<std::string>{"20", "21", "22"})) << test::ReadAll(setup.journal);
  EXPECT_EQ(ports, (std::set<std::string>{"/dev/A", "/dev/B"}));
  EXPECT_EQ(model.Counters().done, 3);
  EXPECT_EQ(model.JournalLines().size(), 3u);
}

TEST_F(ProductionRunTest, ASecondStopAbandonsTheModemInHandWhichIsJournaledStill) {
  ProductionRun run(model, Environment());
  FakeModem modem;
  modem.onKeyPart = [&run](int acknowledged) {
    if (acknowledged == 4) {
      run.Stop();
      run.Stop();
    }
  };
  modems["A"] = {modem};
  std::string error;
  ASSERT_TRUE(run.Start(setup, {}, error)) << error;
  run.Wait();
  EXPECT_EQ(model.State(), RunState::Finished);
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].at("result"), "interrupted");
  EXPECT_EQ(model.Counters().failed, 1);
}

TEST_F(ProductionRunTest, AFailedKeyTransferIsWordedInRussianOnItsTileWhileTheJournalStaysEnglish) {
  ProductionRun run(model, Environment());
  FakeModem modem;
  modem.keyPartLost = 3;
  // The first stop lets the modem in hand end as it would, and its tile
  // then keeps saying how.
  modem.onKeyPart = [&run](int acknowledged) {
    if (acknowledged == 3) run.Stop();
  };
  modems["A"] = {modem};
  std::string error;
  ASSERT_TRUE(run.Start(setup, {}, error)) << error;
  run.Wait();
  EXPECT_EQ(model.Tiles().at(0).Text(), "Ошибка: перенос ключа: нет ответа после 3 из 8 частей");
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].at("message").rfind("key transfer: no reply", 0), 0u) << lines[0].at("message");
  ASSERT_EQ(model.JournalLines().size(), 1u);
  EXPECT_NE(model.JournalLines()[0].find(",key transfer: no reply"), std::string::npos);
}

TEST_F(ProductionRunTest, NothingStartsWhenTheJournalOrTheKeyCannotBeHad) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    const char* error;
  };
  int derived = 0;
  KeyObtainHooks hooks;
  hooks.progress = [&derived](int) { ++derived; };
  hooks.cancelRequested = [] { return true; };
  const ProductionRunSetup sound = setup;
  const std::vector<Case> cases = {
      // A name that is not stored: had the key come first, it would be derived.
      {"a folder as the journal", [&] { setup.journal = dir.path(), setup.settings.keyName = "new"; },
       texts::ProductionJournalFailed},
      {"a damaged key", [&] { test::WriteAll(keyStore, "[Keys]\r\nK=not a key\r\n"); }, texts::StoredKeyDamaged},
      {"a derivation cancelled", [&] { setup.settings.keyName = "new"; }, texts::ProductionKeyCancelled},
      {"no port", [&] { setup.ports.clear(); }, texts::ProductionNoPorts},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    setup = sound;
    test::WriteAll(keyStore, "[Keys]\r\nK=" + std::string(64, '5') + "\r\n");
    c.arrange();
    ProductionRun run(model, Environment());
    std::string error;
    EXPECT_FALSE(run.Start(setup, hooks, error));
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_FALSE(run.Running());
    EXPECT_EQ(model.State(), RunState::Idle);
    EXPECT_EQ(opened, 0);
  }
  EXPECT_EQ(derived, 1) << "only the cancelled derivation began";
}

}  // namespace
}  // namespace vorsal::testing
