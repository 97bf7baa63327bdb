#include "harness.h"

#include "files.h"
#include "operations.h"
#include "part_header.h"
#include "scripted_message_box.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace tolvar::fuzz {

namespace fs = std::filesystem;
using testing::readFile;
using testing::ScriptedMessageBox;
using testing::ShownMessage;
using testing::writeFile;

int referenceFieldNumber(std::string_view field) {
    auto it = field.begin();
    while (it != field.end() && *it == ' ')
        ++it;
    int sign = 1;
    if (it != field.end() && (*it == '+' || *it == '-')) {
        sign = *it == '-' ? -1 : 1;
        ++it;
    }
    int value = 0;
    while (it != field.end() &&
           std::string_view("0123456789").find(*it) != std::string_view::npos) {
        value = value * 10 + (*it - '0');
        ++it;
    }
    return sign * value;
}

namespace {

// Printable form of arbitrary bytes for failure lines.
std::string printable(std::string_view bytes) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && c != '"' && c != '\\') {
            out += c;
        } else {
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 0xf];
        }
    }
    return out + "\"";
}

std::string threeDigits(int value) {
    std::string digits = std::to_string(value);
    return std::string(digits.size() < 3 ? 3 - digits.size() : 0, '0') + digits;
}

} // namespace

std::vector<std::string> checkHeaderBytes(std::span<const std::uint8_t> data) {
    std::vector<std::string> problems;
    const std::string all(data.begin(), data.end());

    HeaderBytes header{};
    std::copy_n(all.begin(), std::min(all.size(), kHeaderSize), header.begin());
    const std::string_view text(header.data(), header.size());

    const bool magic = all.size() >= 7 && all.compare(0, 7, "SPLITKV") == 0;
    if (isPart(all) != magic)
        problems.push_back("isPart(" + printable(all.substr(0, 16)) + ") gave " +
                           (magic ? "false" : "true"));

    const PartHeader parsed = PartHeader::parse(header);
    const int index = referenceFieldNumber(text.substr(7, 3));
    const int count = referenceFieldNumber(text.substr(10, 3));
    if (parsed.PartIndex != index)
        problems.push_back("PartIndex of " + printable(text) + " read as " +
                           std::to_string(parsed.PartIndex) + ", expected " +
                           std::to_string(index));
    if (parsed.PartCount != count)
        problems.push_back("PartCount of " + printable(text) + " read as " +
                           std::to_string(parsed.PartCount) + ", expected " +
                           std::to_string(count));
    if (parsed.NameTail != text.substr(13, 3))
        problems.push_back("NameTail of " + printable(text) + " read as " +
                           printable(parsed.NameTail));

    // A header of the exact form the splitters write must be rebuilt byte for byte.
    const std::string_view digits = text.substr(7, 6);
    const bool canonical = magic && std::all_of(digits.begin(), digits.end(),
                                                [](char c) { return c >= '0' && c <= '9'; });
    if (canonical) {
        const HeaderBytes rebuilt =
            PartHeader::build(index, count, "source" + std::string(text.substr(13, 3)));
        if (rebuilt != header)
            problems.push_back("build did not reproduce " + printable(text) + ": " +
                               printable(std::string_view(rebuilt.data(), rebuilt.size())));
    }

    // The remaining bytes serve as a source path.
    const std::string path = all.size() > kHeaderSize ? all.substr(kHeaderSize) : std::string();
    const std::string expectedTail = path.size() <= 3 ? path : path.substr(path.size() - 3);
    if (nameTailOf(path) != expectedTail)
        problems.push_back("nameTailOf(" + printable(path) + ") gave " +
                           printable(nameTailOf(path)));

    const std::optional<std::string> base = partBaseName(path, "");
    if (path.size() < 3) {
        if (base)
            problems.push_back("partBaseName(" + printable(path) +
                               ") gave a base for a short path");
    } else if (!base || *base + expectedTail != path) {
        problems.push_back("partBaseName(" + printable(path) + ") does not drop the last 3 bytes");
    }
    const std::string prefix = "p" + path;
    if (partBaseName(path, prefix) != prefix)
        problems.push_back("partBaseName ignored the prefix " + printable(prefix));

    // Within the format's limits every index names a part with exactly three more bytes,
    // and a built header reads back as what went in.
    const int someIndex = std::abs(index) % (kMaxPartCount + 1);
    const int someCount = std::abs(count) % (kMaxPartCount + 1);
    const std::string name = PartFileName(path, someIndex);
    if (name != path + threeDigits(someIndex))
        problems.push_back("PartFileName(" + printable(path) + ", " + std::to_string(someIndex) +
                           ") gave " + printable(name));
    const HeaderBytes built = PartHeader::build(someIndex, someCount, path);
    const std::string_view builtText(built.data(), built.size());
    std::string paddedTail = expectedTail;
    paddedTail.resize(3, ' ');
    const PartHeader reread = PartHeader::parse(built);
    if (!isPart(builtText) || reread.PartIndex != someIndex || reread.PartCount != someCount ||
        reread.NameTail != paddedTail)
        problems.push_back("build(" + std::to_string(someIndex) + ", " + std::to_string(someCount) +
                           ", " + printable(path) +
                           ") does not read back: " + printable(builtText));
    return problems;
}

