#include "checksum_file.h"
#include "file_io.h"
#include "hashed_copy.h"
#include "operations.h"
#include "part_header.h"
#include "recovery.h"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <vector>

namespace tolvar {

using detail::FileHandle;

std::string messages::checksumNameTakenMessage(const std::string& path) {
    return "A file named '" + path + "' is already there and was not written by " +
           std::string(kProductTitle) + ". Move it away, or split without checksums.";
}

std::string messages::tooManyPartsMessage(std::int64_t partCount) {
    return "This split would need " + std::to_string(partCount) +
           " broken files, but a set can hold at most " + std::to_string(kMaxPartCount) +
           ". Choose a larger size or fewer broken files.";
}

namespace {

enum class SizeRule { Kilobytes, NumberOfParts };

// One split from the confirmed question to the last part, with its failure or cancellation
// remembered so the caller can report and clean up in one place.
class Splitter {
public:
    Splitter(OperationContext& context, const std::string& source, const std::string& prefix)
        : context(context), fs(context.fs), source(source), prefix(prefix) {}

    // True when every part is written; false when refused (already said) or cancelled.
    detail::Step run(SizeRule rule, std::int32_t amount);
    // Removes the parts this run created; used when it did not finish.
    void removeCreatedParts();

    std::vector<std::string> created;

private:
    bool refuse(const std::string& message) {
        context.box.refuse(message);
        return false;
    }
    Result<std::int64_t> computePartSize(SizeRule rule, std::int32_t amount, std::int64_t length);
    bool namesAreSafe(const std::string& base, int partCount, const struct stat& sourceStat);
    bool nameIsSafe(const std::string& name, const struct stat& sourceStat);
    detail::Step writeParts(int sourceFd, std::int64_t length, std::int64_t partSize, int partCount,
                            const std::string& base);
    Result<bool> checksumNameIsFree(const std::string& path);
    Result<void> writeChecksumFile(const std::string& base, const struct stat& sourceStat,
                                   std::int64_t partSize);

    // Set while a split with checksums runs: the hashing threads, the stream of the whole
    // source and one stream per part.
    std::unique_ptr<detail::ParallelHasher> hasher;
    int wholeStream = -1;
    std::vector<int> partStreams;
    std::vector<Digest> recoveryDigests;
    std::string checksumTemporary;

