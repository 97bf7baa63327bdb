#pragma once

// Helpers of the engine tests on top of the shared ones: the descriptor count, message
// expectations and the check that a folder holds a correct set of broken files.

#include "failure.h"
#include "faulty_file_system.h"
#include "files.h"
#include "message_box.h"
#include "operations.h"
#include "part_header.h"
#include "recovery.h"
#include "run_journal.h"
#include "scratch_dir.h"
#include "scripted_message_box.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tolvar::testing {

// Writes recovery parts 0 to N - 1 of a set whose broken files (dataPaths, in index order) are
// complete on disk, at RecoveryFileName(base, j), through the encoder a split uses; what it
// created goes to created. For tests that build a set part by part.
inline Result<bool> writeRecoveryParts(FileSystem& fs, const RecoveryLayout& layout,
                                       const std::vector<std::string>& dataPaths,
                                       const std::string& base, std::vector<std::string>& created,
                                       ProgressObserver* observer = nullptr,
                                       std::vector<Digest>* digests = nullptr) {
    std::vector<int> fds;
    std::vector<RebuildTarget> targets;
    for (int j = 0; j < layout.recoveryCount; ++j) {
        const std::string name = RecoveryFileName(base, j);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0)
            return fileFailure(errno, FileAction::Create, name);
        created.push_back(name);
        fds.push_back(fd);
        targets.push_back({0, fd, name, nullptr});
    }
    auto step = writeRecoveryInto(fs, layout, dataPaths, targets, observer, digests);
    for (const int fd : fds)
        ::close(fd);
    return step;
}

inline const std::string kTitle(kProductTitle);

inline bool operator==(const ShownMessage& a, const ShownMessage& b) {
    return a.text == b.text && a.style == b.style && a.title == b.title && a.question == b.question;
}

inline void PrintTo(const ShownMessage& message, std::ostream* out) {
    *out << "{\"" << message.text << "\", style " << static_cast<int>(message.style) << ", \""
         << message.title << "\", question " << static_cast<int>(message.question) << "}";
}

inline ShownMessage question(const Message& message) {
    return {message.text(), MsgStyle::Question, kTitle, message.question()};
}
// The delete questions, which name their files and default to No.
inline ShownMessage deleteSourceQuestion(const std::string& source) {
    return {messages::deleteSourceQuestion(source), MsgStyle::QuestionDefaultNo, kTitle,
            QuestionKind::DeleteSource};
}
inline ShownMessage deletePartsQuestion(std::size_t parts, const std::string& output,
                                        bool checksumFile = false, bool recoveryFiles = false) {
    return {messages::deletePartsQuestion(parts, output, checksumFile, recoveryFiles),
            MsgStyle::QuestionDefaultNo, kTitle, QuestionKind::DeleteParts};
}
inline ShownMessage refusal(std::string text) {
    return {std::move(text), MsgStyle::Critical, kTitle};
}

// A scripted box whose surprises fail the running test instead of aborting.
inline ScriptedMessageBox scriptedBox(std::vector<MsgAnswer> script = {}) {
    return ScriptedMessageBox(std::move(script),
                              [](const std::string& what) { ADD_FAILURE() << what; });
}

// Every name in a folder, hidden ones included.
inline std::set<std::string> listDir(const std::string& path) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.insert(entry.path().filename().string());
    return names;
}

// The descriptors this process has open right now.
inline int openDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// The 16 bytes a part header should hold, spelled out independently of the engine.
inline std::string expectedHeader(int index, int count, std::string_view tail) {
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, "%03d%03d", index, count);
    return "SPLITKV" + std::string(numbers) + std::string(tail);
}

inline std::string partName(std::string_view base, int index) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03d", index);
    return std::string(base) + digits;
}

// Whether base000 ... base<count-1> hold `source` cut into payloads of `partSize` bytes, each
// with its header, and no part numbered `count` lies beside them.
inline ::testing::AssertionResult isPartSet(const std::string& base, std::string_view source,
                                            std::uint64_t partSize, std::string_view tail) {
    const auto count = static_cast<int>(source.size() / partSize + 1);
    for (int index = 0; index < count; ++index) {
        const std::string name = partName(base, index);
        if (!exists(name))
            return ::testing::AssertionFailure() << name << " is missing (set of " << count << ")";
        const std::string expected =
            expectedHeader(index, count, tail) +
            std::string(source.substr(static_cast<std::size_t>(index) * partSize, partSize));
        const std::string actual = readFile(name);
        if (actual != expected)
            return ::testing::AssertionFailure()
                   << name << ": " << actual.size() << " bytes starting \"" << actual.substr(0, 16)
                   << "\", expected " << expected.size() << " bytes starting \""
                   << expected.substr(0, 16) << "\"";
    }
    if (exists(partName(base, count)))
        return ::testing::AssertionFailure() << partName(base, count) << " should not exist";
    return ::testing::AssertionSuccess();
}