namespace {

// Bytes past the end of the input read as zero, so every input decodes to some set.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> input) : data(input) {}

    std::uint8_t next() { return position < data.size() ? data[position++] : 0; }

    std::string exactly(std::size_t count) {
        std::string bytes;
        for (std::size_t i = 0; i < count; ++i)
            bytes += static_cast<char>(next());
        return bytes;
    }

    std::string upTo(std::size_t count) {
        const std::size_t available =
            std::min(count, data.size() - std::min(position, data.size()));
        std::string bytes(data.begin() + static_cast<std::ptrdiff_t>(position),
                          data.begin() + static_cast<std::ptrdiff_t>(position + available));
        position += available;
        return bytes;
    }

private:
    std::span<const std::uint8_t> data;
    std::size_t position = 0;
};

enum class EntryKind { File, Folder, Link, Other };

struct Entry {
    EntryKind kind;
    std::string data; // a file's content or a link's target

    bool operator==(const Entry&) const = default;
};

// Paths relative to the snapshot's folder.
using Snapshot = std::map<std::string, Entry>;

Snapshot takeSnapshot(const fs::path& folder, const fs::path& skip = {}) {
    Snapshot snapshot;
    for (auto it = fs::recursive_directory_iterator(folder);
         it != fs::recursive_directory_iterator(); ++it) {
        const fs::path& path = it->path();
        if (!skip.empty() && path == skip) {
            it.disable_recursion_pending();
            continue;
        }
        const std::string relative = path.lexically_relative(folder).string();
        const fs::file_status status = fs::symlink_status(path);
        if (fs::is_symlink(status))
            snapshot[relative] = Entry{EntryKind::Link, fs::read_symlink(path).string()};
        else if (fs::is_regular_file(status))
            snapshot[relative] = Entry{EntryKind::File, readFile(path)};
        else if (fs::is_directory(status))
            snapshot[relative] = Entry{EntryKind::Folder, {}};
        else
            snapshot[relative] = Entry{EntryKind::Other, {}};
    }
    return snapshot;
}

std::string describe(const Entry& entry) {
    switch (entry.kind) {
    case EntryKind::File:
        return "file of " + std::to_string(entry.data.size()) + " bytes";
    case EntryKind::Folder:
        return "folder";
    case EntryKind::Link:
        return "link to " + printable(entry.data);
    case EntryKind::Other:
        return "special file";
    }
    return "?";
}

void compareSnapshots(const std::string& where, const Snapshot& expected, const Snapshot& actual,
                      std::vector<std::string>& problems) {
    for (const auto& [name, entry] : expected) {
        const auto found = actual.find(name);
        if (found == actual.end())
            problems.push_back(where + ": " + printable(name) + " (" + describe(entry) +
                               ") is missing");
        else if (!(found->second == entry))
            problems.push_back(where + ": " + printable(name) + " is a " + describe(found->second) +
                               " that differs from the expected " + describe(entry));
    }
    for (const auto& [name, entry] : actual)
        if (!expected.contains(name))
            problems.push_back(where + ": unexpected " + printable(name) + " (" + describe(entry) +
                               ")");
}