    OperationContext& context;
    FileSystem& fs;
    const std::string& source;
    const std::string& prefix;
};

Result<std::int64_t> Splitter::computePartSize(SizeRule rule, std::int32_t amount,
                                               std::int64_t length) {
    // A negative amount never comes from the window; refuse it before any file is written.
    if (amount < 0)
        return makeFailure(FailureKind::InvalidArgument,
                           rule == SizeRule::Kilobytes
                               ? "the size of a broken file cannot be negative"
                               : "the number of broken files cannot be negative");
    if (rule == SizeRule::Kilobytes) {
        // The part size is a 32-bit byte count, as in every set written so far.
        const std::int64_t partSize = std::int64_t{amount} * 1024;
        if (partSize > std::numeric_limits<std::int32_t>::max())
            return makeFailure(FailureKind::Overflow,
                               "a broken file can hold at most 2097151 KB, not " +
                                   std::to_string(amount) + " KB");
        return partSize;
    }
    if (amount == 0)
        return makeFailure(FailureKind::DivisionByZero, "cannot split a file into 0 broken files");
    return length / amount;
}

bool Splitter::nameIsSafe(const std::string& name, const struct stat& sourceStat) {
    // Creating a file replaces any file of its name: that must never be the source itself,
    // whether spelt the same, spelt differently or reached through another link.
    struct stat st {};
    return name != source && !(fs.stat(name, &st) == 0 && detail::sameFile(st, sourceStat));
}

bool Splitter::namesAreSafe(const std::string& base, int partCount, const struct stat& sourceStat) {
    for (int index = 0; index < partCount; ++index)
        if (!nameIsSafe(PartFileName(base, index), sourceStat))
            return refuse(messages::kPartIsSource);
    for (int index = 0; index < context.recoveryParts; ++index)
        if (!nameIsSafe(RecoveryFileName(base, index), sourceStat))
            return refuse(messages::kPartIsSource);
    return true;
}

detail::Step Splitter::writeParts(int sourceFd, std::int64_t length, std::int64_t partSize,
                                  int partCount, const std::string& base) {
    detail::ProgressTracker tracker(context.progress, static_cast<std::uint64_t>(length),
                                    partCount);
    detail::Copier copier(fs, tracker);
    off_t offset = 0;
    for (int index = 0; index < partCount; ++index) {
        const std::string name = PartFileName(base, index);
        auto part = detail::createReplacing(fs, name);
        if (!part)
            return part.failure();
        created.push_back(name);
        const std::int64_t payload =
            index + 1 < partCount ? partSize : length - std::int64_t{partCount - 1} * partSize;
        if (auto reserved = detail::preallocate(
                fs, part.value().get(), kHeaderSize + static_cast<std::uint64_t>(payload), name);
            !reserved)
            return reserved.failure();

        const HeaderBytes header = PartHeader::build(index, partCount, source);
        if (auto written =
                detail::writeAll(fs, part.value().get(), header.data(), header.size(), name);
            !written)
            return written.failure();

        tracker.setPart(index, name);
        if (index == 0 && !tracker.advance(0))
            return false;
        if (hasher) {
            // Hash what lands in the part, read back behind the copy from the page cache:
            // the source is read once, and the digests describe the parts as written.
            auto readBack = detail::openForReading(fs, name);
            if (!readBack)
                return readBack.failure();
            partStreams.push_back(hasher->openStream(1));
            const detail::HashTarget targets[] = {{partStreams.back(), 0},
                                                  {wholeStream, static_cast<off_t>(kHeaderSize)}};
            off_t partLength = 0;
            if (auto hashed = detail::hashWritten(fs, *hasher, readBack.value().get(), 0,
                                                  static_cast<off_t>(kHeaderSize), name, targets);
                !hashed)
                return hashed.failure();
            partLength = static_cast<off_t>(kHeaderSize);
            auto copied = detail::copyHashed(
                fs, copier, *hasher, sourceFd, offset, part.value().get(), readBack.value().get(),
                partLength, static_cast<std::uint64_t>(payload), source, name, targets);
            if (!copied || !copied.value())
                return copied;
        } else {
            auto copied = copier.copyExactly(sourceFd, offset, part.value().get(),
                                             static_cast<std::uint64_t>(payload), source, name);
            if (!copied || !copied.value())
                return copied;
        }
        if (part.value().close() != 0)
            return fileFailure(errno, FileAction::Close, name);
    }
    return true;
}

detail::Step Splitter::run(SizeRule rule, std::int32_t amount) {
    if (context.recoveryParts < 0 || context.recoveryParts > kMaxRecoveryParts)
        return makeFailure(FailureKind::InvalidArgument,
                           "a set can have 0 to " + std::to_string(kMaxRecoveryParts) +
                               " recovery parts, not " + std::to_string(context.recoveryParts));
    struct stat sourceStat {};
    auto opened = detail::openForReading(fs, source, &sourceStat);
    if (!opened)
        return opened.failure();
    FileHandle& file = opened.value();
    const std::int64_t length = sourceStat.st_size;

    const auto computed = computePartSize(rule, amount, length);
    if (!computed)
        return computed.failure();
    const std::int64_t partSize = computed.value();
    if (length <= partSize)
        return refuse(messages::kTooSmall);

    HeaderBytes first{};
    auto got = detail::readFully(fs, file.get(), first.data(), first.size(), 0, source);
    if (!got)
        return got.failure();
    if (isPart(std::string_view(first.data(), got.value())))
        return refuse(messages::kAlreadySplit);

    if (partSize == 0)
        return makeFailure(FailureKind::DivisionByZero,
                           "the file is too small for that many broken files");
    const std::int64_t partCount = length / partSize + 1;
    if (partCount > std::numeric_limits<std::int16_t>::max())
        return makeFailure(FailureKind::Overflow,
                           "the split would need " + std::to_string(partCount) + " broken files");
    if (partCount > kMaxPartCount)
        return refuse(messages::tooManyPartsMessage(partCount));

    const auto base = partBaseName(source, prefix);
    if (!base)
        return makeFailure(FailureKind::InvalidArgument,
                           "cannot name the broken files after '" + source + "'");
    if (!namesAreSafe(*base, static_cast<int>(partCount), sourceStat))
        return false;
    const std::string checksumPath = checksumFilePath(*base);
    if (!nameIsSafe(checksumPath, sourceStat))
        return refuse(messages::kPartIsSource);
    const auto free = checksumNameIsFree(checksumPath);
    if (!free || !free.value())
        return free;

    if (context.writeChecksums) {
        hasher = std::make_unique<detail::ParallelHasher>();
        wholeStream = hasher->openStream(0);
    }
    const detail::Step written =
        writeParts(file.get(), length, partSize, static_cast<int>(partCount), *base);
    if (!written || !written.value())
        return written;
    if (context.recoveryParts > 0) {
        // The recovery parts are computed from the broken files as they are on disk.
        const RecoveryLayout layout{static_cast<int>(partCount), context.recoveryParts, partSize,
                                    length, std::string(nameTailOf(source))};
        const std::vector<std::string> parts = created;
        const auto recovered =
            writeRecoveryParts(fs, layout, parts, *base, created, context.progress,
                               hasher ? &recoveryDigests : nullptr);
        if (!recovered || !recovered.value())
            return recovered;
    }
    if (!hasher)
        return true;
    if (auto checksums = writeChecksumFile(*base, sourceStat, partSize); !checksums)
        return checksums.failure();
    return true;
}

Result<bool> Splitter::checksumNameIsFree(const std::string& path) {
    // A checksum file of ours at this name describes the set about to be replaced: it goes
    // before the first part does, so it can never vouch for the new parts or for none. A file
    // of anyone else's stays; a split that would replace it is refused.
    struct stat st {};
    if (fs.lstat(path, &st) != 0)
        return true;
    bool ours = false;
    if (S_ISREG(st.st_mode)) {
        auto opened = detail::openForReading(fs, path);
        if (!opened)
            return opened.failure();
        std::string first(64, '\0');
        auto got = detail::readFully(fs, opened.value().get(), first.data(), first.size(), 0, path);
        if (!got)
            return got.failure();
        first.resize(got.value());
        ours = isChecksumFileText(first);
    }
    if (!ours) {
        if (!context.writeChecksums)
            return true;
        return refuse(messages::checksumNameTakenMessage(path));
    }
    if (fs.unlink(path) != 0 && errno != ENOENT)
        return fileFailure(errno, FileAction::Delete, path);
    return true;
}

Result<void> Splitter::writeChecksumFile(const std::string& base, const struct stat& sourceStat,
                                         std::int64_t partSize) {
    ChecksumFile file;
    file.program = checksumProgramName();
    std::error_code ignored;
    file.sourcePath = std::filesystem::absolute(source, ignored).lexically_normal().string();
    if (file.sourcePath.empty())
        file.sourcePath = source;
    file.sourceSize = static_cast<std::uint64_t>(sourceStat.st_size);
    file.modifiedSeconds = sourceStat.st_mtim.tv_sec;
    file.modifiedNanoseconds = sourceStat.st_mtim.tv_nsec;
    file.mode = static_cast<std::uint32_t>(sourceStat.st_mode & 07777);
    file.partSize = static_cast<std::uint64_t>(partSize);
    for (std::size_t index = 0; index < partStreams.size(); ++index)
        file.parts.push_back(
            {fileNameOf(created[index]), hasher->finishStream(partStreams[index])});
    file.wholeDigest = hasher->finishStream(wholeStream);
    for (std::size_t index = 0; index < recoveryDigests.size(); ++index)
        file.recovery.push_back(
            {fileNameOf(created[partStreams.size() + index]), recoveryDigests[index]});

    // Written under a temporary name and moved into place whole: a checksum file is either
    // complete or absent.
    const std::string path = checksumFilePath(base);
    const std::string text = formatChecksumFile(file);
    auto out = detail::createTemporary(fs, detail::folderOf(path), path, checksumTemporary);
    if (!out)
        return out.failure();
    if (auto written = detail::writeAll(fs, out.value().get(), text.data(), text.size(), path);
        !written)
        return written;
    if (out.value().close() != 0)
        return fileFailure(errno, FileAction::Close, path);
    if (fs.rename(checksumTemporary, path) != 0)
        return fileFailure(errno, FileAction::Rename, path);
    checksumTemporary.clear();
    created.push_back(path);
    return {};
}

void Splitter::removeCreatedParts() {
    for (const auto& name : created)
        fs.unlink(name);
    created.clear();
    if (!checksumTemporary.empty())
        fs.unlink(checksumTemporary);
    checksumTemporary.clear();
}

bool splitWith(SizeRule rule, const std::string& Filename, std::int32_t amount,
               const std::string& Prefix, const std::string& DeletePath,
               OperationContext& context) {
    if (!context.box.ask(messages::kConfirmSplit))
        return false;

    Splitter splitter(context, Filename, Prefix);
    const detail::Step split = splitter.run(rule, amount);
    if (!split || !split.value()) {
        // A half-written set could later pass for a whole one beside older parts of the same
        // names, so whatever this run created goes; the source was never touched.
        splitter.removeCreatedParts();
        if (!split)
            showFailureReport(context.box, split.failure());
        return false;
    }

    if (!context.box.ask(messages::kDeleteSource))
        return true;
    // The parts become the only copy: make sure they are on disk before the source goes.
    Result<void> deleted = detail::syncToDisk(context.fs, splitter.created);
    if (deleted && context.fs.unlink(DeletePath) != 0)
        deleted = fileFailure(errno, FileAction::Delete, DeletePath);
    if (!deleted) {
        showFailureReport(context.box, deleted.failure());
        return false;
    }
    return true;
}

} // namespace

bool SplitFile(const std::string& Filename, std::int32_t Filesize, const std::string& Prefix,
               const std::string& DeletePath, OperationContext& context) {
    return splitWith(SizeRule::Kilobytes, Filename, Filesize, Prefix, DeletePath, context);
}

bool SplitFile2(const std::string& Filename, std::int32_t Filenumber, const std::string& Prefix,
                const std::string& DeletePath, OperationContext& context) {
    return splitWith(SizeRule::NumberOfParts, Filename, Filenumber, Prefix, DeletePath, context);
}

} // namespace tolvar
