// The VERSIONINFO resource of an executable, through GetFileVersionInfoW
// and VerQueryValueW.
#include "platform/version_resource.h"
#include "platform/win32_text.h"

#include <windows.h>

#include <cstdio>

namespace vorsal::platform {

std::optional<VersionResource> ReadVersionResource(const std::string& file,
                                                   const std::vector<std::string_view>& names) {
  const std::wstring path = WideFromUtf8(file);
  DWORD unused = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &unused);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> data(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return std::nullopt;

  struct Translation {
    WORD language;
    WORD codePage;
  };
  Translation* translations = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                        &length) ||
      length < sizeof(Translation)) {
    return std::nullopt;
  }
  VersionResource resource;
  resource.language = translations[0].language;
  resource.codePage = translations[0].codePage;
  wchar_t block[32];
  std::swprintf(block, 32, L"\\StringFileInfo\\%04X%04X\\", resource.language, resource.codePage);
  for (const std::string_view name : names) {
    const std::wstring query = block + WideFromUtf8(name);
    wchar_t* value = nullptr;
    UINT chars = 0;
    if (!::VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars) || value == nullptr) {
      continue;
    }
    // The count may include the terminating NUL.
    std::wstring_view text(value, chars);
    while (!text.empty() && text.back() == L'\0') text.remove_suffix(1);
    resource.values.emplace_back(std::string(name), Utf8FromWide(text));
  }
  return resource;
}

}  // namespace vorsal::platform
