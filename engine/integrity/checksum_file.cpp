#include "checksum_file.h"

#include "byte_count.h"
#include "copier.h"
#include "file_handle.h"
#include "input_rules.h"
#include "join_script.h"
#include "parallel_hasher.h"
#include "part_set.h"
#include "path_parts.h"
#include "recovery.h"
#include "translation.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <utility>

namespace tolvar {

namespace {

constexpr std::string_view kFirstLine = "# Tolvar Files Splitter checksum file, format ";
constexpr std::string_view kFormat = "2"; // written; format 1 is read as well
constexpr std::string_view kFirstFormat = "1";
constexpr std::string_view kSelfKey = "self-sha256";
// Far above what 999 parts and their recovery parts need; a larger file is none of ours.
constexpr std::size_t kLargestChecksumFile = std::size_t{4} << 20;

bool needsEscape(std::string_view text) {
    return text.find_first_of("\\\n\r") != std::string_view::npos;
}

std::string escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::optional<std::string> unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        if (text[i] == '\\')
            out += '\\';
        else if (text[i] == 'n')
            out += '\n';
        else if (text[i] == 'r')
            out += '\r';
        else
            return std::nullopt;
    }
    return out;
}

void addEntry(std::string& text, const ChecksumEntry& entry) {
    if (needsEscape(entry.name))
        text += '\\' + toHex(entry.digest) + "  " + escaped(entry.name) + '\n';
    else
        text += toHex(entry.digest) + "  " + entry.name + '\n';
}

void addMeta(std::string& text, std::string_view key, std::string_view value) {
    text += "# ";
    text += key;
    text += ": ";
    text += escaped(value);
    text += '\n';
}

template <class T> bool readNumber(std::string_view text, T& value, int base = 10) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty();
}

bool readModified(std::string_view text, std::int64_t& seconds, std::int64_t& nanoseconds) {
    const auto dot = text.find('.');
    if (dot == std::string_view::npos || text.size() - dot - 1 != 9)
        return false;
    return readNumber(text.substr(0, dot), seconds) &&
           readNumber(text.substr(dot + 1), nanoseconds);
}

ChecksumFileProblem damaged(std::string reason) {
    return {ChecksumFileProblem::Kind::Damaged, std::move(reason)};
}

// The keys every checksum file holds once each.
constexpr std::string_view kRequiredKeys[] = {"program", "source",    "size",  "modified",
                                              "mode",    "part-size", "parts", "whole-sha256"};

// What the lines of a checksum file's body have given so far.
struct Body {
    ChecksumFile file;
    enum class Section { None, Parts, Recovery } section = Section::None;
    std::size_t partsDeclared = 0;
    std::size_t recoveryDeclared = 0;
    bool seen[std::size(kRequiredKeys)] = {}; // in the order of kRequiredKeys
};

// Marks a required key as seen; false when it was seen before. Other keys may repeat.
bool seenFirstTime(Body& body, std::string_view key) {
    const auto* known = std::find(std::begin(kRequiredKeys), std::end(kRequiredKeys), key);
    if (known == std::end(kRequiredKeys))
        return true;
    bool& seen = body.seen[known - std::begin(kRequiredKeys)];
    return !std::exchange(seen, true);
}

// Takes the value of a "# key: value" line; false when it is not valid for its key. The
// counts open the sections that follow them, parts first, so they must come in that order.
bool takeValue(Body& body, std::string_view key, const std::string& value) {
    ChecksumFile& file = body.file;
    if (key == "program") {
        file.program = value;
    } else if (key == "source") {
        file.sourcePath = value;
    } else if (key == "size") {
        return readNumber(value, file.sourceSize);
    } else if (key == "modified") {
        return readModified(value, file.modifiedSeconds, file.modifiedNanoseconds);
    } else if (key == "mode") {
        return readNumber(value, file.mode, 8) && file.mode <= 07777;
    } else if (key == "part-size") {
        return readNumber(value, file.partSize) && file.partSize > 0;
    } else if (key == "whole-sha256") {
        const auto digest = digestFromHex(value);
        if (digest)
            file.wholeDigest = *digest;
        return digest.has_value();
    } else if (key == "sha256-file") {
        file.plainDigest = digestFromHex(value);
        return file.plainDigest.has_value();
    } else if (key == "parts") {
        const bool ok = body.section == Body::Section::None &&
                        readNumber(value, body.partsDeclared) &&
                        body.partsDeclared <= std::size_t(kMaxPartCount);
        body.section = Body::Section::Parts;
        return ok;
    } else if (key == "recovery-parts") {
        const bool ok = body.section == Body::Section::Parts &&
                        file.parts.size() == body.partsDeclared &&
                        readNumber(value, body.recoveryDeclared) &&
                        body.recoveryDeclared <= std::size_t(kMaxRecoveryParts);
        body.section = Body::Section::Recovery;
        return ok;
    } else {
        file.extra.emplace_back(std::string(key), value);
    }
    return true;
}

