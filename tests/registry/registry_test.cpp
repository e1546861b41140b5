#include "registry/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "registry/spool.h"
#include "support/postgres_server.h"
#include "support/temp_files.h"

namespace vorsal::registry {
namespace {

Line MakeLine(const std::string& runId, int seq, const std::string& address, const std::string& result) {
  Line l;
  l.lineId = runId + ":" + std::to_string(seq);
  l.runId = runId;
  l.time = "2026-12-07T10:00:0" + std::to_string(seq) + "+03:00";
  l.host = "station-1";
  l.operatorName = "ivanov";
  l.port = "ttyUSB0";
  l.operation = "batch";
  l.newAddress = address;
  l.newNetwork = "3";
  l.footprint = "A1B2C3";
  l.result = result;
  return l;
}

TEST(RegistrySpool, LinesComeBackFieldForFieldAndACutLineIsLeftOut) {
  Line odd = MakeLine("run\t1", 1, "7", "failed");
  odd.message = "no reply\r\nretry \\ later, \"port\"";
  odd.operatorName = "Иванов";
  const std::string text = EncodeLine(odd) + EncodeLine(MakeLine("r", 2, "8", "ok"));
  int unreadable = -1;
  const auto lines = DecodeLines(text + "r:3\tr\tcut", unreadable);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(unreadable, 1);
  EXPECT_EQ(lines[0].message, odd.message);
  EXPECT_EQ(lines[0].operatorName, odd.operatorName);
  EXPECT_EQ(lines[0].lineId, "run\t1:1");
  EXPECT_EQ(lines[1].newAddress, "8");
}

class RegistryServer : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<test::PostgresServer>();
    if (!server_->Start(problem_)) server_.reset();
  }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    if (!server_ && test::PostgresServer::BinDir().empty()) GTEST_SKIP() << problem_;
    ASSERT_TRUE(server_) << problem_;
    database_ = "t" + std::to_string(++databases_);
    ASSERT_TRUE(server_->CreateDatabase(database_));
  }
  std::string Target() const { return server_->ConnectionString(database_); }

  std::unique_ptr<Registry> Ready() {
    auto registry = std::make_unique<Registry>();
    std::string error;
    EXPECT_EQ(registry->Connect(Target(), error), Status::Ok) << error;
    return registry;
  }

  static inline std::unique_ptr<test::PostgresServer> server_;
  static inline std::string problem_;
  static inline int databases_ = 0;
  std::string database_;
};

TEST_F(RegistryServer, SchemaIsCreatedOnceAndAnUnknownOneIsRefused) {
  Registry registry;
  std::string error;
  EXPECT_EQ(registry.Connect(Target(), error), Status::Failed);
  EXPECT_NE(error.find("vorsal-cli registry init"), std::string::npos) << error;
  ASSERT_EQ(registry.Connect(Target(), error, true), Status::Ok) << error;
  ASSERT_EQ(registry.Init(error), Status::Ok) << error;
  ASSERT_EQ(registry.Init(error), Status::Ok) << error;
  ASSERT_TRUE(server_->Sql(database_, "SELECT 1 / (count(*) = 1)::int FROM vorsal_schema"));
  ASSERT_TRUE(server_->Sql(database_, "UPDATE vorsal_schema SET version = 2"));
  EXPECT_EQ(registry.Connect(Target(), error), Status::Failed);
  EXPECT_NE(error.find("newer"), std::string::npos) << error;
}

