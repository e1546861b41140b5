// The report's rules on lines made here: what a hostile journal can put on
// the page, which addresses count as given twice, which lines a filter
// keeps, and what bounds the page's size whatever the journal holds.
#include "production/report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace vorsal::production {
namespace {

ReportLine Line(const std::string& time, long long at, const std::string& address, const std::string& footprint,
                const std::string& result = "ok") {
  ReportLine line;
  line.time = time;
  line.at = at;
  line.runId = "r1";
  line.host = "st1";
  line.operatorName = "ivan";
  line.port = "/dev/ttyUSB0";
  line.adapter = "FTDI A1";
  line.operation = "batch";
  line.oldAddress = "0";
  line.oldNetwork = "service";
  line.newAddress = address;
  line.newNetwork = "working";
  line.footprint = footprint;
  line.result = result;
  return line;
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

std::string Build(const std::vector<ReportLine>& lines, std::size_t historyLimit = 20000) {
  ReportSource source;
  source.name = "journal.csv";
  source.lines = lines;
  return BuildReport(source, lines, {}, "2026-03-01T12:00:00+03:00", historyLimit);
}

TEST(Report, JournalTextCannotBecomeMarkupOrBreakTheEncoding) {
  ReportLine line = Line("2026-03-01T10:00:00+03:00", 1772348400, "5", "<b>fp</b>", "failed");
  line.host = "st\x1b[31m1\"'";
  line.operatorName = "\xff\xfe\xc0\xaf op";  // not UTF-8, and an overlong '/'
  line.message = "</td></table><script>alert(1)</script>&amp;";
  line.adapter = "</text><svg onload=alert(2)>";
  ReportSource source;
  source.name = "<journal>";
  source.lines = {line};
  source.skipped = 1;
  source.skippedLines = {{7, "<iframe src=x>"}};
  const std::string page = BuildReport(source, source.lines, {"<s>", "", "\"r", "st"}, "now");
  for (const char* raw : {"<script", "<b>", "<svg onload", "<iframe", "<journal>", "<s>", "\x1b", "\xff", "\xc0\xaf"}) {
    EXPECT_EQ(page.find(raw), std::string::npos) << raw;
  }
  EXPECT_NE(page.find("&lt;/td&gt;&lt;/table&gt;&lt;script&gt;alert(1)&lt;/script&gt;&amp;amp;"), std::string::npos);
  EXPECT_NE(page.find("st\uFFFD[31m1&quot;&#39;"), std::string::npos);
  EXPECT_EQ(HtmlText("Иванов €𝄞"), "Иванов €𝄞");
  EXPECT_EQ(HtmlText(std::string("a\0b", 3)), "a\uFFFDb");
  EXPECT_EQ(HtmlText("\xed\xa0\x80"), "\uFFFD\uFFFD\uFFFD");  // a surrogate's bytes
}

TEST(Report, AnAddressGivenToTwoModemsOfOneKeyIsRedAndOneModemWrittenTwiceIsNot) {
  // Every modem of one key reports the same footprint: it tells no modems apart.
  std::vector<ReportLine> lines = {
      Line("2026-03-01T10:00:00+03:00", 1772348400, "7", "AA"),
      Line("2026-03-01T10:02:00+03:00", 1772348520, "9", "AA"),
      Line("2026-03-01T10:03:00+03:00", 1772348580, "9", "AA"),  // a second modem at 9
      Line("2026-03-01T10:04:00+03:00", 1772348640, "12", "AA", "failed"),  // not given
  };
  ReportLine kept = Line("2026-03-01T10:05:00+03:00", 1772348700, "7", "AA", "ok");
  kept.oldAddress = "7";
  kept.oldNetwork = "working";  // the modem at 7 written again, its address left as it was
  lines.push_back(kept);
  const std::string page = Build(lines);
  EXPECT_EQ(Occurrences(page, "<rect class=double "), 1u);
  EXPECT_EQ(Occurrences(page, "<rect class=taken "), 1u);
  EXPECT_NE(page.find("<tr class=bad><td class=n>9</td><td>2026-03-01 10:02:00 +03:00 st1 /dev/ttyUSB0; 2026-03-01 10:03"),
            std::string::npos);
  // 0-6 and 8 lie below the highest address given: gaps, drawn as two runs.
  EXPECT_EQ(Occurrences(page, "<rect class=gap "), 2u);
}

TEST(Report, FilterBoundsAreInclusiveAndALineOfUnknownTimeIsOutsideAnyBound) {
  ReportLine line = Line("2026-03-01T10:00:00+03:00", 1000, "1", "AA");
  ReportFilter filter;
  EXPECT_TRUE(filter.Matches(line));
  filter.since = 1000;
  filter.until = 1000;
  EXPECT_TRUE(filter.Matches(line));
  filter.until = 999;
  EXPECT_FALSE(filter.Matches(line));
  filter.until.reset();
  line.at.reset();
  EXPECT_FALSE(filter.Matches(line));
  line.at = 2000;
  filter.station = "st2";
  EXPECT_FALSE(filter.Matches(line));
  filter.station = "st1";
  filter.runId = "r1";
  EXPECT_TRUE(filter.Matches(line));
}

TEST(Report, PageSizeIsBoundedWhateverTheJournalsTimesRunsHostsAndMessages) {
  // Lines decades apart (the per-hour chart must not draw every hour), and
  // a journal of single commands: every line its own run, station, adapter
  // and long message.
  std::vector<ReportLine> lines = {Line("1971-01-01T00:00:00Z", 31536000, "1", "AA"),
                                   Line("2026-03-01T10:00:00+03:00", 1772348400, "2", "BB")};
  for (int i = 0; i < 2000; ++i) {
    ReportLine line = Line("2026-03-01T10:00:00+03:00", 1772348400 + i, std::to_string(3 + i % 4000),
                           "F" + std::to_string(i), i % 2 ? "ok" : "failed");
    const std::string n = std::to_string(i);
    line.runId = "run" + n;
    line.host = "host" + n;
    line.adapter = "adapter" + n;
    line.message = n + std::string(1000, 'x');
    lines.push_back(line);
  }
  const std::string page = Build(lines, 10);
  EXPECT_LT(page.size(), 1000000u);
  EXPECT_NE(page.find("Показаны последние 10 модемов из 2002"), std::string::npos);
  EXPECT_EQ(Occurrences(page, "<tr class=modem>"), 10u);
  EXPECT_EQ(Occurrences(page, "<polyline class=series"), 10u);
  EXPECT_NE(page.find("остальные станции (1992)"), std::string::npos);
  EXPECT_NE(page.find("Показаны 400 из 2001;"), std::string::npos);  // runs, stations, adapters
}

}  // namespace
}  // namespace vorsal::production
