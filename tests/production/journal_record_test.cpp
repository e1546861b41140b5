#include "production/journal_record.h"

#include "production/journal.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

namespace vorsal::production {
namespace {

// Every field a value of its own, so a field in another's place shows.
JournalRecord Distinct() {
  JournalRecord r;
  r.lineId = "L";
  r.runId = "R";
  r.time = "2026-12-07T10:00:00+03:00";
  r.host = "H";
  r.operatorName = "O";
  r.port = "/dev/ttyUSB0";
  r.adapter = "0403:6001 serial A1";
  r.operation = "batch";
  r.oldAddress = "1";
  r.oldNetwork = "service";
  r.newAddress = "20";
  r.newNetwork = "working";
  r.firmware = "2.31";
  r.footprint = "0B.2A.E4.45";
  r.result = "failed";
  r.message = "no, reply";
  return r;
}

TEST(JournalRecord, TheCsvLineAndTheRegistryRowPutEachFieldUnderItsName) {
  const JournalRecord r = Distinct();
  EXPECT_EQ(CsvLine(CsvHeaderNames()),
            "time,run_id,operator,host,port,adapter,operation,old_address,old_network,new_address,new_network,"
            "firmware,footprint,result,message\r\n");
  EXPECT_EQ(CsvLine(CsvFieldsOf(r)),
            "2026-12-07T10:00:00+03:00,R,O,H,/dev/ttyUSB0,0403:6001 serial A1,batch,1,service,20,working,2.31,"
            "0B.2A.E4.45,failed,\"no, reply\"\r\n");
  // The registry's and the spool's order, which kept lines of earlier
  // versions are read in.
  const std::vector<std::string> columns = RegistryColumns();
  const std::vector<std::string> row = RegistryRowOf(r);
  const std::vector<std::string> expected = {"L", "R", "2026-12-07T10:00:00+03:00", "H", "O", "/dev/ttyUSB0",
                                             "0403:6001 serial A1", "batch", "1", "service", "20", "working",
                                             "2.31", "0B.2A.E4.45", "failed", "no, reply"};
  EXPECT_EQ(row, expected);
  EXPECT_EQ(columns.front(), "line_id");
  EXPECT_EQ(columns[5], "port");

  JournalRecord back;
  ASSERT_TRUE(RecordFromRegistryRow(row, back));
  EXPECT_EQ(RegistryRowOf(back), row);
  EXPECT_FALSE(RecordFromRegistryRow({"L", "R"}, back)) << "a row of another width";
  // A CSV record read by its header's names, whatever their order.
  std::map<std::string, std::size_t> byName;
  const std::vector<std::string> header = CsvHeaderNames();
  for (std::size_t i = 0; i < header.size(); ++i) byName[header[i]] = i;
  back = RecordFromCsv(CsvFieldsOf(r), byName);
  back.lineId = r.lineId;
  EXPECT_EQ(RegistryRowOf(back), row);
}

TEST(JournalRecord, BothSummariesCountALineWithoutAResultAsFailed) {
  std::vector<JournalRecord> records;
  const auto add = [&](const char* run, const char* time, const char* result, const char* address) {
    JournalRecord r;
    r.runId = run;
    r.time = time;
    r.operation = "batch";
    r.port = address;  // a modem of its own
    r.result = result;
    r.newAddress = address;
    records.push_back(r);
  };
  add("a", "2026-12-07T10:00:30+03:00", "ok", "21");
  add("b", "2026-12-07T07:05:00Z", "ok", "5");
  add("a", "2026-12-07T10:00:10+03:00", "ok", "20");  // sent late, from the spool
  add("a", "2026-12-07T10:01:00+03:00", "skipped", "3");
  add("a", "2026-12-07T10:02:00+03:00", "refused", "4");
  add("a", "garbled", "", "22");
  const std::vector<RunSummary> runs = SummarizeRuns(records);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].runId, "a");
  EXPECT_EQ(runs[0].lines, 5);
  EXPECT_EQ(runs[0].done, 2);
  EXPECT_EQ(runs[0].skipped, 1);
  EXPECT_EQ(runs[0].failed, 2) << "a refusal and a line whose result was lost";
  EXPECT_EQ(runs[0].lowestAddress, 20);
  EXPECT_EQ(runs[0].highestAddress, 21) << "only modems done count";
  EXPECT_EQ(runs[0].seconds, 110) << "from the earliest line to the latest, whatever order they came in";
  EXPECT_EQ(runs[0].started, "2026-12-07T10:00:10+03:00");
  EXPECT_EQ(runs[1].lines, 1);
  EXPECT_EQ(runs[1].seconds, 0);

  // The local journal's text is summarized by the same rule.
  std::string text = CsvLine(CsvHeaderNames());
  for (const JournalRecord& r : records) text += CsvLine(CsvFieldsOf(r));
  const std::vector<RunSummary> fromText = SummarizeJournal(text);
  ASSERT_EQ(fromText.size(), 2u);
  EXPECT_EQ(fromText[0].failed, 2);
  EXPECT_EQ(fromText[0].seconds, 110);
}

