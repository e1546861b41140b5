#include "app/qs_version_info.h"
#include "app/version_block.h"
#include "platform/version_resource.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

using namespace vorsal;
namespace vb = vorsal::version_block;

namespace {

const std::string kNone(kInfoNotAvailable);

std::string BlockWithVersion(const std::string& fileVersion) {
  const std::array<vb::Value, 3> values{{
      {"FileVersion", fileVersion},
      {"ProductName", "Probe"},
      {"Comments", "Проба"},
  }};
  return vb::Encode(0x0409, 0x04B0, values);
}

// Occurrences of the whole marker in a file, found the way the reader finds
// them (head, then tail), so that this count does not add a copy of its own.
int CountMarkers(const std::filesystem::path& file) {
  const std::string bytes = test::ReadAll(file);
  int count = 0;
  for (std::size_t at = bytes.find(vb::kMarkerHead); at != std::string::npos;
       at = bytes.find(vb::kMarkerHead, at + 1)) {
    if (std::string_view(bytes).substr(at + vb::kMarkerHead.size(), vb::kMarkerTail.size()) == vb::kMarkerTail) {
      ++count;
    }
  }
  return count;
}

// The fifteen properties in their order.
std::vector<std::string> Properties(const TQSVersionInfo& i) {
  return {i.CompanyName(),      i.FileDescription(), i.FileVersion(),    i.FileShortVersion(), i.Internalname(),
          i.LegalCopyright(),   i.LegalTradeMarks(), i.OriginalFilename(), i.ProductName(),    i.ProductVersion(),
          i.Comments(),         i.MajorVersion(),    i.MinorVersion(),   i.Release(),          i.Build()};
}

// The file's four numbers, and the product version as users read it: the
// short version that the window's title shows.
const std::vector<std::string> kOwnProperties = {"Vorsal developers", "", "3.2.0.0", "3.2", "",
                                                 "Copyright (C) 2026 the Vorsal developers", "", "", "Vorsal", "3.2",
                                                 "", "3", "2", "0", "0"};
#ifdef _WIN32
// A Windows program's resource adds its own description and file name.
std::vector<std::string> ProgramProperties(const std::string& description, const std::string& name) {
  std::vector<std::string> properties = kOwnProperties;
  properties[1] = description;
  properties[4] = name;
  properties[7] = name + ".exe";
  return properties;
}
#endif
// No version information: placeholders everywhere but the short version.
const std::vector<std::string> kNoProperties = {kNone, kNone, kNone, "",    kNone, kNone, kNone, kNone,
                                                kNone, kNone, kNone, kNone, kNone, kNone, kNone};

}  // namespace

TEST(ShortVersion, DropsSingleZeroPartsAndMarksBuilds) {
  const std::string longBuild(300, '9');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"3.2.0.0", "3.2"},       {"3.2.1.0", "3.2.1"},     {"3.2.0.7", "3.2.rc.7"},
      {"3.2.1.7", "3.2.1.rc.7"}, {"1.0.00.0", "1.0.00"},  {"4.0.0.12", "4.0.rc.12"},
      // Three cuts at dots, the fourth part is whatever is left.
      {"3.2", "3...rc.2"},      {"3.2.0.0.5", "3.2.rc.0.5"},
      // Only the first 255 characters count.
      {"1.2.3." + longBuild, "1.2.3.rc." + longBuild.substr(0, 249)},
  };
  for (const auto& [version, expected] : cases) EXPECT_EQ(ShortVersion(version), expected) << version;
}

// The build words the product version (installer, ProductVersion, --version)
// by the rule the window words its title with: the two must not drift apart.
TEST(ShortVersion, IsTheBuildsProductVersion) { EXPECT_EQ(ShortVersion(VORSAL_FILE_VERSION), VORSAL_PRODUCT_VERSION); }

TEST(SplitFileVersion, FourPartsAtDotsOrCommas) {
  struct Case {
    std::string version;
    VersionParts parts;
  };
  const std::vector<Case> cases = {
      {"3.2.0.7", {"3", "2", "0", "7"}},
      {"3, 2, 0, 7", {"3", " 2", " 0", " 7"}},  // blanks after commas stay
      {"3.2", {"3", "", "", "2"}},
      {"3.2.1", {"3", "2", "", "1"}},
      {"1.2.3.4.5", {"1", "2", "3", "4.5"}},
      {"3,2.1", {"3,2", "", "", "1"}},  // a dot anywhere makes the dot the separator
      {"", {kNone, kNone, kNone, kNone}},
      {"327", {kNone, kNone, kNone, kNone}},
  };
  for (const Case& c : cases) {
    const VersionParts parts = SplitFileVersion(c.version);
    EXPECT_EQ(parts.MajorVersion, c.parts.MajorVersion) << c.version;
    EXPECT_EQ(parts.MinorVersion, c.parts.MinorVersion) << c.version;
    EXPECT_EQ(parts.Release, c.parts.Release) << c.version;
    EXPECT_EQ(parts.Build, c.parts.Build) << c.version;
  }
}

TEST(VersionBlock, ExecutablesHoldExactlyOneMarker) {
  const auto compiled = vb::Parse(vb::Compiled());
  ASSERT_TRUE(compiled);
  EXPECT_EQ(compiled->language, 0x0419);
  EXPECT_EQ(compiled->codePage, 0x04E3);
  // One in this test program, none added by the searching code.
  EXPECT_EQ(CountMarkers(RunningExecutablePath()), 1);
  // The program itself, when it has been built beside the suites.
  if (!std::filesystem::exists(VORSAL_EXE)) GTEST_SKIP() << VORSAL_EXE << " not built";
  EXPECT_EQ(CountMarkers(VORSAL_EXE), 1);
#ifdef _WIN32
  EXPECT_EQ(Properties(TQSVersionInfo(VORSAL_EXE)),
            ProgramProperties("Vorsal command line: modem settings, keys and the journal", "vorsal-cli"));
#else
  EXPECT_EQ(Properties(TQSVersionInfo(VORSAL_EXE)), kOwnProperties);
#endif
}

