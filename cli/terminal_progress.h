#pragma once

#include "progress.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <string>

namespace tolvar::cli {

// The text of one progress line: bytes done, total and rate, e.g.
// "1.5 MiB / 700.0 MiB  30.2 MiB/s". The rate is left out while elapsedSeconds is not above 0.
std::string formatProgressLine(const Progress& progress, double elapsedSeconds);

// Draws a progress line on standard error when it is a terminal, redrawn in place at most
// four times a second, and stops the operation once stopRequested (set by a signal handler)
// is non-zero. When drawing is off it only watches for the stop request.
class TerminalProgress : public ProgressObserver {
public:
    // draw: whether to draw at all (standard error is a terminal); stopRequested may be null,
    // and is only read, never reset.
    TerminalProgress(bool draw, const volatile std::sig_atomic_t* stopRequested);

    // Redraws when due; returns false once a stop was requested.
    bool onProgress(const Progress& progress) override;

    // A line of its own on standard error, whether or not progress is drawn.
    void onNotice(const std::string& text) override;

    // Erases the line if one is showing, so the next message starts on a clean line.
    void clear();

private:
    bool draw;
    const volatile std::sig_atomic_t* stopRequested;
    bool started = false;
    bool showing = false;
    std::chrono::steady_clock::time_point startTime;
    std::chrono::steady_clock::time_point lastDrawn;
};

} // namespace tolvar::cli
