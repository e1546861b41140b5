// vorsal-cli against the modem simulator over a pty, run as a script runs it:
// results, exit statuses and the journal's lines.
#include "tests/cli/cli_fixture.h"

#include "keys/cp1251.h"

#include <gmock/gmock.h>

#include <sys/resource.h>

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace vorsal::testing {
namespace {

constexpr char ZeroKeyFootprint[] = "0B.2A.E4.45";
constexpr int KeyPartCommands[] = {0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF};

// A key name that needs quoting in CSV and escaping in JSON, stored in the
// Keys.ini beside the program so no derivation is needed.
const std::string StoredName = "Ключ, \"цех\" 1";
const std::string StoredHex = "00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF";

class CliCommands : public CliSimTest {
 protected:
  void StoreKey() {
    test::WriteAll(dir / "Keys.ini", "[Keys]\r\n" + *Utf8ToCp1251(StoredName) + "=" + StoredHex + "\r\n");
  }
};

TEST_F(CliCommands, EveryCommandWorksAndWhatChangesAModemIsJournaled) {
  StartModem({"--address", "5"});

  CliResult read = Run({"read"});
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out,
            "address: 5\nnetwork: service\nfirmware: 2.31\nplatform: Ирвен-2 (MSP430F155)\nkey functions: yes\n");
  read = Run({"read", "--json"});
  EXPECT_EQ(read.out,
            "{\"address\":5,\"network\":\"service\",\"firmware\":\"2.31\",\"platform\":\"Ирвен-2 (MSP430F155)\","
            "\"key_functions\":true}\n");
  EXPECT_TRUE(Journal().empty()) << "a read changes nothing and is not journaled";

  const CliResult write = Run({"write", "--address", "12", "--network", "working"});
  EXPECT_EQ(write.status, 0) << write.err;
  EXPECT_EQ(write.out, "address 12, working network (was 5, service); verified\n");
  EXPECT_THAT(Journal(), StartsWith("time,run_id,operator,host,port,adapter,operation,old_address,old_network,"
                                    "new_address,new_network,firmware,footprint,result,message\r\n"));
  ASSERT_EQ(JournalLines().size(), 1u);
  EXPECT_THAT(JournalLines()[0], HasSubstr("," + link + ",,write,5,service,12,working,2.31,,ok,"));
  EXPECT_THAT(Run({"read"}).out, HasSubstr("address: 12\nnetwork: working\n"));
  EXPECT_EQ(Run({"footprint"}).out, std::string(ZeroKeyFootprint) + "\n");
  LoggedCommands();

  StoreKey();
  const CliResult setKey = Run({"--json", "set-key", StoredName});
  EXPECT_EQ(setKey.status, 0) << setKey.err;
  EXPECT_THAT(setKey.out, StartsWith("{\"key_name\":\"Ключ, \\\"цех\\\" 1\",\"footprint\":\""));
  EXPECT_THAT(LoggedCommands(), ::testing::IsSupersetOf(KeyPartCommands));
  const std::string footprint = Run({"footprint"}).out;
  EXPECT_NE(footprint, std::string(ZeroKeyFootprint) + "\n");
  EXPECT_THAT(setKey.out, HasSubstr(footprint.substr(0, 11)));
  ASSERT_EQ(JournalLines().size(), 2u);
  EXPECT_THAT(JournalLines()[1], HasSubstr(",set-key,12,working,12,working,2.31," + footprint.substr(0, 11) + ",ok,"));
  EXPECT_THAT(Journal(), Not(HasSubstr("цех"))) << "the journal never holds a key name";

  // One real derivation: the new name is stored beside the program, as the
  // window stores it.
  const CliResult derived = Run({"set-key", "Новый"});
  EXPECT_EQ(derived.status, 0) << derived.err;
  EXPECT_THAT(derived.err, HasSubstr("deriving key 100%"));
  EXPECT_THAT(test::ReadAll(dir / "Keys.ini"), HasSubstr(*Utf8ToCp1251("Новый") + "="));
  EXPECT_EQ(JournalLines().size(), 3u);
}

TEST_F(CliSimTest, BadInputIsAUsageErrorAndSendsNothing) {
  StartModem();
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"write", "--address", "4096", "--network", "service"},
           {"write", "--address", "0", "--network", "working"},
           {"write", "--address", "5", "--network", "active"},
           {"set-key", "ключ\xE2\x98\x83"},
           {"frobnicate"},
       }) {
    const CliResult result = Run(args);
    EXPECT_EQ(result.status, 2) << args[0];
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_TRUE(result.out.empty());
  }
  EXPECT_TRUE(LoggedCommands().empty());
  EXPECT_TRUE(Journal().empty());
}