// Reads a line starting "# "; what is wrong with it, if anything.
std::optional<std::string> readMetaLine(Body& body, std::string_view line,
                                        const std::string& where) {
    const auto colon = line.find(": ");
    if (colon == std::string_view::npos)
        return where + _(" is not a \"# key: value\" line");
    const std::string_view key = line.substr(2, colon - 2);
    const auto value = unescaped(line.substr(colon + 2));
    if (!value)
        return where + _(" holds a broken escape");
    if (!seenFirstTime(body, key))
        return where + _(" repeats \"") + std::string(key) + "\"";
    if (!takeValue(body, key, *value))
        return where + _(" does not hold a valid \"") + std::string(key) + "\"";
    return std::nullopt;
}

// Reads a checksum line into the section the counts above it opened; what is wrong with it,
// if anything.
std::optional<std::string> readChecksumLine(Body& body, std::string_view line,
                                            const std::string& where) {
    std::string_view rest = line;
    const bool isEscaped = !rest.empty() && rest.front() == '\\';
    if (isEscaped)
        rest.remove_prefix(1);
    const auto digest = digestFromHex(rest.substr(0, 64));
    if (!digest || rest.size() < 67 || rest[64] != ' ' || (rest[65] != ' ' && rest[65] != '*'))
        return where + _(" is neither a checksum nor a \"#\" line");
    std::optional<std::string> name(std::string(rest.substr(66)));
    if (isEscaped)
        name = unescaped(*name);
    if (!name || name->empty())
        return where + _(" names no file");
    // Every file a set has lies in the checksum file's own folder.
    if (name->find('/') != std::string::npos || *name == "." || *name == "..")
        return where + _(" names a file outside its folder");
    ChecksumEntry entry{std::move(*name), *digest};
    ChecksumFile& file = body.file;
    if (body.section == Body::Section::Parts && file.parts.size() < body.partsDeclared)
        file.parts.push_back(std::move(entry));
    else if (body.section == Body::Section::Recovery &&
             file.recovery.size() < body.recoveryDeclared)
        file.recovery.push_back(std::move(entry));
    else
        return where + _(" is a checksum the counts above it do not announce");
    return std::nullopt;
}

// What the whole body lacks once every line is read, if anything.
std::optional<std::string> missingFromBody(const Body& body) {
    if (std::find(std::begin(body.seen), std::end(body.seen), false) != std::end(body.seen))
        return _("a line of its metadata is missing");
    if (body.file.parts.size() != body.partsDeclared ||
        body.file.recovery.size() != body.recoveryDeclared)
        return _("it lists fewer checksums than it announces");
    return std::nullopt;
}

// Parses the lines before the self-check line, which has already been verified.
std::variant<ChecksumFile, ChecksumFileProblem> parseBody(std::string_view text) {
    Body body;
    std::size_t lineNumber = 1; // the first line was read by the caller
    std::size_t start = text.find('\n') + 1;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        const std::string where = _("line ") + std::to_string(++lineNumber);
        const std::optional<std::string> problem = line.starts_with("# ")
                                                       ? readMetaLine(body, line, where)
                                                       : readChecksumLine(body, line, where);
        if (problem)
            return damaged(*problem);
    }
    if (std::optional<std::string> problem = missingFromBody(body))
        return damaged(*problem);
    return std::move(body.file);
}

} // namespace

std::string checksumFilePath(std::string_view base) {
    return std::string(base) + std::string(kChecksumSuffix);
}

