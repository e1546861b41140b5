// The production report from a 100,000-line journal: the journal read and
// parsed, the lines filtered, the page built and written whole, as
// `vorsal-cli report` does. The page's size is reported as a counter.
#include <benchmark/benchmark.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "production/report.h"

namespace {

namespace fs = std::filesystem;

// Four stations with two adapters each over about two months: one modem in
// twelve fails once before it is done, every 400th run is stopped.
fs::path Journal(int lines) {
  const fs::path file = fs::temp_directory_path() / ("vorsal-report-bench-" + std::to_string(lines) + ".csv");
  if (fs::exists(file)) return file;
  std::ofstream out(file, std::ios::binary);
  out << "time,run_id,operator,host,port,adapter,operation,old_address,old_network,new_address,new_network,"
         "firmware,footprint,result,message\r\n";
  const long long start = 1772348400;  // 2026-03-01T10:00:00+03:00
  for (int i = 0; i < lines; ++i) {
    const int station = i % 4, adapter = (i / 4) % 2, modem = i - i / 12;
    const long long at = start + static_cast<long long>(i) * 50;
    const std::time_t local = static_cast<std::time_t>(at + 3 * 3600);
    char time[40];
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S+03:00", std::gmtime(&local));
    const bool failed = i % 12 == 11, stopped = i % 4800 == 4799;
    const int address = 1 + modem % 4095;
    out << time << ",run" << (i / 2000) << station << ",operator" << station << ",station-" << station
        << ",/dev/ttyUSB" << adapter << ",FTDI " << station << adapter << ",batch,0,service,"
        << (failed ? "0" : std::to_string(address)) << "," << (failed ? "service" : "working") << ",1.2,"
        << (failed ? "" : "F" + std::to_string(modem)) << ","
        << (stopped ? "interrupted,stopped" : failed ? "failed,no reply" : "ok,") << "\r\n";
  }
  return file;
}

void BM_Report(benchmark::State& state) {
  const fs::path journal = Journal(static_cast<int>(state.range(0)));
  const fs::path output = fs::temp_directory_path() / "vorsal-report-bench.html";
  std::size_t size = 0;
  for (auto _ : state) {
    vorsal::production::ReportSource source;
    std::string error;
    if (!vorsal::production::ReadJournalLines(journal, source, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    const auto lines = vorsal::production::FilterLines(source.lines, {});
    const std::string html = vorsal::production::BuildReport(source, lines, {}, "2026-05-01T12:00:00+03:00");
    if (!vorsal::production::WriteOutputFile(output, html, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    size = html.size();
  }
  state.counters["html_MB"] = static_cast<double>(size) / 1e6;
  fs::remove(output);
}
BENCHMARK(BM_Report)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
