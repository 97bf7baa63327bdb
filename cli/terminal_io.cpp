#include "terminal_io.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace tolvar::cli {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void onStopSignal(int) {
    stopRequested = 1;
}

// Restores the signal mask on every way out of the prompt.
class BlockedStopSignals {
public:
    BlockedStopSignals() {
        sigset_t stops;
        sigemptyset(&stops);
        sigaddset(&stops, SIGINT);
        sigaddset(&stops, SIGTERM);
        sigprocmask(SIG_BLOCK, &stops, &previous);
    }
    ~BlockedStopSignals() { sigprocmask(SIG_SETMASK, &previous, nullptr); }
    BlockedStopSignals(const BlockedStopSignals&) = delete;
    BlockedStopSignals& operator=(const BlockedStopSignals&) = delete;

    const sigset_t& unblocked() const { return previous; }

private:
    sigset_t previous;
};

} // namespace

void writeToStderr(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        done += static_cast<std::size_t>(written);
    }
}

void watchStopSignals() {
    // No SA_RESTART: a wait for input must end when the user presses Ctrl+C.
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

const volatile std::sig_atomic_t* stopFlag() {
    return &stopRequested;
}

std::optional<std::string> readLineFromStdin() {
    // The stop signals stay blocked except inside ppoll, which unblocks them atomically with
    // the wait: a signal between the flag test and the wait would otherwise be lost and the
    // prompt would hang.
    const BlockedStopSignals blocked;
    std::string line;
    for (;;) {
        if (stopRequested != 0)
            return std::nullopt;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = ::ppoll(&input, 1, nullptr, &blocked.unblocked());
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        // Byte by byte, so nothing after the answer is taken from standard input.
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0 && !line.empty() ? std::optional<std::string>(line) : std::nullopt;
        if (c == '\n')
            return line;
        line += c;
    }
}

} // namespace tolvar::cli