std::size_t openDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// What the user may be shown, classified.
enum class Outcome {
    Success,
    SilentFalse,
    NotSplitFile,
    NotBrokenFile,
    UnsafeNameTail,
    OutputIsPart,
    OutputIsFolder,
    NotOneSet, // a part of another set or of the wrong size, named in our own words
    FailureReport,
    Unrecognised,
};

const char* outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Success:
        return "success";
    case Outcome::SilentFalse:
        return "silent false";
    case Outcome::NotSplitFile:
        return "not a split file";
    case Outcome::NotBrokenFile:
        return "not a broken file";
    case Outcome::UnsafeNameTail:
        return "unsafe name tail";
    case Outcome::OutputIsPart:
        return "output is a part";
    case Outcome::OutputIsFolder:
        return "output is a folder";
    case Outcome::NotOneSet:
        return "not one set";
    case Outcome::FailureReport:
        return "failure report";
    case Outcome::Unrecognised:
        return "unrecognised messages";
    }
    return "?";
}

bool isFailureReport(const ShownMessage& message) {
    static const std::string titlePrefix = std::string(kProductTitle) + " - ";
    if (message.style != MsgStyle::Critical || message.title.rfind(titlePrefix, 0) != 0)
        return false;
    const std::string number = message.title.substr(titlePrefix.size());
    static const std::vector<std::string> catalogue = {"5",  "6",  "11", "13", "53",
                                                       "57", "61", "70", "76"};
    return std::find(catalogue.begin(), catalogue.end(), number) != catalogue.end() &&
           !message.text.empty();
}

Outcome classify(bool result, const std::vector<ShownMessage>& shown) {
    const std::string title(kProductTitle);
    if (shown.empty() || shown[0].text != messages::kConfirmAssemble ||
        shown[0].style != MsgStyle::Question || shown[0].title != title)
        return Outcome::Unrecognised;
    if (result) {
        const bool asked = shown.size() == 2 && shown[1].question == QuestionKind::DeleteParts &&
                           shown[1].style == MsgStyle::QuestionDefaultNo && shown[1].title == title;
        return asked ? Outcome::Success : Outcome::Unrecognised;
    }
    if (shown.size() == 1)
        return Outcome::SilentFalse;
    if (shown.size() != 2)
        return Outcome::Unrecognised;
    const ShownMessage& last = shown[1];
    if (isFailureReport(last))
        return Outcome::FailureReport;
    if (last.style != MsgStyle::Critical || last.title != title)
        return Outcome::Unrecognised;
    const std::pair<Message, Outcome> refusals[] = {
        {messages::kNotSplitFile, Outcome::NotSplitFile},
        {messages::kNotBrokenFile, Outcome::NotBrokenFile},
        {messages::kUnsafeNameTail, Outcome::UnsafeNameTail},
        {messages::kOutputIsPart, Outcome::OutputIsPart},
    };
    for (const auto& [text, outcome] : refusals)
        if (last.text == text)
            return outcome;
    if (last.text.rfind("Not assembled: '", 0) == 0)
        return Outcome::NotOneSet;
    if (last.text.find("' is a folder: the rebuilt file cannot take its name.") !=
        std::string::npos)
        return Outcome::OutputIsFolder;
    return Outcome::Unrecognised;
}

enum class PartKind { Built, Raw, Missing, Folder };

struct PlannedFile {
    std::string name; // relative to the scratch folder
    PartKind kind;
    std::string content;
};

struct Plan {
    bool deleteYes = false;
    int prefixMode = 0;
    bool bareNames = false;
    bool existingOutput = false;
    bool outputLink = false;
    bool chosenSecond = false;
    bool outputHardLink = false;
    std::vector<PlannedFile> files;
};

