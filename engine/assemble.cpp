#include "checksum_file.h"
#include "file_io.h"
#include "hashed_copy.h"
#include "operations.h"
#include "part_header.h"
#include "recovery.h"

#include <cerrno>
#include <memory>
#include <optional>

namespace tolvar {

using detail::FileHandle;

namespace {

// Reads the first 16 bytes; empty when the file is no part at all (shorter than a header, or
// without the tag).
Result<std::optional<PartHeader>> readHeader(FileSystem& fs, int fd, const std::string& path) {
    HeaderBytes bytes{};
    auto got = detail::readFully(fs, fd, bytes.data(), bytes.size(), 0, path);
    if (!got)
        return got.failure();
    if (got.value() < kHeaderSize || !isPart(std::string_view(bytes.data(), bytes.size())))
        return std::optional<PartHeader>{};
    return std::optional<PartHeader>{PartHeader::parse(bytes)};
}

// The tail comes from a file anyone may have written: it must not lead the output out of its
// folder or make a name the system cannot hold.
bool isSafeOutputName(const std::string& tail, const std::string& output) {
    if (tail.find('\0') != std::string::npos || tail.find('/') != std::string::npos)
        return false;
    const auto slash = output.rfind('/');
    const std::string last = slash == std::string::npos ? output : output.substr(slash + 1);
    return !last.empty() && last != "." && last != "..";
}

class Assembler {
public:
    Assembler(OperationContext& context, const std::string& chosen, const std::string& prefix)
        : context(context), fs(context.fs), chosen(chosen), prefix(prefix) {}

    // True when the output is in place; false when refused (already said), stopped silently
    // or cancelled.
    detail::Step run();
    void removeTemporary();

    std::string output;
    std::vector<std::string> parts;
    std::string checksumPath; // the checksum file the parts were checked against, if any

private:
    bool refuse(const char* message) {
        context.box.refuse(message);
        return false;
    }
    bool outputIsSafe(const std::string& tail);
    detail::Step copyParts(FileHandle& out, int partCount);
    detail::Step checkAgainstChecksums(const PartHeader& first);

    // The checksum file beside the set, when there is a usable one; then every part has been
    // checked against it before the output is created, and the output is hashed as written.
    std::optional<ChecksumFile> checksums;
    std::unique_ptr<detail::ParallelHasher> hasher;
    int outputStream = -1;
    int outputReadFd = -1;
    off_t outputLength = 0;

