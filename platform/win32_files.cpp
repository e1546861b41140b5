// Files on Windows: CreateFileW/ReadFile, a temporary file flushed and put
// in place with ReplaceFileW (which keeps the old file's attributes and
// security) or MoveFileExW with write-through, in-place rewrites for files
// with several names, LockFileEx on journals and a named mutex per
// directory for the directory lock.
#include "platform/files.h"
#include "platform/win32_text.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
// <windows.h> names ReplaceFileW so; this file defines the layer's own.
#undef ReplaceFile

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <system_error>

namespace vorsal::platform {

namespace {

namespace fs = std::filesystem;

// Closes a handle when it goes out of scope.
struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  explicit Handle(HANDLE value) : h(value) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (Valid()) ::CloseHandle(h);
  }
  bool Valid() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
};

bool Failed(std::string& reason, DWORD code) {
  reason = SystemErrorText(static_cast<int>(code));
  return false;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

fs::path DirectoryOf(const fs::path& file) {
  fs::path dir = file.parent_path();
  return dir.empty() ? fs::path(L".") : dir;
}

bool IsMissing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// A fresh temporary file beside `target`, written with `bytes` and flushed.
// Its path goes to `temp`. Returns 0 or the system code.
DWORD WriteTemporary(const fs::path& target, std::string_view bytes, fs::path& temp) {
  const fs::path dir = DirectoryOf(target);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    temp = dir / (L"." + target.filename().wstring() + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                  std::to_wstring(::GetTickCount64() + attempt) + L".tmp");
    // CREATE_NEW never opens anything planted at the name.
    Handle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!file.Valid()) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return error;
    }
    if (!WriteAll(file.h, bytes) || !::FlushFileBuffers(file.h)) {
      const DWORD error = ::GetLastError();
      ::CloseHandle(file.h);
      file.h = INVALID_HANDLE_VALUE;
      ::DeleteFileW(temp.c_str());
      return error;
    }
    return 0;
  }
  return ERROR_FILE_EXISTS;
}

// Puts the flushed temporary file in the place of `target`: ReplaceFileW
// when there is a file to replace (it keeps that file's attributes and
// security), a write-through move otherwise or where ReplaceFileW fails.
bool PutInPlace(const fs::path& temp, const fs::path& target, bool replacing, std::string& reason) {
  if (replacing && ::ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                                  nullptr)) {
    return true;
  }
  if (::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  const DWORD error = ::GetLastError();
  ::DeleteFileW(temp.c_str());
  return Failed(reason, error);
}

// Rewrites the file in place, for a file with more than one name: the space
// is claimed first, so a full disk fails before an old byte is overwritten.
bool RewriteInPlace(const fs::path& target, std::string_view bytes, std::string& reason) {
  Handle file(::CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file.Valid()) return Failed(reason, ::GetLastError());
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.h, &size)) return Failed(reason, ::GetLastError());
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(bytes.size());
  if (end.QuadPart > size.QuadPart) {
    if (!::SetFilePointerEx(file.h, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.h)) {
      return Failed(reason, ::GetLastError());
    }
  }
  LARGE_INTEGER start{};
  if (!::SetFilePointerEx(file.h, start, nullptr, FILE_BEGIN) || !WriteAll(file.h, bytes) ||
      !::SetFilePointerEx(file.h, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.h) ||
      !::FlushFileBuffers(file.h)) {
    return Failed(reason, ::GetLastError());
  }
  return true;
}

