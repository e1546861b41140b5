// vorsal-cli's command line in-process: where options may stand, what a
// refusal names, the ports it serves, and the help and manual page against
// the option table.
#include "cli/cli_args.h"

#include "support/man_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace vorsal::cli {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

ParsedCommandLine Parse(std::vector<std::string> args) { return ParseCommandLine(args); }

TEST(CliArgs, GlobalOptionsStandBeforeOrAfterTheCommandCommandOptionsOnlyAfterIt) {
  const std::vector<std::string> batch = {"batch", "--start", "7", "--network", "working"};
  for (const std::vector<std::string>& globals : std::vector<std::vector<std::string>>{
           {"--registry", "postgresql://db/p"}, {"--registry=postgresql://db/p"},
           {"--json"}, {"--retries", "3"}, {"--connection-type=1"}, {"--journal", "j.csv"}, {"-p", "ttyUSB0"}}) {
    std::vector<std::string> before = globals;
    before.insert(before.end(), batch.begin(), batch.end());
    std::vector<std::string> after = batch;
    after.insert(after.end(), globals.begin(), globals.end());
    const ParsedCommandLine first = Parse(before);
    const ParsedCommandLine second = Parse(after);
    ASSERT_TRUE(first.ok()) << globals[0] << ": " << first.error;
    ASSERT_TRUE(second.ok()) << globals[0] << ": " << second.error;
    EXPECT_EQ(first.options.registry, second.options.registry);
    EXPECT_EQ(first.options.json, second.options.json);
    EXPECT_EQ(first.options.retries, second.options.retries);
    EXPECT_EQ(first.options.connectionType, second.options.connectionType);
    EXPECT_EQ(first.options.journal, second.options.journal);
    EXPECT_EQ(first.options.ports, second.options.ports);
  }
  EXPECT_EQ(Parse({"--registry", "postgresql://db/p", "journal"}).options.registry, "postgresql://db/p");

  EXPECT_EQ(Parse({"--address", "5", "write", "--network", "service"}).error, "unknown option '--address'");
  EXPECT_EQ(Parse({"read", "--start", "5"}).error, "unknown option '--start' for this command");
  EXPECT_EQ(Parse({"write", "--address", "5", "--network", "service", "--key-file", "k"}).error,
            "unknown option '--key-file' for this command");
}

// A refusal names what was given, never a number of its own.
TEST(CliArgs, ARefusedNumberIsNamedAsGiven) {
  EXPECT_EQ(Parse({"write", "--address", "4096", "--network", "service"}).error,
            "--address takes a whole number from 0 to 4095, not '4096'");
  EXPECT_EQ(Parse({"batch", "--start=-1", "--network", "service"}).error,
            "--start takes a whole number from 0 to 4095, not '-1'");
  EXPECT_EQ(Parse({"batch", "--start", "1", "--network", "service", "--count", "0"}).error,
            "--count takes a whole number from 1 to 4096, not '0'");
  EXPECT_EQ(Parse({"--retries", " 3", "read"}).error, "--retries takes a whole number from 0 to 100, not ' 3'");
  EXPECT_EQ(Parse({"write", "--network", "working", "--address", "0"}).error,
            "--address 0 is not an address in the working network (1..4095)");
  EXPECT_EQ(Parse({"write", "--address", "4095", "--network", "working"}).options.address, 4095);
}

TEST(CliArgs, APortNamedTwiceIsServedOnce) {
  const ParsedCommandLine parsed = Parse({"-p", "ttyUSB0", "-p", "ttyUSB1", "-p", "/dev/ttyUSB0", "-p", "ttyUSB1",
                                          "batch", "--start", "1", "--network", "service"});
  ASSERT_TRUE(parsed.ok()) << parsed.error;
  EXPECT_THAT(parsed.options.ports, ElementsAre("ttyUSB0", "ttyUSB1"));
  EXPECT_TRUE(Parse({"-p", "ttyUSB0", "-p", "/dev/ttyUSB0", "read"}).ok()) << "one port, named twice";
  EXPECT_EQ(Parse({"-p", "ttyUSB0", "-p", "ttyUSB1", "read"}).error, "only batch takes several ports");
}

// The help's option list and the manual page's OPTIONS section name the
// options the parser takes: each global one in both, and nothing else.
TEST(CliArgs, HelpAndManualPageListTheOptionsTheParserTakes) {
  std::set<std::string> taken;
  for (const OptionSpec& option : OptionTableOfCli()) {
    taken.emplace(option.longName);
    if (!option.shortName.empty()) taken.emplace(option.shortName);
  }

  const std::string help = HelpText(std::nullopt);
  std::set<std::string> helped;
  std::istringstream lines(help.substr(help.find("\nOptions:\n")));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("  -", 0) == 0) {
      helped.merge(test::OptionNamesIn(line.substr(0, 25)));
    }
  }

  const std::set<std::string> documented = test::ManPageOptions(VORSAL_CLI_MAN_PAGE, {"OPTIONS"});
  ASSERT_FALSE(documented.empty());

  for (const std::string& name : helped) EXPECT_TRUE(taken.count(name)) << name << " is in the help only";
  for (const std::string& name : documented) EXPECT_TRUE(taken.count(name)) << name << " is in the manual page only";
  for (const OptionSpec& option : OptionTableOfCli()) {
    if (!GlobalOption(option)) continue;
    const std::string longName(option.longName), shortName(option.shortName);
    EXPECT_TRUE(documented.count(longName)) << longName << " lacks a manual entry";
    // The registry's option is offered only where the registry is built.
    if (longName != "--registry") {
      EXPECT_TRUE(helped.count(longName)) << longName << " is not in the help";
      if (!shortName.empty()) {
        EXPECT_TRUE(helped.count(shortName)) << shortName << " is not in the help";
      }
    }
  }
}

}  // namespace
}  // namespace vorsal::cli
