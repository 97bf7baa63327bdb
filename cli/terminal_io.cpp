#include "terminal_io.h"

#include <unistd.h>

namespace tolvar::cli {

void writeToStderr(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (written <= 0)
            return;
        done += static_cast<std::size_t>(written);
    }
}

std::optional<std::string> readLineFromStdin() {
    // Byte by byte, so nothing after the answer is taken from standard input.
    std::string line;
    for (;;) {
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got <= 0)
            return got == 0 && !line.empty() ? std::optional<std::string>(line) : std::nullopt;
        if (c == '\n')
            return line;
        line += c;
    }
}

} // namespace tolvar::cli
