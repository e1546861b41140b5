#include "keys/key_derivation.h"
#include "keys/key_store.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

using namespace vorsal;

namespace {

// Keys of the names "test" and "Ключ" (Windows-1251 CA EB FE F7), checked
// against an independent GOST R 34.11-94 implementation: G^1000000(H(name)).
const std::string TestKey = "4813998FA82E8BECA910361901019B4DCFDDAE2E3902DE7475514D3644490F0C";
const std::string CyrillicKey = "83C22AEF9CADD906A1E83E85271F3D1AC3C153EE03D1BD8FD00889C4BF29EF41";
const std::string ZeroKey(64, '0');

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

ToolRun VorsalKey(const QStringList& args, const QString& outputFile = {}) {
  QProcess process;
  if (!outputFile.isEmpty()) process.setStandardOutputFile(outputFile);
  process.start(VORSAL_KEY_EXE, args);
  ToolRun run;
  if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit) return run;
  run.status = process.exitCode();
  run.out = process.readAllStandardOutput().toStdString();
  run.err = process.readAllStandardError().toStdString();
  return run;
}

}  // namespace

TEST(KeyName, TrimsCodesUpToSpaceFromBothEndsOnly) {
  EXPECT_EQ(TrimKeyName(" \t\r\n\x01 key  name \x1F "), "key  name");
  EXPECT_EQ(TrimKeyName("   "), "");
  EXPECT_EQ(TrimKeyName("\xA0key\xA0"), "\xA0key\xA0");  // Windows-1251 no-break space is not cut
  EXPECT_EQ(KeyNameFromUtf8("  Ключ "), std::optional<std::string>("\xCA\xEB\xFE\xF7"));
  EXPECT_EQ(KeyNameFromUtf8(" 中 "), std::nullopt);
}

TEST(VorsalKey, PrintsKeysOfTrimmedAndCyrillicNamesAndZeroForAnEmptyName) {
  const ToolRun run = VorsalKey({"  test ", "Ключ", " "});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, TestKey + "  test\n" + CyrillicKey + "  Ключ\n" + ZeroKey + "  \n");
  EXPECT_EQ(run.err, "");
}

TEST(VorsalKey, KeysIniFormInWindows1251) {
  const ToolRun run = VorsalKey({"--keys-ini", "--cp1251", "--", "Ключ"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "\xCA\xEB\xFE\xF7=" + CyrillicKey + "\n");
}

TEST(VorsalKey, RefusesUnusableNamesBeforeComputingAnything) {
  ToolRun run = VorsalKey({"test", "ключ 中"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("\"ключ 中\""), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("U+4E2D"), std::string::npos) << run.err;

  // Names that cannot stand as a Keys.ini entry.
  for (const char* name : {"a=b", "[Keys]", ";x", ""}) {
    run = VorsalKey({"--keys-ini", name});
    EXPECT_EQ(run.status, 1) << name;
    EXPECT_EQ(run.out, "") << name;
    EXPECT_NE(run.err.find("Keys.ini"), std::string::npos) << run.err;
  }

  run = VorsalKey({});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Usage"), std::string::npos);
  run = VorsalKey({"--bogus", "x"});
  EXPECT_EQ(run.status, 2);
}

TEST(VorsalKey, StoresIntoKeysIniAsTheProgramDoes) {
  const test::TempDir dir;
  const std::string file = (dir / "Keys.ini").string();
  ToolRun run = VorsalKey({"--store", QString::fromStdString(file), "test", "Ключ"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(test::ReadAll(file), "[Keys]\r\ntest=" + TestKey + "\r\n\xCA\xEB\xFE\xF7=" + CyrillicKey + "\r\n");

  // A name stored with another key keeps it, and the tool says so.
  test::WriteAll(file, "[Keys]\r\ntest=" + ZeroKey + "\r\n");
  run = VorsalKey({"--store", QString::fromStdString(file), "test"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("another key"), std::string::npos) << run.err;
  EXPECT_EQ(KeyStoreLookup(file, "test"), ZeroKey);
}

TEST(VorsalKey, FailedOutputWriteIsAnErrorAndVersionIsGiven) {
  ToolRun run = VorsalKey({"test"}, "/dev/full");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("write error"), std::string::npos) << run.err;

  run = VorsalKey({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("vorsal-key (Vorsal) ", 0), 0u) << run.out;
}
