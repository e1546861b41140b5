// TQSVersionInfo: reads the version information of an executable file (the
// version block, see app/version_block.h) and derives the short version text
// and the four numeric parts of the file version.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace vorsal {

// What every property holds when a file has no version information.
inline constexpr std::string_view kInfoNotAvailable = "<info not available>";

// The short version of a file version text V (at most its first 255
// characters): the first two dot-separated parts, then ".third" unless the
// third part is exactly "0", then ".rc.fourth" unless the fourth part is
// exactly "0". 3.2.0.0 -> 3.2, 3.2.1.7 -> 3.2.1.rc.7, 1.0.00.0 -> 1.0.00.
// The first three parts are cut at dots; the fourth is whatever remains, so
// 3.2 gives 3...rc.2.
std::string ShortVersion(std::string_view fileVersion);

struct VersionParts {
  std::string MajorVersion;
  std::string MinorVersion;
  std::string Release;
  std::string Build;
};

// The four parts of a file version, separated by "." or, when the text has
// no dot, by ",". Blanks are kept. Empty text or text with neither separator
// gives kInfoNotAvailable in all four.
VersionParts SplitFileVersion(std::string_view fileVersion);

// Full path of the running executable ("" when the system cannot tell).
std::string RunningExecutablePath();

class TQSVersionInfo {
 public:
  // Reads the running executable.
  TQSVersionInfo();
  // Reads the named file.
  explicit TQSVersionInfo(const std::string& file);

  // Fills all fifteen properties from the named file. A file without version
  // information (or one that cannot be read) sets the ten values and the
  // four parts to kInfoNotAvailable and FileShortVersion to "".
  // Reports nothing and raises nothing.
  void GetInfo(const std::string& file);

#define VORSAL_QSV_PROPERTY(Name)                                   \
 public:                                                            \
  const std::string& Name() const { return Name##_; }               \
  void Set##Name(std::string value) { Name##_ = std::move(value); } \
                                                                    \
 private:                                                           \
  std::string Name##_;

  VORSAL_QSV_PROPERTY(CompanyName)
  VORSAL_QSV_PROPERTY(FileDescription)
  VORSAL_QSV_PROPERTY(FileVersion)
  VORSAL_QSV_PROPERTY(FileShortVersion)
  VORSAL_QSV_PROPERTY(Internalname)
  VORSAL_QSV_PROPERTY(LegalCopyright)
  VORSAL_QSV_PROPERTY(LegalTradeMarks)
  VORSAL_QSV_PROPERTY(OriginalFilename)
  VORSAL_QSV_PROPERTY(ProductName)
  VORSAL_QSV_PROPERTY(ProductVersion)
  VORSAL_QSV_PROPERTY(Comments)
  VORSAL_QSV_PROPERTY(MajorVersion)
  VORSAL_QSV_PROPERTY(MinorVersion)
  VORSAL_QSV_PROPERTY(Release)
  VORSAL_QSV_PROPERTY(Build)

#undef VORSAL_QSV_PROPERTY
};

}  // namespace vorsal