Plan decode(std::span<const std::uint8_t> data) {
    ByteReader reader(data);
    Plan plan;
    const std::uint8_t flags = reader.next();
    plan.deleteYes = (flags & 1) != 0;
    plan.prefixMode = (flags >> 1) & 3;
    plan.bareNames = (flags & 8) != 0;
    plan.existingOutput = (flags & 16) != 0;
    plan.outputLink = (flags & 32) != 0;
    plan.chosenSecond = (flags & 64) != 0;
    plan.outputHardLink = (flags & 128) != 0;
    const int fileCount = reader.next() % 9;
    const std::string base = plan.bareNames ? "" : "set.";
    for (int i = 0; i < fileCount; ++i) {
        const std::uint8_t kindByte = reader.next();
        PlannedFile file{base + threeDigits(i), static_cast<PartKind>(kindByte & 3), {}};
        if (file.kind == PartKind::Built) {
            const std::uint8_t indexByte = reader.next();
            const std::uint8_t countByte = reader.next();
            const int index = indexByte >= 0xF0 ? indexByte - 0xF0 : i;
            const int count = countByte == 0xFF ? 999 : countByte % 10;
            file.content = "SPLITKV" + threeDigits(index) + threeDigits(count) + reader.exactly(3);
        } else if (file.kind == PartKind::Raw) {
            file.content = reader.exactly(kHeaderSize);
        }
        if (file.kind == PartKind::Built || file.kind == PartKind::Raw) {
            const std::uint8_t length = reader.next();
            if ((kindByte & 8) != 0) {
                const std::size_t large = std::size_t{length} * 211;
                for (std::size_t j = 0; j < large; ++j)
                    file.content +=
                        static_cast<char>((j * 7 + static_cast<std::size_t>(i) * 31) & 0xff);
            } else {
                file.content += reader.upTo(length);
            }
            if ((kindByte & 4) != 0)
                file.content.resize(std::min<std::size_t>(file.content.size(), reader.next() % 17));
        }
        plan.files.push_back(std::move(file));
    }
    return plan;
}

// What the harness put at the output's name before the run.
enum class AtOutput { Nothing, Something, HardLinkToChosen };

// What the engine is meant to do with a set, worked out from the planned files and from what
// the harness placed at the output's name, never from the engine's own helpers.
struct Expectation {
    std::vector<Outcome> accepted;
    std::string output;                // full path, when the header gives one
    std::string outputRelative;        // the same relative to scratch, empty when outside
    std::string outputBytes;           // the concatenated payloads, on success
    std::vector<std::string> setParts; // relative names deleted on Yes
};

// A path below folder as a name relative to it; empty when it lies elsewhere.
std::string relativeTo(const std::string& path, const std::string& folder) {
    const fs::path relative = fs::path(path).lexically_normal().lexically_relative(folder);
    if (relative.empty() || *relative.begin() == "..")
        return {};
    return relative.string();
}

bool looksLikePart(const PlannedFile& file) {
    return file.content.size() >= kHeaderSize && file.content.compare(0, 7, "SPLITKV") == 0;
}

