#include "app/version_block.h"
#include "platform/files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

namespace vorsal::version_block {

namespace {

// This program's own values, from the build's project settings.
constexpr std::array<Value, 10> kOwnValues{{
    {"CompanyName", VORSAL_COMPANY_NAME},
    {"FileDescription", ""},
    {"FileVersion", VORSAL_FILE_VERSION},
    {"InternalName", ""},
    {"LegalCopyright", VORSAL_LEGAL_COPYRIGHT},
    {"LegalTradeMarks", ""},
    {"OriginalFilename", ""},
    {"ProductName", VORSAL_PRODUCT_NAME},
    {"ProductVersion", VORSAL_PRODUCT_VERSION},
    {"Comments", ""},
}};
constexpr std::size_t kOwnSize = EncodedSize(kOwnValues);

constexpr std::array<char, kOwnSize> EncodeOwn() {
  std::array<char, kOwnSize> block{};
  EncodeInto(VORSAL_VERSION_LANGUAGE, VORSAL_VERSION_CODEPAGE, kOwnValues, block.data());
  return block;
}

std::uint16_t Read16(std::string_view bytes, std::size_t pos) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[pos]) |
                                    (static_cast<unsigned char>(bytes[pos + 1]) << 8));
}

// The NUL-terminated text at bytes[pos..end); advances pos past the NUL.
std::optional<std::string> ReadText(std::string_view bytes, std::size_t& pos, std::size_t end) {
  const std::size_t nul = bytes.substr(0, end).find('\0', pos);
  if (nul == std::string_view::npos) return std::nullopt;
  std::string text(bytes.substr(pos, nul - pos));
  pos = nul + 1;
  return text;
}

}  // namespace

}  // namespace vorsal::version_block

// The compiled block. It has C linkage so that vorsal_app's link option
// (--undefined) can name it: that makes the linker take this object into
// every executable linking the library, even one that calls nothing here.
extern "C" [[gnu::used, gnu::section(".vorsal.version")]] constinit const std::array<
    char, vorsal::version_block::kOwnSize> vorsal_version_block = vorsal::version_block::EncodeOwn();

namespace vorsal::version_block {

std::string_view Compiled() { return {vorsal_version_block.data(), vorsal_version_block.size()}; }

std::string Encode(std::uint16_t language, std::uint16_t codePage, std::span<const Value> values) {
  std::string block(EncodedSize(values), '\0');
  EncodeInto(language, codePage, values, block.data());
  return block;
}

const std::string* Block::Find(std::string_view name) const {
  for (const auto& [n, v] : values) {
    if (n == name) return &v;
  }
  return nullptr;
}

std::optional<Block> Parse(std::string_view bytes) {
  if (bytes.size() < kHeaderSize || bytes.substr(0, kMarkerHead.size()) != kMarkerHead ||
      bytes.substr(kMarkerHead.size(), kMarkerTail.size()) != kMarkerTail || Read16(bytes, 16) != kLayoutNumber) {
    return std::nullopt;
  }
  const std::size_t size = Read16(bytes, 18);
  if (size < kHeaderSize || size > bytes.size()) return std::nullopt;
  Block block;
  block.language = Read16(bytes, 20);
  block.codePage = Read16(bytes, 22);
  const std::size_t count = Read16(bytes, 24);
  std::size_t pos = kHeaderSize;
  for (std::size_t i = 0; i < count; ++i) {
    auto name = ReadText(bytes, pos, size);
    if (!name) return std::nullopt;
    auto value = ReadText(bytes, pos, size);
    if (!value) return std::nullopt;
    block.values.emplace_back(std::move(*name), std::move(*value));
  }
  if (pos != size) return std::nullopt;
  return block;
}

std::optional<Block> FindInFile(const std::string& file) {
  // Only regular files: a FIFO or a device could block or never end.
  std::error_code error;
  const std::filesystem::path path = platform::PathFromUtf8(file);
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;

  constexpr std::size_t kChunk = std::size_t{1} << 20;
  const std::boyer_moore_horspool_searcher searcher(kMarkerHead.begin(), kMarkerHead.end());
  std::string window;  // unread rest of the previous chunk, then the next chunk
  bool atEnd = false;
  while (!atEnd) {
    const std::size_t kept = window.size();
    window.resize(kept + kChunk);
    in.read(window.data() + kept, static_cast<std::streamsize>(kChunk));
    const auto got = static_cast<std::size_t>(in.gcount());
    window.resize(kept + got);
    atEnd = got < kChunk;

    // Where the next window starts: a marker may straddle the chunk border.
    std::size_t keepFrom = window.size() - std::min(window.size(), kMarkerHead.size() - 1);
    std::size_t from = 0;
    for (;;) {
      const auto hit = std::search(window.begin() + static_cast<std::ptrdiff_t>(from), window.end(), searcher);
      if (hit == window.end()) break;
      const auto at = static_cast<std::size_t>(hit - window.begin());
      if (!atEnd && window.size() - at < kMaxBlockSize) {
        keepFrom = at;  // the block may run on into the next chunk
        break;
      }
      if (auto block = Parse(std::string_view(window).substr(at))) return block;
      from = at + 1;
    }
    window.erase(0, keepFrom);
  }
  return std::nullopt;
}

}  // namespace vorsal::version_block