TEST_F(RegistryServer, StationsRacingThroughOneNetworkNeverShareAnAddress) {
  std::string error;
  { Registry r; r.Connect(Target(), error, true); ASSERT_EQ(r.Init(error), Status::Ok) << error; }
  constexpr int Stations = 4, PerStation = 15;
  std::vector<std::vector<int>> taken(Stations);
  std::vector<std::thread> threads;
  for (int s = 0; s < Stations; ++s) {
    threads.emplace_back([&, s] {
      auto registry = Ready();
      std::string e;
      for (int i = 0; i < PerStation; ++i) {
        int address = -1;
        if (registry->TakeAddress(3, 1, 4095, {"run" + std::to_string(s), "host", "op", "p"}, address, e) ==
            Status::Ok) {
          taken[s].push_back(address);
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  std::set<int> all;
  for (const auto& station : taken) all.insert(station.begin(), station.end());
  ASSERT_EQ(all.size(), std::size_t{Stations * PerStation});
  EXPECT_EQ(*all.begin(), 1);
  EXPECT_EQ(*all.rbegin(), Stations * PerStation);

  // The range is used up; only an address its own run gives back is free again.
  auto registry = Ready();
  int address = -1;
  EXPECT_EQ(registry->TakeAddress(3, 1, Stations * PerStation, {"x", "h", "o", "p"}, address, error),
            Status::Exhausted);
  const int given = taken[1][3];
  ASSERT_EQ(registry->ReleaseAddress(3, given, "run0", error), Status::Ok);
  EXPECT_EQ(registry->TakeAddress(3, 1, 4095, {"x", "h", "o", "p"}, address, error), Status::Ok);
  EXPECT_EQ(address, Stations * PerStation + 1);
  ASSERT_EQ(registry->ReleaseAddress(3, given, "run1", error), Status::Ok);
  EXPECT_EQ(registry->TakeAddress(3, 1, 4095, {"x", "h", "o", "p"}, address, error), Status::Ok);
  EXPECT_EQ(address, given);
}

TEST_F(RegistryServer, ServerLostMidRunLosesNoLineAndStoresNoneTwice) {
  std::string error;
  { Registry r; r.Connect(Target(), error, true); ASSERT_EQ(r.Init(error), Status::Ok) << error; }
  test::TempDir dir;
  Spool spool(dir / "registry-pending");
  auto registry = Ready();
  int address = -1;
  ASSERT_EQ(registry->TakeAddress(3, 1, 4095, {"r", "h", "o", "p"}, address, error), Status::Ok);
  ASSERT_EQ(RecordOrKeep(*registry, spool, MakeLine("r", 1, "1", "ok"), error), Status::Ok) << error;

  ASSERT_TRUE(server_->Stop());
  EXPECT_EQ(registry->TakeAddress(3, 1, 4095, {"r", "h", "o", "p"}, address, error), Status::Unreachable);
  EXPECT_EQ(address, 1);
  EXPECT_EQ(RecordOrKeep(*registry, spool, MakeLine("r", 2, "", "failed"), error), Status::Unreachable);
  EXPECT_EQ(RecordOrKeep(*registry, spool, MakeLine("r", 3, "", "interrupted"), error), Status::Unreachable);
  EXPECT_EQ(registry->Reconnect(error), Status::Unreachable);
  ASSERT_TRUE(server_->Resume());

  ASSERT_EQ(registry->Reconnect(error), Status::Ok) << error;
  ASSERT_EQ(registry->TakeAddress(3, 1, 4095, {"r", "h", "o", "p"}, address, error), Status::Ok);
  EXPECT_EQ(address, 2);
  ASSERT_EQ(RecordOrKeep(*registry, spool, MakeLine("r", 4, "2", "ok"), error), Status::Ok) << error;
  // A crash between sending and forgetting sends the kept lines again.
  ASSERT_TRUE(spool.Keep(MakeLine("r", 2, "", "failed"), error));
  int sent = 0, unreadable = 0;
  ASSERT_EQ(spool.Send(*registry, sent, unreadable, error), Status::Ok);
  EXPECT_EQ(sent, 1);

  std::vector<RunSummary> runs;
  ASSERT_EQ(registry->Summary(runs, error), Status::Ok) << error;
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].lines, 4);
  EXPECT_EQ(runs[0].done, 2);
  EXPECT_EQ(runs[0].failed, 2);
  EXPECT_EQ(runs[0].lowestAddress, 1);
  EXPECT_EQ(runs[0].highestAddress, 2);
  EXPECT_EQ(runs[0].seconds, 3);
}

}  // namespace
}  // namespace vorsal::registry