std::string companionFilePath(std::string_view base) {
    return std::string(base) + std::string(kCompanionSuffix);
}

std::vector<std::string> ChecksumLookup::paths() const {
    std::vector<std::string> all;
    if (file) {
        all.push_back(path);
        if (!companionPath.empty())
            all.push_back(companionPath);
        if (!joinScriptPath.empty())
            all.push_back(joinScriptPath);
    }
    return all;
}

std::uint64_t ChecksumFile::payloadOf(int index) const {
    const auto count = static_cast<std::uint64_t>(parts.size());
    const auto at = static_cast<std::uint64_t>(index);
    if (at + 1 < count)
        return partSize;
    const std::uint64_t before = (count - 1) * partSize;
    return sourceSize > before ? sourceSize - before : 0;
}

std::string checksumProgramName() {
    return std::string(kProductTitle) + " " TOLVAR_VERSION;
}

std::string formatChecksumFile(const ChecksumFile& file) {
    std::string text;
    text += kFirstLine;
    text += kFormat;
    text += '\n';
    addMeta(text, "program", file.program);
    addMeta(text, "source", file.sourcePath);
    addMeta(text, "size", std::to_string(file.sourceSize));
    char modified[48];
    std::snprintf(modified, sizeof modified, "%lld.%09lld",
                  static_cast<long long>(file.modifiedSeconds),
                  static_cast<long long>(file.modifiedNanoseconds));
    addMeta(text, "modified", modified);
    char mode[16];
    std::snprintf(mode, sizeof mode, "%04o", file.mode);
    addMeta(text, "mode", mode);
    addMeta(text, "part-size", std::to_string(file.partSize));
    addMeta(text, "whole-sha256", toHex(file.wholeDigest));
    if (file.plainDigest)
        addMeta(text, "sha256-file", toHex(*file.plainDigest));
    for (const auto& [key, value] : file.extra)
        addMeta(text, key, value);
    addMeta(text, "parts", std::to_string(file.parts.size()));
    for (const ChecksumEntry& entry : file.parts)
        addEntry(text, entry);
    if (!file.recovery.empty()) {
        addMeta(text, "recovery-parts", std::to_string(file.recovery.size()));
        for (const ChecksumEntry& entry : file.recovery)
            addEntry(text, entry);
    }
    addMeta(text, kSelfKey, toHex(sha256Of(text)));
    return text;
}

std::string formatPlainChecksums(const ChecksumFile& file) {
    std::string text;
    for (const ChecksumEntry& entry : file.parts)
        addEntry(text, entry);
    for (const ChecksumEntry& entry : file.recovery)
        addEntry(text, entry);
    return text;
}

bool isChecksumFileText(std::string_view text) {
    return text.rfind(kFirstLine, 0) == 0;
}

std::variant<ChecksumFile, ChecksumFileProblem> parseChecksumFile(std::string_view text) {
    // A file is ours when it opens with our first line or closes with our self-check line: a
    // changed byte in one of them leaves the other, so damage is never taken for a stranger's
    // file (which would be joined as if there were no checksums).
    const bool opensAsOurs = isChecksumFileText(text);
    const bool ended = !text.empty() && text.back() == '\n';
    const std::string_view lines = ended ? text.substr(0, text.size() - 1) : text;
    const auto lastBreak = lines.rfind('\n');
    const std::size_t lastStart = lastBreak == std::string_view::npos ? 0 : lastBreak + 1;
    const std::string_view last = lines.substr(lastStart);
    const std::string selfPrefix = "# " + std::string(kSelfKey) + ": ";
    const bool closesAsOurs = ended && last.rfind(selfPrefix, 0) == 0;
    const std::string_view format =
        opensAsOurs ? text.substr(kFirstLine.size(), text.find('\n') - kFirstLine.size())
                    : std::string_view();
    const auto foreign = [](std::string reason) {
        return ChecksumFileProblem{ChecksumFileProblem::Kind::Foreign, std::move(reason)};
    };
    const std::string notOurs = _("it was not written by ") + std::string(kProductTitle);
    const std::string laterFormat = _("it is written in a format this version does not know");
    if (!opensAsOurs && !closesAsOurs)
        return foreign(notOurs);
    const bool known = format == kFormat || format == kFirstFormat;
    if (opensAsOurs && !known && !closesAsOurs)
        return foreign(laterFormat);
    if (!ended)
        return damaged(_("its last line is cut off"));
    if (!closesAsOurs)
        return damaged(_("its closing self-check line is missing"));
    const auto recorded = digestFromHex(last.substr(selfPrefix.size()));
    const std::string_view body = text.substr(0, lastStart);
    if (!recorded || *recorded != sha256Of(body))
        return damaged(_("its own checksum does not match its contents"));
    // Intact, so these were written as they read.
    if (!opensAsOurs)
        return foreign(notOurs);
    if (!known)
        return foreign(laterFormat);
    return parseBody(body);
}

