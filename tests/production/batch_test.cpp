// The production batch on stand-in modems: its events as values, and the
// batch through vorsal-cli in-process (its thinnest client): the order of
// key and address, the addresses it hands out on one port and on several,
// stop signals, and the journal's promises.
#include "tests/production/batch_fixture.h"
#include "cli/commands.h"
#include "production/batch.h"
#include "production/journal.h"
#include "sim/modem_model.h"
#include "tests/production/journal_lines.h"
#include "tests/support/permission_cases.h"
#include "tests/support/temp_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <array>
#include <deque>
#include <map>
#include <numeric>
#include <optional>
#include <set>
#include <mutex>
#include <sstream>

using ::testing::HasSubstr;
using ::testing::Not;

namespace vorsal::testing {
namespace {

TEST_F(CliBatch, FactoryDefaultModemsWithAKeyGetConsecutiveAddressesAndTheJournalKeepsNoSecret) {
  ports["A"] = {FakeModem{}, FakeModem{}, FakeModem{}};
  // --start at the factory address: every new modem arrives there.
  const CliRun run = Cli({"batch", "--start", "1", "--network", "working", "--key", "K", "--count", "3"});
  EXPECT_EQ(run.status, cli::ExitOk) << run.err;
  EXPECT_THAT(run.out, HasSubstr("done 3, failed 0, next address 4\n"));
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 3u) << test::ReadAll(journal);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(lines[i].at("new_address"), std::to_string(i + 1));
    EXPECT_EQ(lines[i].at("result"), "ok");
    EXPECT_EQ(lines[i].at("footprint"), lines[0].at("footprint"));
    EXPECT_EQ(lines[i].at("run_id"), lines[0].at("run_id"));
  }
  struct stat info {};
  ASSERT_EQ(::stat(journal.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_THAT(test::ReadAll(journal), Not(HasSubstr(",K,")));
}

TEST_F(CliBatch, AModemWhoseKeyFailsKeepsItsAddressAndTheNextGetsIt) {
  FakeModem failing;
  failing.address = 7;
  failing.keyPartLost = 3;
  ports["A"] = {FakeModem{}, failing, FakeModem{}};
  const CliRun run = Cli({"batch", "--start", "20", "--network", "service", "--key", "K", "--count", "2"});
  EXPECT_EQ(run.status, cli::ExitNoReply) << run.err;
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 3u) << test::ReadAll(journal);
  EXPECT_EQ(lines[1].at("result"), "failed");
  EXPECT_EQ(lines[1].at("new_address"), "7") << "the modem kept its own address";
  EXPECT_THAT(lines[1].at("message"), HasSubstr("after 3 of 8 parts"));
  EXPECT_NE(lines[1].at("footprint"), lines[0].at("footprint")) << "what the half-keyed modem reports";
  EXPECT_EQ(lines[2].at("new_address"), "21");
}

TEST_F(CliBatch, AModemThisRunConfiguredIsLeftAloneAndAnyOtherIsWritten) {
  // One run: a new modem, the same one swapped in again (address 30 and
  // the batch's key, 0x55 bytes), then another that answers at 30 without it.
  FakeModem configured;
  configured.address = 30;
  configured.key.fill(0x55);
  FakeModem stranger;
  stranger.address = 30;
  ports["A"] = {FakeModem{}, configured, stranger};
  CliRun run = Cli({"batch", "--start", "30", "--network", "service", "--key", "K", "--count", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("this modem got address 30 and the key in this run"));
  std::vector<std::map<std::string, std::string>> lines = Lines();
  ASSERT_EQ(lines.size(), 2u) << test::ReadAll(journal);
  EXPECT_EQ(lines[0].at("new_address"), "30");
  EXPECT_EQ(lines[1].at("new_address"), "31") << "a modem without the key is new";

  // Without a key and without a terminal a modem at a written address is
  // skipped with a line; on a terminal the operator chooses.
  fs::remove(journal);
  FakeModem again;
  again.address = 40;
  ports["A"] = {FakeModem{}, again, again};
  int asked = 0;
  ask = [&](const std::string& question) -> std::optional<std::string> {
    EXPECT_THAT(question, HasSubstr("address 40, which this run wrote"));
    return ++asked == 1 ? "s" : "w";
  };
  run = Cli({"batch", "--start", "40", "--network", "service", "--count", "2"});
  EXPECT_EQ(asked, 2);
  lines = Lines();
  ASSERT_EQ(lines.size(), 3u) << test::ReadAll(journal);
  EXPECT_EQ(lines[1].at("result"), "skipped");
  EXPECT_EQ(lines[2].at("new_address"), "41");
}

TEST_F(CliBatch, ASecondStopAbandonsTheKeyTransferYetJournalsItAndPrintsTheSummary) {
  FakeModem modem;
  modem.onKeyPart = [this](int acknowledged) {
    if (acknowledged == 4) stops += 2;
  };
  ports["A"] = {modem};
  CliRun run = Cli({"batch", "--start", "50", "--network", "service", "--key", "K"});
  EXPECT_EQ(run.status, cli::ExitInterrupted) << run.err;
  EXPECT_THAT(run.out, HasSubstr("done 0, failed 1, next address 50\n"));
  std::vector<std::map<std::string, std::string>> lines = Lines();
  ASSERT_EQ(lines.size(), 1u) << test::ReadAll(journal);
  EXPECT_EQ(lines[0].at("result"), "interrupted");
  EXPECT_EQ(lines[0].at("new_address"), "1");
  EXPECT_THAT(lines[0].at("message"), HasSubstr("after 4 of 8 parts"));

  // set-key on its own journals an interrupted transfer the same way.
  stops = 0;
  ports["A"] = {modem};
  run = Cli({"set-key", "K"});
  EXPECT_EQ(run.status, cli::ExitInterrupted) << run.err;
  lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].at("operation"), "set-key");
  EXPECT_EQ(lines[1].at("result"), "interrupted");
}

