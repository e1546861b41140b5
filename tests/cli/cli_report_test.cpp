// vorsal-cli report and journal's filters on a fixed journal: an earlier
// version's lines with an address given twice, two stations' runs, a
// foreign line and fields a browser must not run. The report is opened in
// headless Chromium.
#include "tests/cli/report_browser.h"

#include <gtest/gtest.h>

#include <regex>
#include <sys/stat.h>

namespace vorsal::testing {
namespace {

constexpr const char* Header =
    "time,run_id,operator,host,port,adapter,operation,old_address,old_network,new_address,new_network,firmware,"
    "footprint,result,message\r\n";

// 11 lines (6 done, 3 failed, 1 refused, 1 interrupted) and one foreign
// line. Address 100 of the working network went to two modems.
const std::string FixedJournal =
    std::string("time,operator,host,port,operation,old_address,old_network,new_address,new_network,firmware,"
                "footprint,result,message\r\n") +
    "2026-02-28T07:00:00Z,petr,st0,/dev/ttyUSB0,write,0,service,100,working,1.1,AA.00.00.01,ok,\r\n"
    "2026-02-28T07:05:00Z,petr,st0,/dev/ttyUSB0,write,0,service,100,working,1.1,AA.00.00.02,ok,\r\n" + Header +
    "2026-03-01T10:00:00+03:00,r1,ivan,st1,/dev/ttyUSB0,FTDI A1,batch,0,service,10,working,1.2,B1,ok,\r\n"
    "2026-03-01T10:00:40+03:00,r1,ivan,st1,/dev/ttyUSB0,FTDI A1,batch,0,service,11,working,1.2,B2,ok,\r\n"
    "2026-03-01T10:01:30+03:00,r1,ivan,st1,/dev/ttyUSB1,FTDI B2,batch,0,service,0,service,1.2,,failed,нет ответа\r\n"
    "2026-03-01T10:02:00+03:00,r1,ivan,st1,/dev/ttyUSB1,FTDI B2,batch,0,service,0,service,1.2,,refused,нет ключа\r\n"
    "2026-03-01T10:03:00+03:00,r1,ivan,st1,/dev/ttyUSB1,FTDI B2,batch,0,service,0,service,1.2,,failed,нет ответа\r\n"
    "garbage,line\r\n"
    "2026-03-01T11:05:00+03:00,r1,ivan,st1,/dev/ttyUSB1,FTDI B2,batch,0,service,12,working,1.2,B3,ok,\r\n"
    "2026-03-02T09:00:00+03:00,r2,olga,st2,/dev/ttyACM0,CH340 X,batch,0,service,13,working,1.2,B4,ok,\r\n"
    "2026-03-02T09:00:30+03:00,r2,olga,st2,/dev/ttyACM0,CH340 X,batch,0,service,0,service,1.2,,interrupted,стоп\r\n"
    "2026-03-02T09:01:00+03:00,r2,=cmd|' /C calc'!A0,st2,/dev/ttyACM0,CH340 X,batch,0,service,0,service,1.2,,"
    "failed,<script>alert(1)</script><img src=x onerror=alert(2)>\r\n";

class CliReport : public CliSimTest {
 protected:
  void SetUp() override {
    CliSimTest::SetUp();
    test::WriteAll(journal, FixedJournal);
  }
  CliResult Cli(std::vector<std::string> args) const {
    std::unique_ptr<CliProcess> process = Start(args);
    const int status = process->Wait();
    return {status, process->Out(), process->Err()};
  }
  fs::path journal = dir / "journal.csv";
};

TEST_F(CliReport, ReportOpensInChromiumWithoutAnErrorAndItsFiguresMatchTheJournal) {
  const fs::path report = dir / "day.html";
  const CliResult made = Cli({"report", "--journal", journal.string(), "-o", report.string()});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_NE(made.err.find("skipped 1 torn or foreign line"), std::string::npos) << made.err;
  EXPECT_NE(made.err.find("earlier version"), std::string::npos) << made.err;
  EXPECT_EQ(::access(report.c_str(), F_OK), 0);

  // The figures of vorsal-cli journal, which the report's totals must match.
  const CliResult summary = Cli({"journal", "--journal", journal.string(), "--json"});
  ASSERT_EQ(summary.status, 0) << summary.err;
  int done = 0, failed = 0;
  const std::regex counts("\"done\":(\\d+),\"failed\":(\\d+)");
  for (auto it = std::sregex_iterator(summary.out.begin(), summary.out.end(), counts); it != std::sregex_iterator();
       ++it) {
    done += std::stoi((*it)[1]);
    failed += std::stoi((*it)[2]);
  }
  EXPECT_EQ(done, 6);

  if (ChromiumPath().empty()) GTEST_SKIP() << "chromium is not installed here (scripts/install-deps installs it)";
  const BrowserView view = OpenInBrowser(report, dir.path());
  ASSERT_TRUE(view.problem.empty()) << view.problem;
  EXPECT_TRUE(view.console.empty()) << view.console.front();
  EXPECT_EQ(view.probe.at("errors"), "");
  EXPECT_EQ(view.Count("scripts"), 2) << "only the probe's own scripts may run";
  EXPECT_EQ(view.Count("lines"), 11);
  EXPECT_EQ(view.Count("done"), done);
  EXPECT_EQ(view.Count("failed") + view.Count("refused") + view.Count("interrupted"), failed);
  // Modems by their last line: USB1's refusal and ACM0's interruption were
  // each followed by a failure of the same modem.
  EXPECT_EQ(failed, 2);
  EXPECT_EQ(view.Count("refused"), 0);
  EXPECT_EQ(view.Count("interrupted"), 0);
  EXPECT_EQ(view.Count("skipped"), 1);
  // One series per station; every modem after the first on its run and port
  // in the time distribution; one bar per adapter (the old lines name none).
  EXPECT_EQ(view.Count("series"), 3);
  EXPECT_EQ(view.Count("modems"), 7);
  EXPECT_EQ(view.Count("adapterBars"), 4);
  EXPECT_EQ(view.Count("badAdapterBars"), 1) << "FTDI B2 failed 3 of 4";
  // The working network: 10-13 once, 100 twice, in red.
  EXPECT_EQ(view.Count("plans"), 1);
  EXPECT_EQ(view.Count("taken"), 4);
  EXPECT_EQ(view.Count("doubles"), 1);
  EXPECT_EQ(view.Count("doubleRows"), 1);
  EXPECT_EQ(view.probe.at("doubleFill"), "rgb(224, 0, 0)");
}

TEST_F(CliReport, EmptyPeriodSaysSoAndAnUnwritableFileLeavesNoReport) {
  const fs::path report = dir / "empty.html";
  const CliResult empty =
      Cli({"report", "--journal", journal.string(), "--since", "2027-01-01", "-o", report.string()});
  ASSERT_EQ(empty.status, 0) << empty.err;
  EXPECT_NE(empty.err.find("no journal lines in the period chosen"), std::string::npos) << empty.err;
  EXPECT_NE(test::ReadAll(report).find("id=empty"), std::string::npos);

  // An existing report in a folder that takes no new file: the temporary
  // file cannot be made, and the old report stays whole.
  const fs::path locked = dir / "locked";
  fs::create_directory(locked);
  test::WriteAll(locked / "day.html", "old report");
  ::chmod(locked.c_str(), 0500);
  const CliResult refused = Cli({"report", "--journal", journal.string(), "-o", (locked / "day.html").string()});
  ::chmod(locked.c_str(), 0700);
  if (::geteuid() != 0) {
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.err.find("cannot write"), std::string::npos) << refused.err;
    EXPECT_EQ(test::ReadAll(locked / "day.html"), "old report");
  }
  const CliResult missing =
      Cli({"report", "--journal", journal.string(), "-o", (dir / "no" / "such" / "day.html").string()});
  EXPECT_EQ(missing.status, 1) << missing.err;
  EXPECT_NE(missing.err.find("cannot write"), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(dir / "no"));
}

TEST_F(CliReport, JournalFiltersExportTheChosenLinesInTheJournalsFormatAndForASpreadsheet) {
  // A day, a station: run r1's six lines of 1 March; the foreign line is not among them.
  const CliResult day = Cli({"journal", "--journal", journal.string(), "--since", "2026-03-01T00:00:00+03:00",
                             "--until", "2026-03-01T23:59:59+03:00", "--station", "st1", "--csv"});
  ASSERT_EQ(day.status, 0) << day.err;
  ASSERT_EQ(day.out.rfind(Header, 0), 0u) << day.out;
  EXPECT_EQ(std::count(day.out.begin(), day.out.end(), '\n'), 1 + 6);
  EXPECT_EQ(day.out.find("r2"), std::string::npos);
  EXPECT_EQ(day.out.find("garbage"), std::string::npos);

  // The summary of a filter counts only what it keeps.
  const CliResult run = Cli({"journal", "--journal", journal.string(), "--run", "r2"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("run r2"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("modems: done 1, failed 1"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("run r1"), std::string::npos) << run.out;

  const fs::path sheet = dir / "r2.csv";
  const CliResult exported =
      Cli({"journal", "--journal", journal.string(), "--run", "r2", "--spreadsheet", "-o", sheet.string()});
  ASSERT_EQ(exported.status, 0) << exported.err;
  const std::string text = test::ReadAll(sheet);
  ASSERT_EQ(text.rfind("\xEF\xBB\xBFtime;run_id;operator;", 0), 0u) << text;
  // A field a spreadsheet would run as a formula is kept as text.
  EXPECT_NE(text.find(";'=cmd|' /C calc'!A0;"), std::string::npos) << text;
  EXPECT_NE(text.find(";interrupted;стоп\r\n"), std::string::npos) << text;
}

// A torn quoted field hides nothing after it; a file that is not a journal,
// or no journal at all, is said to be so; what a field holds never reaches
// the terminal raw; one journal at a time.
TEST_F(CliReport, TheSummaryReadsPastATornLineRefusesWhatIsNoJournalAndEscapesFields) {
  test::WriteAll(journal, std::string(Header) +
                              "2026-03-01T10:00:00+03:00,r1,ivan,st1,/dev/ttyUSB0,,batch,0,service,10,working,1.2,B1,"
                              "ok,\"torn\r\n" +
                              "2026-03-01T11:00:00+03:00,r2,ivan,st\x1b]0;x\x07\xff,/dev/ttyUSB0,,batch,0,service,11,"
                              "working,1.2,B2,ok,\r\n");
  const CliResult torn = Cli({"journal", "--journal", journal.string()});
  EXPECT_EQ(torn.status, 0) << torn.err;
  EXPECT_NE(torn.out.find("run r2"), std::string::npos) << torn.out;
  EXPECT_NE(torn.err.find("skipped 1 torn or foreign line(s) of " + journal.string() + " (line 2)"), std::string::npos)
      << torn.err;
  EXPECT_EQ(torn.out.find('\x1b'), std::string::npos) << "no escape sequence reaches the terminal";
  EXPECT_NE(torn.out.find("st\\x1B]0;x\\x07\\xFF"), std::string::npos) << torn.out;

  for (const fs::path& foreign : {fs::path("/etc/passwd"), fs::path(VORSAL_CLI_EXE)}) {
    const CliResult refused = Cli({"journal", "--journal", foreign.string()});
    EXPECT_EQ(refused.status, 6) << foreign;
    EXPECT_NE(refused.err.find("is not a journal"), std::string::npos) << refused.err;
  }
  const CliResult none = Cli({"journal", "--journal", (dir / "none.csv").string()});
  EXPECT_EQ(none.status, 0) << none.err;
  EXPECT_NE(none.err.find("no journal yet"), std::string::npos) << none.err;
  EXPECT_EQ(Cli({"journal", "--journal", journal.string(), "--journal", "b.csv"}).status, 2);
}

}  // namespace
}  // namespace vorsal::testing