namespace {

// A checksum file lists the set's own names, each in its place: the parts base000 ... within
// its count, then the recovery parts within theirs. Any other name would let whoever wrote the
// file choose a file that repair writes; such a file is not this set's.
std::optional<std::string> strangeName(const ChecksumFile& file, std::string_view base) {
    const auto misplaced = [&](const ChecksumEntry& entry,
                               const std::string& path) -> std::optional<std::string> {
        const std::string expected = fileNameOf(path);
        if (entry.name == expected)
            return std::nullopt;
        return _("it lists '") + escapedForDisplay(entry.name) + _("' where the set has '") +
               escapedForDisplay(expected) + "'";
    };
    for (std::size_t i = 0; i < file.parts.size(); ++i)
        if (auto strange = misplaced(file.parts[i], PartFileName(base, static_cast<int>(i))))
            return strange;
    for (std::size_t j = 0; j < file.recovery.size(); ++j)
        if (auto strange = misplaced(file.recovery[j], RecoveryFileName(base, static_cast<int>(j))))
            return strange;
    return std::nullopt;
}

// A file at one of a set's checksum names, as read: no more than kLargestChecksumFile bytes.
struct BoundedRead {
    detail::FileStart::Found found = detail::FileStart::Found::Missing;
    struct stat status {};
    bool tooLarge = false; // then text holds only as much as the first line
    std::string text;
};

Result<BoundedRead> readBounded(FileSystem& fs, const std::string& path) {
    BoundedRead read;
    auto opened = detail::readFileStart(fs, path, nullptr, 0);
    if (!opened)
        return opened.failure();
    read.found = opened.value().found;
    read.status = opened.value().status;
    if (read.found != detail::FileStart::Found::Regular)
        return read;
    read.tooLarge = static_cast<std::uint64_t>(read.status.st_size) > kLargestChecksumFile;
    read.text.resize(read.tooLarge ? kFirstLine.size()
                                   : static_cast<std::size_t>(read.status.st_size));
    auto got = detail::readFully(fs, opened.value().file.get(), read.text.data(), read.text.size(),
                                 0, path);
    if (!got)
        return got.failure();
    read.text.resize(got.value());
    return read;
}

// Why a file at a checksum name is not one, when it is not: a folder, FIFO or device (or a
// link to one) holds no checksums; a file of ours grown past the bound is damaged (it stops
// the checks' users rather than turning the checks off as a stranger's file would), any other
// such file is no checksum file.
std::optional<ChecksumFileProblem> unreadable(const BoundedRead& read) {
    using Kind = ChecksumFileProblem::Kind;
    if (read.found == detail::FileStart::Found::NotRegular)
        return ChecksumFileProblem{
            Kind::Foreign,
            _("it is ") + notOrdinaryInWords(read.status.st_mode).value_or(_("no ordinary file")) +
                _(", not a checksum file")};
    if (read.tooLarge && isChecksumFileText(read.text))
        return damaged(_("it is larger than any checksum file this program writes"));
    if (read.tooLarge)
        return ChecksumFileProblem{Kind::Foreign, _("it is too large to be a checksum file")};
    return std::nullopt;
}

// The plain file read alone, its companion lost: its lines must be the set's names, the
// count's parts and then recovery parts, each once, in order; anything else is another tool's.
std::optional<ChecksumFile> parsePlain(std::string_view text, std::string_view base,
                                       const std::optional<PartHeader>& header) {
    Body body;
    body.section = Body::Section::Parts;
    body.partsDeclared = std::size_t(kMaxPartCount);
    body.recoveryDeclared = std::size_t(kMaxRecoveryParts);
    ChecksumFile& file = body.file;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            return std::nullopt;
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (readChecksumLine(body, line, {}))
            return std::nullopt;
        ChecksumEntry& entry = file.parts.back();
        const int index = static_cast<int>(file.parts.size()) - 1;
        const bool isPart = entry.name == fileNameOf(PartFileName(base, index)) &&
                            (!header || index < header->PartCount);
        if (isPart && file.recovery.empty())
            continue;
        const int slot = static_cast<int>(file.recovery.size());
        if (entry.name != fileNameOf(RecoveryFileName(base, slot)))
            return std::nullopt;
        file.recovery.push_back(std::move(entry));
        file.parts.pop_back();
    }
    if (file.parts.empty() || (header && file.parts.size() != std::size_t(header->PartCount)))
        return std::nullopt;
    file.complete = false;
    if (header)
        file.sourcePath = header->NameTail;
    return std::move(file);
}

