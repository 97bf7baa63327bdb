#include "terminal_progress.h"

#include "byte_count.h"
#include "terminal_io.h"
#include "translation.h"

namespace tolvar::cli {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(250);

} // namespace

std::string formatProgressLine(const Progress& progress, double elapsedSeconds) {
    std::string line = bytesInUnits(progress.bytesDone) + " / " + bytesInUnits(progress.bytesTotal);
    // In place, which broken file goes now and how many are still to go.
    if (progress.movingInPlace)
        line = _("moving broken file ") + std::to_string(progress.partIndex + 1) + _(" of ") +
               std::to_string(progress.partCount) + " (" +
               std::to_string(progress.partCount - progress.partIndex - 1) + _(" after it), ") +
               line;
    if (elapsedSeconds > 0) {
        const double rate = static_cast<double>(progress.bytesDone) / elapsedSeconds;
        line += "  " + bytesInUnits(static_cast<std::uint64_t>(rate)) + "/s";
    }
    return line;
}

TerminalProgress::TerminalProgress(bool drawLine, const volatile std::sig_atomic_t* stop)
    : draw(drawLine), stopRequested(stop) {}

bool TerminalProgress::onProgress(const Progress& progress) {
    if (stopRequested != nullptr && *stopRequested != 0)
        return false;
    if (!draw)
        return true;
    const auto now = std::chrono::steady_clock::now();
    if (!started) {
        started = true;
        startTime = now;
    } else if (now - lastDrawn < kRedrawInterval && progress.bytesDone != progress.bytesTotal) {
        return true;
    }
    lastDrawn = now;
    const double elapsed = std::chrono::duration<double>(now - startTime).count();
    // "\033[K" erases what a longer earlier line left to the right.
    std::string line = "\r";
    line += formatProgressLine(progress, elapsed);
    line += "\033[K";
    writeToStderr(line);
    showing = true;
    return true;
}

void TerminalProgress::onNotice(const std::string& text) {
    clear();
    writeToStderr(text + "\n");
}

void TerminalProgress::clear() {
    if (!showing)
        return;
    writeToStderr("\r\033[K");
    showing = false;
}

} // namespace tolvar::cli
