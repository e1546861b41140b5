// One JSON object on one line, built field by field in order.
#pragma once

#include <string>
#include <string_view>

namespace vorsal::cli {

// The text as a JSON string literal, always valid UTF-8: quotes,
// backslashes and control characters (C1 too) escaped; well-formed UTF-8 kept as it
// is; every other byte B (a path that is not UTF-8) written as the escaped
// lone surrogate \uDCxx, U+DC00 + B, from which the byte is recovered.
std::string JsonString(std::string_view text);

// The text made safe to print on a terminal: control characters (C0, DEL
// and C1, which start escape sequences) and bytes that are not UTF-8 become
// \xNN (a backslash itself \\); well-formed UTF-8 is kept.
std::string PrintableText(std::string_view text);

class JsonObject {
 public:
  JsonObject& Add(std::string_view name, std::string_view value);
  JsonObject& Add(std::string_view name, const char* value) { return Add(name, std::string_view(value)); }
  JsonObject& Add(std::string_view name, int value);
  JsonObject& Add(std::string_view name, bool value);
  std::string Text() const { return "{" + fields_ + "}"; }

 private:
  void Name(std::string_view name);
  std::string fields_;
};

}  // namespace vorsal::cli
