#include "app/qs_version_info.h"

#include "app/version_block.h"
#include "platform/process.h"
#include "platform/version_resource.h"

#include <array>

namespace vorsal {

namespace {

// The text before the first separator in `rest`, which then keeps what
// follows it. With no separator the result is empty and `rest` unchanged.
std::string_view TakePart(std::string_view& rest, char separator) {
  const std::size_t at = rest.find(separator);
  if (at == std::string_view::npos) return {};
  const std::string_view head = rest.substr(0, at);
  rest.remove_prefix(at + 1);
  return head;
}

// The system's version resource of the file where the system keeps one
// (Windows), otherwise the version block compiled into it.
template <typename Values>
std::optional<version_block::Block> FindVersionInfo(const std::string& file, const Values& values) {
  std::vector<std::string_view> names;
  for (const auto& value : values) names.push_back(value.first);
  if (std::optional<platform::VersionResource> resource = platform::ReadVersionResource(file, names)) {
    return version_block::Block{resource->language, resource->codePage, std::move(resource->values)};
  }
  return version_block::FindInFile(file);
}

}  // namespace

std::string ShortVersion(std::string_view fileVersion) {
  std::string_view rest = fileVersion.substr(0, 255);
  const std::string_view major = TakePart(rest, '.');
  const std::string_view minor = TakePart(rest, '.');
  const std::string_view release = TakePart(rest, '.');
  std::string result = std::string(major) + "." + std::string(minor);
  if (release != "0") result += "." + std::string(release);
  if (rest != "0") result += ".rc." + std::string(rest);
  return result;
}

VersionParts SplitFileVersion(std::string_view fileVersion) {
  const std::string none(kInfoNotAvailable);
  char separator = '.';
  if (fileVersion.find('.') == std::string_view::npos) {
    if (fileVersion.find(',') == std::string_view::npos) return {none, none, none, none};
    separator = ',';
  }
  std::string_view rest = fileVersion;
  VersionParts parts;
  parts.MajorVersion = TakePart(rest, separator);
  parts.MinorVersion = TakePart(rest, separator);
  parts.Release = TakePart(rest, separator);
  parts.Build = rest;
  return parts;
}

std::string RunningExecutablePath() { return platform::ExecutablePath(); }

TQSVersionInfo::TQSVersionInfo() : TQSVersionInfo(RunningExecutablePath()) {}

TQSVersionInfo::TQSVersionInfo(const std::string& file) { GetInfo(file); }

void TQSVersionInfo::GetInfo(const std::string& file) {
  // The ten string values, looked up in this order.
  static constexpr std::array<std::pair<std::string_view, std::string TQSVersionInfo::*>, 10> kValues{{
      {"CompanyName", &TQSVersionInfo::CompanyName_},
      {"FileDescription", &TQSVersionInfo::FileDescription_},
      {"FileVersion", &TQSVersionInfo::FileVersion_},
      {"InternalName", &TQSVersionInfo::Internalname_},
      {"LegalCopyright", &TQSVersionInfo::LegalCopyright_},
      {"LegalTradeMarks", &TQSVersionInfo::LegalTradeMarks_},
      {"OriginalFilename", &TQSVersionInfo::OriginalFilename_},
      {"ProductName", &TQSVersionInfo::ProductName_},
      {"ProductVersion", &TQSVersionInfo::ProductVersion_},
      {"Comments", &TQSVersionInfo::Comments_},
  }};

  const std::optional<version_block::Block> block = FindVersionInfo(file, kValues);
  if (!block) {
    for (const auto& [name, member] : kValues) this->*member = kInfoNotAvailable;
    MajorVersion_ = MinorVersion_ = Release_ = Build_ = kInfoNotAvailable;
    // A reader used on an earlier file must not keep that file's short
    // version beside the placeholders; a fresh reader holds "" here anyway.
    FileShortVersion_.clear();
    return;
  }
  for (const auto& [name, member] : kValues) {
    const std::string* value = block->Find(name);
    this->*member = value ? *value : std::string();
  }
  FileShortVersion_ = ShortVersion(FileVersion_);
  VersionParts parts = SplitFileVersion(FileVersion_);
  MajorVersion_ = std::move(parts.MajorVersion);
  MinorVersion_ = std::move(parts.MinorVersion);
  Release_ = std::move(parts.Release);
  Build_ = std::move(parts.Build);
}

}  // namespace vorsal