Expectation expect(const Plan& plan, const std::string& scratchPath, const std::string& prefix,
                   const std::string& chosenRelative, AtOutput atOutputBefore) {
    Expectation expectation;
    std::map<std::string, const PlannedFile*> byName;
    for (const PlannedFile& file : plan.files)
        if (file.kind != PartKind::Missing)
            byName[file.name] = &file;

    const auto chosen = byName.find(chosenRelative);
    if (chosen == byName.end()) {
        expectation.accepted = {Outcome::FailureReport};
        return expectation;
    }
    if (chosen->second->kind == PartKind::Folder) {
        expectation.accepted = {Outcome::FailureReport, Outcome::NotSplitFile};
        return expectation;
    }
    const std::string& header = chosen->second->content;
    if (!looksLikePart(*chosen->second)) {
        expectation.accepted = {Outcome::NotSplitFile};
        return expectation;
    }
    if (referenceFieldNumber(std::string_view(header).substr(7, 3)) != 0) {
        expectation.accepted = {Outcome::SilentFalse};
        return expectation;
    }
    const int count = referenceFieldNumber(std::string_view(header).substr(10, 3));
    // No split writes fewer than two parts.
    if (count < 2) {
        expectation.accepted = {Outcome::NotSplitFile};
        return expectation;
    }
    const std::string tail = header.substr(13, 3);
    const std::string base = plan.bareNames ? "" : "set.";
    expectation.output = (prefix.empty() ? scratchPath + "/" + base : prefix) + tail;

    const std::string lastComponent = expectation.output.substr(expectation.output.rfind('/') + 1);
    if (tail.find('\0') != std::string::npos || tail.find('/') != std::string::npos ||
        lastComponent.empty() || lastComponent == "." || lastComponent == "..") {
        expectation.accepted = {Outcome::UnsafeNameTail};
        return expectation;
    }
    expectation.outputRelative = relativeTo(expectation.output, scratchPath);
    if (atOutputBefore == AtOutput::HardLinkToChosen) {
        expectation.accepted = {Outcome::OutputIsPart};
        return expectation;
    }
    const std::string& outputRelative = expectation.outputRelative;
    // Through the "/./" prefix the output's name is spelt unlike the parts' names, so only a
    // file that exists can be recognised as one of them.
    const bool spelledAlike = plan.prefixMode != 3;
    auto clashesWith = [&](const std::string& name) {
        return outputRelative == name &&
               (spelledAlike || byName.contains(name) || atOutputBefore != AtOutput::Nothing);
    };
    // Only parts 0 to count - 1 belong to the set, besides the chosen file itself.
    bool clashes = clashesWith(chosenRelative);
    for (int k = 0; k < count; ++k)
        clashes = clashes || clashesWith(base + threeDigits(k));
    if (clashes) {
        expectation.accepted = {Outcome::OutputIsPart};
        return expectation;
    }
    // A folder standing at the output's name is refused before the parts are judged, since
    // no set, whole or not, could be rebuilt under that name.
    const auto atOutput = byName.find(outputRelative);
    if (atOutput != byName.end() && atOutput->second->kind == PartKind::Folder) {
        expectation.accepted = {Outcome::OutputIsFolder};
        return expectation;
    }
    // The whole set is judged, part by part, before the output is created.
    std::size_t partSize = 0;
    for (int k = 0; k < count; ++k) {
        const std::string name = base + threeDigits(k);
        const auto part = byName.find(name);
        if (part == byName.end()) {
            expectation.accepted = {Outcome::FailureReport};
            return expectation;
        }
        if (part->second->kind == PartKind::Folder) {
            expectation.accepted = {Outcome::FailureReport, Outcome::NotBrokenFile};
            return expectation;
        }
        if (!looksLikePart(*part->second)) {
            expectation.accepted = {Outcome::NotBrokenFile};
            return expectation;
        }
        const std::string_view partHeader(part->second->content.data(), kHeaderSize);
        if (referenceFieldNumber(partHeader.substr(7, 3)) != k) {
            expectation.accepted = {Outcome::SilentFalse};
            return expectation;
        }
        const std::size_t payload = part->second->content.size() - kHeaderSize;
        if (k == 0)
            partSize = payload;
        const bool sizeFits = k == 0          ? payload > 0
                              : k + 1 < count ? payload == partSize
                                              : payload < partSize;
        if (referenceFieldNumber(partHeader.substr(10, 3)) != count ||
            partHeader.substr(13, 3) != tail || !sizeFits) {
            expectation.accepted = {Outcome::NotOneSet};
            return expectation;
        }
        expectation.outputBytes += part->second->content.substr(kHeaderSize);
        expectation.setParts.push_back(name);
    }
    if (plan.prefixMode == 2) {
        expectation.accepted = {Outcome::FailureReport};
        return expectation;
    }
    expectation.accepted = {Outcome::Success};
    return expectation;
}

} // namespace

AssemblyHarness::AssemblyHarness()
    : sentinel(root.dir() / "sentinel"), scratch(sentinel / "scratch") {
    fs::create_directory(sentinel);
    writeFile(sentinel / "keep.txt", "a file beside the scratch folder\n");
    writeFile(sentinel / "target.txt", "the target of a link at the output's name\n");
}

AssemblyHarness::~AssemblyHarness() = default;

