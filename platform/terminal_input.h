// Reading a secret from the user's terminal.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace vorsal::platform {

// Writes `prompt` to standard error and reads one line from the terminal on
// standard input without echoing it; the line ends without its newline.
// Reading stops after `maxBytes` bytes without a line break (the caller
// refuses such a line by its length). A stop signal (Ctrl+C, SIGTERM, a
// closed terminal) while typing restores the echo first, then ends the
// program or, where the program counts stops, the prompt. nullopt then, at
// the end of input or on a read error.
std::optional<std::string> ReadSecretLine(const std::string& prompt, std::size_t maxBytes);

}  // namespace vorsal::platform