// A modem that may hold an address (its write and read-back unanswered)
// keeps that address from every later modem.
TEST_F(CliBatch, AnAddressAModemMayHoldIsNeverGivenAgain) {
  FakeModem silent;
  silent.writeUnanswered = true;
  ports["A"] = {silent, FakeModem{}};
  const CliRun run = Cli({"batch", "--start", "60", "--network", "service"});
  EXPECT_EQ(run.status, cli::ExitNoReply) << run.err;
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u) << test::ReadAll(journal);
  EXPECT_EQ(lines[0].at("result"), "failed");
  EXPECT_EQ(lines[0].at("new_address"), "60");
  EXPECT_EQ(lines[1].at("new_address"), "61");
}

// A flaky modem that fails, drops off the line and is back at once is one
// modem: after its second failure the operator is told to take it away,
// the port waits for a long silence, and the summary counts it once.
TEST_F(CliBatch, AModemThatFailsTwiceWithoutLeavingIsToBeTakenAwayAndCountsOnce) {
  FakeModem flaky;
  flaky.keyPartLost = 3;
  FakeModem back = flaky;
  back.silentBefore = 0;
  FakeModem next;
  next.silentBefore = 5;
  ports["A"] = {flaky, back, next};
  const CliRun run = Cli({"batch", "--start", "20", "--network", "service", "--key", "K"});
  EXPECT_THAT(run.err, HasSubstr("failed twice: take it away"));
  EXPECT_THAT(run.out, HasSubstr("done 1, failed 1, next address 21\n"));
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 3u) << test::ReadAll(journal);
  EXPECT_EQ(lines[0].at("result"), "failed");
  EXPECT_EQ(lines[1].at("result"), "failed");
  EXPECT_EQ(lines[2].at("new_address"), "20");
}

// A modem that fails and is tried again on its port counts once, by its
// last outcome, in the batch's own summary and in its journal's, which the
// repeat's mark tells (the modems share the key's footprint and the factory
// address).
TEST_F(CliBatch, AModemReworkedOnItsPortCountsOnceInTheBatchAndInItsJournal) {
  FakeModem flaky;
  flaky.keyPartLost = 3;
  FakeModem reworked;
  reworked.silentBefore = 0;
  ports["A"] = {FakeModem{}, flaky, reworked, FakeModem{}};
  const CliRun run = Cli({"batch", "--start", "20", "--network", "service", "--key", "K"});
  EXPECT_THAT(run.out, HasSubstr("done 3, failed 0, next address 23\n")) << run.err;
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 4u) << test::ReadAll(journal);
  EXPECT_EQ(lines[1].at("result"), "failed");
  EXPECT_THAT(lines[2].at("message"), ::testing::StartsWith("again: "));
  const std::vector<production::RunSummary> runs = production::SummarizeJournal(test::ReadAll(journal));
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].lines, 4);
  EXPECT_EQ(runs[0].done, 3);
  EXPECT_EQ(runs[0].failed, 0);
}

