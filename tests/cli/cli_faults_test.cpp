// vorsal-cli's commands against a faulty modem, in-process on the test's
// clock: lost, late and garbled replies, unacknowledged key parts and a key
// file that cannot be written; exit statuses and the journal's lines.
#include "tests/cli/scripted_modem.h"

#include <gmock/gmock.h>

#include <cstdlib>

using ::testing::HasSubstr;

namespace vorsal::testing {
namespace {

class CliFaults : public CliInProcess {};

TEST_F(CliFaults, LostRepliesAreNoReplyUnlessRetried) {
  ScriptedModem modem({.dropEvery = 2});
  // Replies: the read's, the write's (dropped), the read-back's that finds
  // the address taken, the verification's (dropped).
  Result write = Run(modem, {"write", "--address", "7", "--network", "service"});
  EXPECT_EQ(write.status, cli::ExitNoReply) << write.err;
  EXPECT_THAT(LastJournalLine(), HasSubstr(",write,1,service,7,service,2.31,,failed,read-back: no reply"));

  write = Run(modem, {"--retries", "1", "write", "--address", "8", "--network", "service"});
  EXPECT_EQ(write.status, cli::ExitOk) << write.err;
  EXPECT_THAT(LastJournalLine(), HasSubstr(",write,7,service,8,service,2.31,,ok,"));
}

TEST_F(CliFaults, AWriteTheModemTookIsReportedAsDoneDespiteALateOrWrongReply) {
  // The first reply comes just after the time-out: the repeated read takes
  // it, and the reply to the repeat must not pass for the write's.
  ScriptedModem late;
  late.lateBy[0] = ReplyTimeoutMs + 50;
  Result write = Run(late, {"--retries", "1", "write", "--address", "12", "--network", "working"});
  EXPECT_EQ(write.status, cli::ExitOk) << write.err;
  EXPECT_EQ(late.model.Address(), 12);
  EXPECT_THAT(LastJournalLine(), HasSubstr(",write,1,service,12,working,2.31,,ok,"));

  // Without a repeat the late reply is taken for the read's and refused;
  // the read-back shows the address taken all the same.
  ScriptedModem lateOnce;
  lateOnce.lateBy[1] = ReplyTimeoutMs + 50;
  write = Run(lateOnce, {"write", "--address", "13", "--network", "working"});
  EXPECT_EQ(write.status, cli::ExitOk) << write.err;
  EXPECT_EQ(lateOnce.model.Address(), 13);
  EXPECT_THAT(LastJournalLine(), HasSubstr(",write,1,service,13,working,2.31,,ok,"));

  // Neither the write nor any read after it answered: the line tells what
  // was asked, and that the modem may hold it.
  ScriptedModem silent;
  for (int reply = 1; reply <= 3; ++reply) silent.lateBy[reply] = 100 * ReplyTimeoutMs;
  write = Run(silent, {"write", "--address", "14", "--network", "working"});
  EXPECT_EQ(write.status, cli::ExitNoReply) << write.err;
  EXPECT_THAT(LastJournalLine(), HasSubstr(",write,1,service,14,working,2.31,,failed,"));
  EXPECT_THAT(LastJournalLine(), HasSubstr("not read back: the modem may hold address 14, working network"));

  // A wrong echo from a modem that took the address: read back, it is done.
  ScriptedModem wrongEcho({.wrongEcho = true});
  write = Run(wrongEcho, {"write", "--address", "9", "--network", "service"});
  EXPECT_EQ(write.status, cli::ExitOk) << write.err;
  EXPECT_THAT(LastJournalLine(), HasSubstr(",write,1,service,9,service,2.31,,ok,"));
}

TEST_F(CliFaults, AnUnacknowledgedKeyPartIsNoReply) {
  test::WriteAll(dir / "Keys.ini", "[Keys]\r\nK=" + std::string(64, 'A') + "\r\n");
  ScriptedModem modem({.noAckPart = 3});
  const Result setKey = Run(modem, {"set-key", "K"});
  EXPECT_EQ(setKey.status, cli::ExitNoReply) << setKey.err;
  EXPECT_THAT(setKey.err, HasSubstr("key parts acknowledged 3/8"));
  EXPECT_THAT(LastJournalLine(), HasSubstr(",set-key,1,service,1,service,2.31,AE.5D.BC.85,failed,key transfer: no reply"));

  // --retries repeats the part that went unanswered, as any exchange: every
  // third reply lost, each part gets through at its second sending (a
  // transfer begun again from its first part never would).
  ScriptedModem lossy({.dropEvery = 3});
  const Result retried = Run(lossy, {"--retries", "1", "set-key", "K"});
  EXPECT_EQ(retried.status, cli::ExitOk) << retried.err;
  ModemKey written;
  written.fill(0xAA);
  EXPECT_EQ(lossy.model.Key(), written);
}

TEST_F(CliFaults, AKeyThatKeysIniCannotKeepIsWrittenButExitsSix) {
  // Keys.ini beside the program is a folder, and the user's data folder
  // cannot be made: nowhere to keep the key.
  std::filesystem::create_directory(dir / "Keys.ini");
  test::WriteAll(dir / "file", "");
  const char* saved = std::getenv("XDG_DATA_HOME");
  const std::string savedValue = saved != nullptr ? saved : "";
  ::setenv("XDG_DATA_HOME", (dir / "file" / "data").c_str(), 1);
  ScriptedModem modem;
  const Result setKey = Run(modem, {"set-key", "Новый"});
  if (saved != nullptr) {
    ::setenv("XDG_DATA_HOME", savedValue.c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
  EXPECT_EQ(setKey.status, cli::ExitStoreFailed) << setKey.err;
  EXPECT_THAT(setKey.err, HasSubstr("Keys.ini could not keep it"));
  EXPECT_THAT(setKey.out, HasSubstr("written; footprint"));
  EXPECT_NE(modem.model.Key(), ModemKey{});
}

}  // namespace
}  // namespace vorsal::testing
