#include "file_io.h"
#include "operations.h"
#include "part_header.h"

#include <cerrno>

namespace tolvar {

using detail::FileHandle;

namespace {

enum class HeaderCheck { Part, NotPart, Failed };

// Reads the first 16 bytes; a file shorter than a header is no part at all.
HeaderCheck readHeader(FileSystem& fs, int fd, const std::string& path, PartHeader& header,
                       detail::Status& failure) {
    HeaderBytes bytes{};
    auto got = detail::readFully(fs, fd, bytes.data(), bytes.size(), 0, path);
    if (!got) {
        failure = got.failure();
        return HeaderCheck::Failed;
    }
    if (got.value() < kHeaderSize || !isPart(std::string_view(bytes.data(), bytes.size())))
        return HeaderCheck::NotPart;
    header = PartHeader::parse(bytes);
    return HeaderCheck::Part;
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

    // False when refused (already said), failed (see failure), stopped silently or cancelled.
    bool run();
    void removeTemporary();

    detail::Status failure;
    std::string output;
    std::vector<std::string> parts;

private:
    bool fail(Failure f) {
        failure = std::move(f);
        return false;
    }
    bool refuse(const char* message) {
        context.box.refuse(message);
        return false;
    }
    bool outputIsSafe(const std::string& tail);
    bool copyParts(FileHandle& out, int partCount);

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

bool Assembler::copyParts(FileHandle& out, int partCount) {
    std::uint64_t total = 0;
    if (context.progress != nullptr) {
        for (const auto& name : parts) {
            struct stat st {};
            if (fs.stat(name, &st) == 0 && st.st_size > static_cast<off_t>(kHeaderSize))
                total += static_cast<std::uint64_t>(st.st_size) - kHeaderSize;
        }
    }
    detail::ProgressTracker tracker(context.progress, total, partCount);
    detail::Copier copier(fs, tracker);
    for (int index = 0; index < partCount; ++index) {
        const std::string& name = parts[static_cast<std::size_t>(index)];
        struct stat st {};
        auto opened = detail::openForReading(fs, name, &st);
        if (!opened)
            return fail(opened.failure());
        PartHeader header;
        switch (readHeader(fs, opened.value().get(), name, header, failure)) {
        case HeaderCheck::Failed:
            return false;
        case HeaderCheck::NotPart:
            return refuse(messages::kNotBrokenFile);
        case HeaderCheck::Part:
            break;
        }
        if (header.PartIndex != index)
            return false;

        tracker.setPart(index, name);
        if (index == 0 && !tracker.advance(0))
            return false;
        const auto size = static_cast<std::uint64_t>(st.st_size);
        const std::uint64_t expected = size > kHeaderSize ? size - kHeaderSize : 0;
        if (!copier.copyToEnd(opened.value().get(), static_cast<off_t>(kHeaderSize), expected,
                              out.get(), name, output))
            return copier.failure ? fail(*copier.failure) : false;
    }
    return true;
}

bool Assembler::run() {
    PartHeader first;
    {
        auto opened = detail::openForReading(fs, chosen);
        if (!opened)
            return fail(opened.failure());
        switch (readHeader(fs, opened.value().get(), chosen, first, failure)) {
        case HeaderCheck::Failed:
            return false;
        case HeaderCheck::NotPart:
            return refuse(messages::kNotSplitFile);
        case HeaderCheck::Part:
            break;
        }
    }
    if (first.PartIndex != 0)
        return false;

    const auto baseName = partBaseName(chosen, {});
    if (!baseName)
        return fail(makeFailure(FailureKind::InvalidArgument,
                                "cannot find the other broken files of '" + chosen + "'"));
    base = *baseName;
    output = (prefix.empty() ? base : prefix) + first.NameTail;
    const int partCount = first.PartCount < 0 ? 0 : first.PartCount;
    for (int index = 0; index < partCount; ++index)
        parts.push_back(PartFileName(base, index));
    if (!outputIsSafe(first.NameTail))
        return false;

    // Build the file under a hidden name beside its destination and move it into place only
    // when complete: a failure never leaves a partial file or costs an existing one.
    auto out = detail::createTemporary(fs, detail::folderOf(output), output, temporary);
    if (!out)
        return fail(out.failure());
    if (!copyParts(out.value(), partCount))
        return false;
    if (out.value().close() != 0)
        return fail(fileFailure(errno, FileAction::Close, output));
    if (fs.rename(temporary, output) != 0)
        return fail(fileFailure(errno, FileAction::Rename, output));
    temporary.clear();
    return true;
}

void Assembler::removeTemporary() {
    if (!temporary.empty())
        fs.unlink(temporary);
    temporary.clear();
}

} // namespace

bool AssembleFile(const std::string& Filename, const std::string& Prefix,
                  OperationContext& context) {
    if (!context.box.ask(messages::kConfirmAssemble))
        return false;

    Assembler assembler(context, Filename, Prefix);
    if (!assembler.run()) {
        assembler.removeTemporary();
        if (assembler.failure)
            showFailureReport(context.box, *assembler.failure);
        return false;
    }

    if (!context.box.ask(messages::kDeleteParts))
        return true;
    // The rebuilt file becomes the only copy: make sure it is on disk before the parts go.
    if (auto failure = detail::syncToDisk(context.fs, {assembler.output})) {
        showFailureReport(context.box, *failure);
        return false;
    }
    for (const auto& name : assembler.parts) {
        if (context.fs.unlink(name) != 0) {
            showFailureReport(context.box, fileFailure(errno, FileAction::Delete, name));
            return false;
        }
    }
    return true;
}

} // namespace tolvar