Result<ChecksumLookup> lookUp(FileSystem& fs, std::string_view base,
                              std::optional<PartHeader> header) {
    ChecksumLookup lookup;
    lookup.path = checksumFilePath(base);
    auto foreign = [&](std::string reason) {
        lookup.problem = ChecksumFileProblem{ChecksumFileProblem::Kind::Foreign, std::move(reason)};
        return lookup;
    };
    // No file of that name is no checksum file; anything else there that cannot be read is a
    // failure, not an absence.
    auto plain = readBounded(fs, lookup.path);
    if (!plain)
        return plain.failure();
    if (plain.value().found != detail::FileStart::Found::Missing)
        lookup.status = plain.value().status;
    // Format 1 is one file at the plain name; format 2's plain file is read with its companion.
    const bool firstFormat = isChecksumFileText(plain.value().text);
    std::optional<BoundedRead> companion;
    std::string text = plain.value().text;
    if (firstFormat) {
        if (auto problem = unreadable(plain.value())) {
            lookup.problem = std::move(problem);
            return lookup;
        }
    } else {
        const std::string companionPath = companionFilePath(base);
        auto read = readBounded(fs, companionPath);
        if (!read)
            return read.failure();
        if (read.value().found == detail::FileStart::Found::Missing) {
            if (plain.value().found == detail::FileStart::Found::Missing)
                return lookup;
            if (auto problem = unreadable(plain.value())) {
                lookup.problem = std::move(problem);
                return lookup;
            }
            auto alone = parsePlain(plain.value().text, base, header);
            if (!alone)
                return foreign(_("it was not written by ") + std::string(kProductTitle) +
                               _(" for this set"));
            lookup.file = std::move(alone);
            lookup.incomplete = _("its companion '") + escapedForDisplay(companionPath) +
                                _("' is missing, so the files' sizes, the original's checksum "
                                  "and the checksum file itself cannot be checked");
            return lookup;
        }
        lookup.path = companionPath;
        lookup.status = read.value().status;
        if (auto problem = unreadable(read.value())) {
            lookup.problem = std::move(problem);
            return lookup;
        }
        companion = std::move(read.value());
        text = companion->text;
    }

    auto parsed = parseChecksumFile(text);
    if (auto* problem = std::get_if<ChecksumFileProblem>(&parsed)) {
        lookup.problem = std::move(*problem);
        return lookup;
    }
    ChecksumFile& file = std::get<ChecksumFile>(parsed);
    if (companion && !file.plainDigest)
        return foreign(_("it names no plain checksum file"));
    if (!header) {
        header.emplace();
        header->PartCount = static_cast<std::int16_t>(file.parts.size());
        header->NameTail = std::string(nameTailOf(file.sourcePath));
    }
    if (auto disagreement = setDisagreement(file, *header))
        return foreign(std::move(*disagreement));
    if (auto strange = strangeName(file, base))
        return foreign(std::move(*strange));
    if (companion) {
        // The plain file is what recipients check: damage to it is told as such, never left
        // for their checkers to blame on a part.
        const std::string companionPath = lookup.path;
        lookup.path = checksumFilePath(base);
        lookup.status.reset();
        if (plain.value().found == detail::FileStart::Found::Missing) {
            lookup.problem = damaged(_("it is missing, and '") + escapedForDisplay(companionPath) +
                                     _("' lists it"));
            return lookup;
        }
        lookup.status = plain.value().status;
        if (auto problem = unreadable(plain.value())) {
            lookup.problem = damaged(std::move(problem->reason));
            return lookup;
        }
        if (sha256Of(plain.value().text) != *file.plainDigest) {
            lookup.problem =
                damaged(_("it is not as '") + escapedForDisplay(companionPath) + _("' records it"));
            return lookup;
        }
        lookup.companionPath = companionPath;
        lookup.companionStatus = companion->status;
    }
    lookup.file = std::move(file);
    // Our join script of the set goes with it; a stranger's file at that name stays.
    const std::string script = joinScriptPath(base);
    char start[64] = {};
    auto opened = detail::readFileStart(fs, script, start, sizeof start);
    if (!opened)
        return opened.failure();
    if (opened.value().found == detail::FileStart::Found::Regular &&
        isJoinScriptText(std::string_view(start, opened.value().length)))
        lookup.joinScriptPath = script;
    return lookup;
}

} // namespace

