#include "cli/json_text.h"

#include <cstdio>

namespace vorsal::cli {

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

void JsonObject::Name(std::string_view name) {
  if (!fields_.empty()) fields_ += ',';
  fields_ += JsonString(name);
  fields_ += ':';
}

JsonObject& JsonObject::Add(std::string_view name, std::string_view value) {
  Name(name);
  fields_ += JsonString(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view name, int value) {
  Name(name);
  fields_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view name, bool value) {
  Name(name);
  fields_ += value ? "true" : "false";
  return *this;
}

}  // namespace vorsal::cli
