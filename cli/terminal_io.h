#pragma once

#include <csignal>
#include <optional>
#include <string>

namespace tolvar::cli {

// Writes the whole text to standard error, unbuffered, so prompts and progress lines appear
// at once and in order. Errors are ignored: there is nowhere left to report them.
void writeToStderr(const std::string& text);

// Makes the first SIGINT or SIGTERM only raise the stop flag, so a running copy can stop and
// clean up; a second one ends the program as usual.
void watchStopSignals();

// The flag raised by watchStopSignals' handler; non-zero once a stop was asked for.
const volatile std::sig_atomic_t* stopFlag();

// Reads one line from standard input, without its end of line. Empty optional at end of
// input, on a read error, or once a stop was asked for, even if the signal came just before
// the wait began (so Ctrl+C at a prompt answers it rather than being swallowed).
std::optional<std::string> readLineFromStdin();

} // namespace tolvar::cli
