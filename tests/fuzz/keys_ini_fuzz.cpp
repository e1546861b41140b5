// Keys.ini on any file bytes: the reader, the lookup, the name list and the
// save. The fuzzer's bytes give a key name (typed, or one of the file's own
// entry names, perhaps in the other letter case), a hex value and the file.
//
// The oracle is a reader of its own that follows the file format line by line:
// the lookup must find what it finds, and the save must give exactly the file
// it predicts: the entry's value filled in, or one new "name=value" line after
// the section's last entry (or a new section at the end), every other byte as
// it was. After the save the lookup finds the saved value.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cp1251_oracle.h"
#include "fuzz_support.h"
#include "keys/key_store.h"

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<std::uint8_t>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<std::uint8_t>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fuzz::Cp1251Capital(static_cast<std::uint8_t>(a[i])) != fuzz::Cp1251Capital(static_cast<std::uint8_t>(b[i])))
      return false;
  }
  return true;
}

// One line of the file and what it is.
struct Line {
  std::string text;  // without its line ending
  std::string eol;   // "\r\n", "\n", or "" on a last line without one
  enum Kind { Other, Section, Entry } kind = Other;
  std::string name, value;
  std::size_t equals = 0;
};

Line Read(std::string text, std::string eol) {
  Line line;
  line.text = std::move(text);
  line.eol = std::move(eol);
  const std::string_view body = Trim(line.text);
  if (body.empty() || body[0] == ';') return line;
  if (body[0] == '[') {
    const std::string_view inner = body.substr(1);
    line.kind = Line::Section;
    line.name = Trim(inner.substr(0, inner.find(']')));
    return line;
  }
  line.equals = line.text.find('=');
  if (line.equals == std::string::npos) return line;
  line.kind = Line::Entry;
  line.name = Trim(std::string_view(line.text).substr(0, line.equals));
  line.value = Trim(std::string_view(line.text).substr(line.equals + 1));
  return line;
}

std::vector<Line> Lines(std::string_view bytes) {
  std::vector<Line> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\n') continue;
    const bool cr = i > start && bytes[i - 1] == '\r';
    lines.push_back(Read(std::string(bytes.substr(start, i - start - cr)), cr ? "\r\n" : "\n"));
    start = i + 1;
  }
  if (start < bytes.size()) lines.push_back(Read(std::string(bytes.substr(start)), ""));
  return lines;
}

std::string Join(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& line : lines) out += line.text + line.eol;
  return out;
}

// Index of the first "[Keys]" line and one past its last line.
std::optional<std::pair<std::size_t, std::size_t>> KeysSection(const std::vector<Line>& lines) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != Line::Section || !SameName(lines[i].name, "Keys")) continue;
    std::size_t end = i + 1;
    while (end < lines.size() && lines[end].kind != Line::Section) ++end;
    return std::make_pair(i, end);
  }
  return std::nullopt;
}

// Index of the first entry of that name in section Keys.
std::optional<std::size_t> FindEntry(const std::vector<Line>& lines, std::string_view name) {
  const auto section = KeysSection(lines);
  if (!section) return std::nullopt;
  for (std::size_t i = section->first + 1; i < section->second; ++i) {
    if (lines[i].kind == Line::Entry && SameName(lines[i].name, name)) return i;
  }
  return std::nullopt;
}

std::string Lookup(const std::vector<Line>& lines, std::string_view name) {
  const auto at = FindEntry(lines, name);
  return at ? lines[*at].value.substr(0, 2047) : std::string();
}

std::vector<std::string> Names(const std::vector<Line>& lines) {
  std::vector<std::string> names;
  const auto section = KeysSection(lines);
  if (!section) return names;
  std::size_t used = 0;
  for (std::size_t i = section->first + 1; i < section->second; ++i) {
    if (lines[i].kind != Line::Entry || lines[i].name.empty()) continue;
    used += lines[i].name.size() + 1;
    if (used > 16384) break;
    names.push_back(lines[i].name);
  }
  return names;
}

bool Storable(std::string_view name) {
  if (name.empty() || Trim(name).size() != name.size() || name[0] == '[' || name[0] == ';') return false;
  return name.find_first_of("=\r\n") == std::string_view::npos;
}