// The name of the mutex that stands for `directory`'s lock: the same for
// every spelling of the directory's full path.
std::wstring DirectoryMutexName(const fs::path& directory) {
  std::wstring full(32768, L'\0');
  const DWORD n = ::GetFullPathNameW(directory.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  full.resize(n > 0 && n < 32768 ? n : 0);
  if (full.empty()) full = directory.wstring();
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a over the lower-cased path
  for (wchar_t c : full) {
    if (c == L'/') c = L'\\';
    hash = (hash ^ static_cast<std::uint64_t>(std::towlower(static_cast<wint_t>(c)))) * 1099511628211ull;
  }
  return L"Local\\vorsal-directory-lock-" + std::to_wstring(hash);
}

DWORD Attributes(const fs::path& path) { return ::GetFileAttributesW(path.c_str()); }

// The number of names the file has (hard links); 1 when it can't be told.
// A symbolic link counts as itself.
DWORD LinkCount(const fs::path& path) {
  Handle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  return file.Valid() && ::GetFileInformationByHandle(file.h, &info) ? info.nNumberOfLinks : 1;
}

// The user's token's entry of `kind` (TOKEN_USER, TOKEN_OWNER), in
// `buffer`; false when the system cannot tell.
bool TokenEntry(TOKEN_INFORMATION_CLASS kind, std::string& buffer) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  Handle owner(token);
  DWORD size = 0;
  ::GetTokenInformation(token, kind, nullptr, 0, &size);
  buffer.assign(size, '\0');
  return size != 0 && ::GetTokenInformation(token, kind, buffer.data(), size, &size);
}

// The security identifier of the user the program runs as, in its text
// form; empty when the system cannot tell.
std::wstring UserSid() {
  std::string buffer;
  wchar_t* text = nullptr;
  if (!TokenEntry(TokenUser, buffer) ||
      !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    return {};
  }
  std::wstring sid(text);
  ::LocalFree(text);
  return sid;
}

// The classes keep their handle as a number, the same on every system.
HANDLE AsHandle(long long value) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(value)); }

}  // namespace

std::string SystemErrorText(int code) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n > 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' ||
                              message.back() == L'.')) {
    message.pop_back();
  }
  if (message.empty()) return "system error " + std::to_string(code);
  return Utf8FromWide(message);
}

namespace {

ReadStatus Unreadable(int* errnum, DWORD code) {
  if (errnum) *errnum = static_cast<int>(code);
  return ReadStatus::Unreadable;
}

// Opens the file at `path` for reading. A directory, a device (NUL, CON, a
// COM port, whose read could wait without end) or a pipe is Unreadable.
ReadStatus OpenDiskFile(const fs::path& path, Handle& file, int* errnum) {
  const DWORD attributes = Attributes(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Unreadable(errnum, ERROR_DIRECTORY);
  }
  file.h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!file.Valid()) {
    const DWORD error = ::GetLastError();
    return IsMissing(error) ? ReadStatus::Missing : Unreadable(errnum, error);
  }
  if (::GetFileType(file.h) != FILE_TYPE_DISK) return Unreadable(errnum, ERROR_INVALID_FUNCTION);
  return ReadStatus::Read;
}

}  // namespace

ReadStatus ReadWholeFile(const fs::path& path, std::size_t maxBytes, std::string& out, int* errnum) {
  out.clear();
  const auto unreadable = [&](DWORD code) { return Unreadable(errnum, code); };
  Handle file(INVALID_HANDLE_VALUE);
  if (const ReadStatus status = OpenDiskFile(path, file, errnum); status != ReadStatus::Read) return status;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.h, &size)) return unreadable(::GetLastError());
  if (static_cast<std::uintmax_t>(size.QuadPart) > maxBytes) return ReadStatus::TooLarge;

  // Read up to one byte past the limit, in case the file grew meanwhile.
  std::string bytes(static_cast<std::size_t>(size.QuadPart) + 1, '\0');
  std::size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      if (bytes.size() > maxBytes) return ReadStatus::TooLarge;
      bytes.resize(std::min(bytes.size() * 2, maxBytes + 1));
    }
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - got, 1u << 30));
    if (!::ReadFile(file.h, bytes.data() + got, want, &n, nullptr)) return unreadable(::GetLastError());
    if (n == 0) break;
    got += n;
  }
  bytes.resize(got);
  out = std::move(bytes);
  return ReadStatus::Read;
}