// Opening a long journal reads its end (and start) for the last header:
// the current one there is not written again; an earlier version's gets the
// current one after it, once.
TEST(Journal, OpeningFindsTheLastHeaderWithoutReadingTheWholeFile) {
  test::TempDir dir;
  const std::string header = CsvLine(CsvHeaderNames());
  std::string lines;
  while (lines.size() < 200 * 1024) lines += CsvLine(CsvFieldsOf(Distinct()));
  test::WriteAll(dir / "current.csv", header + lines);
  test::WriteAll(dir / "older.csv", "time,port,operation,result\r\n" + lines);
  std::string error;
  for (const char* name : {"current.csv", "older.csv", "older.csv"}) {
    const std::string before = test::ReadAll(dir / name);
    Journal journal;
    ASSERT_TRUE(journal.Open(dir / name, &error)) << error;
    const std::string after = test::ReadAll(dir / name);
    const bool appended = after.size() == before.size() + header.size() && after.compare(0, before.size(), before) == 0;
    const bool kept = after == before;
    EXPECT_TRUE(before.find(header) == std::string::npos ? appended : kept) << name;
  }
}

// A field's line break (a USB adapter's serial is whatever the device
// says) is written as a space: on a line of its own, the text after it
// could read as a forged record.
TEST(Journal, ALineBreakInAFieldNeverReadsAsARecordOfItsOwn) {
  JournalRecord r = Distinct();
  r.adapter = "x\n" + CsvLine(CsvFieldsOf(Distinct())) + "y";
  const JournalContents read = ReadJournalText(CsvLine(CsvHeaderNames()) + CsvLine(CsvFieldsOf(r)));
  ASSERT_EQ(read.records.size(), 1u);
  EXPECT_EQ(read.skipped, 0);
  EXPECT_EQ(read.records[0].adapter.find('\n'), std::string::npos);
}

// Modems, not attempts, each by its last line: a repeat is marked (every
// modem of a batch with one key has the same footprint); runs of earlier
// versions, without a start line, take a failure after a failure on a port
// for one modem. The run from its start line to its end line; the
// addresses only of lines that wrote them.
TEST(JournalRecord, RunsCountModemsAndSpanFromTheirStartToTheirEnd) {
  std::vector<JournalRecord> records;
  const auto add = [&](const char* run, const char* time, const char* operation, const char* port,
                       const char* footprint, const char* result, const char* address, const char* message = "") {
    JournalRecord r;
    r.runId = run, r.time = time, r.operation = operation, r.port = port, r.footprint = footprint;
    r.result = result, r.oldAddress = "1", r.oldNetwork = "service", r.newAddress = address, r.message = message;
    records.push_back(r);
  };
  JournalRecord start = RunMark(OperationRunStart, "batch", "from 10");
  start.runId = "a", start.time = "2026-12-07T10:00:00+03:00";
  records.push_back(start);
  add("a", "2026-12-07T10:01:00+03:00", "batch", "A", "", "failed", "1");                   // a flaky modem...
  add("a", "2026-12-07T10:01:30+03:00", "batch", "A", "", "interrupted", "1", "again: x");  // ...tried again
  add("a", "2026-12-07T10:02:00+03:00", "batch", "A", "F", "ok", "10");                     // the next modem
  add("a", "2026-12-07T10:03:00+03:00", "batch", "B", "F", "failed", "1");
  add("a", "2026-12-07T10:04:00+03:00", "batch", "B", "F", "ok", "11", "again: read back");  // reworked
  add("a", "2026-12-07T10:04:10+03:00", "batch", "D", "", "failed", "1");
  add("a", "2026-12-07T10:04:20+03:00", "batch", "D", "", "failed", "1");  // another modem, from the same address
  add("k", "2026-12-07T10:04:30+03:00", "set-key", "C", "F3", "ok", "77");
  JournalRecord end = RunMark(OperationRunEnd, "batch", "stopped");
  end.runId = "a", end.time = "2026-12-07T10:10:00+03:00";
  records.push_back(end);
  add("", "2026-03-01T12:00:00Z", "batch", "A", "", "failed", "1");  // an earlier version's flaky modem
  add("", "2026-03-01T12:00:30Z", "batch", "A", "", "failed", "1");

  std::vector<std::string> handedOn;
  RunTally tally([&](const RunSummary& run) { handedOn.push_back(run.runId); });
  for (const JournalRecord& record : records) tally.Add(record);
  EXPECT_EQ(handedOn, (std::vector<std::string>{"a", "k"})) << "each ended run is handed on before the journal ends";

  const std::vector<RunSummary> runs = SummarizeRuns(records);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].lines, 7);
  EXPECT_EQ(runs[0].done, 2);
  EXPECT_EQ(runs[0].failed, 3);
  EXPECT_EQ(runs[0].interrupted, 1) << "a modem counts by its last line";
  EXPECT_EQ(runs[0].started, "2026-12-07T10:00:00+03:00");
  EXPECT_EQ(runs[0].seconds, 600);
  EXPECT_EQ(runs[0].endReason, "batch: stopped");
  EXPECT_EQ(runs[0].lowestAddress, 10);
  EXPECT_EQ(runs[0].highestAddress, 11);
  EXPECT_EQ(runs[1].done, 1);
  EXPECT_EQ(runs[1].lowestAddress, -1) << "set-key writes no address";
  EXPECT_EQ(runs[2].lines, 2);
  EXPECT_EQ(runs[2].failed, 1);
}

}  // namespace
}  // namespace vorsal::production
