#include "keys/key_name_input.h"

#include "keys/cp1251.h"
#include "keys/key_derivation.h"
#include "platform/files.h"

namespace vorsal {

namespace {

enum class Encoding { Utf8, Utf16Le, Utf16Be };

// The first line of UTF-16 text as UTF-8; false on a lone surrogate.
bool Utf16FirstLine(std::string_view bytes, bool bigEndian, std::string& line, std::size_t& lineBytes) {
  const auto unit = [&](std::size_t i) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char32_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  };
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    char32_t cp = unit(i);
    if (cp == U'\n') break;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 3 >= bytes.size()) return false;
      const char32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return false;
    }
    AppendUtf8(line, cp);
  }
  lineBytes = i;
  return true;
}

void Refuse(std::string* error, const char* reason) {
  if (error) *error = reason;
}

}  // namespace

std::optional<std::string> KeyNameFromLine(std::string_view bytes, bool cp1251Fallback, std::string* error) {
  Encoding encoding = Encoding::Utf8;
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    bytes.remove_prefix(3);
  } else if (bytes.starts_with("\xFF\xFE")) {
    encoding = Encoding::Utf16Le;
    bytes.remove_prefix(2);
  } else if (bytes.starts_with("\xFE\xFF")) {
    encoding = Encoding::Utf16Be;
    bytes.remove_prefix(2);
  }
  std::string line;
  std::size_t lineBytes = 0;  // of the line as given, two per UTF-16 unit
  if (encoding == Encoding::Utf8) {
    line = bytes.substr(0, bytes.find('\n'));
    lineBytes = line.size();
  } else if (!Utf16FirstLine(bytes, encoding == Encoding::Utf16Be, line, lineBytes)) {
    Refuse(error, "its UTF-16 text is damaged");
    return std::nullopt;
  }
  if (lineBytes >= KeyNameLineMaxBytes) {
    Refuse(error, "its first line is longer than 4096 bytes");
    return std::nullopt;
  }
  if (line.find('\0') != std::string::npos) {
    Refuse(error, "it holds a NUL character");
    return std::nullopt;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (std::optional<std::string> name = KeyNameFromUtf8(line)) return name;
  const bool utf8 = IsUtf8(line);
  // Text that is no UTF-8 is the code page's own bytes where it may be.
  if (!utf8 && encoding == Encoding::Utf8 && cp1251Fallback) return std::string(TrimKeyName(line));
  Refuse(error, utf8 ? "it has a character that Windows-1251 lacks" : "it is not UTF-8 text");
  return std::nullopt;
}

std::optional<std::string> ReadKeyNameFile(const std::filesystem::path& path, std::string* error) {
  std::string bytes;
  int errnum = 0;
  // One byte past the limit tells a line that is too long.
  switch (platform::ReadFileStart(path, KeyNameLineMaxBytes + 1, KeyNameFileWaitMs, bytes, &errnum)) {
    case platform::ReadStatus::Read:
      break;
    case platform::ReadStatus::Missing:
      Refuse(error, "no such file");
      return std::nullopt;
    default:
      if (error) *error = platform::SystemErrorText(errnum);
      return std::nullopt;
  }
  if (bytes.empty()) {
    Refuse(error, "the file is empty");
    return std::nullopt;
  }
  return KeyNameFromLine(bytes, KeyNameFallsBackToCp1251(), error);
}

}  // namespace vorsal