ReadStatus ReadFileInPieces(const fs::path& path, std::size_t pieceBytes,
                            const std::function<bool(std::string_view)>& take, int* errnum) {
  Handle file(INVALID_HANDLE_VALUE);
  if (const ReadStatus status = OpenDiskFile(path, file, errnum); status != ReadStatus::Read) return status;
  std::string piece(std::max<std::size_t>(std::min<std::size_t>(pieceBytes, 1u << 30), 1), '\0');
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.h, piece.data(), static_cast<DWORD>(piece.size()), &n, nullptr)) {
      return Unreadable(errnum, ::GetLastError());
    }
    if (n == 0 || !take(std::string_view(piece.data(), n))) break;
  }
  return ReadStatus::Read;
}

ReadStatus ReadFileStart(const fs::path& path, std::size_t maxBytes, int /*waitMs*/, std::string& out, int* errnum) {
  out.clear();
  const auto unreadable = [&](DWORD code) { return Unreadable(errnum, code); };
  Handle file(INVALID_HANDLE_VALUE);
  if (const ReadStatus status = OpenDiskFile(path, file, errnum); status != ReadStatus::Read) return status;
  std::string bytes;
  char chunk[512];
  while (bytes.size() < maxBytes && bytes.find('\n') == std::string::npos) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min(sizeof chunk, maxBytes - bytes.size()));
    if (!::ReadFile(file.h, chunk, want, &n, nullptr)) return unreadable(::GetLastError());
    if (n == 0) break;
    bytes.append(chunk, n);
  }
  out = std::move(bytes);
  return ReadStatus::Read;
}

bool ResolveForWrite(const fs::path& path, fs::path& target, std::string& reason) {
  constexpr int MaxLinks = 40;
  fs::path current = path;
  for (int hop = 0; hop <= MaxLinks; ++hop) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(current, ec);
    if (ec || !fs::is_symlink(status)) {
      if (ec && ec != std::errc::no_such_file_or_directory) {
        reason = ec.message();
        return false;
      }
      target = current;
      return true;
    }
    const fs::path next = fs::read_symlink(current, ec);
    if (ec) {
      reason = ec.message();
      return false;
    }
    current = next.is_absolute() ? next : DirectoryOf(current) / next;
  }
  return Failed(reason, ERROR_CANT_RESOLVE_FILENAME);
}

bool WriteFileKeepingAttributes(const fs::path& target, std::string_view bytes, std::string& reason) {
  const DWORD attributes = Attributes(target);
  fs::path temp;
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (!IsMissing(error)) return Failed(reason, error);
    if (const DWORD written = WriteTemporary(target, bytes, temp)) return Failed(reason, written);
    return PutInPlace(temp, target, false, reason);
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Failed(reason, ERROR_DIRECTORY);
  // A file marked read-only stays unwritten, as the rename alone would not
  // stop at the mark.
  if (attributes & FILE_ATTRIBUTE_READONLY) return Failed(reason, ERROR_ACCESS_DENIED);
  if (LinkCount(target) <= 1) {
    const DWORD written = WriteTemporary(target, bytes, temp);
    if (written == 0) return PutInPlace(temp, target, true, reason);
    // A directory that takes no new file: the file itself may still be written.
    if (written != ERROR_ACCESS_DENIED) return Failed(reason, written);
  }
  return RewriteInPlace(target, bytes, reason);
}

bool ReplaceFile(const fs::path& target, std::string_view bytes, unsigned mode, std::string& reason) {
  fs::path temp;
  if (const DWORD written = WriteTemporary(target, bytes, temp)) return Failed(reason, written);
  // Windows keeps one permission bit of its own: read-only.
  if ((mode & 0200) == 0) ::SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_READONLY);
  return PutInPlace(temp, target, false, reason);
}

