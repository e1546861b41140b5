// Files as the operating system keeps them: whole-file reads with a size
// limit, writes that replace a file atomically or keep its owner, group,
// mode and links, a lock shared by every writer of a directory, an
// append-only file for journals, and deleting a file whatever its
// read-only mark. Failures come back as the system's reason in words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace vorsal::platform {

// Paths from and to the program's UTF-8 text. A std::string given to
// std::filesystem::path is taken in the system's narrow encoding, which on
// Windows is a code page, not UTF-8 (and path::string() fails there on a
// character the code page lacks); these convert through char8_t, UTF-8 on
// every system.
inline std::filesystem::path PathFromUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
inline std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The system's text for an error code.
std::string SystemErrorText(int code);

enum class ReadStatus {
  Read,
  Missing,     // no such file
  Unreadable,  // the file exists but cannot be read (or is not a regular file)
  TooLarge,    // larger than the limit
};

// Reads the whole regular file at `path`, at most `maxBytes` bytes. Unless
// Read, `bytes` is empty; `errnum` (when given) receives the system code of
// Unreadable. A FIFO or device in the file's place never blocks the read.
// A limit of SIZE_MAX reads the file whatever its size.
ReadStatus ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes, std::string& bytes,
                         int* errnum = nullptr);

// Reads the regular file at `path` from its start to its end in pieces of
// at most `pieceBytes`, handing each to `take` (false stops the read), so
// the memory used is one piece's whatever the file's size. As with
// ReadWholeFile, a FIFO or device in the file's place is Unreadable and never
// waited on.
ReadStatus ReadFileInPieces(const std::filesystem::path& path, std::size_t pieceBytes,
                            const std::function<bool(std::string_view)>& take, int* errnum = nullptr);

// Reads the start of the file at `path`: at most `maxBytes` bytes, ending
// early once a line feed byte is in or the file ends. A pipe or FIFO (what a
// shell's process substitution hands over) is read as well, but for at most
// `waitMs` milliseconds in all, and a FIFO nobody writes reads as empty; any
// other device (a terminal, /dev/zero) is Unreadable. Never TooLarge: the
// caller tells a long line by its length.
ReadStatus ReadFileStart(const std::filesystem::path& path, std::size_t maxBytes, int waitMs, std::string& bytes,
                         int* errnum = nullptr);

// The file a write to `path` must change: the end of its chain of symbolic
// links, each of which must belong to this user (a link another user made
// could point this user's write at any file this user may write), reached
// through folders whose own links belong to this user or to root. A path
// with nothing at it is its own target. False with `reason` set otherwise.
bool ResolveForWrite(const std::filesystem::path& path, std::filesystem::path& target, std::string& reason);

// Writes `bytes` to `target` (already resolved: not a link) so that nothing
// else about the file changes. A new file gets mode 0600. An existing file
// keeps its mode, owner, group and hard links, and one that is read-only to
// this process is not written. Where it can, the content goes to a
// temporary file in the same directory, flushed and renamed over the file
// (ReplaceFile), so the file holds either its old or its new content. Where
// a rename would lose something (other hard links, an owner or group this
// user cannot give) or the directory takes no new file, the file is
// rewritten in place and flushed, its space claimed before any byte is
// overwritten. False with `reason` set on failure.
bool WriteFileKeepingAttributes(const std::filesystem::path& target, std::string_view bytes, std::string& reason);

// Replaces whatever file is at `target` by a new one holding `bytes` with
// permission bits `mode`: written to a fresh temporary file beside it
// (never through anything planted at that name), flushed, renamed into
// place. No half-written file is ever left under the name. False with
// `reason` set on failure.
bool ReplaceFile(const std::filesystem::path& target, std::string_view bytes, unsigned mode, std::string& reason);

// True when this user may keep the file up to date as far as permissions
// tell: through symbolic links of this user's own, an existing file can be
// read and written, or there is none and its directory takes new files.
bool FileUpdatable(const std::filesystem::path& path);

// Deletes the file at `path` (a symbolic link itself, never its target). A
// file marked read-only is made writable by its owner first, but only when
// `path` is its one name, since the mark belongs to the file. A directory is
// left alone. False when nothing was deleted.
bool DeleteFileForcibly(const std::filesystem::path& path);

// The permission bits of the file at `path` (following links), 0 when it
// cannot be told.
unsigned FileMode(const std::filesystem::path& path);

// An exclusive lock on a directory, held from Acquire until the object
// goes: every writer of the directory's files that takes it is kept apart
// from the others. Where the file system has no locks, none is held.
class DirectoryLock {
 public:
  DirectoryLock() = default;
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  // Waits for the lock; false with `reason` set when the directory can't be
  // opened.
  bool Acquire(const std::filesystem::path& directory, std::string& reason);

 private:
  long long handle_ = -1;
};

// A file that only grows, such as a journal: lines of several writers,
// each appended whole under the file's lock, never overwrite or tear each
// other. Every call but Open needs an open file; each returns 0 or the
// system's code, which SystemErrorText words.
class AppendFile {
 public:
  // What Open returns when something other than a regular file (a FIFO, a
  // device, a directory) is at the path; nothing is left open then.
  static constexpr int NotRegularFile = -1;

  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  // Opens the file at `path` (already resolved, see ResolveForWrite) for
  // reading and appending, creating it readable and writable by this user
  // alone when missing. A symbolic link put in its place meanwhile is not
  // followed, and opening never waits (a FIFO must not hang the program).
  int Open(const std::filesystem::path& path);
  // Waits for an exclusive lock on the whole file, shared with other
  // programs that lock it; Unlock gives it back.
  int Lock();
  void Unlock();
  int Size(std::uint64_t& size) const;
  // The file's content from its start to its present end.
  int ReadAll(std::string& bytes) const;
  // At most `maxBytes` of the file's content from `offset` on (fewer where
  // the file ends first).
  int ReadAt(std::uint64_t offset, std::size_t maxBytes, std::string& bytes) const;
  // Writes all of `bytes` at the end, or nothing: after a failed or short
  // write the file is cut back to its size before. `leftIncomplete` (when
  // given) tells whether cutting it back failed too, so a part stays. Call
  // it under the lock, or another writer's line may be cut with it.
  int Append(std::string_view bytes, bool* leftIncomplete = nullptr);
  // Cuts the file to nothing; call it under the lock.
  int Truncate();
  // True when users outside the file's owner and group may read it (a
  // journal shared through its group is meant to be read there).
  bool OthersMayRead() const;
  // True when the file belongs to the user this program runs as (on
  // Windows: its owner is the user, or the owner the user's new files
  // get, such as the administrators' group for an elevated program). A
  // file another user made in its place may hold whatever that user wrote.
  bool OwnedByThisUser() const;
  bool IsOpen() const { return handle_ >= 0; }

 private:
  long long handle_ = -1;
};

}  // namespace vorsal::platform
