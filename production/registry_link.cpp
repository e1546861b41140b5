#include "production/registry_link.h"

#include <cstdlib>

#ifdef VORSAL_HAVE_REGISTRY
#include <atomic>
#include <mutex>
#include <utility>

#include "platform/files.h"
#include "registry/registry.h"
#include "registry/spool.h"
#endif

namespace vorsal::production {

#ifdef VORSAL_HAVE_REGISTRY

struct RegistryLink::State {
  std::mutex mutex;  // one command at a time on the connection
  registry::Registry registry{RegistryColumns()};
  std::unique_ptr<registry::Spool> spool;
  std::atomic<int> sequence{0};
  bool lost = false;
  std::vector<std::string> notices;  // said by TakeNotices
};

RegistryLink::RegistryLink() : state_(std::make_unique<State>()) {}
RegistryLink::~RegistryLink() = default;

std::string RegistryLink::Target(const std::string& fromCommandLine) {
  return registry::RegistryTarget(fromCommandLine);
}

bool RegistryLink::CheckTarget(const std::string& target, bool& holdsPassword, std::string& error) {
  const registry::TargetCheck check = registry::CheckTarget(target);
  holdsPassword = check.holdsPassword;
  error = check.error;
  return check.readable;
}

bool RegistryLink::Available(std::string& error) { return registry::Available(error); }

bool RegistryLink::Open(const std::string& target, const std::filesystem::path& spool, Use use, int& sent,
                        std::string& error) {
  sent = 0;
  spool_ = spool;
  if (state_->registry.Connect(target, error, use == Use::Init) != registry::Status::Ok) return false;
  if (use == Use::Batch && state_->registry.CheckPrivileges(error) != registry::Status::Ok) return false;
  active_ = true;
  if (use == Use::Init) return true;
  // Lines kept before lines named their registry were kept by a batch of
  // this station: they go to the registry its batches use, never to one a
  // supervisor only reads.
  state_->spool = std::make_unique<registry::Spool>(spool, use == Use::Batch);
  registry::SendReport report;
  if (state_->spool->Send(state_->registry, report, error) != registry::Status::Ok) {
    active_ = false;
    return false;
  }
  sent = report.sent;
  std::vector<std::string>& notices = state_->notices;
  if (!error.empty()) notices.push_back(error);  // the lines went, but the file could not be rewritten
  error.clear();
  if (report.unreadable > 0) {
    notices.push_back(std::to_string(report.unreadable) + " damaged line(s) of " + platform::Utf8FromPath(spool) +
                      " could not be sent (they are in the local journal)");
  }
  if (std::string notice = registry::SetAsideNotice(report, *state_->spool); !notice.empty()) {
    notices.push_back(std::move(notice));
  }
  for (const auto& [id, waiting] : report.waiting) {
    const std::string lines = std::to_string(waiting.count) + " journal line(s) in " + platform::Utf8FromPath(spool);
    notices.push_back(id.empty() ? lines + " wait for this station's next batch, to go to its registry"
                                 : lines + " wait for another registry, " +
                                       (waiting.name.empty() ? "" : waiting.name + ", ") + "of identity " + id);
  }
  return true;
}

std::vector<std::string> RegistryLink::TakeNotices() {
  const std::lock_guard<std::mutex> guard(state_->mutex);
  return std::exchange(state_->notices, {});
}

void RegistryLink::SetStopRequests(std::function<int()> stopRequests) {
  state_->registry.SetStopRequests(std::move(stopRequests));
}

RegistryLink::Take RegistryLink::TakeAddress(int network, int from, int last, const RunIdentity& run,
                                             const std::string& port, int& address, std::string& error) {
  const std::lock_guard<std::mutex> guard(state_->mutex);
  if (state_->lost) {
    error = "the registry was lost earlier in this run";
    return Take::Lost;
  }
  switch (state_->registry.TakeAddress(network, from, last, {run.runId, run.host, run.operatorName, port}, address,
                                       error)) {
    case registry::Status::Ok:
      return Take::Ok;
    case registry::Status::Exhausted:
      return Take::Exhausted;
    case registry::Status::Stopped:
      return Take::Stopped;
    case registry::Status::Failed:
      return Take::Refused;
    default:
      state_->lost = true;
      return Take::Lost;
  }
}

void RegistryLink::Release(int network, int address, const RunIdentity& run) {
  const std::lock_guard<std::mutex> guard(state_->mutex);
  std::string ignored;
  // Left taken when this fails: a gap in the plan, never a second modem.
  if (!state_->lost) state_->registry.ReleaseAddress(network, address, run.runId, ignored);
}

bool RegistryLink::Record(const JournalRecord& record, std::string& error) {
  JournalRecord numbered = record;
  numbered.lineId = record.runId + ":" + std::to_string(++state_->sequence);
  const registry::Row line = RegistryRowOf(numbered);
  const std::lock_guard<std::mutex> guard(state_->mutex);
  if (!state_->lost) {
    registry::SendReport report;
    const registry::Status status = registry::RecordOrKeep(state_->registry, *state_->spool, line, report, error);
    if (std::string notice = registry::SetAsideNotice(report, *state_->spool); !notice.empty()) {
      state_->notices.push_back(std::move(notice));
    }
    if (status == registry::Status::Ok) return true;
    state_->lost = true;
    if (status == registry::Status::Unreachable) return false;  // kept by RecordOrKeep
  }
  std::string reason;
  if (!state_->spool->Keep(state_->registry, line, reason)) error += (error.empty() ? "" : "; ") + reason;
  if (error.empty()) error = "the registry was lost earlier in this run";
  return false;
}

bool RegistryLink::Init(std::string& description, std::string& error) {
  description = state_->registry.Describe();
  return state_->registry.Init(error) == registry::Status::Ok;
}

bool RegistryLink::Records(std::vector<JournalRecord>& records, std::string& error) {
  std::vector<registry::Row> rows;
  if (state_->registry.Lines(rows, error) != registry::Status::Ok) return false;
  records.clear();
  for (const registry::Row& row : rows) {
    if (RecordFromRegistryRow(row, records.emplace_back())) continue;
    records.pop_back();
  }
  return true;
}

std::string RegistryLink::Describe() const { return state_->registry.Describe(); }

bool RegistryLink::Summary(std::vector<RunSummary>& runs, std::string& error) {
  std::vector<JournalRecord> records;
  if (!Records(records, error)) return false;
  runs = SummarizeRuns(records);
  return true;
}

#else

namespace {
constexpr const char* NotBuilt = "this vorsal-cli was built without the production registry (libpq)";
}

struct RegistryLink::State {};
RegistryLink::RegistryLink() = default;
RegistryLink::~RegistryLink() = default;
// A registry named on a station without it must stop the batch, never be
// passed over: the station would hand out addresses of its own.
std::string RegistryLink::Target(const std::string& fromCommandLine) {
  if (!fromCommandLine.empty()) return fromCommandLine;
  const char* fromEnvironment = std::getenv("VORSAL_REGISTRY");
  return fromEnvironment ? fromEnvironment : "";
}
bool RegistryLink::CheckTarget(const std::string&, bool& holdsPassword, std::string& error) {
  holdsPassword = false;
  error.clear();
  return true;
}
bool RegistryLink::Available(std::string& error) {
  error = NotBuilt;
  return false;
}
bool RegistryLink::Open(const std::string&, const std::filesystem::path&, Use, int& sent, std::string& error) {
  sent = 0;
  error = NotBuilt;
  return false;
}
RegistryLink::Take RegistryLink::TakeAddress(int, int, int, const RunIdentity&, const std::string&, int&,
                                             std::string& error) {
  error = NotBuilt;
  return Take::Lost;
}
void RegistryLink::SetStopRequests(std::function<int()>) {}
void RegistryLink::Release(int, int, const RunIdentity&) {}
bool RegistryLink::Record(const JournalRecord&, std::string& error) {
  error = NotBuilt;
  return false;
}
bool RegistryLink::Init(std::string&, std::string& error) {
  error = NotBuilt;
  return false;
}
bool RegistryLink::Summary(std::vector<RunSummary>&, std::string& error) {
  error = NotBuilt;
  return false;
}

bool RegistryLink::Records(std::vector<JournalRecord>&, std::string& error) {
  error = NotBuilt;
  return false;
}

std::string RegistryLink::Describe() const { return {}; }
std::vector<std::string> RegistryLink::TakeNotices() { return {}; }

#endif

}  // namespace vorsal::production