// The file a save must leave; nullopt when the save must refuse the name.
// A stored value that is a key: exactly 64 hex digits. An empty or damaged
// value is replaced by a save.
bool IsKey(std::string_view value) {
  if (value.size() != 64) return false;
  for (const char c : value) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::optional<std::string> ExpectedSave(std::string_view before, std::string_view name, std::string_view value) {
  if (!Storable(name)) return std::nullopt;
  std::vector<Line> lines = Lines(before);
  std::string eol = "\r\n";
  for (const Line& line : lines) {
    if (!line.eol.empty()) {
      eol = line.eol;
      break;
    }
  }
  const std::string entry = std::string(name) + "=" + std::string(value);
  const auto section = KeysSection(lines);
  if (!section) {
    if (!lines.empty() && lines.back().eol.empty()) lines.back().eol = eol;
    lines.push_back(Read("[Keys]", eol));
    lines.push_back(Read(entry, eol));
    return Join(lines);
  }
  if (const auto at = FindEntry(lines, name)) {
    Line& line = lines[*at];
    if (IsKey(line.value)) return std::string(before);  // stored first by someone else: kept
    line.text = line.text.substr(0, line.equals + 1) + std::string(value);
    return Join(lines);
  }
  std::size_t last = section->first;
  for (std::size_t i = section->first + 1; i < section->second; ++i) {
    if (lines[i].kind == Line::Entry) last = i;
  }
  if (lines[last].eol.empty()) lines[last].eol = eol;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last + 1), Read(entry, eol));
  return Join(lines);
}

// A directory of its own on a memory file system where there is one.
struct Scratch {
  std::filesystem::path dir;
  std::filesystem::path file;
  Scratch() {
    std::string templ = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/vorsal-fuzz-XXXXXX");
    if (!mkdtemp(templ.data())) fuzz::Fail("cannot make a scratch directory");
    dir = templ;
    file = dir / "Keys.ini";
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0)
    fuzz::Fail("cannot write the scratch file");
}

std::optional<std::string> ReadFile(const std::filesystem::path& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
  std::fclose(f);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Scratch scratch;
  fuzz::Input in(data, size);
  const std::uint8_t flags = in.Byte();
  const std::uint8_t pick = in.Byte();

  // The value: hex digits of up to 32 bytes, as a save gets it.
  std::string value;
  static constexpr char Upper[] = "0123456789ABCDEF", Lower[] = "0123456789abcdef";
  const char* digits = (flags & 4) ? Lower : Upper;
  for (const char c : in.Take(in.Byte() % 33)) {
    value += digits[static_cast<std::uint8_t>(c) >> 4];
    value += digits[c & 15];
  }
  std::string name(in.Take((flags & 1) ? 0 : in.Byte() % 24));
  const std::string before(in.Rest());
  const std::vector<Line> lines = Lines(before);
  if (flags & 1) {  // one of the file's entry names, from any section
    std::vector<std::string> names;
    for (const Line& line : lines) {
      if (line.kind == Line::Entry) names.push_back(line.name);
    }
    name = names.empty() ? "Key" : names[pick % names.size()];
  }
  if (flags & 2) {  // the other letter case
    for (char& c : name) {
      const auto b = static_cast<std::uint8_t>(c);
      const std::uint8_t capital = fuzz::Cp1251Capital(b);
      c = static_cast<char>(capital != b ? capital : fuzz::Cp1251Small(b));
    }
  }

  const bool missing = (flags & 8) && before.empty();
  if (missing) {
    std::filesystem::remove(scratch.file);
  } else {
    WriteFile(scratch.file, before);
  }

  const std::string found = vorsal::KeyStoreLookup(scratch.file, name);
  if (found != Lookup(lines, name)) {
    fuzz::Fail("lookup differs from the file", "name " + fuzz::Hex(name) + "\nfound " + fuzz::Hex(found) +
                                                   "\nexpected " + fuzz::Hex(Lookup(lines, name)));
  }
  if (vorsal::KeyStoreNames(scratch.file) != Names(lines)) fuzz::Fail("key name list differs from the file");

  std::string error;
  const bool saved = vorsal::KeyStoreSave(scratch.file, name, value, &error);
  const std::optional<std::string> expected = ExpectedSave(before, name, value);
  const std::optional<std::string> after = ReadFile(scratch.file);
  if (!expected) {
    FUZZ_CHECK(!saved && !error.empty(), "a name that cannot be stored was saved", fuzz::Hex(name));
    FUZZ_CHECK(missing ? !after : after == before, "a refused save changed the file");
    return 0;
  }
  FUZZ_CHECK(saved, "save failed", error);
  FUZZ_CHECK(after.has_value(), "save left no file");
  if (*after != *expected) {
    std::size_t at = 0;
    while (at < after->size() && at < expected->size() && (*after)[at] == (*expected)[at]) ++at;
    fuzz::Fail("save changed more than its entry",
               "name " + fuzz::Hex(name) + " value " + value + "\nfirst difference at byte " + std::to_string(at) +
                   "\nbefore   " + fuzz::Hex(before) + "\nexpected " + fuzz::Hex(*expected) + "\nwritten  " +
                   fuzz::Hex(*after));
  }
  const std::string want = IsKey(found) ? found : value;
  FUZZ_CHECK(vorsal::KeyStoreLookup(scratch.file, name) == want, "lookup after the save misses the value",
              "name " + fuzz::Hex(name) + " value " + want);
  return 0;
}