// A journal shared through its group draws no warning; one that every
// user may read does.
TEST_F(CliBatch, OnlyAJournalOthersMayReadIsWarnedAbout) {
  ports["A"] = {FakeModem{}};
  ASSERT_EQ(Cli({"batch", "--start", "90", "--network", "service", "--count", "1"}).status, 0);
  ASSERT_EQ(::chmod(journal.c_str(), 0660), 0);
  ports["A"] = {FakeModem{}};
  EXPECT_THAT(Cli({"batch", "--start", "90", "--network", "service", "--count", "1"}).err,
              Not(HasSubstr("other users may read")));
  ASSERT_EQ(::chmod(journal.c_str(), 0644), 0);
  ports["A"] = {FakeModem{}};
  EXPECT_THAT(Cli({"batch", "--start", "90", "--network", "service", "--count", "1"}).err,
              HasSubstr("other users may read"));
}

TEST_F(CliBatch, PortsServedAtOnceNeverShareAnAddress) {
  FakeModem refusing;  // a wrong echo, yet it takes the address
  refusing.addressReplyWrong = true;
  FakeModem keyless;
  keyless.keyPartLost = 0;
  FakeModem stubborn;
  stubborn.addressRefused = true;
  ports["A"] = {FakeModem{}, refusing, FakeModem{}, keyless, FakeModem{}, stubborn};
  ports["B"] = {FakeModem{}, FakeModem{}, keyless, FakeModem{}, FakeModem{}};
  ports["C"] = {FakeModem{}, keyless, FakeModem{}, FakeModem{}, FakeModem{}};
  const CliRun run = Cli({"batch", "--start", "100", "--network", "working", "--key", "K"});
  EXPECT_THAT(run.out, HasSubstr("done 12, failed 4, next address 112\n")) << run.err;
  std::vector<int> given;
  for (const auto& line : Lines()) {
    if (line.at("result") == "ok") given.push_back(std::stoi(line.at("new_address")));
  }
  std::sort(given.begin(), given.end());
  std::vector<int> expected(12);
  std::iota(expected.begin(), expected.end(), 100);
  EXPECT_EQ(given, expected);
}

// ---- The journal file -----------------------------------------------------------

TEST_F(CliBatch, TheJournalIsARegularFileAndALineIsWrittenWholeOrNotAtAll) {
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  production::Journal fifo;
  std::string error;
  EXPECT_FALSE(fifo.Open(dir / "fifo", &error)) << "nor does it hang";
  EXPECT_THAT(error, HasSubstr("not a regular file"));
  production::JournalReading reading;
  EXPECT_EQ(production::ReadJournal(dir / "fifo", [](production::JournalRecord&) {}, reading, &error),
            production::JournalFile::Failed)
      << "nor does its summary";
  EXPECT_THAT(error, HasSubstr("not a regular file"));
  if (::geteuid() == 0) {  // another user's link, which root must not write through
    test::WriteAll(dir / "victim", "");
    fs::create_symlink(dir / "victim", dir / "planted");
    ASSERT_EQ(::lchown((dir / "planted").c_str(), test::OtherUserId, test::OtherGroupId), 0);
    EXPECT_FALSE(production::Journal().Open(dir / "planted", &error));
    EXPECT_EQ(test::ReadAll(dir / "victim"), "");
  }

  production::Journal file;
  ASSERT_TRUE(file.Open(journal, &error)) << error;
  const std::string before = test::ReadAll(journal);
  // A full disk, as the file size limit makes it: the line does not fit.
  struct sigaction ignore {}, saved {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &saved);
  rlimit limit{}, old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  limit = old;
  limit.rlim_cur = before.size() + 20;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  production::JournalRecord entry;
  entry.message = std::string(100, 'x');
  const bool appended = file.Append(entry, &error);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::sigaction(SIGXFSZ, &saved, nullptr);
  EXPECT_FALSE(appended);
  EXPECT_EQ(test::ReadAll(journal), before) << "no torn line for the next one to be glued to";
  ASSERT_TRUE(file.Append({}, &error)) << error;
  EXPECT_EQ(JournalRecords(test::ReadAll(journal)).size(), 2u) << "the header and the one line";
}

