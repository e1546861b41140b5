// The user guide against the program. The guide puts what the window shows
// (captions, status texts, messages) in «»; each such quote must be a text
// the program has. A value the program fills in is written <i>thus</i> in
// the guide and %1 (or is appended) in the program; a quote may end in "…"
// where it leaves the rest of a message out.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path Repository = fs::path(__FILE__).parent_path().parent_path().parent_path();
constexpr char Value = '\x01';  // stands for a value filled in, on both sides
const std::string Ellipsis = "…";

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The string literals of C++ source, adjacent ones joined, with the escapes
// \" \\ \n resolved and Qt's %1..%9 turned into Value. Comments and character
// literals are skipped.
std::vector<std::string> Literals(const std::string& source) {
  std::vector<std::string> literals;
  bool joining = false;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const char c = source[i];
    if (source.compare(i, 2, "//") == 0) {
      i = source.find('\n', i);
      if (i == std::string::npos) break;
    } else if (source.compare(i, 2, "/*") == 0) {
      i = source.find("*/", i);
      if (i == std::string::npos) break;
      ++i;
    } else if (c == '\'') {
      for (++i; i < source.size() && source[i] != '\''; ++i) i += source[i] == '\\';
      joining = false;
    } else if (c == '"') {
      std::string text;
      for (++i; i < source.size() && source[i] != '"'; ++i) {
        if (source[i] == '\\' && i + 1 < source.size()) {
          ++i;
          text += source[i] == 'n' ? '\n' : source[i];
        } else if (source[i] == '%' && i + 1 < source.size() && source[i + 1] >= '1' && source[i + 1] <= '9') {
          text += Value;
          ++i;
        } else {
          text += source[i];
        }
      }
      if (joining) {
        literals.back() += text;
      } else {
        literals.push_back(text);
      }
      joining = true;
    } else if (!std::isspace(static_cast<unsigned char>(c))) {
      joining = false;
    }
  }
  return literals;
}

// The «» quotes of the guide as a reader sees them: markup dropped, <i>…</i>
// as Value, entities decoded, white space collapsed.
std::vector<std::string> Quotes(const std::string& html) {
  const std::string open = "«", close = "»";
  std::vector<std::string> quotes;
  for (std::size_t at = html.find(open); at != std::string::npos; at = html.find(open, at)) {
    at += open.size();
    const std::size_t end = html.find(close, at);
    if (end == std::string::npos) break;
    std::string text;
    for (std::size_t i = at; i < end; ++i) {
      if (html.compare(i, 3, "<i>") == 0) {
        text += Value;
        i = html.find("</i>", i) + 3;
      } else if (html[i] == '<') {
        i = html.find('>', i);
      } else if (html[i] == '&') {
        const std::size_t semicolon = html.find(';', i);
        const std::string entity = html.substr(i, semicolon + 1 - i);
        text += entity == "&amp;" ? "&" : entity == "&lt;" ? "<" : entity == "&gt;" ? ">" : entity == "&quot;" ? "\"" : " ";
        i = semicolon;
      } else if (std::isspace(static_cast<unsigned char>(html[i]))) {
        if (!text.empty() && text.back() != ' ') text += ' ';
      } else {
        text += html[i];
      }
    }
    quotes.push_back(text);
    at = end;
  }
  return quotes;
}

// The pieces of a text between its values.
std::vector<std::string> Pieces(const std::string& text) {
  std::vector<std::string> pieces;
  std::istringstream in(text);
  for (std::string piece; std::getline(in, piece, Value);) {
    if (!piece.empty()) pieces.push_back(piece);
  }
  return pieces;
}

TEST(HelpGuide, EveryQuotedTextIsOneTheProgramShows) {
  std::vector<std::string> program;
  for (const char* folder : {"ui", "protocol"}) {
    for (const auto& entry : fs::directory_iterator(Repository / folder)) {
      if (entry.path().extension() != ".cpp" && entry.path().extension() != ".h") continue;
      for (const std::string& literal : Literals(ReadAll(entry.path()))) {
        for (const std::string& piece : Pieces(literal)) program.push_back(piece);
      }
    }
  }
  const std::vector<std::string> quotes = Quotes(ReadAll(Repository / "dist" / "help" / "Vorsal.html"));
  ASSERT_GT(quotes.size(), 30u);
  for (std::string quote : quotes) {
    const bool shortened = quote.size() >= Ellipsis.size() &&
                           quote.compare(quote.size() - Ellipsis.size(), Ellipsis.size(), Ellipsis) == 0;
    if (shortened) quote.resize(quote.size() - Ellipsis.size());
    for (const std::string& piece : Pieces(quote)) {
      bool found = false;
      for (const std::string& text : program) found = found || text.find(piece) != std::string::npos;
      EXPECT_TRUE(found) << "the guide quotes «" << piece << "», which the program never shows";
    }
  }
}

}  // namespace
