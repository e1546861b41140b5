// Reading a secret from the user's terminal.
#pragma once

#include <optional>
#include <string>

namespace vorsal::platform {

// Writes `prompt` to standard error and reads one line from the terminal on
// standard input without echoing it; the line ends without its newline.
// Ctrl+C while typing restores the echo before the program ends. nullopt
// at the end of input or on a read error.
std::optional<std::string> ReadSecretLine(const std::string& prompt);

}  // namespace vorsal::platform
