#include "window/production_run.h"

#include "keys/key_store.h"
#include "production/link_line.h"
#include "production/report.h"
#include "production/run_opening.h"
#include "production/system_ports.h"
#include "window/port_failure.h"
#include "window/texts.h"

#include <chrono>

namespace vorsal {

struct ProductionRun::Resources {
  production::Journal journal;
  production::RegistryLink registry;
  std::unique_ptr<production::Batch> batch;
};

namespace {

// The user's headline, then what the core said.
std::string Said(const char* headline, const std::string& detail) {
  return detail.empty() ? std::string(headline) : std::string(headline) + "\n" + detail;
}

// What the opening said besides, in the user's words.
std::string NoteWords(const production::OpeningNote& note) {
  using Kind = production::OpeningNote::Kind;
  switch (note.kind) {
    case Kind::JournalReadable: return texts::Worded(texts::NoteJournalReadable, {note.file});
    case Kind::RegistryPassword: return texts::NoteRegistryPassword;
    case Kind::RegistryWarning: return Said(texts::NoteRegistryWarning, note.detail);
    case Kind::SentEarlier: return texts::Worded(texts::NoteSentEarlier, {std::to_string(note.count)});
  }
  return note.text;
}

}  // namespace

std::vector<production::BatchPort> ProductionPorts(const std::string& heldByMainWindow) {
  std::vector<production::BatchPort> system;
  for (const production::SystemPort& port : production::ListSystemPorts()) {
    system.push_back({port.path, production::AdapterIdentity(port.usb)});
  }
  return ProductionModel::OfferedPorts(system, heldByMainWindow);
}

std::vector<production::BatchPort> RunPorts(const ProductionSettings& settings,
                                            const std::vector<production::BatchPort>& offered,
                                            const std::string& heldByMainWindow) {
  std::vector<production::BatchPort> ports;
  if (settings.allUsbAdapters) {
    for (const production::BatchPort& port : offered) {
      if (!port.adapter.empty()) ports.push_back(port);
    }
    return ports;
  }
  for (const std::string& path : settings.ports) {
    if (path == heldByMainWindow) continue;
    production::BatchPort port{path, {}};
    for (const production::BatchPort& known : offered) {
      if (known.path == path) port.adapter = known.adapter;
    }
    ports.push_back(port);
  }
  return ports;
}

std::filesystem::path RunJournalFile(const std::filesystem::path& journal) {
  return journal.empty() ? production::DefaultJournalFile() : journal;
}

bool WriteStationReport(const std::filesystem::path& journal, const std::filesystem::path& output,
                        std::string& error) {
  production::ReportSource source;
  std::string problem;
  if (!production::ReadJournalLines(RunJournalFile(journal), source, &problem)) {
    error = Said(texts::ReportJournalUnreadable, problem);
    return false;
  }
  const std::string html = production::BuildReport(source, source.lines, {}, production::LocalTimestamp());
  if (!production::WriteOutputFile(output, html, problem)) {
    error = Said(texts::ReportNotWritten, problem);
    return false;
  }
  return true;
}

ProductionRun::ProductionRun(ProductionModel& model, ProductionRunEnvironment environment)
    : model_(model), environment_(std::move(environment)) {}

ProductionRun::~ProductionRun() {
  if (Running()) {
    model_.Stop();
    model_.Stop();
  }
  Join();
}

void ProductionRun::Join() {
  if (worker_.joinable()) worker_.join();
  // What the registry said during the run (lines it refused and that were
  // set aside) is shown once the run has ended, with the opening's notes.
  if (resources_) {
    for (const std::string& notice : resources_->registry.TakeNotices()) {
      notes_.push_back(Said(texts::NoteRegistryWarning, notice));
    }
  }
  resources_.reset();
}

bool ProductionRun::Start(const ProductionRunSetup& setup, const KeyObtainHooks& keyHooks, std::string& error) {
  if (Running()) return false;
  notes_.clear();
  if (setup.ports.empty()) {
    error = texts::ProductionNoPorts;
    return false;
  }
  auto resources = std::make_unique<Resources>();

  const std::filesystem::path journalFile = RunJournalFile(setup.journal);
  if (journalFile.empty()) {
    error = texts::ProductionNoJournalPlace;
    return false;
  }
  // The registry first: a user it refuses leaves no trace, not even a
  // journal header.
  production::Opening opening = production::OpenRegistryFor(resources->registry, setup.settings.registry, journalFile,
                                                            production::RegistryLink::Use::Batch);
  for (const production::OpeningNote& note : opening.notes) notes_.push_back(NoteWords(note));
  if (!opening.Ok()) {
    error = Said(texts::ProductionRegistryFailed, opening.error);
    return false;
  }
  opening = production::OpenJournalFile(resources->journal, journalFile);
  for (const production::OpeningNote& note : opening.notes) notes_.push_back(NoteWords(note));
  if (!opening.Ok()) {
    error = Said(texts::ProductionJournalFailed, opening.error);
    return false;
  }

  production::BatchSettings batch;
  batch.ports = setup.ports;
  batch.network = setup.settings.network;
  batch.start = setup.settings.start;
  batch.count = setup.settings.count.value_or(0);
  batch.keyGiven = !TrimKeyName(setup.settings.keyName).empty();
  if (batch.keyGiven) {
    std::string detail;
    const std::optional<std::string> name = KeyNameFromUtf8(setup.settings.keyName, &detail);
    if (!name) {
      error = texts::KeyNameNotCp1251;
      return false;
    }
    KeyObtainer obtainer(*name, setup.keyStore.empty() ? KeyStorePath() : setup.keyStore);
    const KeySourceKind source = obtainer.Find();
    if (source == KeySourceKind::Damaged) {
      error = texts::StoredKeyDamaged;
      return false;
    }
    if (source == KeySourceKind::Derivation) {
      if (!obtainer.Derive(keyHooks)) {
        error = texts::ProductionKeyCancelled;
        return false;
      }
      const KeyStoring storing = obtainer.Store();
      if (storing == KeyStoring::NotStorable) notes_.push_back(texts::KeyNameNotStored);
      if (storing == KeyStoring::Failed) notes_.push_back(Said(texts::KeyNotCached, obtainer.StoreError()));
    }
    batch.key = obtainer.Key();
  }

  if (!model_.Start(setup.settings, setup.ports, error)) return false;
  resources->registry.SetStopRequests([this] { return model_.StopRequests(); });
  production::BatchEnvironment environment;
  environment.openLine = environment_.openLine;
  if (!environment.openLine) {
    const int connectionType = setup.connectionType;
    environment.openLine = [connectionType](const std::string& path) {
      return production::MakeLinkLine(path, connectionType, nullptr, 0, [](const std::string& port, int code) {
        return "\n" + DescribePortOpenFailure(port, code, {});
      });
    };
  }
  environment.sleep = environment_.sleep;
  if (!environment.sleep) {
    environment.sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  }
  environment.stopRequests = [this] { return model_.StopRequests(); };
  resources->batch = std::make_unique<production::Batch>(std::move(batch), std::move(environment), resources->journal,
                                                         resources->registry, production::CurrentRun(), model_);
  resources_ = std::move(resources);
  returned_ = false;
  production::Batch* running = resources_->batch.get();
  worker_ = std::thread([this, running] {
    const production::BatchResult result = running->Run();
    model_.Finished(result);
    returned_ = true;
  });
  return true;
}

void ProductionRun::Stop() { model_.Stop(); }

void ProductionRun::PortsChanged(const std::vector<production::BatchPort>& present) {
  const std::vector<production::BatchPort> joining = model_.PortsChanged(present);
  if (!resources_ || !resources_->batch) return;
  for (const production::BatchPort& port : joining) resources_->batch->Join(port);
}

bool ProductionRun::Poll() {
  if (!Running() || !returned_) return false;
  Join();
  return true;
}

}  // namespace vorsal