// Whether a message is a failure report of `kind` whose description mentions every text in
// `mentions` (typically the file's path and the system's reason).
inline ::testing::AssertionResult isFailureReport(const ShownMessage& message, FailureKind kind,
                                                  const std::vector<std::string>& mentions = {}) {
    const std::string title = kTitle + " - " + std::to_string(static_cast<int>(kind));
    if (message.style != MsgStyle::Critical || message.title != title)
        return ::testing::AssertionFailure() << "expected a failure report titled \"" << title
                                             << "\", got " << ::testing::PrintToString(message);
    for (const auto& mention : mentions)
        if (message.text.find(mention) == std::string::npos)
            return ::testing::AssertionFailure() << "description \"" << message.text
                                                 << "\" does not mention \"" << mention << "\"";
    return ::testing::AssertionSuccess();
}

// Where the first call of `kind` about `path` comes in the log; npos when there is none.
inline std::size_t firstCall(const std::vector<LoggedCall>& log, FsCall kind,
                             const std::string& path) {
    for (std::size_t i = 0; i < log.size(); ++i)
        if (log[i].kind == kind && log[i].path == path)
            return i;
    return std::string::npos;
}

inline std::size_t callCount(const std::vector<LoggedCall>& log, FsCall kind) {
    return std::size_t(std::count_if(log.begin(), log.end(),
                                     [&](const LoggedCall& call) { return call.kind == kind; }));
}

// A file layer that runs `during` once, at the first reservation of a file's room: the moment
// a run has made its first new file and not yet written to it.
struct MidwayFileSystem : PosixFileSystem {
    std::function<void()> during;
    int preallocate(int fd, off_t length) override {
        if (auto run = std::exchange(during, nullptr))
            run();
        return PosixFileSystem::preallocate(fd, length);
    }
};

// Journals go to a state folder of the test's own.
class StateFolder {
public:
    std::string journals() const { return state.home() / "tolvar-files-splitter"; }
    void plant(const detail::JournalContents& contents,
               const std::string& name = "run-1-planted.journal") {
        std::filesystem::create_directories(journals());
        std::filesystem::permissions(journals(), std::filesystem::perms::owner_all);
        writeFile(journals() + "/" + name, detail::formatJournal(contents));
    }
    std::size_t count() const {
        return std::filesystem::exists(journals()) ? listDir(journals()).size() : 0;
    }

private:
    ScopedStateFolder state;
};

// Runs the three operations with a scripted box and, optionally, a file layer of the test's.
class EngineRunner {
public:
    explicit EngineRunner(FileSystem& fs = defaultFileSystem()) : fs(fs) {}

    ScriptedMessageBox box = scriptedBox();
    ProgressObserver* progress = nullptr;

    bool split(const std::string& source, std::int32_t kilobytes, const std::string& prefix,
               std::vector<MsgAnswer> script) {
        box.reset(std::move(script));
        OperationContext context{box, fs, progress};
        return SplitFile(source, kilobytes, prefix, source, context);
    }
    bool split2(const std::string& source, std::int32_t number, const std::string& prefix,
                std::vector<MsgAnswer> script) {
        box.reset(std::move(script));
        OperationContext context{box, fs, progress};
        return SplitFile2(source, number, prefix, source, context);
    }
    bool assemble(const std::string& chosen, const std::string& prefix,
                  std::vector<MsgAnswer> script) {
        box.reset(std::move(script));
        OperationContext context{box, fs, progress};
        return AssembleFile(chosen, prefix, context);
    }

    const std::vector<ShownMessage>& shown() const { return box.shown(); }

private:
    FileSystem& fs;
};

} // namespace tolvar::testing

#define EXPECT_SHOWN(runner, ...)                                                                  \
    do {                                                                                           \
        EXPECT_EQ((runner).shown(), (std::vector<::tolvar::testing::ShownMessage>{__VA_ARGS__}));  \
        EXPECT_EQ((runner).box.unusedAnswers(), 0u) << "a scripted answer was never asked for";    \
    } while (false)
