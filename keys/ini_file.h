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
// The document keeps the file's bytes as they are, so writing it back changes
// nothing but the entries that were set: order, comments, blank lines, other
// sections and lines it does not understand stay as they were. It holds the
// bytes once and finds lines by scanning them, so a file costs about its own
// size in memory however many lines it has.
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
// Larger files are not read and never rewritten: a key file is a few
// kilobytes, and anything this large is not one.
constexpr std::size_t IniFileMaxBytes = std::size_t{8} << 20;

enum class IniLoadStatus {
  Loaded,
  Missing,     // no file: an empty document
  Unreadable,  // the file exists but cannot be read (or is not a regular file)
  TooLarge,    // larger than IniFileMaxBytes
};

class IniFile {
 public:
  // Splits the bytes into lines; never fails.
  static IniFile Parse(std::string_view bytes);
  // Reads and parses a file. Unless Loaded, `out` is empty. `errnum` (when
  // given) receives the system's reason of Unreadable.
  static IniLoadStatus Load(const std::filesystem::path& path, IniFile& out, int* errnum = nullptr);

  // The document as bytes. For an unchanged document, exactly the parsed bytes.
  const std::string& Text() const { return text_; }

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
  struct SectionSpan {
    std::size_t header;  // offset of the "[name]" line
    std::size_t end;     // offset one past the section's last line
  };

  std::optional<SectionSpan> FindSection(std::string_view section) const;
  std::string LineEnding() const;

  std::string text_;
};

// True when an entry of this name reads back under the same name: it is not
// empty, has no blanks (codes 0..32) at either end, holds no '=' and no line
// break, and does not start with '[' or ';'.
bool IniNameStorable(std::string_view name);

// "Unable to write to " followed by the file's full path, then ": " and the
// reason when one is given.
std::string IniWriteErrorText(const std::filesystem::path& path, std::string_view reason = {});

// Writes the file's new content so that nothing else about it changes. The
// path is followed through symbolic links, but only through links that this
// user owns: a link planted by another user is never written through (that
// fails). A new file gets mode 0600. An existing file keeps its mode, owner,
// group and hard links, and one that is read-only to this process is not
// written. Where it can, the content goes to a temporary file in the same
// directory, which is flushed to disk and renamed over the file, so the file
// holds either its old or its new content. Where a rename would lose
// something (the file has other hard links, or another owner or group that
// this user cannot give the new file) or the directory takes no new file, the
// file is rewritten in place and flushed; its space is claimed before any byte
// is overwritten, so a full disk leaves the old content. On failure `error`
// (when given) receives IniWriteErrorText(path, the reason).
bool WriteFilePreserving(const std::filesystem::path& path, std::string_view bytes, std::string* error);

// The file a write to `path` changes: the end of its chain of symbolic
// links, each of which must belong to this user (the rule WriteFilePreserving
// follows). The target may not exist yet. False, with `reason` (when given)
// set, for a link of another user or a chain that cannot be read.
bool ResolveLinksForWrite(const std::filesystem::path& path, std::filesystem::path& target, std::string* reason);

// True when this user may keep the file up to date as far as permissions
// tell: through symbolic links of this user's own, an existing file can be
// read and written, or there is none and its directory takes new files.
bool FileUpdatable(const std::filesystem::path& path);

// Read-modify-write of an INI file that other programs may update too: under
// an exclusive lock on the file's directory, reads the file afresh, lets
// `change` edit the document and writes it back with WriteFilePreserving.
// `change` returns false to leave the file as it is (that counts as success).
// A file that exists but cannot be read, or is (or would grow) larger than
// IniFileMaxBytes, is never rewritten: that fails with the write error and the reason. The
// directory must exist.
bool UpdateIniFile(const std::filesystem::path& path, const std::function<bool(IniFile&)>& change,
                   std::string* error);

}  // namespace vorsal
