#include "cli/json_text.h"

#include "keys/cp1251.h"

#include <cstdio>

namespace vorsal::cli {

namespace {

void AppendEscape(std::string& out, unsigned code) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
  out += escaped;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      // Well-formed UTF-8 is kept; any other byte B becomes the lone
      // surrogate U+DC00 + B, so the text stays valid and every byte can be
      // recovered (the "surrogateescape" convention).
      const std::size_t length = Utf8SequenceLength(text, i);
      if (length == 0) {
        AppendEscape(out, 0xDC00u + static_cast<unsigned char>(c));
      } else {
        out.append(text.substr(i, length));
        i += length - 1;
      }
      continue;
    }
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
          AppendEscape(out, static_cast<unsigned char>(c));
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
