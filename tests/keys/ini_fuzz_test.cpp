// Random and mutated files through the INI reader and writer: parsing never
// fails, it gives back the exact bytes, and a set value reads back without
// disturbing any other entry, in memory and through the file.
#include "keys/ini_file.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

using namespace vorsal;

namespace {

const std::vector<std::string> Sections = {"Keys", "keys", "Other", "\xCA\xEB\xFE\xF7\xE8"};

// Pieces that make up plausible and broken INI text alike.
const std::vector<std::string> Tokens = {
    "[Keys]", "[KEYS]", "[keys", "[Other]", "[\xCA\xEB\xFE\xF7\xE8]", "[", "]", "=", ";", " ", "\t", "\r", "\n",
    "\r\n",   std::string(1, '\0'),     "name",  "NAME",    "\xE8\xEC\xFF",            "\xC8\xCC\xDF", "A1B2", "\xFF", "\x80", "x=y",
    // Whole entries under names that RandomName spells in other cases.
    "\nName=1\n", "\n\xB8\xE0\xFF=2\n", "\r\n \xA8\xC0\xDF = 3\r\n"};

using Entries = std::map<std::pair<std::string, std::string>, std::optional<std::string>>;

// Every (section, name) lookup that a file can answer for the known sections.
Entries Snapshot(const IniFile& ini) {
  Entries entries;
  for (const std::string& section : Sections) {
    for (const std::string& name : ini.EntryNames(section)) {
      entries[{section, name}] = ini.Value(section, name);
    }
  }
  return entries;
}

std::string RandomText(std::mt19937& rng) {
  std::string text;
  const int pieces = std::uniform_int_distribution<int>(0, 60)(rng);
  for (int i = 0; i < pieces; ++i) {
    if (rng() % 4 == 0) {
      text.push_back(static_cast<char>(rng() % 256));
    } else {
      text += Tokens[rng() % Tokens.size()];
    }
  }
  return text;
}

std::string Mutate(std::string text, std::mt19937& rng) {
  const int edits = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < edits; ++i) {
    const std::size_t at = text.empty() ? 0 : rng() % (text.size() + 1);
    switch (rng() % 3) {
      case 0:
        text.insert(at, Tokens[rng() % Tokens.size()]);
        break;
      case 1:
        if (at < text.size()) text.erase(at, 1 + rng() % 8);
        break;
      default:
        if (at < text.size()) text[at] = static_cast<char>(rng() % 256);
        break;
    }
  }
  return text;
}

// Half the names are spellings of names in Tokens in other letter cases
// (name, ёая), so that setting one often has to find an entry spelled
// differently.
std::string RandomName(std::mt19937& rng) {
  static const std::vector<std::string> spellings = {"nAME", "NAME", "\xB8\xE0\xFF", "\xA8\xC0\xDF", "\xA8\xE0\xDF"};
  if (rng() % 2 == 0) return spellings[rng() % spellings.size()];
  static const std::string letters = "abcXYZ019 _.\xC0\xE0\xDF\xFF\xA8\xB8";
  std::string name;
  const int length = 1 + static_cast<int>(rng() % 6);
  for (int i = 0; i < length; ++i) name.push_back(letters[rng() % letters.size()]);
  return name;
}

// Names the same without regard to case, by a rule written out here rather
// than the code page's: ASCII letters, and the Cyrillic pairs that Sections'
// and RandomName's letters belong to. Every case partner of those letters is
// in the table, so for a comparison with a section or name the fuzz sets it
// agrees with any correct case rule, whatever bytes the other side holds.
bool SameName(std::string_view a, std::string_view b) {
  static const std::map<char, char> cyrillicUpper = {
      {'\xE0', '\xC0'}, {'\xFF', '\xDF'}, {'\xB8', '\xA8'},  // а я ё
      {'\xEA', '\xCA'}, {'\xEB', '\xCB'}, {'\xFE', '\xDE'}, {'\xF7', '\xD7'}, {'\xE8', '\xC8'},  // к л ю ч и
  };
  const auto upper = [](char c) {
    if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
    const auto it = cyrillicUpper.find(c);
    return it == cyrillicUpper.end() ? c : it->second;
  };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return upper(x) == upper(y); });
}

// `file`, when not empty, also takes the result through the disk.
void CheckSetValueKeepsTheRest(const std::string& text, std::mt19937& rng, const std::filesystem::path& file) {
  IniFile ini = IniFile::Parse(text);
  ASSERT_EQ(ini.Text(), text);
  Entries expected = Snapshot(ini);

  const std::string section = Sections[rng() % Sections.size()];
  const std::string name = RandomName(rng);
  const std::string value = "V" + std::to_string(rng() % 1000);
  if (!ini.SetValue(section, name, value)) {
    ASSERT_FALSE(IniNameStorable(name));
    return;
  }
  // The set entry and every lookup that shares its section and name change.
  for (auto& [where, stored] : expected) {
    if (SameName(where.first, section) && SameName(where.second, name)) stored = value;
  }
  const IniFile reread = IniFile::Parse(ini.Text());
  Entries actual = Snapshot(reread);
  for (const std::string& spelling : Sections) {
    if (!SameName(spelling, section)) continue;
    expected[{spelling, name}] = value;
    actual[{spelling, name}] = reread.Value(spelling, name);
  }
  ASSERT_EQ(actual, expected) << "file: " << testing::PrintToString(text);

  if (file.empty()) return;
  ASSERT_TRUE(WriteFilePreserving(file, ini.Text(), nullptr));
  IniFile loaded;
  ASSERT_EQ(IniFile::Load(file, loaded), IniLoadStatus::Loaded);
  ASSERT_EQ(loaded.Text(), ini.Text());
}

}  // namespace

TEST(IniFuzz, RandomAndMutatedFilesReadAndWriteBack) {
  const test::TempDir dir;
  const std::filesystem::path file = dir / "Keys.ini";

  std::mt19937 rng(20240607);
  std::string seed = "[Keys]\r\nalpha=00FF\r\n\xC0\xC1=12\r\n\xB8\xE0\xFF=\r\n[Other]\nx=1\nname=2\n";
  for (int round = 0; round < 3000 && !HasFatalFailure(); ++round) {
    const std::string text = round % 2 ? RandomText(rng) : Mutate(seed, rng);
    CheckSetValueKeepsTheRest(text, rng, round % 20 == 0 ? file : std::filesystem::path());
    if (round % 50 == 0) seed = text;  // let mutations wander off
  }
}
