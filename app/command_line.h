// What the command-line programs (vorsal-cli, vorsal-key, the modem
// simulator) share in their messages.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorsal {

// A command-line argument as the tools quote it in their one-line messages:
// between single quotes, with control characters (codes below 32, and 127)
// written as \xHH so that a message never spans lines or moves the cursor.
std::string QuotedArgument(std::string_view argument);

// A whole decimal number as the tools take it: digits with an optional
// leading minus and nothing else (no blanks, no plus sign), within int's
// range; nullopt otherwise.
std::optional<int> ParseWholeNumber(std::string_view text);
// The same within [low, high].
std::optional<int> ParseWholeNumber(std::string_view text, int low, int high);

}  // namespace vorsal
