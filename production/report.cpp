#include "production/report.h"

#include "platform/files.h"
#include "production/journal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <system_error>

namespace vorsal::production {

namespace {

// ---- Texts -------------------------------------------------------------------

// The length of the UTF-8 sequence at `at`, 0 when it is not one (overlong
// forms, surrogates and code points past U+10FFFF included).
std::size_t Utf8Length(std::string_view text, std::size_t at, char32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  char32_t min = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::string Number(long long value) { return std::to_string(value); }

// "12,5 %": one decimal, with the decimal comma of Russian texts.
std::string Percent(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", share * 100);
  std::string result = text;
  std::replace(result.begin(), result.end(), '.', ',');
  return result + "\u00a0%";
}

// ---- Times -------------------------------------------------------------------

struct Civil {
  int year, month, day;
};
// The civil date of a day count since 1970-01-01 (proleptic Gregorian).
Civil CivilFromDays(long long days) {
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long dayOfEra = days - era * 146097;
  const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long mp = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {static_cast<int>(yearOfEra + era * 400 + (month <= 2)), month, day};
}

long long FloorDiv(long long a, long long b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// The offset from UTC that a journal time carries, in seconds: 0 for "Z".
std::optional<long long> OffsetOf(std::string_view time) {
  if (time.size() < 20) return std::nullopt;
  const std::string_view zone = time.substr(19);
  if (zone == "Z") return 0;
  if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':') return std::nullopt;
  int hours = 0, minutes = 0;
  if (std::from_chars(zone.data() + 1, zone.data() + 3, hours).ec != std::errc() ||
      std::from_chars(zone.data() + 4, zone.data() + 6, minutes).ec != std::errc()) {
    return std::nullopt;
  }
  const long long offset = hours * 3600LL + minutes * 60LL;
  return zone[0] == '-' ? -offset : offset;
}

// A line's wall-clock time where it was written, in seconds since
// 1970-01-01 00:00 of that clock; none when its time cannot be read.
std::optional<long long> WallClock(const ReportLine& line) {
  const auto offset = OffsetOf(line.time);
  if (!line.at || !offset) return std::nullopt;
  return *line.at + *offset;
}

std::string DateText(long long wallSeconds) {
  const Civil civil = CivilFromDays(FloorDiv(wallSeconds, 86400));
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", civil.year, civil.month, civil.day);
  return text;
}

// "01.03 15:00": an hour on a chart's axis.
std::string HourLabel(long long wallSeconds) {
  const Civil civil = CivilFromDays(FloorDiv(wallSeconds, 86400));
  const long long hour = FloorDiv(wallSeconds, 3600) - FloorDiv(wallSeconds, 86400) * 24;
  char text[32];
  std::snprintf(text, sizeof text, "%02d.%02d %02lld:00", civil.day, civil.month, hour);
  return text;
}

// "2026-03-01 15:00:00 +03:00": the time as written, with its offset;
// earlier journals' UTC times say so.
std::string DisplayTime(const ReportLine& line) {
  if (!WallClock(line)) return line.time;
  std::string text = line.time.substr(0, 10) + " " + line.time.substr(11, 8);
  const std::string_view zone = std::string_view(line.time).substr(19);
  return text + (zone == "Z" ? std::string(" UTC") : " " + std::string(zone));
}

// ---- Counting ----------------------------------------------------------------

enum class Outcome { Done, Failed, Refused, Interrupted, Skipped, Other };
// The journal's results, with failures told apart; a line whose result is
// none of them counts as failed, as in the summaries of runs.
Outcome OutcomeOf(std::string_view result) {
  if (result == ResultOk) return Outcome::Done;
  if (result == ResultFailed) return Outcome::Failed;
  if (result == ResultRefused) return Outcome::Refused;
  if (result == ResultInterrupted) return Outcome::Interrupted;
  if (result == ResultSkipped) return Outcome::Skipped;
  return Outcome::Other;
}
bool IsFailure(Outcome outcome) {
  return outcome == Outcome::Failed || outcome == Outcome::Refused || outcome == Outcome::Interrupted ||
         outcome == Outcome::Other;
}

std::string OutcomeWord(std::string_view result) {
  switch (OutcomeOf(result)) {
    case Outcome::Done: return "готово";
    case Outcome::Failed: return "ошибка";
    case Outcome::Refused: return "отказ";
    case Outcome::Interrupted: return "прервано";
    case Outcome::Skipped: return "пропущено";
    case Outcome::Other: break;
  }
  return HtmlText(result);
}

struct Counts {
  long long lines = 0, done = 0, failed = 0, refused = 0, interrupted = 0, skipped = 0, other = 0;
  void Add(const ReportLine& line) {
    ++lines;
    switch (OutcomeOf(line.result)) {
      case Outcome::Done: ++done; break;
      case Outcome::Failed: ++failed; break;
      case Outcome::Refused: ++refused; break;
      case Outcome::Interrupted: ++interrupted; break;
      case Outcome::Skipped: ++skipped; break;
      case Outcome::Other: ++other; break;
    }
  }
  long long Failures() const { return failed + refused + interrupted + other; }
};

// "service" and "working" as the window names them; other texts as written.
std::string NetworkWord(std::string_view network) {
  if (network == "service") return "служебная";
  if (network == "working") return "рабочая";
  return HtmlText(network);
}

std::optional<int> AddressOf(std::string_view text) {
  int value = 0;
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() || value < 0 ||
      value > 4095) {
    return std::nullopt;
  }
  return value;
}

const char* const Palette[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#9467bd", "#8c564b",
                               "#e377c2", "#17becf", "#bcbd22", "#7f7f7f", "#393b79"};

// ---- The page ----------------------------------------------------------------

const char* const Style = R"css(
body{font:13px/1.35 "DejaVu Sans",Arial,sans-serif;color:#222;margin:16px auto;padding:0 12px;max-width:980px}
h1{font-size:20px;margin:0 0 6px}h2{font-size:16px;margin:22px 0 6px;border-bottom:1px solid #bbb;break-after:avoid}
h3{font-size:14px;margin:14px 0 4px;break-after:avoid}
table{border-collapse:collapse;margin:4px 0 10px}th,td{border:1px solid #ccc;padding:2px 6px;text-align:left;vertical-align:top}
th{background:#eee}td.n{text-align:right}tr{break-inside:avoid}
.warn{color:#a00}.note{color:#555}.bad{color:#c00;font-weight:bold}
svg{display:block;max-width:100%;height:auto;margin:4px 0 10px}svg text{font:11px "DejaVu Sans",Arial,sans-serif}
.free{fill:#f2f2f2}.gap{fill:#ffe08a}.taken{fill:#4c9a4c}.double{fill:#e00000}
.bar{fill:#4a7fb5}.bar.bad{fill:#e00000}.axis{stroke:#888;stroke-width:1}.grid{stroke:#ddd;stroke-width:1}
.series{fill:none;stroke-width:1.5}.legend{display:inline-block;width:10px;height:10px;margin:0 4px 0 10px}
tr.modem th{background:#f6f6f6;font-weight:normal}
@page{size:A4;margin:12mm}
@media print{body{margin:0;max-width:none;font-size:10px}h2{break-before:auto}svg{break-inside:avoid}}
)css";

class Page {
 public:
  std::string html;
  void Add(std::string_view text) { html += text; }
  void Text(std::string_view text) { html += HtmlText(text); }
  // A cell; HTML ends it at the next cell or row, which keeps a long table
  // small.
  void Cell(std::string_view text, bool number = false) {
    html += number ? "<td class=n>" : "<td>";
    html += text;
  }
};

// ---- Tables of totals --------------------------------------------------------

// The most rows a table of totals, reasons or bars shows: a journal of
// single commands has a run per line, and its hosts and messages are
// whatever it says, so the page stays readable and small whatever it holds.
constexpr std::size_t MostRows = 400, MostBars = 40, MostSeries = 10;
constexpr std::size_t MostText = 200;  // characters of a message shown

// A note under a table that shows `shown` of `total` rows.
void LeftOut(Page& page, std::size_t shown, std::size_t total) {
  if (shown >= total) return;
  page.Add("<p class=note>Показаны " + Number(static_cast<long long>(shown)) + " из " +
           Number(static_cast<long long>(total)) + "; остальные — в журнале (vorsal-cli journal --csv).</p>\n");
}

// At most MostText characters of `text`, never cutting one in two.
std::string Shortened(std::string_view text) {
  std::size_t at = 0, characters = 0;
  while (at < text.size() && characters < MostText) {
    ++at, ++characters;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  }
  return at < text.size() ? std::string(text.substr(0, at)) + "…" : std::string(text);
}

void CountsCells(Page& page, const Counts& counts) {
  page.Cell(Number(counts.lines), true);
  page.Cell(Number(counts.done), true);
  page.Cell(Number(counts.failed + counts.other), true);
  page.Cell(Number(counts.refused), true);
  page.Cell(Number(counts.interrupted), true);
  page.Cell(Number(counts.skipped), true);
}
constexpr std::string_view CountsHeader =
    "<th>строк</th><th>готово</th><th>ошибка</th><th>отказ</th><th>прервано</th><th>пропущено</th>";

void TotalsTable(Page& page, const char* title, const char* keyHeader,
                 const std::vector<std::pair<std::string, Counts>>& rows) {
  page.Add("<h3>");
  page.Add(title);
  page.Add("</h3><table class=totals><tr><th>");
  page.Add(keyHeader);
  page.Add("</th>");
  page.Add(CountsHeader);
  page.Add("</tr>\n");
  for (std::size_t i = 0; i < rows.size() && i < MostRows; ++i) {
    page.Add("<tr>");
    page.Cell(rows[i].first);
    CountsCells(page, rows[i].second);
    page.Add("\n");
  }
  page.Add("</table>\n");
  LeftOut(page, std::min(rows.size(), MostRows), rows.size());
}

// Rows of a map keyed by raw text, the key escaped (an empty one named).
std::vector<std::pair<std::string, Counts>> Rows(const std::map<std::string, Counts>& counts,
                                                 std::string_view emptyName) {
  std::vector<std::pair<std::string, Counts>> rows;
  for (const auto& [key, value] : counts) {
    rows.emplace_back(key.empty() ? std::string(emptyName) : HtmlText(key), value);
  }
  return rows;
}

void Totals(Page& page, const std::vector<ReportLine>& lines) {
  std::map<std::string, Counts> days, stations, operators, adapters;
  std::vector<std::string> runOrder;
  std::map<std::string, Counts> runs;
  std::map<std::string, std::pair<const ReportLine*, const ReportLine*>> runSpan;
  for (const ReportLine& line : lines) {
    const auto wall = WallClock(line);
    days[wall ? DateText(*wall) : std::string()].Add(line);
    stations[line.host].Add(line);
    operators[line.operatorName].Add(line);
    adapters[line.adapter.empty() ? "порт " + line.port : line.adapter].Add(line);
    auto [run, added] = runs.try_emplace(line.runId);
    if (added) runOrder.push_back(line.runId);
    run->second.Add(line);
    auto& span = runSpan[line.runId];
    if (!span.first) span.first = &line;
    span.second = &line;
  }
  page.Add("<h2>Итоги</h2>\n");
  TotalsTable(page, "По дням", "день", Rows(days, "(время не прочитано)"));
  page.Add("<h3>По запускам</h3><table class=totals><tr><th>запуск</th><th>станция</th><th>оператор</th>"
           "<th>первая строка</th><th>последняя строка</th>");
  page.Add(CountsHeader);
  page.Add("</tr>\n");
  // The latest runs, when there are too many.
  const std::size_t skippedRuns = runOrder.size() > MostRows ? runOrder.size() - MostRows : 0;
  for (std::size_t i = skippedRuns; i < runOrder.size(); ++i) {
    const std::string& id = runOrder[i];
    const auto& [first, last] = runSpan[id];
    page.Add("<tr>");
    page.Cell(id.empty() ? "(журнал прежней версии)" : HtmlText(id));
    page.Cell(HtmlText(first->host));
    page.Cell(HtmlText(first->operatorName));
    page.Cell(HtmlText(DisplayTime(*first)));
    page.Cell(HtmlText(DisplayTime(*last)));
    CountsCells(page, runs[id]);
    page.Add("\n");
  }
  page.Add("</table>\n");
  LeftOut(page, runOrder.size() - skippedRuns, runOrder.size());
  TotalsTable(page, "По станциям", "станция", Rows(stations, "(не указана)"));
  TotalsTable(page, "По операторам", "оператор", Rows(operators, "(не указан)"));
  TotalsTable(page, "По адаптерам", "адаптер", Rows(adapters, "(не указан)"));
}

void FailureReasons(Page& page, const std::vector<ReportLine>& lines) {
  std::map<std::string, long long> reasons;
  for (const ReportLine& line : lines) {
    if (IsFailure(OutcomeOf(line.result))) ++reasons[std::string(WithoutRepeatMark(line.message))];
  }
  page.Add("<h2>Причины неудач</h2>\n");
  if (reasons.empty()) {
    page.Add("<p>Неудач нет.</p>\n");
    return;
  }
  std::vector<std::pair<std::string, long long>> ranked(reasons.begin(), reasons.end());
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  page.Add("<table class=reasons><tr><th>причина</th><th>строк</th></tr>\n");
  for (std::size_t i = 0; i < ranked.size() && i < MostRows; ++i) {
    page.Add("<tr>");
    page.Cell(ranked[i].first.empty() ? "(без сообщения)" : HtmlText(Shortened(ranked[i].first)));
    page.Cell(Number(ranked[i].second), true);
    page.Add("\n");
  }
  page.Add("</table>\n");
  LeftOut(page, std::min(ranked.size(), MostRows), ranked.size());
}

// ---- Charts ------------------------------------------------------------------

constexpr int ChartWidth = 700, ChartHeight = 230, Left = 44, Right = 10, Top = 22, Bottom = 34;

std::string Coordinate(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// A value as an axis shows it: whole, or with one decimal after a comma.
std::string AxisNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, value == static_cast<long long>(value) ? "%.0f" : "%.1f", value);
  std::string result = text;
  std::replace(result.begin(), result.end(), '.', ',');
  return result;
}

// The top of a value axis of four steps, each step 1, 2 or 5 times a power
// of ten, so the ticks read as round numbers.
double AxisTop(double maxValue) {
  const double power = std::pow(10.0, std::floor(std::log10(std::max(maxValue, 1.0) / 4)));
  for (const double factor : {1.0, 2.0, 5.0}) {
    if (power * factor * 4 >= maxValue) return power * factor * 4;
  }
  return power * 40;
}

// Draws the value axis and returns its top.
double ValueAxis(Page& page, double maxValue, const char* unit) {
  const double top = AxisTop(maxValue);
  const int plotHeight = ChartHeight - Top - Bottom;
  for (int tick = 0; tick <= 4; ++tick) {
    const std::string y = Coordinate(Top + plotHeight - plotHeight * tick / 4.0);
    page.Add("<line class=grid x1=\"" + Number(Left) + "\" x2=\"" + Number(ChartWidth - Right) + "\" y1=\"" + y +
             "\" y2=\"" + y + "\"/><text x=\"" + Number(Left - 4) + "\" y=\"" + y +
             "\" text-anchor=\"end\" dy=\"4\">" + AxisNumber(top * tick / 4) + "</text>");
  }
  page.Add("<text x=\"4\" y=\"12\">");
  page.Add(unit);
  page.Add("</text>");
  return top;
}

void ModemsPerHour(Page& page, const std::vector<ReportLine>& lines) {
  std::map<std::string, std::map<long long, long long>> perStation;  // host -> bucket -> modems done
  long long first = 0, last = 0;
  bool any = false;
  for (const ReportLine& line : lines) {
    const auto wall = WallClock(line);
    if (!wall) continue;
    const long long hour = FloorDiv(*wall, 3600);
    first = any ? std::min(first, hour) : hour;
    last = any ? std::max(last, hour) : hour;
    any = true;
  }
  page.Add("<h2>Модемов в час</h2>\n");
  if (!any) {
    page.Add("<p>Нет строк с читаемым временем.</p>\n");
    return;
  }
  // A long period is drawn in buckets of whole days or weeks, each showing
  // the mean per hour, so the chart never holds more than a few thousand
  // points whatever the journal's times.
  long long bucketHours = 1;
  for (const long long size : {24LL, 24LL * 7, 24LL * 30, 24LL * 365}) {
    if ((last - first) / bucketHours <= 2000) break;
    bucketHours = size;
  }
  const long long buckets = (last - first) / bucketHours + 1;
  for (const ReportLine& line : lines) {
    const auto wall = WallClock(line);
    if (!wall) continue;
    auto& series = perStation[line.host];
    if (OutcomeOf(line.result) == Outcome::Done) ++series[(FloorDiv(*wall, 3600) - first) / bucketHours];
    else series.try_emplace((FloorDiv(*wall, 3600) - first) / bucketHours, 0);
  }
  // Many stations: the busiest keep a line each, the rest share one.
  if (perStation.size() > MostSeries) {
    std::vector<std::pair<long long, std::string>> busiest;
    for (const auto& [host, series] : perStation) {
      long long done = 0;
      for (const auto& [bucket, count] : series) done += count;
      busiest.emplace_back(done, host);
    }
    std::stable_sort(busiest.begin(), busiest.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::map<long long, long long> rest;
    for (std::size_t i = MostSeries - 1; i < busiest.size(); ++i) {
      for (const auto& [bucket, count] : perStation[busiest[i].second]) rest[bucket] += count;
      perStation.erase(busiest[i].second);
    }
    // Sorted after every host name, and shown as the others.
    perStation["\x7f" + Number(static_cast<long long>(busiest.size() - MostSeries + 1))] = std::move(rest);
  }
  double maxValue = 1;
  for (const auto& [host, series] : perStation) {
    for (const auto& [bucket, count] : series) maxValue = std::max(maxValue, double(count) / bucketHours);
  }
  if (bucketHours > 1) {
    page.Add("<p class=note>Период длинный: точка — среднее в час за " +
             std::string(bucketHours == 24 ? "сутки" : bucketHours == 24 * 7 ? "неделю" : bucketHours == 24 * 30 ? "30 дней" : "год") +
             ".</p>\n");
  }
  page.Add("<svg class=chart id=per-hour xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + Number(ChartWidth) +
           " " + Number(ChartHeight) + "\" width=\"" + Number(ChartWidth) + "\" height=\"" + Number(ChartHeight) +
           "\">");
  maxValue = ValueAxis(page, maxValue, "модемов/ч");
  const int plotWidth = ChartWidth - Left - Right, plotHeight = ChartHeight - Top - Bottom;
  const auto x = [&](long long bucket) {
    return Left + (buckets == 1 ? plotWidth / 2.0 : plotWidth * double(bucket) / double(buckets - 1));
  };
  const long long labelEvery = std::max<long long>(1, (buckets + 6) / 7);
  for (long long bucket = 0; bucket < buckets; bucket += labelEvery) {
    // The first label starts at the axis; none runs past the right edge.
    if (bucket > 0 && x(bucket) > ChartWidth - Right - 36) break;
    page.Add("<text x=\"" + Coordinate(x(bucket)) + "\" y=\"" + Number(ChartHeight - Bottom + 16) +
             "\" text-anchor=\"" + (bucket == 0 && buckets > 1 ? "start" : "middle") + "\">" +
             HourLabel((first + bucket * bucketHours) * 3600) + "</text>");
  }
  page.Add("<line class=axis x1=\"" + Number(Left) + "\" x2=\"" + Number(ChartWidth - Right) + "\" y1=\"" +
           Number(Top + plotHeight) + "\" y2=\"" + Number(Top + plotHeight) + "\"/>");
  std::size_t index = 0;
  std::string legend;
  for (const auto& [host, series] : perStation) {
    const char* colour = Palette[index++ % std::size(Palette)];
    page.Add("<polyline class=series stroke=\"");
    page.Add(colour);
    page.Add("\" points=\"");
    for (long long bucket = 0; bucket < buckets; ++bucket) {
      const auto found = series.find(bucket);
      const double value = found == series.end() ? 0 : double(found->second) / bucketHours;
      page.Add(Coordinate(x(bucket)) + "," + Coordinate(Top + plotHeight - plotHeight * value / maxValue) + " ");
    }
    const std::string name = host.empty()         ? std::string("(станция не указана)")
                             : host[0] == '\x7f' ? "остальные станции (" + host.substr(1) + ")"
                                                 : HtmlText(host);
    page.Add("\"><title>" + name + "</title></polyline>");
    legend += "<span class=legend style=\"background:" + std::string(colour) + "\"></span>" + name;
  }
  page.Add("</svg>\n<p>" + legend + "</p>\n");
}

void TimePerModem(Page& page, const std::vector<ReportLine>& lines) {
  // The time a modem takes is the time from the previous line of the same
  // run and port to its own line: the steps and the swap before them.
  std::map<std::pair<std::string, std::string>, long long> previous;
  std::vector<long long> durations;
  for (const ReportLine& line : lines) {
    if (!line.at) continue;
    const auto key = std::make_pair(line.runId, line.port);
    const auto found = previous.find(key);
    if (found != previous.end() && *line.at >= found->second) durations.push_back(*line.at - found->second);
    previous[key] = *line.at;
  }
  page.Add("<h2>Время на модем</h2>\n<p class=note>От предыдущей строки того же запуска и порта: работа с "
           "модемом и его замена.</p>\n");
  if (durations.empty()) {
    page.Add("<p>Нужно хотя бы два модема подряд на одном порту.</p>\n");
    return;
  }
  std::sort(durations.begin(), durations.end());
  const long long median = durations[durations.size() / 2];
  const long long high = durations[std::min(durations.size() - 1, durations.size() * 95 / 100)];
  long long width = 1;
  for (const long long step : {1LL, 2LL, 5LL, 10LL, 15LL, 30LL, 60LL, 120LL, 300LL, 600LL, 1800LL, 3600LL}) {
    width = step;
    if (high / step < 15) break;
  }
  const long long bins = std::min<long long>(high / width + 1, 16);
  std::vector<long long> counts(static_cast<std::size_t>(bins + 1), 0);  // the last one: longer
  for (const long long d : durations) ++counts[static_cast<std::size_t>(std::min(d / width, bins))];
  if (counts.back() == 0) counts.pop_back();
  const long long maxCount = *std::max_element(counts.begin(), counts.end());
  page.Add("<p>Медиана: " + Number(median) + " с, модемов: " + Number(static_cast<long long>(durations.size())) +
           ".</p>\n");
  page.Add("<svg class=chart id=per-modem xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + Number(ChartWidth) +
           " " + Number(ChartHeight) + "\" width=\"" + Number(ChartWidth) + "\" height=\"" + Number(ChartHeight) +
           "\">");
  const double top = ValueAxis(page, double(maxCount), "модемов");
  const int plotWidth = ChartWidth - Left - Right, plotHeight = ChartHeight - Top - Bottom;
  const double slot = double(plotWidth) / double(counts.size());
  for (std::size_t i = 0; i < counts.size(); ++i) {
    const double height = plotHeight * double(counts[i]) / top;
    const bool longer = static_cast<long long>(i) == bins;
    const std::string label = longer ? "≥" + Number(bins * width) : Number(static_cast<long long>(i) * width) + "–" +
                                                                         Number((static_cast<long long>(i) + 1) * width);
    page.Add("<rect class=bar x=\"" + Coordinate(Left + slot * i + 1) + "\" y=\"" +
             Coordinate(Top + plotHeight - height) + "\" width=\"" + Coordinate(slot - 2) + "\" height=\"" +
             Coordinate(height) + "\"><title>" + label + " с: " + Number(counts[i]) + "</title></rect>");
    if (i % (counts.size() > 8 ? 2 : 1) == 0 || longer) {
      page.Add("<text x=\"" + Coordinate(Left + slot * (i + 0.5)) + "\" y=\"" + Number(ChartHeight - Bottom + 16) +
               "\" text-anchor=\"middle\">" + label + "</text>");
    }
  }
  page.Add("<text x=\"" + Number(ChartWidth - Right) + "\" y=\"" + Number(ChartHeight - 4) +
           "\" text-anchor=\"end\">секунд</text></svg>\n");
}

void FailureRatePerAdapter(Page& page, const std::vector<ReportLine>& lines) {
  std::map<std::string, Counts> adapters;
  Counts all;
  for (const ReportLine& line : lines) {
    if (OutcomeOf(line.result) == Outcome::Skipped) continue;
    adapters[line.adapter.empty() ? "порт " + line.port : line.adapter].Add(line);
    all.Add(line);
  }
  page.Add("<h2>Доля неудач по адаптерам</h2>\n");
  if (adapters.empty()) {
    page.Add("<p>Нет строк.</p>\n");
    return;
  }
  std::vector<std::pair<std::string, Counts>> ranked(adapters.begin(), adapters.end());
  const auto rate = [](const Counts& c) { return c.lines ? double(c.Failures()) / double(c.lines) : 0.0; };
  std::stable_sort(ranked.begin(), ranked.end(), [&](const auto& a, const auto& b) { return rate(a.second) > rate(b.second); });
  const int rowHeight = 22, labelWidth = 260, barWidth = ChartWidth - labelWidth - 120;
  const std::size_t total = ranked.size();
  if (ranked.size() > MostBars) ranked.resize(MostBars);
  const int height = rowHeight * static_cast<int>(ranked.size()) + 8;
  page.Add("<p class=note>Красным — адаптер, у которого доля неудач вдвое выше, чем у остальных вместе, а неудач "
           "не меньше трёх.</p>\n");
  page.Add("<svg class=chart id=per-adapter xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + Number(ChartWidth) +
           " " + Number(height) + "\" width=\"" + Number(ChartWidth) + "\" height=\"" + Number(height) + "\">");
  int row = 0;
  for (const auto& [name, counts] : ranked) {
    const double share = rate(counts);
    const long long otherLines = all.lines - counts.lines, otherFailures = all.Failures() - counts.Failures();
    const double othersShare = otherLines > 0 ? double(otherFailures) / double(otherLines) : 0.0;
    const bool bad = counts.Failures() >= 3 && share >= 2 * othersShare;
    const int y = 4 + rowHeight * row++;
    std::string label = name;
    if (label.size() > 40) {
      std::size_t cut = 40;
      while (cut > 0 && (static_cast<unsigned char>(label[cut]) & 0xC0) == 0x80) --cut;
      label = label.substr(0, cut) + "…";
    }
    page.Add("<text x=\"" + Number(labelWidth - 6) + "\" y=\"" + Number(y + 14) + "\" text-anchor=\"end\">");
    page.Text(label);
    page.Add("<title>");
    page.Text(name);
    page.Add("</title></text><rect class=\"bar" + std::string(bad ? " bad" : "") + "\" x=\"" + Number(labelWidth) +
             "\" y=\"" + Number(y + 2) + "\" width=\"" + Coordinate(std::max(1.0, barWidth * share)) +
             "\" height=\"16\"/><text x=\"" + Coordinate(labelWidth + barWidth * share + 6) + "\" y=\"" +
             Number(y + 14) + "\">" + Number(counts.Failures()) + " из " + Number(counts.lines) + " (" +
             Percent(share) + ")</text>");
  }
  page.Add("</svg>\n");
  LeftOut(page, ranked.size(), total);
}

// ---- The address plan --------------------------------------------------------

void AddressPlan(Page& page, const std::vector<ReportLine>& lines) {
  // network -> address -> the lines that gave it. Each such line is a modem
  // of its own: modems of one key share its footprint, and a factory-default
  // modem has nothing else that tells it from the next.
  std::map<std::string, std::map<int, std::vector<const ReportLine*>>> networks;
  for (const ReportLine& line : lines) {
    if (OutcomeOf(line.result) != Outcome::Done) continue;
    const auto address = AddressOf(line.newAddress);
    if (!address || line.newNetwork.empty()) continue;
    // A line that left a modem's address as it was gives no address.
    if (line.oldAddress == line.newAddress && line.oldNetwork == line.newNetwork) continue;
    networks[line.newNetwork][*address].push_back(&line);
  }
  page.Add("<h2>План адресов</h2>\n");
  if (networks.empty()) {
    page.Add("<p>Адресов не выдано.</p>\n");
    return;
  }
  page.Add("<p><span class=legend style=\"background:#4c9a4c\"></span>выдан<span class=legend "
           "style=\"background:#ffe08a\"></span>пропуск (свободен ниже последнего выданного)<span class=legend "
           "style=\"background:#e00000\"></span>выдан дважды<span class=legend style=\"background:#f2f2f2\"></span>"
           "свободен</p>\n");
  constexpr int Cell = 8, Columns = 64;
  for (const auto& [network, taken] : networks) {
    const int highest = taken.rbegin()->first;
    std::vector<std::pair<int, const std::vector<const ReportLine*>*>> doubles;
    page.Add("<h3>Сеть: " + NetworkWord(network) + "</h3>\n<p>Выдано адресов: " +
             Number(static_cast<long long>(taken.size())) + ", наибольший: " + Number(highest) + ".</p>\n");
    page.Add("<svg class=\"plan\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + Number(Cell * Columns + 40) +
             " " + Number(Cell * Columns) + "\" width=\"" + Number(Cell * Columns + 40) + "\" height=\"" +
             Number(Cell * Columns) + "\"><rect class=free x=\"40\" y=\"0\" width=\"" + Number(Cell * Columns) +
             "\" height=\"" + Number(Cell * Columns) + "\"/>");
    for (int row = 0; row < Columns; row += 8) {
      page.Add("<text x=\"36\" y=\"" + Number(row * Cell + 8) + "\" text-anchor=\"end\">" + Number(row * Columns) +
               "</text>");
    }
    for (int row = 0; row * Columns <= highest; ++row) {
      // Gaps are drawn as runs along a row, taken cells one by one.
      int runStart = -1;
      for (int column = 0; column <= Columns; ++column) {
        const int address = row * Columns + column;
        const bool gap = column < Columns && address < highest && !taken.count(address);
        if (gap && runStart < 0) runStart = column;
        if (!gap && runStart >= 0) {
          page.Add("<rect class=gap x=\"" + Number(40 + runStart * Cell) + "\" y=\"" + Number(row * Cell) +
                   "\" width=\"" + Number((column - runStart) * Cell) + "\" height=\"" + Number(Cell) + "\"/>");
          runStart = -1;
        }
      }
    }
    for (const auto& [address, modems] : taken) {
      const bool twice = modems.size() > 1;
      if (twice) doubles.emplace_back(address, &modems);
      page.Add("<rect class=" + std::string(twice ? "double" : "taken") + " x=\"" +
               Number(40 + address % Columns * Cell) + "\" y=\"" + Number(address / Columns * Cell) + "\" width=\"" +
               Number(Cell - 1) + "\" height=\"" + Number(Cell - 1) + "\"><title>" + Number(address) +
               (twice ? " выдан " + Number(static_cast<long long>(modems.size())) + " модемам" : "") +
               "</title></rect>");
    }
    page.Add("</svg>\n");
    if (doubles.empty()) {
      page.Add("<p>Ни один адрес не выдан дважды.</p>\n");
      continue;
    }
    page.Add("<p class=bad>Адреса, выданные нескольким модемам: " + Number(static_cast<long long>(doubles.size())) +
             "</p>\n<table class=doubles><tr><th>адрес</th><th>выдан (время, станция, порт)</th></tr>\n");
    for (const auto& [address, modems] : doubles) {
      page.Add("<tr class=bad><td class=n>" + Number(address) + "</td><td>");
      std::size_t listed = 0;
      for (const ReportLine* modem : *modems) {
        if (listed == 6) {
          page.Add(" и ещё " + Number(static_cast<long long>(modems->size() - listed)));
          break;
        }
        if (listed++ > 0) page.Add("; ");
        page.Text(DisplayTime(*modem) + " " + modem->host + " " + Shortened(modem->port));
      }
      page.Add("</td></tr>\n");
    }
    page.Add("</table>\n");
  }
}

// ---- Each modem's history ----------------------------------------------------

void History(Page& page, const std::vector<ReportLine>& lines, std::size_t limit) {
  // A modem is placed by the address it was given or kept; a line with the
  // repeat mark joins the modem of the line before it on its run's port.
  // (Footprints tell no modems apart: every modem of one key has the same.)
  std::map<std::string, std::vector<const ReportLine*>> modems;
  std::map<std::pair<std::string, std::string>, std::string> lastOnPort;  // run and port -> modem
  for (const ReportLine& line : lines) {
    std::string& last = lastOnPort[{line.runId, line.port}];
    if (!IsRepeat(line) || last.empty()) {
      last = line.newNetwork + " " + (line.newAddress.empty() ? line.oldAddress : line.newAddress);
    }
    modems[last].push_back(&line);
  }
  std::vector<std::pair<long long, std::string>> byLast;
  for (const auto& [key, modemLines] : modems) {
    const ReportLine& last = *modemLines.back();
    byLast.emplace_back(last.at.value_or(0), key);
  }
  std::stable_sort(byLast.begin(), byLast.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  page.Add("<h2>История модемов</h2>\n<table class=history><tr><th>время</th><th>станция</th><th>оператор</th>"
           "<th>порт</th><th>действие</th><th>адрес</th><th>итог</th><th>сообщение</th></tr>\n");
  std::size_t shown = 0, modemsShown = 0;
  for (const auto& [last, key] : byLast) {
    const auto& modemLines = modems[key];
    if (shown > 0 && shown + modemLines.size() > limit) break;
    ++modemsShown;
    shown += modemLines.size();
    page.Add("<tr class=modem><th colspan=8>");
    {
      const ReportLine& line = *modemLines.front();
      page.Add("Адрес ");
      page.Text(line.newAddress.empty() ? line.oldAddress : line.newAddress);
      if (!line.newNetwork.empty()) page.Add(" (" + NetworkWord(line.newNetwork) + ")");
    }
    page.Add("</th></tr>\n");
    for (const ReportLine* line : modemLines) {
      const bool failure = IsFailure(OutcomeOf(line->result));
      page.Add(failure ? "<tr class=bad>" : "<tr>");
      page.Cell(HtmlText(DisplayTime(*line)));
      page.Cell(HtmlText(line->host));
      page.Cell(HtmlText(line->operatorName));
      page.Cell(HtmlText(line->port));
      page.Cell(HtmlText(line->operation));
      std::string address = HtmlText(line->oldAddress);
      if (line->newAddress != line->oldAddress || line->newNetwork != line->oldNetwork) {
        address += " → " + HtmlText(line->newAddress);
      }
      if (!line->newNetwork.empty()) address += " (" + NetworkWord(line->newNetwork) + ")";
      page.Cell(address);
      page.Cell(OutcomeWord(line->result));
      page.Cell(HtmlText(Shortened(line->message)));
      page.Add("\n");
    }
  }
  page.Add("</table>\n");
  if (modemsShown < byLast.size()) {
    page.Add("<p class=warn>Показаны последние " + Number(static_cast<long long>(modemsShown)) + " модемов из " +
             Number(static_cast<long long>(byLast.size())) +
             ". Сузьте период (--since, --until) или выберите запуск (--run), чтобы увидеть остальные.</p>\n");
  }
}

}  // namespace

std::string HtmlText(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    char32_t code = 0;
    const std::size_t length = Utf8Length(text, at, code);
    if (length == 0 || code < 0x20 || code == 0x7F || (code >= 0x80 && code <= 0x9F)) {
      escaped += "\uFFFD";
      at += length == 0 ? 1 : length;
      continue;
    }
    switch (code) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped.append(text.substr(at, length));
    }
    at += length;
  }
  return escaped;
}

ReportLine ReportLineOf(JournalRecord record) {
  ReportLine line;
  static_cast<JournalRecord&>(line) = std::move(record);
  line.at = ParseTimestamp(line.time);
  return line;
}

bool ReadJournalLines(const std::filesystem::path& file, ReportSource& source, std::string* error, bool* missing) {
  source.name = platform::Utf8FromPath(file);
  if (missing) *missing = false;
  switch (ReadJournal(
      file, [&source](JournalRecord& record) { source.lines.push_back(ReportLineOf(std::move(record))); }, source,
      error)) {
    case JournalFile::Read: break;
    case JournalFile::Missing:
      if (missing) return *missing = true;
      *error = "cannot read the journal " + source.name + ": " +
               std::make_error_code(std::errc::no_such_file_or_directory).message();
      return false;
    case JournalFile::Failed: return false;
  }
  if (source.NotAJournal()) {
    *error = NotAJournal(source.name);
    return false;
  }
  return true;
}

std::string JournalText(const std::vector<ReportLine>& lines, bool spreadsheet) {
  const char separator = spreadsheet ? ';' : ',';
  std::string text = spreadsheet ? "\xEF\xBB\xBF" : "";
  text += CsvLine(CsvHeaderNames(), separator);
  for (const ReportLine& line : lines) {
    std::vector<std::string> fields = CsvFieldsOf(line);
    // A spreadsheet runs a field that starts like a formula; a journal's
    // fields come from modems and users, so such a field is kept as text.
    for (std::string& field : fields) {
      if (spreadsheet && !field.empty() && std::string_view("=+-@\t\r").find(field[0]) != std::string_view::npos &&
          !AddressOf(field.substr(1))) {
        field = "'" + field;
      }
    }
    text += CsvLine(fields, separator);
  }
  return text;
}

bool ReportFilter::Matches(const ReportLine& line) const {
  if (!runId.empty() && line.runId != runId) return false;
  if (!station.empty() && line.host != station) return false;
  if ((since || until) && !line.at) return false;
  if (since && *line.at < *since) return false;
  if (until && *line.at > *until) return false;
  return true;
}

std::vector<ReportLine> FilterLines(const std::vector<ReportLine>& lines, const ReportFilter& filter) {
  std::vector<ReportLine> kept;
  for (const ReportLine& line : lines) {
    if (filter.Matches(line)) kept.push_back(line);
  }
  return kept;
}

std::string BuildReport(const ReportSource& source, const std::vector<ReportLine>& lines, const FilterWording& filter,
                        const std::string& generatedAt, std::size_t historyLimit) {
  Page page;
  page.html.reserve(256 + lines.size() * 200);
  page.Add("<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
           "<meta name=\"viewport\" content=\"width=device-width\">\n<title>Отчёт о производстве</title>\n<style>");
  page.Add(Style);
  page.Add("</style></head><body>\n<h1>Отчёт о производстве</h1>\n<p>Источник: ");
  if (source.fromRegistry) page.Add("реестр производства, ");
  page.Text(source.name);
  page.Add("<br>Составлен: ");
  ReportLine stamp;
  stamp.time = generatedAt;
  stamp.at = 0;  // only the text's own wall clock and offset are shown
  page.Text(DisplayTime(stamp));
  if (!filter.since.empty() || !filter.until.empty() || !filter.runId.empty() || !filter.station.empty()) {
    page.Add("<br>Отбор:");
    if (!filter.since.empty()) page.Add(" с " + HtmlText(filter.since));
    if (!filter.until.empty()) page.Add(" по " + HtmlText(filter.until));
    if (!filter.runId.empty()) page.Add(" запуск " + HtmlText(filter.runId));
    if (!filter.station.empty()) page.Add(" станция " + HtmlText(filter.station));
  }
  // The run's start and end lines touch no modem: only the runs' totals
  // read them.
  std::vector<ReportLine> withoutMarks;
  const bool marks = std::any_of(lines.begin(), lines.end(), [](const ReportLine& line) { return IsRunMark(line); });
  if (marks) {
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(withoutMarks),
                 [](const ReportLine& line) { return !IsRunMark(line); });
  }
  const std::vector<ReportLine>& modemLines = marks ? withoutMarks : lines;
  // Modems, counted as vorsal-cli journal counts them.
  RunSummary all;
  RunTally tally([&all](const RunSummary& run) {
    all.lines += run.lines, all.done += run.done, all.failed += run.failed, all.skipped += run.skipped;
    all.refused += run.refused, all.interrupted += run.interrupted;
  });
  const ReportLine* first = nullptr;
  const ReportLine* last = nullptr;
  for (const ReportLine& line : lines) {
    tally.Add(line);
    if (!line.at) continue;
    if (!first || *line.at < *first->at) first = &line;
    if (!last || *line.at >= *last->at) last = &line;
  }
  tally.Finish();
  if (first) page.Add("<br>Период: " + HtmlText(DisplayTime(*first)) + " — " + HtmlText(DisplayTime(*last)));
  page.Add("</p>\n");
  if (source.olderVersion) {
    page.Add("<p class=note>Часть журнала записана прежней версией программы: в её строках может не быть "
             "запуска, адаптера или отпечатка.</p>\n");
  }
  if (source.skipped > 0) {
    page.Add("<p class=warn id=skipped>Пропущено повреждённых или чужих строк: " + Number(source.skipped) +
             ".</p>\n<ul class=skipped>");
    for (const auto& skipped : source.skippedLines) {
      page.Add("<li>строка " + Number(skipped.line) + ": <code>" + HtmlText(skipped.excerpt) + "</code></li>");
    }
    if (source.skippedLines.size() < static_cast<std::size_t>(source.skipped)) page.Add("<li>…</li>");
    page.Add("</ul>\n");
  }
  if (modemLines.empty()) {
    page.Add("<p class=warn id=empty>За выбранный период в журнале нет строк.</p>\n</body></html>\n");
    return page.html;
  }
  page.Add("<table class=summary><tr><th>строк о модемах</th><th>модемов готово</th><th>с ошибкой</th><th>отказ</th>"
           "<th>прервано</th><th>пропущено</th></tr>\n<tr>");
  page.Cell(Number(all.lines), true);
  page.Cell(Number(all.done), true);
  page.Cell(Number(all.failed - all.refused - all.interrupted), true);
  page.Cell(Number(all.refused), true);
  page.Cell(Number(all.interrupted), true);
  page.Cell(Number(all.skipped), true);
  page.Add("</tr></table>\n<p class=note>Модем считается один раз, по последней его строке; строки о нём — "
           "это попытки.</p>\n");
  Totals(page, modemLines);
  FailureReasons(page, modemLines);
  ModemsPerHour(page, modemLines);
  TimePerModem(page, modemLines);
  FailureRatePerAdapter(page, modemLines);
  AddressPlan(page, modemLines);
  History(page, modemLines, historyLimit);
  page.Add("</body></html>\n");
  return page.html;
}

bool WriteOutputFile(const std::filesystem::path& file, std::string_view bytes, std::string& error) {
  std::filesystem::path target;
  std::string reason;
  if (!platform::ResolveForWrite(file, target, reason) || !platform::ReplaceFile(target, bytes, 0600, reason)) {
    error = "cannot write " + platform::Utf8FromPath(file) + ": " + reason;
    return false;
  }
  return true;
}

}  // namespace vorsal::production