Result<OwnChecksumFiles> ownChecksumFiles(FileSystem& fs, std::string_view base) {
    OwnChecksumFiles own;
    // A name the folder cannot hold is no file of ours; the split refuses it in its own words.
    const auto readIfThere = [&](const std::string& path) -> Result<BoundedRead> {
        struct stat st {};
        if (fs.lstat(path, &st) != 0)
            return BoundedRead{};
        return readBounded(fs, path);
    };
    auto plain = readIfThere(checksumFilePath(base));
    if (!plain)
        return plain.failure();
    auto companion = readIfThere(companionFilePath(base));
    if (!companion)
        return companion.failure();
    own.companion = isChecksumFileText(companion.value().text);
    if (isChecksumFileText(plain.value().text))
        own.plain = true;
    else if (own.companion && !companion.value().tooLarge &&
             plain.value().found == detail::FileStart::Found::Regular && !plain.value().tooLarge) {
        const auto parsed = parseChecksumFile(companion.value().text);
        if (const auto* file = std::get_if<ChecksumFile>(&parsed))
            own.plain = file->plainDigest && *file->plainDigest == sha256Of(plain.value().text);
    }
    return own;
}

Result<ChecksumLookup> lookUpChecksumFile(FileSystem& fs, std::string_view base,
                                          const PartHeader& header) {
    return lookUp(fs, base, header);
}

Result<ChecksumLookup> lookUpChecksumFile(FileSystem& fs, std::string_view base) {
    return lookUp(fs, base, std::nullopt);
}

std::optional<std::string> setDisagreement(const ChecksumFile& file, const PartHeader& header) {
    if (file.parts.size() != static_cast<std::size_t>(std::max<int>(header.PartCount, 0)))
        return _("it lists ") + std::to_string(file.parts.size()) +
               _(" broken files where the set has ") + std::to_string(header.PartCount);
    if (nameTailOf(file.sourcePath) != header.NameTail)
        // By name: an older file's full name would tell of the sender's folders.
        return _("it was written for '") + escapedForDisplay(fileNameOf(file.sourcePath)) + "'";
    return std::nullopt;
}