TEST_F(CliBatch, EarlierJournalsAreSummarizedWithNewRuns) {
  test::WriteAll(journal,
                 "time,port,adapter_serial,operation,old_address,old_network,new_address,new_network,firmware,"
                 "key_name,footprint,result,message\r\n"
                 "2026-03-01T12:00:00Z,/dev/ttyUSB0,,batch,1,service,20,working,2.31,,,ok,\r\n"
                 "2026-03-01T12:01:30Z,/dev/ttyUSB0,,batch,1,service,21,working,2.31,,,failed,\"no, reply\"\r\n");
  ports["A"] = {FakeModem{}};
  ASSERT_EQ(Cli({"batch", "--start", "5", "--network", "service", "--count", "1"}).status, 0);
  const std::vector<production::RunSummary> runs = production::SummarizeJournal(test::ReadAll(journal));
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].done, 1);
  EXPECT_EQ(runs[0].failed, 1);
  EXPECT_EQ(runs[0].lowestAddress, 20);
  EXPECT_EQ(runs[0].seconds, 90);
  EXPECT_EQ(runs[1].lowestAddress, 5);
}

TEST_F(CliBatch, AResultThatCannotBeWrittenFailsTheCommandAfterItsJournalLine) {
  ports["A"] = {FakeModem{}};
  EXPECT_EQ(Cli({"write", "--address", "9", "--network", "service"}, true).status, cli::ExitOutputFailed);
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_EQ(Lines()[0].at("result"), "ok");
}

// What a window is told, one event a line.
class RecordingListener : public production::BatchListener {
 public:
  void PortFailed(const std::string& port, const std::string&) override { Add("port failed " + port); }
  void Waiting(const std::string&, std::optional<int> next) override {
    Add("waiting, next " + (next ? std::to_string(*next) : "from the registry"));
  }
  void StartAddressInUse(int start) override { Add("start in use " + std::to_string(start)); }
  void KeyParts(const std::string&, int parts) override { Add("key " + std::to_string(parts) + "/8"); }
  void Ended(const production::ModemEnded& modem) override {
    const std::lock_guard<std::mutex> guard(mutex_);
    ended.push_back(modem);
    events.push_back("ended " + modem.record.result + " at " + modem.record.newAddress);
  }
  void Counters(const production::BatchCounters& c) override {
    Add("done " + std::to_string(c.done) + ", failed " + std::to_string(c.failed) + ", next " +
        std::to_string(c.nextAddress));
  }
  void Disconnect(const std::string&) override { Add("disconnect"); }
  void TakeAway(const std::string&) override { Add("take away"); }
  void AdapterGone(const std::string& port) override { Add("adapter gone " + port); }
  void AlreadyConfigured(const std::string&, int address) override { Add("configured " + std::to_string(address)); }
  void LeftForCount(const std::string&, int) override { Add("left for the count"); }
  void LeftAtStop(const std::string&, int) override { Add("left at the stop"); }
  bool RewriteSeenAddress(const std::string&, int) override { return false; }
  void JournalFailed(const std::string& error) override { Add("journal failed " + error); }
  void RegistryLost(const std::string&, const std::filesystem::path&) override { Add("registry lost"); }

  std::vector<std::string> events;
  std::vector<production::ModemEnded> ended;

 private:
  void Add(const std::string& event) {
    const std::lock_guard<std::mutex> guard(mutex_);
    events.push_back(event);
  }
  std::mutex mutex_;
};

std::vector<std::string> KeyEvents(int upTo) {
  std::vector<std::string> events;
  for (int part = 1; part <= upTo; ++part) events.push_back("key " + std::to_string(part) + "/8");
  return events;
}

