#include <windows.h>

#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/libpq.h"
#include "platform/process.h"
#include "platform/win32_text.h"

namespace vorsal::platform {

namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The DLLs a module imports, read from its image mapped without resolving
// them.
std::vector<std::string> Imports(const fs::path& module) {
  std::vector<std::string> names;
  const HMODULE image = ::LoadLibraryExW(module.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (image == nullptr) return names;
  const auto* base = reinterpret_cast<const unsigned char*>(image);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress != 0) {
    for (const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         entry->Name != 0; ++entry) {
      names.emplace_back(reinterpret_cast<const char*>(base + entry->Name));
    }
  }
  ::FreeLibrary(image);
  return names;
}

// The first DLL that `module` needs, directly or through the DLLs beside
// it, and that the system cannot load; empty when none is missing.
std::string MissingDependency(const fs::path& module, std::set<std::string>& seen) {
  const fs::path folder = module.parent_path();
  for (const std::string& name : Imports(module)) {
    if (!seen.insert(Lower(name)).second) continue;
    const fs::path beside = folder / WideFromUtf8(name);
    std::error_code ec;
    if (fs::exists(beside, ec)) {
      std::string missing = MissingDependency(beside, seen);
      if (!missing.empty()) return missing;
      continue;
    }
    const HMODULE loaded = ::LoadLibraryW(WideFromUtf8(name).c_str());
    if (loaded == nullptr) return name;
    ::FreeLibrary(loaded);
  }
  return {};
}

bool IsVisualCRuntime(const std::string& dll) {
  const std::string name = Lower(dll);
  return name.starts_with("vcruntime") || name.starts_with("msvcp") || name.starts_with("api-ms-win-crt-") ||
         name == "ucrtbase.dll";
}

template <typename Function>
bool Resolve(HMODULE library, const char* name, Function& function, std::string& missing) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
  if (function == nullptr && missing.empty()) missing = name;
  return function != nullptr;
}

struct Loaded {
  Pq pq{};
  bool ok = false;
  std::string error;
};

Loaded Load() {
  Loaded out;
  const fs::path folder = fs::path(WideFromUtf8(ExecutablePath())).parent_path();
  const fs::path dll = folder / L"libpq.dll";
  const std::string where = Utf8FromWide(folder.wstring());
  std::error_code ec;
  if (!fs::exists(dll, ec)) {
    out.error = "the registry needs libpq.dll and its DLLs beside the program, and " + where +
                " has none: install Vorsal with its registry component, or copy them from Vorsal's zip";
    return out;
  }
  // The DLLs it needs are looked for in its folder first.
  const HMODULE library = ::LoadLibraryExW(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == nullptr) {
    const DWORD code = ::GetLastError();
    std::set<std::string> seen;
    const std::string missing = MissingDependency(dll, seen);
    if (missing.empty()) {
      out.error = "libpq.dll in " + where + " cannot be loaded: " + SystemErrorText(static_cast<int>(code));
    } else if (IsVisualCRuntime(missing)) {
      out.error = std::string("libpq.dll needs the Microsoft Visual C++ runtime, which is not installed (") +
                  missing + " is missing): install the Microsoft Visual C++ Redistributable for Visual Studio " +
                  "2015-2022 (" + (sizeof(void*) == 8 ? "x64" : "x86") + ")";
    } else {
      out.error = "libpq.dll in " + where + " needs " + missing +
                  ", which is missing: install Vorsal with its registry component again";
    }
    return out;
  }
  Pq& t = out.pq;
  std::string lacking;
  Resolve(library, "PQconnectdbParams", t.connectdbParams, lacking);
  Resolve(library, "PQfinish", t.finish, lacking);
  Resolve(library, "PQreset", t.reset, lacking);
  Resolve(library, "PQstatus", t.status, lacking);
  Resolve(library, "PQtransactionStatus", t.transactionStatus, lacking);
  Resolve(library, "PQerrorMessage", t.errorMessage, lacking);
  Resolve(library, "PQdb", t.db, lacking);
  Resolve(library, "PQhost", t.host, lacking);
  Resolve(library, "PQuser", t.user, lacking);
  Resolve(library, "PQconnectionNeedsPassword", t.connectionNeedsPassword, lacking);
  Resolve(library, "PQconnectionUsedPassword", t.connectionUsedPassword, lacking);
  Resolve(library, "PQsetNoticeProcessor", t.setNoticeProcessor, lacking);
  Resolve(library, "PQexec", t.exec, lacking);
  Resolve(library, "PQexecParams", t.execParams, lacking);
  Resolve(library, "PQresultStatus", t.resultStatus, lacking);
  Resolve(library, "PQresultErrorMessage", t.resultErrorMessage, lacking);
  Resolve(library, "PQresultErrorField", t.resultErrorField, lacking);
  Resolve(library, "PQntuples", t.ntuples, lacking);
  Resolve(library, "PQgetisnull", t.getisnull, lacking);
  Resolve(library, "PQgetvalue", t.getvalue, lacking);
  Resolve(library, "PQcmdTuples", t.cmdTuples, lacking);
  Resolve(library, "PQclear", t.clear, lacking);
  Resolve(library, "PQgetCancel", t.getCancel, lacking);
  Resolve(library, "PQcancel", t.cancel, lacking);
  Resolve(library, "PQfreeCancel", t.freeCancel, lacking);
  Resolve(library, "PQconninfoParse", t.conninfoParse, lacking);
  Resolve(library, "PQconninfoFree", t.conninfoFree, lacking);
  Resolve(library, "PQfreemem", t.freemem, lacking);
  if (!lacking.empty()) {
    out.error = "libpq.dll in " + where + " has no " + lacking + ": it is older than this program needs";
    ::FreeLibrary(library);
    return out;
  }
  // Kept loaded for the rest of the program.
  out.ok = true;
  return out;
}

}  // namespace

const Pq* LoadPq(std::string& error) {
  static const Loaded loaded = Load();
  if (!loaded.ok) {
    error = loaded.error;
    return nullptr;
  }
  return &loaded.pq;
}

}  // namespace vorsal::platform
