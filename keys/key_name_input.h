// Key names that come from a file or a prompt instead of the command line,
// where every user of the computer could read them. One reader for
// vorsal-cli and vorsal-key: the first line only, bounded in size and in
// waiting, with the encodings text editors save. Such a name is a secret, so
// no message here quotes any of its characters.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vorsal {

// The most bytes of a file or a typed line that are looked at; a first line
// longer than this is refused.
constexpr std::size_t KeyNameLineMaxBytes = 4096;
// How long a pipe may take to hand over its first line.
constexpr int KeyNameFileWaitMs = 5000;

// The key name in the first line of `bytes`: what follows the first line
// break is ignored, and the line is trimmed (TrimKeyName). A UTF-8 byte order
// mark is dropped; with a UTF-16 little- or big-endian mark the text is
// UTF-16. Text without a mark is UTF-8, or, when `cp1251Fallback` and it is
// not valid UTF-8, Windows-1251 (what Windows editors save as "ANSI"). A NUL
// character, a first line over KeyNameLineMaxBytes and a character without a
// Windows-1251 form are refused. Returns the KeyName (Windows-1251 bytes), or
// nullopt with `error` set to a reason that quotes nothing of the text.
std::optional<std::string> KeyNameFromLine(std::string_view bytes, bool cp1251Fallback, std::string* error = nullptr);

// Whether this build reads unmarked text that is not UTF-8 as Windows-1251:
// on Windows, where that is the "ANSI" code page of Russian systems.
bool KeyNameFallsBackToCp1251();

// The key name in the first line of the file at `path` (see ReadFileStart:
// a pipe is waited for at most KeyNameFileWaitMs, a device is refused).
// nullopt with `error` set (a reason, without the file's name) otherwise.
std::optional<std::string> ReadKeyNameFile(const std::filesystem::path& path, std::string* error);

}  // namespace vorsal
