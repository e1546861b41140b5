#include "sim/sim_args.h"

#include <gtest/gtest.h>

#include <set>

#include "support/man_page.h"

using namespace vorsal;

TEST(SimArgs, DefaultsAndEverySwitch) {
  const SimArgs none = ParseSimArgs({});
  EXPECT_TRUE(none.error.empty());
  EXPECT_EQ(none.link, "/tmp/vorsal-modem");
  EXPECT_EQ(none.modem.address, 1);
  EXPECT_EQ(none.modem.firmwareMajor, 2);
  EXPECT_EQ(none.modem.firmwareMinor, 31);
  EXPECT_EQ(none.modem.noAckPart, -1);

  const SimArgs all = ParseSimArgs({"--link", "/tmp/x", "--address=4095", "--network", "1",
                                    "--firmware", "12.05", "--reply-e3", "--connection-type", "1",
                                    "--log", "--drop-every", "4", "--corrupt-every=5",
                                    "--stray-bytes", "3", "--split-reply", "2:15", "--delay-ms",
                                    "250", "--wrong-echo", "--no-ack-part", "0",
                                    "--ack-part-with-previous", "7"});
  ASSERT_TRUE(all.error.empty()) << all.error;
  const ModemOptions& m = all.modem;
  EXPECT_EQ(all.link, "/tmp/x");
  EXPECT_TRUE(all.log);
  EXPECT_EQ(m.address, 4095);
  EXPECT_EQ(m.network, 1);
  EXPECT_EQ(m.firmwareMajor, 12);
  EXPECT_EQ(m.firmwareMinor, 5);
  EXPECT_TRUE(m.replyE3);
  EXPECT_EQ(m.connectionType, 1);
  EXPECT_EQ(m.dropEvery, 4);
  EXPECT_EQ(m.corruptEvery, 5);
  EXPECT_EQ(m.strayBytes, 3);
  EXPECT_EQ(m.splitChunk, 2);
  EXPECT_EQ(m.splitPauseMs, 15);
  EXPECT_EQ(m.delayMs, 250);
  EXPECT_TRUE(m.wrongEcho);
  EXPECT_EQ(m.noAckPart, 0);
  EXPECT_EQ(m.ackPartWithPrevious, 7);
}

TEST(SimArgs, BadValuesAreRefused) {
  const std::vector<std::vector<std::string>> bad = {
      {"--address", "4096"},        {"--address", "-1"},     {"--address", "12x"},
      {"--network", "2"},           {"--connection-type"},   {"--firmware", "2"},
      {"--firmware", "2.256"},      {"--firmware", "a.1"},   {"--drop-every", "0"},
      {"--split-reply", "3"},       {"--split-reply", "0:5"}, {"--no-ack-part", "8"},
      {"--ack-part-with-previous", "0"}, {"--log=1"},        {"--link", ""},
      {"--bogus"},                  {"extra"},
  };
  for (const auto& args : bad) {
    const SimArgs parsed = ParseSimArgs(args);
    EXPECT_FALSE(parsed.error.empty()) << args[0] << (args.size() > 1 ? " " + args[1] : "");
  }
}

// The manual page documents each switch the parser takes, and nothing else.
TEST(SimArgs, ManualPageListsTheSwitchesTheParserTakes) {
  const std::set<std::string> documented =
      test::ManPageOptions(VORSAL_SIM_MAN_PAGE, {"OPTIONS", "FAULT SWITCHES"});
  std::set<std::string> taken;
  for (const OptionSpec& option : SimSwitches()) {
    taken.emplace(option.longName);
    EXPECT_TRUE(documented.count(std::string(option.longName))) << option.longName << " lacks a manual entry";
  }
  for (const std::string& name : documented) EXPECT_TRUE(taken.count(name)) << name << " is in the manual page only";
}