// Windows programs carry the identity as the system's version resource,
// which the reader prefers; Linux executables have none.
TEST(VersionResource, ProgramsCarryTheBuildsIdentityWhereTheSystemKeepsOne) {
  if (!std::filesystem::exists(VORSAL_EXE)) GTEST_SKIP() << VORSAL_EXE << " not built";
  const auto resource = platform::ReadVersionResource(VORSAL_EXE, {"ProductName", "FileVersion", "Comments"});
#ifdef _WIN32
  ASSERT_TRUE(resource);
  EXPECT_EQ(resource->language, 0x0419);
  EXPECT_EQ(resource->codePage, 0x04E3);
  const std::vector<std::pair<std::string, std::string>> values{{"ProductName", VORSAL_PRODUCT_NAME},
                                                                {"FileVersion", VORSAL_FILE_VERSION}};
  EXPECT_EQ(resource->values, values);
#else
  EXPECT_FALSE(resource);
#endif
}

#ifdef _WIN32
// Explorer's Details tab shows each program's description, publisher,
// copyright, original name and the one version.
TEST(VersionResource, EveryProgramTellsItsWholeIdentity) {
  const std::vector<std::pair<std::string, std::string>> programs = {
      {VORSAL_WINDOW_EXE, "Vorsal: настройка модемов закрытой сети"},
      {VORSAL_EXE, "Vorsal command line: modem settings, keys and the journal"},
      {VORSAL_KEY_TOOL_EXE, "Vorsal key tool: derives and stores modem keys"},
  };
  for (const auto& [file, description] : programs) {
    const std::string name = std::filesystem::path(file).stem().string();
    EXPECT_EQ(Properties(TQSVersionInfo(file)), ProgramProperties(description, name)) << file;
  }
}
#endif

TEST(VersionBlock, MalformedBlocksAreRefused) {
  const std::string good = BlockWithVersion("4.0.1.0");
  ASSERT_TRUE(vb::Parse(good));
  ASSERT_TRUE(vb::Parse(good + "trailing bytes"));

  auto with = [&](std::size_t offset, char byte) {
    std::string bytes = good;
    bytes[offset] = byte;
    return bytes;
  };
  EXPECT_FALSE(vb::Parse(good.substr(0, good.size() - 1))) << "cut short";
  EXPECT_FALSE(vb::Parse(good.substr(0, 20))) << "header cut short";
  EXPECT_FALSE(vb::Parse(with(15, 'x'))) << "marker";
  EXPECT_FALSE(vb::Parse(with(16, 2))) << "layout number";
  EXPECT_FALSE(vb::Parse(with(18, static_cast<char>(good.size() - 1)) + "x")) << "size ends inside a value";
  EXPECT_FALSE(vb::Parse(with(18, static_cast<char>(good.size() + 1)) + "x")) << "size past the last value";
  EXPECT_FALSE(vb::Parse(with(24, 4) + std::string(8, 'x'))) << "more values than stored";
  EXPECT_FALSE(vb::Parse(with(good.size() - 1, 'x'))) << "last value without its end";
}

TEST(GetInfo, ReadsTheRunningExecutable) {
  EXPECT_EQ(Properties(TQSVersionInfo()), kOwnProperties);
}

TEST(GetInfo, FindsABlockAnywhereInAFile) {
  test::TempDir dir;
  const std::string block = BlockWithVersion("4.0.0.12");
  const std::size_t chunk = std::size_t{1} << 20;  // the reader's read size
  // A false start (marker, then no valid block), a block cut by a read
  // border inside its marker, and one whose values run over a border.
  const std::vector<std::pair<std::string, std::string>> files = {
      {"start", block + std::string(100, 'x')},
      {"false-start", std::string(vb::kMarkerHead) + std::string(vb::kMarkerTail) + std::string(500, '\xFF') +
                          block},
      {"marker-on-border", std::string(chunk - 5, '\0') + block},
      {"values-on-border", std::string(chunk - 40, '\0') + block + std::string(chunk, '\0')},
      {"end", std::string(3 * chunk + 7, 'x') + block},
  };
  for (const auto& [name, bytes] : files) {
    test::WriteAll(dir / name, bytes);
    TQSVersionInfo info((dir / name).string());
    EXPECT_EQ(info.ProductName(), "Probe") << name;
    EXPECT_EQ(info.FileVersion(), "4.0.0.12") << name;
    EXPECT_EQ(info.FileShortVersion(), "4.0.rc.12") << name;
    EXPECT_EQ(info.Build(), "12") << name;
    EXPECT_EQ(info.Comments(), "Проба") << name;
    EXPECT_EQ(info.CompanyName(), "") << name;  // a name the block lacks
  }
}

TEST(GetInfo, FilesWithoutVersionInformation) {
  test::TempDir dir;
  test::WriteAll(dir / "plain", std::string(5000, 'x'));
  test::WriteAll(dir / "empty", "");
  test::WriteAll(dir / "truncated", BlockWithVersion("4.0.1.0").substr(0, 40));
  for (const char* name : {"plain", "empty", "truncated", "missing", "."}) {
    EXPECT_EQ(Properties(TQSVersionInfo((dir / name).string())), kNoProperties) << name;
  }
  // A reader that read a versioned file before keeps nothing of it.
  TQSVersionInfo reused;
  reused.GetInfo((dir / "plain").string());
  EXPECT_EQ(Properties(reused), kNoProperties);
}