bool FileUpdatable(const fs::path& path) {
  fs::path target;
  std::string reason;
  if (!ResolveForWrite(path, target, reason)) return false;
  const DWORD attributes = Attributes(target);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
    Handle file(::CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid();
  }
  // No file: whether the directory takes a new one is told by making one.
  const fs::path probe = DirectoryOf(target) / (L".vorsal-probe-" + std::to_wstring(::GetCurrentProcessId()));
  Handle file(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return file.Valid();
}

bool DeleteFileForcibly(const fs::path& path) {
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    if (LinkCount(path) == 1) ::SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
  return ::DeleteFileW(path.c_str()) != 0;
}

unsigned FileMode(const fs::path& path) {
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  const unsigned mode = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444u : 0666u;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? mode | 0111u : mode;
}

DirectoryLock::~DirectoryLock() {
  if (handle_ < 0) return;
  ::ReleaseMutex(AsHandle(handle_));
  ::CloseHandle(AsHandle(handle_));
}

bool DirectoryLock::Acquire(const fs::path& directory, std::string& reason) {
  const DWORD attributes = Attributes(directory);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(reason, ::GetLastError());
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Failed(reason, ERROR_DIRECTORY);
  // A directory cannot carry a byte-range lock; a mutex named after it keeps
  // the writers of its files apart just as well.
  const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, DirectoryMutexName(directory).c_str());
  if (mutex == nullptr) return Failed(reason, ::GetLastError());
  // A holder that ended without giving the lock back leaves it abandoned,
  // which hands it on as well.
  ::WaitForSingleObject(mutex, INFINITE);
  if (handle_ >= 0) {
    ::ReleaseMutex(AsHandle(handle_));
    ::CloseHandle(AsHandle(handle_));
  }
  handle_ = static_cast<long long>(reinterpret_cast<std::intptr_t>(mutex));
  return true;
}

namespace {

// The lock covers one byte far past any journal's end: locks on Windows
// forbid other handles to write the locked range, and appends by other
// writers must go on while one of them holds the lock.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

}  // namespace

AppendFile::~AppendFile() {
  if (handle_ >= 0) ::CloseHandle(AsHandle(handle_));
}

int AppendFile::Open(const fs::path& path) {
  // Something other than a file at the path (a directory, a device, a
  // pipe) is refused before anything is opened for it.
  const DWORD attributes = Attributes(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return NotRegularFile;
  // A new file admits its owner alone, whatever the folder would hand
  // down (a journal given with --journal may sit in a shared folder). The
  // folder's default stands where the system cannot make that list.
  SECURITY_ATTRIBUTES ownerOnly{};
  ownerOnly.nLength = sizeof ownerOnly;
  const std::wstring user = UserSid();
  const bool owned = !user.empty() && ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                          (L"D:P(A;;FA;;;" + user + L")").c_str(), SDDL_REVISION_1,
                                          &ownerOnly.lpSecurityDescriptor, nullptr) != 0;
  // FILE_FLAG_OPEN_REPARSE_POINT: a symbolic link put in the file's place
  // is opened as itself, then refused, never followed.
  Handle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, owned ? &ownerOnly : nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const DWORD opened = ::GetLastError();
  if (owned) ::LocalFree(ownerOnly.lpSecurityDescriptor);
  if (!file.Valid()) return static_cast<int>(opened);
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file.h) != FILE_TYPE_DISK) return NotRegularFile;
  if (!::GetFileInformationByHandle(file.h, &info)) return static_cast<int>(::GetLastError());
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return NotRegularFile;
  if (handle_ >= 0) ::CloseHandle(AsHandle(handle_));
  handle_ = static_cast<long long>(reinterpret_cast<std::intptr_t>(file.h));
  file.h = INVALID_HANDLE_VALUE;
  return 0;
}