// A key name kept off the command line is read within bounds and never
// shown; a Keys.ini value that is no key is refused before the modem is
// touched, naming its entry.
TEST_F(CliSimTest, KeyNamesFromFilesAreBoundedAndHiddenAndADamagedStoredKeyWritesNothing) {
  StartModem();
  test::WriteAll(dir / "Keys.ini", "[Keys]\r\nPlant1=ABCD\r\nsecret7=" + std::string(64, 'A') + "\r\n");
  const CliResult damaged = Run({"batch", "--start", "20", "--network", "working", "--key", "plant1"});
  EXPECT_EQ(damaged.status, 6);
  EXPECT_THAT(damaged.err, HasSubstr("the entry 'plant1' in " + (dir / "Keys.ini").string() +
                                     " is not a key of 64 hexadecimal digits"));
  test::WriteAll(dir / "name", "Plant1\n");
  const CliResult hidden = Run({"set-key", "--key-file", (dir / "name").string()});
  EXPECT_EQ(hidden.status, 6);
  EXPECT_THAT(hidden.err, HasSubstr("the entry of the key name in"));
  EXPECT_THAT(hidden.err + hidden.out, Not(HasSubstr("Plant1")));
  const std::vector<int> commands = LoggedCommands();
  EXPECT_THAT(commands, Not(::testing::Contains(0xE8))) << "no key part went out";

  test::WriteAll(dir / "nul", std::string("secret7\0x\n", 10));
  for (const std::string& file : {(dir / "nul").string(), std::string("/dev/zero")}) {
    const CliResult refused = Run({"set-key", "--key-file", file});
    EXPECT_EQ(refused.status, 2) << file;
    EXPECT_THAT(refused.err, HasSubstr("cannot read the key name from '" + file + "': ")) << file;
    EXPECT_THAT(refused.err, Not(HasSubstr("secret7")));
  }
  test::WriteAll(dir / "bom", "\xEF\xBB\xBFsecret7\r\n");
  const CliResult bom = Run({"set-key", "--key-file", (dir / "bom").string()});
  EXPECT_EQ(bom.status, 0) << bom.err;
  EXPECT_THAT(bom.err + bom.out, Not(HasSubstr("secret7")));
  EXPECT_THAT(bom.err, HasSubstr("the key found in"));
}

// A journal line that cannot be written (here: the file may not grow) is a
// failure of the run, for a single command and for a batch alike.
TEST_F(CliSimTest, AJournalWriteThatFailsIsExitSixAndLeavesTheJournalWhole) {
  StartModem({"--address", "5"});
  ASSERT_EQ(Run({"write", "--address", "6", "--network", "service"}).status, 0);
  const std::string before = Journal();
  ::signal(SIGXFSZ, SIG_IGN);  // inherited: a write past the limit fails with EFBIG instead
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  const auto limited = [&](std::vector<std::string> args) {
    rlimit small = saved;
    small.rlim_cur = before.size() + 8;
    ::setrlimit(RLIMIT_FSIZE, &small);
    args.insert(args.begin(), {"-p", link});
    std::unique_ptr<CliProcess> process = Start(args);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    return process->Wait();
  };
  EXPECT_EQ(limited({"write", "--address", "7", "--network", "service"}), 6);
  EXPECT_EQ(limited({"batch", "--start", "30", "--network", "service", "--count", "1"}), 6);
  ::signal(SIGXFSZ, SIG_DFL);
  EXPECT_EQ(Journal(), before) << "a line that failed is cut back whole";
  EXPECT_THAT(Run({"read"}).out, Not(HasSubstr("address: 30\n"))) << "a run whose start cannot be journaled writes no modem";
}

