// A small INI reader/writer for byte text in the Windows-1251 code page.
//
// Format: "[name]" starts a section; "name=value" is an entry; a line whose
// first non-blank character is ';' is a comment. Section and entry names
// match without regard to letter case (Latin and Cyrillic letters of
// Windows-1251). Names and values are read with blanks (codes 0..32) removed
// from both ends; a value is read as at most IniValueMaxLength characters.
// Lines end in CRLF or LF. Where a name occurs more than once, the first
// section and the first entry of that name count.
//
// The document keeps every line of the file byte for byte, so writing it back
// changes nothing but the entries that were set: order, comments, blank
// lines, other sections and lines it does not understand stay as they were.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorsal {

constexpr std::size_t IniValueMaxLength = 2047;

enum class IniLoadStatus {
  Loaded,
  Missing,     // no file: an empty document
  Unreadable,  // the file exists but cannot be read (or is not a regular file)
};

class IniFile {
 public:
  // Splits the bytes into lines; never fails.
  static IniFile Parse(std::string_view bytes);
  // Reads and parses a file. For Missing and Unreadable, `out` is empty.
  static IniLoadStatus Load(const std::filesystem::path& path, IniFile& out);

  // The document as bytes. For an unchanged document, exactly the parsed bytes.
  std::string Text() const;

  // The value of the first entry of that name in the section; nullopt when
  // there is no such entry (an entry with an empty value gives "").
  std::optional<std::string> Value(std::string_view section, std::string_view name) const;
  // The entry names of the section, in file order, as read (trimmed).
  std::vector<std::string> EntryNames(std::string_view section) const;

  // Replaces the value of the first entry of that name in the section, keeping
  // the text before its '='. Otherwise appends "name=value" after the
  // section's last entry, creating the section at the end of the document if
  // needed. New lines take the document's line ending (CRLF for a new file).
  // Returns false, changing nothing, when the name is not IniNameStorable or
  // the value holds a line break.
  bool SetValue(std::string_view section, std::string_view name, std::string_view value);

 private:
  struct Line {
    std::string text;  // without its line ending
    std::string eol;   // "\r\n", "\n", or "" for a last line without one
  };
  struct SectionSpan {
    std::size_t header;  // index of the "[name]" line
    std::size_t end;     // index one past the section's last line
  };

  std::optional<SectionSpan> FindSection(std::string_view section) const;
  std::string LineEnding() const;

  std::vector<Line> lines_;
};

// True when an entry of this name reads back under the same name: it is not
// empty, has no blanks (codes 0..32) at either end, holds no '=' and no line
// break, and does not start with '[' or ';'.
bool IniNameStorable(std::string_view name);

// "Unable to write to " followed by the file's full path.
std::string IniWriteErrorText(const std::filesystem::path& path);

// Replaces the file's content atomically: the bytes go to a temporary file in
// the same directory, which is flushed to disk and renamed over the file, so
// the file holds either its old or its new content, never a mix. A new file
// gets mode 0600; an existing file keeps its mode, and one that is read-only
// to this process is not replaced. A symbolic link is followed and stays a
// link. On failure the old file is untouched, the temporary file
// is removed, and `error` (when given) receives IniWriteErrorText(path).
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string* error);

// Read-modify-write of an INI file that other programs may update too: under
// an exclusive lock on the file's directory, reads the file afresh, lets
// `change` edit the document and writes it back atomically. `change` returns
// false to leave the file as it is (that counts as success). A file that
// exists but cannot be read is never replaced: that fails with the write
// error. The directory must exist.
bool UpdateIniFile(const std::filesystem::path& path, const std::function<bool(IniFile&)>& change,
                   std::string* error);

}  // namespace vorsal
