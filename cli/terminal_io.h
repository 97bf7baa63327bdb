#pragma once

#include <optional>
#include <string>

namespace tolvar::cli {

// Writes the whole text to standard error, unbuffered, so prompts and progress lines appear
// at once and in order. Errors are ignored: there is nowhere left to report them.
void writeToStderr(const std::string& text);

// Reads one line from standard input, without its end of line. Empty optional at end of
// input, on a read error, or when a signal interrupts the wait (so Ctrl+C at a prompt
// answers it rather than being swallowed).
std::optional<std::string> readLineFromStdin();

} // namespace tolvar::cli
