// Runs one engine operation from the command line for bench/run.sh. The message box says Yes
// to the confirmation and No to the delete question, so a timed run is the copy and nothing
// else; anything else the engine says goes to standard error and fails the run.

#include "message_box.h"
#include "operations.h"
#include "progress.h"

#include <charconv>
#include <cstdint>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

class BenchMessageBox final : public tolvar::MessageBox {
public:
    tolvar::MsgAnswer present(const tolvar::BoxText& shown) override {
        using tolvar::QuestionKind;
        if (shown.question != QuestionKind::None)
            return shown.question == QuestionKind::DeleteSource ||
                           shown.question == QuestionKind::DeleteParts
                       ? tolvar::MsgAnswer::No
                       : tolvar::MsgAnswer::Yes;
        std::cerr << shown.title << ": " << shown.text << '\n';
        return tolvar::MsgAnswer::Ok;
    }
};

// Listens the way a progress dialog would, to measure what listening costs.
class CountingObserver final : public tolvar::ProgressObserver {
public:
    bool onProgress(const tolvar::Progress& progress) override {
        ++calls;
        lastBytes = progress.bytesDone;
        return true;
    }

    std::uint64_t calls = 0;
    std::uint64_t lastBytes = 0;
};

std::optional<std::int32_t> parseCount(std::string_view text) {
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value <= 0) {
        return std::nullopt;
    }
    return value;
}

int usage() {
    std::cerr
        << "usage: tolvar-bench [--observe] [--recovery N] [--checksums] split-size SOURCE KB "
           "PREFIX\n"
           "       tolvar-bench [--observe] [--recovery N] [--checksums] split-number SOURCE "
           "PARTS PREFIX\n"
           "       tolvar-bench [--observe] assemble FIRST_PART PREFIX\n"
           "PREFIX is used as the window passes it: the part index or the name tail is\n"
           "appended to it as it is. --observe passes a progress observer that listens;\n"
           "--recovery N also writes N recovery parts; --checksums the checksum file.\n";
    return 2;
}

int run(std::span<const std::string> args) {
    bool observe = false;
    int recoveryParts = 0;
    bool checksums = false;
    for (;;) {
        if (!args.empty() && args.front() == "--observe") {
            observe = true;
            args = args.subspan(1);
        } else if (!args.empty() && args.front() == "--checksums") {
            checksums = true;
            args = args.subspan(1);
        } else if (args.size() >= 2 && args.front() == "--recovery") {
            const auto count = parseCount(args[1]);
            if (!count)
                return usage();
            recoveryParts = *count;
            args = args.subspan(2);
        } else {
            break;
        }
    }
    if (args.empty()) {
        return usage();
    }

    BenchMessageBox box;
    CountingObserver observer;
    tolvar::OperationContext context{box};
    const tolvar::SplitOptions splitOptions{recoveryParts, checksums, false};
    if (observe) {
        context.progress = &observer;
    }

    const std::string& command = args[0];
    bool done = false;
    if ((command == "split-size" || command == "split-number") && args.size() == 4) {
        const auto count = parseCount(args[2]);
        if (!count) {
            return usage();
        }
        done = command == "split-size"
                   ? tolvar::SplitFile(args[1], *count, args[3], args[1], context, splitOptions)
                   : tolvar::SplitFile2(args[1], *count, args[3], args[1], context, splitOptions);
    } else if (command == "assemble" && args.size() == 3) {
        done = tolvar::AssembleFile(args[1], args[2], context);
    } else {
        return usage();
    }

    if (observe) {
        std::cerr << "progress: " << observer.calls << " calls, " << observer.lastBytes
                  << " bytes reported last\n";
    }
    return done ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return run(args);
}
