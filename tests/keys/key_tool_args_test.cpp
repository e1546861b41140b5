// vorsal-key's option table against its manual page (the parser itself is
// fuzzed against an oracle of its own, and the program run in its suite).
#include "keys/key_tool_args.h"

#include <gtest/gtest.h>

#include <set>

#include "support/man_page.h"

namespace vorsal {
namespace {

TEST(KeyToolArgs, ManualPageListsTheOptionsTheParserTakes) {
  const std::set<std::string> documented = test::ManPageOptions(VORSAL_KEY_MAN_PAGE, {"OPTIONS"});
  std::set<std::string> taken;
  for (const OptionSpec& option : KeyToolOptions()) {
    const std::string name(option.longName);
    taken.insert(name);
    EXPECT_TRUE(documented.count(name)) << name << " lacks a manual entry";
  }
  for (const std::string& name : documented) EXPECT_TRUE(taken.count(name)) << name << " is in the manual page only";
  // Parsing stops where help is asked for, before a later mistake.
  EXPECT_EQ(ParseKeyToolArgs({"--help", "--bogus"}).action, KeyToolArgs::Action::Help);
  EXPECT_EQ(ParseKeyToolArgs({"--store=k", "a"}).error, "unknown option '--store=k'");
}

}  // namespace
}  // namespace vorsal
