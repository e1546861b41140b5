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

// U+0080 to U+009F, two bytes from `at`: a terminal may take them for the
// start of an escape sequence.
bool IsC1Control(std::string_view text, std::size_t at) {
  return static_cast<unsigned char>(text[at]) == 0xC2 && at + 1 < text.size() &&
         static_cast<unsigned char>(text[at + 1]) <= 0x9F;
}

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto escape = [&out](unsigned char byte) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
    out += escaped;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = Utf8SequenceLength(text, i);
      if (length == 0) {
        escape(c);
      } else if (IsC1Control(text, i)) {
        escape(static_cast<unsigned char>(text[i + 1]));
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length - 1;
      }
    } else if (c < 0x20 || c == 0x7F) {
      escape(c);
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

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
      } else if (IsC1Control(text, i)) {
        AppendEscape(out, static_cast<unsigned char>(text[i + 1]));
        ++i;
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