int AppendFile::Lock() {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  if (!::LockFileEx(AsHandle(handle_), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
    return static_cast<int>(::GetLastError());
  }
  return 0;
}

void AppendFile::Unlock() {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  ::UnlockFileEx(AsHandle(handle_), 0, 1, 0, &at);
}

int AppendFile::Size(std::uint64_t& size) const {
  LARGE_INTEGER value{};
  if (!::GetFileSizeEx(AsHandle(handle_), &value)) return static_cast<int>(::GetLastError());
  size = static_cast<std::uint64_t>(value.QuadPart);
  return 0;
}

int AppendFile::ReadAll(std::string& bytes) const {
  bytes.clear();
  std::uint64_t size = 0;
  if (const int failed = Size(size)) return failed;
  return ReadAt(0, static_cast<std::size_t>(size), bytes);
}

int AppendFile::ReadAt(std::uint64_t offset, std::size_t maxBytes, std::string& bytes) const {
  bytes.assign(maxBytes, '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    // Each read names its offset, so the handle's own position (which the
    // appends do not use) never matters.
    const std::uint64_t from = offset + got;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(from);
    at.OffsetHigh = static_cast<DWORD>(from >> 32);
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - got, 1u << 30));
    if (!::ReadFile(AsHandle(handle_), bytes.data() + got, want, &n, &at)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_HANDLE_EOF) break;  // the file ends (or was cut short meanwhile)
      bytes.clear();
      return static_cast<int>(error);
    }
    if (n == 0) break;
    got += n;
  }
  bytes.resize(got);
  return 0;
}

int AppendFile::Append(std::string_view bytes, bool* leftIncomplete) {
  if (leftIncomplete) *leftIncomplete = false;
  std::uint64_t before = 0;
  if (const int failed = Size(before)) return failed;
  std::size_t done = 0;
  while (done < bytes.size()) {
    // An offset of all ones writes at the file's end whatever its size is
    // by then, as an append-only handle would.
    OVERLAPPED atEnd{};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    const bool wrote = ::WriteFile(AsHandle(handle_), bytes.data() + done, chunk, &written, &atEnd) != 0;
    if (!wrote || written == 0) {
      const int code = wrote ? ERROR_DISK_FULL : static_cast<int>(::GetLastError());
      // Under the lock nobody else appends in between, so cutting the file
      // back to its old size removes exactly the part written here.
      std::uint64_t now = 0;
      if (Size(now) != 0 || now != before) {
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(before);
        if (!::SetFileInformationByHandle(AsHandle(handle_), FileEndOfFileInfo, &end, sizeof end) && leftIncomplete) {
          *leftIncomplete = true;
        }
      }
      return code;
    }
    done += written;
  }
  return 0;
}

int AppendFile::Truncate() {
  FILE_END_OF_FILE_INFO end{};
  if (!::SetFileInformationByHandle(AsHandle(handle_), FileEndOfFileInfo, &end, sizeof end)) {
    return static_cast<int>(::GetLastError());
  }
  return 0;
}

// The file's owner against the token's user and the owner the token gives
// new files (an elevated administrator's files belong to the
// administrators' group).
bool AppendFile::OwnedByThisUser() const {
  PSID fileOwner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(AsHandle(handle_), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &fileOwner, nullptr, nullptr,
                        nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  std::string user, owner;
  const bool mine =
      fileOwner != nullptr &&
      ((TokenEntry(TokenUser, user) && ::EqualSid(fileOwner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid)) ||
       (TokenEntry(TokenOwner, owner) &&
        ::EqualSid(fileOwner, reinterpret_cast<TOKEN_OWNER*>(owner.data())->Owner)));
  ::LocalFree(descriptor);
  return mine;
}

// Windows files carry access lists rather than an owner's and others'
// bits, and they are not read here: nothing is reported. A file Open made
// admits its user alone; one that was there keeps the list it has.
bool AppendFile::OthersMayRead() const { return false; }

}  // namespace vorsal::platform