namespace {

// Enough of a file's start for either header a file of a set may carry.
constexpr std::size_t kHeadSize = std::max(kHeaderSize, kRecoveryHeaderSize);

// One listed file as read: its size, its first bytes and the stream hashing it.
struct ReadFile {
    bool present = false;
    bool regular = true;
    std::uint64_t size = 0;
    struct stat status {};
    std::string head;
    int stream = -1;
};

PartVerdict judge(const ChecksumEntry& entry, const ReadFile& read, const Digest& digest,
                  std::uint64_t expectedSize, const PartHeader& header, PartVerdict verdict) {
    auto set = [&](PartCondition condition, std::string detail = {}) {
        verdict.condition = condition;
        verdict.detail = std::move(detail);
        return verdict;
    };
    if (!read.present)
        return set(PartCondition::Missing);
    if (read.regular)
        verdict.status = read.status;
    if (!read.regular)
        return set(PartCondition::Foreign, _("not an ordinary file"));
    if (verdict.recovery) {
        if (const auto recovery = parseRecoveryHeader(read.head))
            verdict.setHeader = setHeaderOf(*recovery);
    } else {
        verdict.setHeader = readHeader(read.head).header;
    }
    if (digest == entry.digest)
        return set(PartCondition::Good);
    if (!verdict.recovery) {
        // Sizes are judged below, against the checksum file's own.
        const PartEntry part = judgePart(verdict.path, verdict.index, header.PartCount,
                                         header.NameTail, 0, read.status, read.head);
        const PartHeader& found = part.header;
        const bool otherSet =
            found.PartCount != header.PartCount || found.NameTail != header.NameTail;
        if (part.state == PartState::NotAPart)
            return set(PartCondition::Foreign, _("not a broken file"));
        if (part.state == PartState::OtherSet || (part.state == PartState::WrongIndex && otherSet))
            return set(PartCondition::Foreign,
                       _("broken file ") + formatIndex(found.PartIndex) + _(" of another set"));
        if (part.state == PartState::WrongIndex)
            return set(PartCondition::Damaged,
                       _("holds broken file ") + formatIndex(found.PartIndex));
    }
    if (expectedSize == 0) // unknown: the plain file alone gives no sizes
        return set(PartCondition::Damaged, _("its contents differ"));
    if (read.size < expectedSize)
        return set(PartCondition::Damaged, bytesInWords(expectedSize - read.size) + _(" short"));
    if (read.size > expectedSize)
        return set(PartCondition::Damaged, bytesInWords(read.size - expectedSize) + _(" too long"));
    return set(PartCondition::Damaged, _("its contents differ"));
}

// A file the checksum file lists, at the set's own name (never the name the file lists), with
// the size it must have.
struct Listed {
    const ChecksumEntry* entry;
    PartVerdict verdict;
    std::uint64_t expectedSize;
};

std::vector<Listed> listedFiles(std::string_view base, const ChecksumFile& file) {
    std::vector<Listed> listed;
    for (std::size_t i = 0; i < file.parts.size(); ++i) {
        PartVerdict verdict;
        verdict.index = static_cast<int>(i);
        verdict.path = PartFileName(base, verdict.index);
        listed.push_back({&file.parts[i], std::move(verdict),
                          kHeaderSize + file.payloadOf(static_cast<int>(i))});
    }
    for (std::size_t i = 0; i < file.recovery.size(); ++i) {
        PartVerdict verdict;
        verdict.index = static_cast<int>(i);
        verdict.recovery = true;
        verdict.path = RecoveryFileName(base, verdict.index);
        listed.push_back({&file.recovery[i], std::move(verdict), 0});
    }
    return listed;
}

std::uint64_t totalSize(const std::vector<Listed>& listed) {
    std::uint64_t total = 0;
    for (const Listed& item : listed)
        total += item.expectedSize;
    return total;
}

// Reads and hashes the listed files. Two files are read at once, a block from each in turn,
// each hashed on its own worker: one file at a time would leave a worker idle while the pool
// fills with the other's.
int brokenFileCount(const std::vector<Listed>& listed) {
    return static_cast<int>(std::count_if(
        listed.begin(), listed.end(), [](const Listed& item) { return !item.verdict.recovery; }));
}

class ListedReader {
public:
    ListedReader(FileSystem& fs, const std::vector<Listed>& listed, ProgressObserver* observer)
        : fs(fs), listed(listed), tracker(observer, totalSize(listed), brokenFileCount(listed)),
          reads(listed.size()) {
        tracker.setChecking();
    }

    // Reads every listed file to its end; false when the observer cancelled.
    Result<bool> readAll() {
        if (!tracker.advance(0))
            return false;
        std::size_t next = 0;
        while (next < listed.size() || !active.empty()) {
            while (active.size() < 2 && next < listed.size()) {
                auto started = start(next++);
                if (!started || !started.value())
                    return started;
            }
            auto continued = readActive();
            if (!continued || !continued.value())
                return continued;
        }
        return true;
    }

