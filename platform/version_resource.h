// The version resource that the system keeps in an executable file, where
// the system has one (Windows' VERSIONINFO). Linux executables carry none:
// there the program's own version block stands in (app/version_block.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorsal::platform {

struct VersionResource {
  std::uint16_t language = 0;
  std::uint16_t codePage = 0;
  // The values of `names` that the resource holds, in the order asked for.
  std::vector<std::pair<std::string, std::string>> values;
};

// The string values `names` of the first translation in the version
// resource of the executable `file`; nullopt when it has none.
std::optional<VersionResource> ReadVersionResource(const std::string& file,
                                                   const std::vector<std::string_view>& names);

}  // namespace vorsal::platform
