// Windows only: conversions between the program's UTF-8 text and the
// system's UTF-16, shared by the win32_*.cpp files.
#pragma once

#include <string>
#include <string_view>

namespace vorsal::platform {

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

}  // namespace vorsal::platform