std::vector<std::string> AssemblyHarness::run(std::span<const std::uint8_t> data) {
    fs::remove_all(scratch);
    fs::create_directory(scratch);
    const Plan plan = decode(data);
    const std::string scratchPath = scratch.string();

    for (const PlannedFile& file : plan.files) {
        if (file.kind == PartKind::Folder)
            fs::create_directory(scratch / file.name);
        else if (file.kind != PartKind::Missing)
            writeFile(scratch / file.name, file.content);
    }

    std::string prefix;
    switch (plan.prefixMode) {
    case 1:
        prefix = scratchPath + "/out.";
        break;
    case 2:
        prefix = scratchPath + "/missing/out.";
        break;
    case 3:
        prefix = scratchPath + "/./";
        break;
    default:
        break;
    }
    const std::string chosenRelative =
        (plan.bareNames ? "" : "set.") + threeDigits(plan.chosenSecond ? 1 : 0);
    Expectation expectation = expect(plan, scratchPath, prefix, chosenRelative, AtOutput::Nothing);

    // Something already at the output's name, when that name is a plain new name in scratch.
    if (!expectation.outputRelative.empty() &&
        expectation.outputRelative.find('/') == std::string::npos &&
        !fs::exists(fs::symlink_status(expectation.output))) {
        const fs::path chosen = scratch / chosenRelative;
        AtOutput placed = AtOutput::Nothing;
        if (plan.outputLink) {
            fs::create_symlink(sentinel / "target.txt", expectation.output);
            placed = AtOutput::Something;
        } else if (plan.outputHardLink && fs::is_regular_file(fs::symlink_status(chosen))) {
            fs::create_hard_link(chosen, expectation.output);
            placed = AtOutput::HardLinkToChosen;
        } else if (plan.existingOutput) {
            writeFile(expectation.output, "an older file of the output's name\n");
            placed = AtOutput::Something;
        }
        if (placed != AtOutput::Nothing)
            expectation = expect(plan, scratchPath, prefix, chosenRelative, placed);
    }

    const Snapshot scratchBefore = takeSnapshot(scratch);
    const Snapshot sentinelBefore = takeSnapshot(sentinel, scratch);
    const Snapshot rootBefore = takeSnapshot(root.dir(), sentinel);
    const std::size_t descriptorsBefore = openDescriptors();

    std::vector<std::string> problems;
    // Yes to the confirmation; every later question is the delete question.
    ScriptedMessageBox box({MsgAnswer::Yes}, [&problems](const std::string& problem) {
        problems.push_back("message box: " + problem);
    });
    box.answerRestWith(plan.deleteYes ? MsgAnswer::Yes : MsgAnswer::No);
    OperationContext context{box};
    const bool result = AssembleFile(scratchPath + "/" + chosenRelative, prefix, context);

    if (openDescriptors() != descriptorsBefore)
        problems.push_back("the descriptor count changed from " +
                           std::to_string(descriptorsBefore) + " to " +
                           std::to_string(openDescriptors()));
    compareSnapshots("outside the scratch folder", sentinelBefore, takeSnapshot(sentinel, scratch),
                     problems);
    compareSnapshots("beside the sentinel folder", rootBefore, takeSnapshot(root.dir(), sentinel),
                     problems);

    const Outcome outcome = classify(result, box.shown());
    // For checking by hand which paths of the engine a corpus reaches.
    if (std::getenv("TOLVAR_FUZZ_TRACE") != nullptr)
        std::fprintf(stderr, "assembly of %zu files: %s\n", plan.files.size(),
                     outcomeName(outcome));
    if (std::find(expectation.accepted.begin(), expectation.accepted.end(), outcome) ==
        expectation.accepted.end()) {
        std::string line = std::string("outcome was ") + outcomeName(outcome) + ", expected";
        for (const Outcome accepted : expectation.accepted)
            line += std::string(" ") + outcomeName(accepted);
        problems.push_back(line);
    }

    Snapshot scratchExpected = scratchBefore;
    if (result) {
        if (plan.deleteYes)
            for (const std::string& name : expectation.setParts)
                scratchExpected.erase(name);
        if (!expectation.outputRelative.empty())
            scratchExpected[expectation.outputRelative] =
                Entry{EntryKind::File, expectation.outputBytes};
        else
            problems.push_back("true for an output outside the scratch folder: " +
                               printable(expectation.output));
    }
    compareSnapshots(result ? "after a successful assembly" : "after a failed assembly",
                     scratchExpected, takeSnapshot(scratch), problems);

    if (!problems.empty()) {
        std::ostringstream messages;
        for (const ShownMessage& message : box.shown())
            messages << " [" << static_cast<int>(message.style) << " " << printable(message.title)
                     << " " << printable(message.text) << "]";
        problems.push_back("result " + std::string(result ? "true" : "false") +
                           ", messages:" + messages.str());
    }
    return problems;
}

} // namespace tolvar::fuzz
