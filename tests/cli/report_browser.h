// The production report opened in headless Chromium: a copy of the page
// with a probe script that records errors from its first moment on and, once
// the page is laid out, writes what it counted into the DOM, which Chromium
// dumps. Console messages come from Chromium's own log; the report itself
// logs none, so any is a fault.
#pragma once

#include "tests/cli/cli_fixture.h"

#include <cstdlib>
#include <map>
#include <sstream>

namespace vorsal::testing {

// The browser, or empty when it is not installed here.
inline fs::path ChromiumPath() {
  for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
    if (::access(candidate, X_OK) == 0) return candidate;
  }
  return {};
}

struct BrowserView {
  std::string problem;               // set when the browser could not show the page
  std::vector<std::string> console;  // console messages (errors, refused loads)
  std::map<std::string, std::string> probe;
  int Count(const std::string& key) const {
    const auto found = probe.find(key);
    return found == probe.end() ? -1 : std::atoi(found->second.c_str());
  }
};

// Runs before anything else on the page: every error, refused load and
// console error is recorded.
constexpr const char* ProbeHead = R"js(<script>
window.probeErrors = [];
window.addEventListener('error', e => probeErrors.push('error: ' + e.message));
document.addEventListener('securitypolicyviolation', e => probeErrors.push('refused: ' + e.blockedURI));
const consoleError = console.error;
console.error = (...a) => { probeErrors.push('console: ' + a.join(' ')); consoleError(...a); };
</script>)js";

// Counts the report's elements and reads its figures once it is laid out.
constexpr const char* ProbeTail = R"js(<script>
const n = s => document.querySelectorAll(s).length;
const cell = (table, i) => { const c = document.querySelectorAll(table + ' tr:nth-child(2) td')[i]; return c ? c.textContent : ''; };
let modems = 0;
document.querySelectorAll('#per-modem rect.bar title').forEach(t => modems += parseInt(t.textContent.split(': ')[1]));
const double = document.querySelector('rect.double');
const r = {
  series: n('#per-hour polyline.series'), modemBars: n('#per-modem rect.bar'), modems: modems,
  adapterBars: n('#per-adapter rect.bar'), badAdapterBars: n('#per-adapter rect.bar.bad'),
  plans: n('svg.plan'), taken: n('rect.taken'), doubles: n('rect.double'),
  doubleFill: double ? getComputedStyle(double).fill : '', doubleRows: n('table.doubles tr.bad'),
  lines: cell('table.summary', 0), done: cell('table.summary', 1), failed: cell('table.summary', 2),
  refused: cell('table.summary', 3), interrupted: cell('table.summary', 4),
  skipped: (document.getElementById('skipped') || {textContent: ''}).textContent.replace(/\D/g, ''),
  empty: n('#empty'), scripts: n('script'), errors: probeErrors.join(' | ')};
const pre = document.createElement('pre');
pre.id = 'probe';
pre.textContent = '\n' + Object.entries(r).map(([k, v]) => k + '=' + v).join('\n') + '\n';
document.body.appendChild(pre);
</script>)js";

// Opens `report` (a copy with the probe, in `work`) in one browser run.
inline BrowserView OpenInBrowser(const fs::path& report, const fs::path& work) {
  BrowserView view;
  std::string page = test::ReadAll(report);
  // The report forbids every script; the probe's copy allows inline ones
  // and nothing else, so a load from anywhere is still refused and logged.
  const std::string policy = "default-src 'none';";
  const std::size_t at = page.find(policy);
  const std::size_t head = page.find("<head>");
  const std::size_t end = page.rfind("</body>");
  if (at == std::string::npos || head == std::string::npos || end == std::string::npos) {
    view.problem = "the page has no content policy, head or body end";
    return view;
  }
  page.insert(end, ProbeTail);
  page.insert(at + policy.size(), " script-src 'unsafe-inline';");
  page.insert(page.find("</head>"), ProbeHead);
  const fs::path probed = work / "probed.html";
  test::WriteAll(probed, page);
  CliProcess browser(ChromiumPath(),
                     {"--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                      "--disable-component-update", "--disable-sync", "--no-first-run",
                      "--user-data-dir=" + (work / "browser-profile").string(), "--enable-logging=stderr", "--v=0",
                      "--dump-dom", "file://" + probed.string()},
                     {}, work / "dom.html", work / "browser.log");
  const int status = browser.Wait(120000);
  const std::string dom = browser.Out();
  std::istringstream log(browser.Err());
  for (std::string line; std::getline(log, line);) {
    if (line.find(":CONSOLE") != std::string::npos) view.console.push_back(line);
  }
  const std::size_t probe = dom.find("<pre id=\"probe\">");
  if (status != 0 || probe == std::string::npos) {
    view.problem = "the browser ended with " + std::to_string(status) + " and no probe: " + browser.Err();
    return view;
  }
  std::istringstream lines(dom.substr(probe, dom.find("</pre>", probe) - probe));
  for (std::string line; std::getline(lines, line);) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) view.probe[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return view;
}

}  // namespace vorsal::testing