// A batch on stand-in lines, with no journal open and no registry: its
// listener alone hears of the lines; `stops` counts the stop requests.
struct StandInBatch {
  StandInBatch(std::vector<production::BatchPort> ports, int start) {
    settings.ports = std::move(ports);
    settings.start = start;
    environment.sleep = [](int) {};
    environment.stopRequests = [this] { return stops.load(); };
  }
  production::BatchResult Run(production::BatchListener& listener) {
    batch.emplace(settings, environment, journal, registry, production::CurrentRun(), listener);
    return batch->Run();
  }
  std::atomic<int> stops{0};
  production::BatchSettings settings;
  production::BatchEnvironment environment;
  production::Journal journal;
  production::RegistryLink registry;
  std::optional<production::Batch> batch;  // from Run on
};

// The first stop lets the modem in hand finish and ends the batch; the
// second abandons the modem in hand, which is still journaled.
TEST(ProductionBatch, ReportsEveryStepAsAValueAndStopsInTwoSteps) {
  for (const int stopsAtPartFour : {1, 2}) {
    SCOPED_TRACE(stopsAtPartFour);
    StandInBatch run({{"/dev/ttyUSB0", "0403:6001 serial A1"}}, 20);
    FakeModem last;
    last.onKeyPart = [&](int acknowledged) {
      if (acknowledged == 4) run.stops += stopsAtPartFour;
    };
    std::deque<FakeModem> modems = {FakeModem{}, last};
    run.settings.keyGiven = true;
    run.settings.key.fill(0x55);
    run.environment.openLine = [&](const std::string&) { return std::make_unique<FakeLine>(&modems); };
    RecordingListener listener;
    const production::BatchResult result = run.Run(listener);

    std::vector<std::string> expected = {"waiting, next 20"};
    for (const std::string& e : KeyEvents(8)) expected.push_back(e);
    expected.insert(expected.end(), {"ended ok at 20", "done 1, failed 0, next 21", "disconnect", "waiting, next 21"});
    for (const std::string& e : KeyEvents(stopsAtPartFour == 1 ? 8 : 4)) expected.push_back(e);
    if (stopsAtPartFour == 1) {
      expected.insert(expected.end(), {"ended ok at 21", "done 2, failed 0, next 22"});
    } else {
      expected.insert(expected.end(), {"ended interrupted at 1", "done 1, failed 1, next 21"});
    }
    EXPECT_EQ(listener.events, expected);
    EXPECT_EQ(result.verdict, stopsAtPartFour == 1 ? production::Verdict::Ok : production::Verdict::Interrupted);
    EXPECT_EQ(result.counters.done, stopsAtPartFour == 1 ? 2 : 1);
    ASSERT_EQ(listener.ended.size(), 2u);
    const production::JournalRecord& line = listener.ended[1].record;
    EXPECT_EQ(line.port, "/dev/ttyUSB0");
    EXPECT_EQ(line.adapter, "0403:6001 serial A1");
    EXPECT_FALSE(line.runId.empty()) << "the line is stamped before the listener hears of it";
    EXPECT_EQ(line.runId, listener.ended[0].record.runId);
    if (stopsAtPartFour == 2) {
      EXPECT_THAT(line.message, HasSubstr("after 4 of 8 parts"));
    }
  }
}

// An adapter plugged in during the run joins it and draws on the same pool.
TEST(ProductionBatch, APortThatJoinsDuringTheRunTakesTheNextAddressOfTheSamePool) {
  StandInBatch run({{"/dev/ttyUSB0", ""}}, 20);
  std::map<std::string, std::deque<FakeModem>> modems;
  modems["/dev/ttyUSB0"] = {FakeModem{}};
  modems["/dev/ttyUSB1"] = {FakeModem{}, FakeModem{}};
  std::atomic<bool> joined{false};
  run.environment.openLine = [&](const std::string& path) {
    return std::make_unique<FakeLine>(&modems.at(path), [&, path] {
      // The first port has run out of modems: the second adapter is
      // plugged in; once it has run out too, the operator stops.
      if (path == "/dev/ttyUSB0" && !joined.exchange(true)) {
        EXPECT_TRUE(run.batch->Join({"/dev/ttyUSB1", "0403:6001 serial B"}));
      } else if (path == "/dev/ttyUSB1") {
        run.stops = 1;
      }
    });
  };
  RecordingListener listener;
  const production::BatchResult result = run.Run(listener);
  EXPECT_EQ(result.counters.done, 3);
  std::set<std::string> addresses;
  for (const production::ModemEnded& modem : listener.ended) addresses.insert(modem.record.newAddress);
  EXPECT_EQ(addresses, (std::set<std::string>{"20", "21", "22"}));
  ASSERT_EQ(listener.ended.size(), 3u);
  EXPECT_EQ(listener.ended[2].record.adapter, "0403:6001 serial B");
  EXPECT_FALSE(run.batch->Join({"/dev/ttyUSB2", ""})) << "nothing joins a batch that has ended";
}