    // The verdict on each listed file, once all are read.
    std::vector<PartVerdict> verdicts(std::vector<Listed>& all, const PartHeader& header,
                                      bool complete) {
        std::vector<PartVerdict> judged;
        for (std::size_t i = 0; i < all.size(); ++i) {
            const Digest digest =
                reads[i].stream >= 0 ? hasher.finishStream(reads[i].stream) : Digest{};
            std::uint64_t expected = all[i].expectedSize;
            if (all[i].verdict.recovery)
                expected = reads[i].size; // recovery parts carry no size of their own here
            if (!complete)
                expected = 0;
            judged.push_back(judge(*all[i].entry, reads[i], digest, expected, header,
                                   std::move(all[i].verdict)));
        }
        return judged;
    }

private:
    // A file being read: its descriptor, how far it is read and the worker hashing it.
    struct Active {
        std::size_t item;
        detail::FileHandle handle;
        off_t offset = 0;
        int lane = 0;
    };

    // Opens listed file i and hashes its first block; one that is not there, or is no
    // ordinary file, is only noted.
    Result<bool> start(std::size_t i) {
        const std::string& path = listed[i].verdict.path;
        ReadFile& read = reads[i];
        tracker.setPart(listed[i].verdict.index, path, listed[i].verdict.recovery);
        const std::span<char> block = hasher.acquire();
        auto opened = detail::readFileStart(fs, path, block.data(), block.size());
        if (!opened || opened.value().found != detail::FileStart::Found::Regular) {
            hasher.submit(block, {});
            if (!opened)
                return opened.failure();
            read.present = opened.value().found == detail::FileStart::Found::NotRegular;
            read.regular = false;
            return true;
        }
        read.present = true;
        read.status = opened.value().status;
        const int lane = active.empty() ? 0 : 1 - active.front().lane;
        read.stream = hasher.openStream(lane);
        Active reading{i, std::move(opened.value().file), 0, lane};
        const std::size_t n = opened.value().length;
        if (!hashBlock(reading, block, n))
            return false;
        if (n == block.size())
            active.push_back(std::move(reading));
        return true;
    }

    // Reads one more block of each file being read, dropping those that end.
    Result<bool> readActive() {
        for (auto it = active.begin(); it != active.end();) {
            const std::string& path = listed[it->item].verdict.path;
            tracker.setPart(listed[it->item].verdict.index, path);
            const std::span<char> block = hasher.acquire();
            auto got = detail::readFully(fs, it->handle.get(), block.data(), block.size(),
                                         it->offset, path);
            if (!got) {
                hasher.submit(block, {});
                return got.failure();
            }
            if (!hashBlock(*it, block, got.value()))
                return false;
            it = got.value() < block.size() ? active.erase(it) : it + 1;
        }
        return true;
    }

    // Hands a block read from a file to its stream; false when the observer cancelled.
    bool hashBlock(Active& reading, std::span<char> block, std::size_t n) {
        ReadFile& read = reads[reading.item];
        if (reading.offset == 0)
            read.head.assign(block.data(), std::min(n, kHeadSize));
        const detail::ParallelHasher::Piece piece{read.stream, 0, n};
        hasher.submit(block, {&piece, 1});
        reading.offset += static_cast<off_t>(n);
        if (n < block.size())
            read.size = static_cast<std::uint64_t>(reading.offset);
        return tracker.advance(n);
    }

    FileSystem& fs;
    const std::vector<Listed>& listed;
    detail::ProgressTracker tracker;
    detail::ParallelHasher hasher;
    std::vector<ReadFile> reads;
    std::vector<Active> active;
};

} // namespace

Result<bool> verifyParts(FileSystem& fs, std::string_view base, const ChecksumFile& file,
                         const PartHeader& header, ProgressObserver* observer,
                         std::vector<PartVerdict>& verdicts) {
    std::vector<Listed> listed = listedFiles(base, file);
    ListedReader reader(fs, listed, observer);
    auto read = reader.readAll();
    if (!read || !read.value())
        return read;
    verdicts = reader.verdicts(listed, header, file.complete);
    return true;
}

std::string describeVerdict(const PartVerdict& verdict) {
    switch (verdict.condition) {
    case PartCondition::Good:
        return _("good");
    case PartCondition::Missing:
        return _("missing");
    case PartCondition::Damaged:
        return _("damaged (") + verdict.detail + ")";
    case PartCondition::Foreign:
        return _("foreign (") + verdict.detail + ")";
    }
    return {};
}

} // namespace tolvar
