#include "part_set.h"

#include "part_file.h"
#include "translation.h"

#include <algorithm>

namespace tolvar {

namespace {

// Takes what the file's status and header reading say: NotAPart, or the header for the caller
// to judge.
std::optional<PartHeader> takeHeader(PartEntry& entry, const struct stat& status,
                                     const HeaderReading& reading) {
    entry.status = status;
    entry.fileSize = static_cast<std::uint64_t>(status.st_size);
    if (!reading.header) {
        entry.state = PartState::NotAPart;
        entry.reason = reading.reason;
        return std::nullopt;
    }
    entry.header = *reading.header;
    entry.payloadSize = entry.fileSize - kHeaderSize;
    return entry.header;
}

// Opens the file once and reads its status and first 16 bytes. Leaves the entry Missing,
// Unreadable or NotAPart, or gives the header for the caller to judge.
std::optional<PartHeader> inspect(FileSystem& fs, PartEntry& entry) {
    auto file = readPartFile(fs, entry.path);
    if (!file) {
        entry.state = PartState::Unreadable;
        entry.failure = file.failure();
        return std::nullopt;
    }
    entry.failure = file.value().failure;
    switch (file.value().found) {
    case FileFound::Missing:
        entry.state = PartState::Missing;
        return std::nullopt;
    case FileFound::NotRegular:
        entry.state = PartState::Unreadable;
        entry.reason = _("not an ordinary file");
        return std::nullopt;
    case FileFound::Regular:
        break;
    }
    return takeHeader(entry, file.value().status, file.value().reading);
}

// Judges a part already inspected against its place in the set.
void judge(PartEntry& entry, int count, const std::string& tail, std::uint64_t partSize) {
    const PartHeader& header = entry.header;
    if (header.PartIndex != entry.index) {
        entry.state = PartState::WrongIndex;
        return;
    }
    if (header.PartCount != count || header.NameTail != tail) {
        entry.state = PartState::OtherSet;
        return;
    }
    entry.state = PartState::Present;
    if (count < 2)
        return; // no set to measure against; the count itself is what is wrong
    const std::string bytes = std::to_string(entry.payloadSize);
    if (entry.index == 0) {
        if (entry.payloadSize == 0) {
            entry.state = PartState::WrongSize;
            entry.reason = _("holds no bytes after its header, which no split writes");
        }
    } else if (partSize == 0) {
        // Part 000 is unusable: there is nothing to measure the others against.
    } else if (entry.index + 1 < count) {
        if (entry.payloadSize != partSize) {
            entry.state = PartState::WrongSize;
            entry.reason = _("holds ") + bytes + _(" bytes after its header where ") +
                           std::to_string(partSize) +
                           _(" are expected: every broken file but the last holds as many as the "
                             "first");
        }
    } else if (entry.payloadSize >= partSize) {
        entry.state = PartState::WrongSize;
        entry.reason = _("holds ") + bytes +
                       _(" bytes after its header, but as the last broken file it must hold fewer "
                         "than the first one's ") +
                       std::to_string(partSize);
    }
}

std::string quoted(std::string_view path) {
    return "'" + escapedForDisplay(path) + "'";
}

} // namespace

PartEntry examinePart(FileSystem& fs, const std::string& path, int index, int count,
                      const std::string& tail, std::uint64_t partSize) {
    PartEntry entry;
    entry.index = index;
    entry.path = path;
    if (inspect(fs, entry))
        judge(entry, count, tail, partSize);
    return entry;
}

PartEntry judgePart(const std::string& path, int index, int count, const std::string& tail,
                    std::uint64_t partSize, const struct stat& status, std::string_view head) {
    PartEntry entry;
    entry.index = index;
    entry.path = path;
    if (takeHeader(entry, status, readHeader(head)))
        judge(entry, count, tail, partSize);
    return entry;
}

Result<std::optional<PartSet>> readPartSet(FileSystem& fs, const std::string& chosenPath) {
    PartSet set;
    set.chosenPath = chosenPath;
    set.chosen.path = chosenPath;
    if (!inspect(fs, set.chosen)) {
        if (set.chosen.state == PartState::NotAPart)
            return std::optional<PartSet>{};
        return *set.chosen.failure;
    }
    set.chosen.index = set.chosen.header.PartIndex;
    set.chosen.state = PartState::Present;
    const auto base = partBaseName(chosenPath, {});
    if (!base)
        return makeFailure(FailureKind::InvalidArgument,
                           _("cannot find the other broken files of '") + chosenPath + "'");
    set.base = *base;
    set.count = set.chosen.header.PartCount < 0 ? 0 : set.chosen.header.PartCount;
    set.tail = set.chosen.header.NameTail;

    for (int index = 0; index < set.count; ++index) {
        PartEntry entry;
        entry.index = index;
        entry.path = PartFileName(set.base, index);
        if (entry.path == chosenPath) {
            entry = set.chosen;
            entry.index = index;
            judge(entry, set.count, set.tail, set.partSize);
        } else if (inspect(fs, entry)) {
            judge(entry, set.count, set.tail, set.partSize);
        }
        if (index == 0 && entry.state == PartState::Present)
            set.partSize = entry.payloadSize;
        set.parts.push_back(std::move(entry));
    }
    return std::optional<PartSet>(std::move(set));
}

bool PartSet::whole() const {
    return countIsValid() && firstProblem() == nullptr;
}

const PartEntry* PartSet::firstProblem() const {
    for (const PartEntry& entry : parts)
        if (entry.state != PartState::Present)
            return &entry;
    return nullptr;
}

std::string PartSet::problemInWords() const {
    if (!countIsValid())
        return quoted(chosenPath) + _(" gives its set ") + std::to_string(count) +
               _(" parts; a split always writes at least 2.");
    const PartEntry* problem = firstProblem();
    return problem == nullptr ? std::string() : problemInWords(*problem);
}

std::string PartSet::problemInWords(const PartEntry& entry) const {
    const std::string name = quoted(entry.path);
    switch (entry.state) {
    case PartState::Present:
        break;
    case PartState::Missing:
        return name + _(" is missing.");
    case PartState::Unreadable:
        return escapedForDisplay(entry.failure->description) + ".";
    case PartState::NotAPart:
        return name + _(" is not a broken file (") + entry.reason + ").";
    case PartState::WrongIndex:
        return name + _(" carries the index ") + formatIndex(entry.header.PartIndex) +
               _(" instead of ") + formatIndex(entry.index) + ".";
    case PartState::OtherSet:
        return name + _(" is from another set: it gives ") + formatIndex(entry.header.PartCount) +
               _(" parts and the name tail ") + quoted(entry.header.NameTail) + _(", where ") +
               quoted(chosenPath) + _(" gives ") + formatIndex(count) + _(" and ") + quoted(tail) +
               ".";
    case PartState::WrongSize:
        return name + " " + entry.reason + ".";
    }
    return {};
}

std::string PartSet::outputName(const std::string& prefix) const {
    return (prefix.empty() ? base : prefix) + tail;
}

std::uint64_t PartSet::presentPayload() const {
    std::uint64_t total = 0;
    for (const PartEntry& entry : parts)
        if (entry.state == PartState::Present)
            total += entry.payloadSize;
    return total;
}

} // namespace tolvar