// Two ports meet the last address at once: the modem left without one is
// refused before its key is written, and the run says why.
TEST(ProductionBatch, AModemForWhichNoAddressIsLeftGetsNoKey) {
  struct Listener : RecordingListener {
    void Ended(const production::ModemEnded& modem) override {
      RecordingListener::Ended(modem);
      const std::lock_guard<std::mutex> guard(mutex);
      ++count;
      changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
  } listener;
  StandInBatch run({{"A", ""}, {"B", ""}}, MaxAddress);
  std::atomic<int> idle{0};
  FakeModem modem;
  // The first key transfer waits until the other port's modem has ended.
  modem.onKeyPart = [&](int part) {
    std::unique_lock<std::mutex> lock(listener.mutex);
    if (part == 1) listener.changed.wait_for(lock, std::chrono::seconds(20), [&] { return listener.count > 0; });
  };
  std::map<std::string, std::deque<FakeModem>> modems = {{"A", {modem}}, {"B", {modem}}};
  run.settings.keyGiven = true;
  run.settings.key.fill(0x55);
  run.environment.openLine = [&](const std::string& path) {
    return std::make_unique<FakeLine>(&modems.at(path), [&, idled = false]() mutable {
      if (!idled && (idled = true) && ++idle == 2) run.stops = 1;
    });
  };
  run.Run(listener);
  ASSERT_EQ(listener.ended.size(), 2u);
  const production::JournalRecord& refused = listener.ended[0].record;
  EXPECT_EQ(refused.result, "refused");
  EXPECT_THAT(refused.message, HasSubstr("the network's addresses are used up"));
  EXPECT_EQ(refused.footprint, "") << "the key went into a modem that got no address";
  EXPECT_EQ(std::count(listener.events.begin(), listener.events.end(), "key 1/8"), 1);
  EXPECT_EQ(listener.ended[1].record.result, "ok");
  EXPECT_EQ(listener.ended[1].record.newAddress, std::to_string(MaxAddress));
}

// A port whose adapter is not plugged in at the start is waited for, as
// one that goes away during the run; a link and the device it names are
// one port.
TEST(ProductionBatch, AnAdapterMissingAtTheStartIsWaitedForAndALinkIsItsDevice) {
  StandInBatch run({{"/dev/ttyUSB0", ""}}, 20);
  std::deque<FakeModem> modems = {FakeModem{}};
  run.environment.openLine = [&](const std::string&) {
    auto line = std::make_unique<FakeLine>(&modems, [&] { run.stops = 1; });
    line->absentOpens = 30;
    return line;
  };
  RecordingListener listener;
  const production::BatchResult result = run.Run(listener);
  EXPECT_EQ(result.counters.done, 1);
  EXPECT_EQ(result.verdict, production::Verdict::Ok);
  ASSERT_FALSE(listener.events.empty());
  EXPECT_EQ(listener.events.front(), "adapter gone /dev/ttyUSB0");
  EXPECT_EQ(std::count(listener.events.begin(), listener.events.end(), "adapter gone /dev/ttyUSB0"), 1);

  test::TempDir dir;
  test::WriteAll(dir / "ttyS9", "");
  fs::create_symlink(dir / "ttyS9", dir / "modem");
  EXPECT_EQ(production::DistinctDevices({(dir / "modem").string(), (dir / "ttyS9").string(), "/dev/none"}),
            (std::vector<std::string>{(dir / "modem").string(), "/dev/none"}));
}

}  // namespace
}  // namespace vorsal::testing
