// Linux executables have no version resource.
#include "platform/version_resource.h"

namespace vorsal::platform {

std::optional<VersionResource> ReadVersionResource(const std::string&, const std::vector<std::string_view>&) {
  return std::nullopt;
}

}  // namespace vorsal::platform
