#include "production/journal_record.h"

#include "production/journal.h"

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

}  // namespace
}  // namespace vorsal::production