// A modem left plugged in on a line that loses one reply in 14 and garbles
// one in 15 is given one address: a lost poll is no unplugging, and a
// garbled footprint read (here the one right after a lost poll) is no new
// modem.
TEST_F(CliSimTest, AModemLeftOnANoisyLineGetsOneAddress) {
  test::WriteAll(dir / "Keys.ini", "[Keys]\r\nK=" + std::string(64, 'A') + "\r\n");
  StartModem({"--drop-every", "14", "--corrupt-every", "15"});
  std::unique_ptr<CliProcess> batch = Start({"-p", link, "batch", "--start", "20", "--network", "working", "--key", "K"});
  // Until the modem has been asked 35 times: two lost replies and two
  // garbled ones after it got its address.
  int requests = 0;
  for (int idle = 0; requests < 35 && idle < 100;) {
    const std::optional<std::string> line = sim.ReadLine(300);
    if (!line) {
      ++idle;
    } else if (line->rfind("rx ", 0) == 0) {
      ++requests;
    }
  }
  EXPECT_GE(requests, 35);
  batch->Signal(SIGINT);
  EXPECT_NE(batch->Wait(), -1);
  const std::vector<std::string> lines = JournalLines();
  ASSERT_EQ(lines.size(), 1u) << Journal();
  EXPECT_THAT(lines[0], HasSubstr(",batch,1,service,20,working,"));
}

TEST_F(CliSimTest, BatchWritesTheKeyFirstSoAModemWhoseKeyFailsKeepsItsAddress) {
  test::WriteAll(dir / "Keys.ini", "[Keys]\r\nK=" + std::string(64, 'A') + "\r\n");
  test::WriteAll(dir / "key-name", "K\n");
  StartModem({"--address", "1"});
  std::unique_ptr<CliProcess> batch =
      Start({"-p", link, "batch", "--start", "20", "--network", "working", "--key-file", (dir / "key-name").string()});
  const auto next = [&](std::vector<std::string> args, const std::string& awaited) {
    sim.Stop();  // the modem is disconnected
    StartModem(std::move(args));
    ASSERT_TRUE(batch->AwaitOutput(awaited)) << batch->Out() << batch->Err();
  };
  ASSERT_TRUE(batch->AwaitOutput("address 20 working (was 1 service"));
  next({"--address", "2", "--no-ack-part", "3"}, "address 2 service (was 2 service, firmware 2.31)");
  next({"--address", "3"}, "address 21 working (was 3 service");
  batch->Signal(SIGINT);
  EXPECT_EQ(batch->Wait(), 4) << "a modem failed";
  EXPECT_THAT(batch->Out(), HasSubstr("done 2, failed 1, next address 22\n"));

  const std::vector<std::string> lines = JournalLines();
  ASSERT_EQ(lines.size(), 3u) << Journal();
  EXPECT_THAT(lines[0], HasSubstr(",batch,1,service,20,working,2.31,"));
  EXPECT_THAT(lines[1], HasSubstr(",batch,2,service,2,service,2.31,"));
  EXPECT_THAT(lines[1], HasSubstr(",failed,key transfer: no reply within 5 s after 3 of 8 parts"));
  EXPECT_THAT(lines[2], HasSubstr(",batch,3,service,21,working,2.31,"));
  EXPECT_THAT(Run({"read"}).out, HasSubstr("address: 21\nnetwork: working\n"));
}

}  // namespace
}  // namespace vorsal::testing