    OperationContext& context;
    FileSystem& fs;
    const std::string& chosen;
    const std::string& prefix;
    std::string base;
    std::string temporary;
};

bool Assembler::outputIsSafe(const std::string& tail) {
    if (!isSafeOutputName(tail, output))
        return refuse(messages::kUnsafeNameTail);
    // The output replaces whatever has its name, which must not be a file still to be read.
    struct stat outputStat {};
    const bool outputExists = fs.stat(output, &outputStat) == 0;
    auto clashes = [&](const std::string& name) {
        struct stat st {};
        return name == output ||
               (outputExists && fs.stat(name, &st) == 0 && detail::sameFile(st, outputStat));
    };
    if (clashes(chosen))
        return refuse(messages::kOutputIsPart);
    for (const auto& name : parts) {
        if (clashes(name))
            return refuse(messages::kOutputIsPart);
    }
    return true;
}

detail::Step Assembler::copyParts(FileHandle& out, int partCount) {
    std::uint64_t total = 0;
    for (const auto& name : parts) {
        struct stat st {};
        if (fs.stat(name, &st) == 0 && st.st_size > static_cast<off_t>(kHeaderSize))
            total += static_cast<std::uint64_t>(st.st_size) - kHeaderSize;
    }
    if (auto reserved = detail::preallocate(fs, out.get(), total, output); !reserved)
        return reserved.failure();
    detail::ProgressTracker tracker(context.progress, total, partCount);
    detail::Copier copier(fs, tracker);
    for (int index = 0; index < partCount; ++index) {
        const std::string& name = parts[static_cast<std::size_t>(index)];
        struct stat st {};
        auto opened = detail::openForReading(fs, name, &st);
        if (!opened)
            return opened.failure();
        const auto header = readHeader(fs, opened.value().get(), name);
        if (!header)
            return header.failure();
        if (!header.value())
            return refuse(messages::kNotBrokenFile);
        if (header.value()->PartIndex != index)
            return false;

        tracker.setPart(index, name);
        if (index == 0 && !tracker.advance(0))
            return false;
        const auto size = static_cast<std::uint64_t>(st.st_size);
        const std::uint64_t expected = size > kHeaderSize ? size - kHeaderSize : 0;
        if (hasher) {
            // The part was just verified, so its length is known; whatever it gained since
            // still goes through copyToEnd and fails the whole-file check below.
            off_t inOffset = static_cast<off_t>(kHeaderSize);
            const detail::HashTarget target{outputStream, 0};
            auto copied = detail::copyHashed(fs, copier, *hasher, opened.value().get(), inOffset,
                                             out.get(), outputReadFd, outputLength, expected, name,
                                             output, {&target, 1});
            if (!copied || !copied.value())
                return copied;
        }
        auto copied = copier.copyToEnd(opened.value().get(),
                                       static_cast<off_t>(kHeaderSize + (hasher ? expected : 0)),
                                       hasher ? 0 : expected, out.get(), name, output);
        if (!copied || !copied.value())
            return copied;
    }
    return true;
}

detail::Step Assembler::checkAgainstChecksums(const PartHeader& first) {
    auto lookup = lookUpChecksumFile(fs, base, first);
    if (!lookup)
        return lookup.failure();
    if (lookup.value().problem) {
        // Say why, then join with the checks every set gets.
        context.box.inform(messages::checksumFileUnusableMessage(lookup.value().path,
                                                                 lookup.value().problem->reason));
        return true;
    }
    if (!lookup.value().file)
        return true;
    std::vector<PartVerdict> verdicts;
    auto verified = verifyParts(fs, base, *lookup.value().file, first, context.progress, verdicts);
    if (!verified || !verified.value())
        return verified;
    std::string bad;
    const PartVerdict* missing = nullptr;
    for (const PartVerdict& verdict : verdicts) {
        // A damaged recovery part costs the rebuilt file nothing.
        if (verdict.recovery || verdict.condition == PartCondition::Good)
            continue;
        if (verdict.condition == PartCondition::Missing && missing == nullptr)
            missing = &verdict;
        bad += "\n'" + verdict.path + "': " + describeVerdict(verdict);
    }
    // Only missing parts: the same report a set without a checksum file gets.
    if (missing != nullptr && bad.find(": damaged") == std::string::npos &&
        bad.find(": foreign") == std::string::npos)
        return fileFailure(ENOENT, FileAction::Open, missing->path);
    if (!bad.empty()) {
        context.box.refuse(messages::partsDoNotMatchMessage(bad));
        return false;
    }
    checksums = std::move(lookup.value().file);
    checksumPath = lookup.value().path;
    return true;
}

detail::Step Assembler::run() {
    PartHeader first;
    {
        auto opened = detail::openForReading(fs, chosen);
        if (!opened)
            return opened.failure();
        const auto header = readHeader(fs, opened.value().get(), chosen);
        if (!header)
            return header.failure();
        if (!header.value())
            return refuse(messages::kNotSplitFile);
        first = *header.value();
    }
    if (first.PartIndex != 0)
        return false;

    const auto baseName = partBaseName(chosen, {});
    if (!baseName)
        return makeFailure(FailureKind::InvalidArgument,
                           "cannot find the other broken files of '" + chosen + "'");
    base = *baseName;
    output = (prefix.empty() ? base : prefix) + first.NameTail;
    const int partCount = first.PartCount < 0 ? 0 : first.PartCount;
    for (int index = 0; index < partCount; ++index)
        parts.push_back(PartFileName(base, index));
    if (!outputIsSafe(first.NameTail))
        return false;

    // Build the file under a hidden name beside its destination and move it into place only
    // when complete: a failure never leaves a partial file or costs an existing one.
    if (auto checked = checkAgainstChecksums(first); !checked || !checked.value())
        return checked;
    auto out = detail::createTemporary(fs, detail::folderOf(output), output, temporary);
    if (!out)
        return out.failure();
    FileHandle readBack;
    if (checksums) {
        auto opened = detail::openForReading(fs, temporary);
        if (!opened)
            return opened.failure();
        readBack = std::move(opened.value());
        outputReadFd = readBack.get();
        hasher = std::make_unique<detail::ParallelHasher>(1);
        outputStream = hasher->openStream(0);
    }
    auto copied = copyParts(out.value(), partCount);
    if (!copied || !copied.value())
        return copied;
    if (hasher) {
        // Bytes a part gained after it was verified are in the output but not yet hashed.
        struct stat st {};
        if (fs.fstat(outputReadFd, &st) != 0)
            return fileFailure(errno, FileAction::Read, output);
        const detail::HashTarget target{outputStream, 0};
        if (auto hashed = detail::hashWritten(fs, *hasher, outputReadFd, outputLength, st.st_size,
                                              output, {&target, 1});
            !hashed)
            return hashed.failure();
        if (hasher->finishStream(outputStream) != checksums->wholeDigest)
            return refuse(messages::kAssembledDiffers);
    }
    if (out.value().close() != 0)
        return fileFailure(errno, FileAction::Close, output);
    if (fs.rename(temporary, output) != 0)
        return fileFailure(errno, FileAction::Rename, output);
    temporary.clear();
    return true;
}

void Assembler::removeTemporary() {
    if (!temporary.empty())
        fs.unlink(temporary);
    temporary.clear();
}

} // namespace

std::string messages::checksumFileUnusableMessage(const std::string& path,
                                                  const std::string& reason) {
    return "The checksum file '" + path + "' cannot be used: " + reason +
           ". The broken files are checked without it.";
}

std::string messages::partsDoNotMatchMessage(const std::string& list) {
    return "Nothing was assembled: these broken files do not match the checksum file:" + list;
}

bool AssembleFile(const std::string& Filename, const std::string& Prefix,
                  OperationContext& context) {
    if (!context.box.ask(messages::kConfirmAssemble))
        return false;

    Assembler assembler(context, Filename, Prefix);
    const detail::Step assembled = assembler.run();
    if (!assembled || !assembled.value()) {
        assembler.removeTemporary();
        if (!assembled)
            showFailureReport(context.box, assembled.failure());
        return false;
    }

    if (!context.box.ask(messages::kDeleteParts))
        return true;
    // The rebuilt file becomes the only copy: make sure it is on disk before the parts go.
    if (auto synced = detail::syncToDisk(context.fs, {assembler.output}); !synced) {
        showFailureReport(context.box, synced.failure());
        return false;
    }
    // The set's recovery parts go with it: without the broken files they can rebuild nothing.
    std::vector<std::string> doomed = assembler.parts;
    if (!assembler.parts.empty()) {
        const std::string& first = assembler.parts.front();
        auto recovery = findRecoveryParts(context.fs, first.substr(0, first.size() - 3),
                                          static_cast<int>(assembler.parts.size()));
        if (!recovery) {
            showFailureReport(context.box, recovery.failure());
            return false;
        }
        for (const auto& part : recovery.value())
            doomed.push_back(part.path);
    }
    // So does the checksum file that vouched for them; one that was not theirs stays.
    if (!assembler.checksumPath.empty())
        doomed.push_back(assembler.checksumPath);
    for (const auto& name : doomed) {
        if (context.fs.unlink(name) != 0) {
            showFailureReport(context.box, fileFailure(errno, FileAction::Delete, name));
            return false;
        }
    }
    return true;
}

} // namespace tolvar
