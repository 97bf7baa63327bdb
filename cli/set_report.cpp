#include "set_report.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tolvar::cli {

namespace {

struct Examined {
    bool isPart = false;
    bool regular = true;
    HeaderBytes header{};
    std::uint64_t size = 0;
    std::string notPartReason;
};

// Opens only ordinary files, so a FIFO named like a part cannot block the listing.
Result<Examined> examine(const std::string& path, FileSystem& fs) {
    struct stat st {};
    if (fs.stat(path, &st) != 0)
        return fileFailure(errno, FileAction::Open, path);
    Examined examined;
    if (!S_ISREG(st.st_mode)) {
        examined.regular = false;
        examined.notPartReason = "not an ordinary file";
        return examined;
    }
    const int fd = fs.open(path, O_RDONLY);
    if (fd < 0)
        return fileFailure(errno, FileAction::Open, path);
    ssize_t got = 0;
    do {
        got = fs.pread(fd, examined.header.data(), examined.header.size(), 0);
    } while (got < 0 && errno == EINTR);
    const int readError = errno;
    struct stat opened {};
    const bool statOk = fs.fstat(fd, &opened) == 0;
    const int statError = errno;
    fs.close(fd);
    if (got < 0)
        return fileFailure(readError, FileAction::Read, path);
    if (!statOk)
        return fileFailure(statError, FileAction::Read, path);
    examined.size = static_cast<std::uint64_t>(opened.st_size);
    const std::string_view first(examined.header.data(), static_cast<std::size_t>(got));
    if (static_cast<std::size_t>(got) < kHeaderSize)
        examined.notPartReason = "shorter than a part header";
    else if (!isPart(first))
        examined.notPartReason = "no part header";
    else
        examined.isPart = true;
    return examined;
}

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

} // namespace

bool SetReport::complete() const {
    for (const SlotReport& slot : slots)
        if (slot.state != SlotReport::State::Present)
            return false;
    return true;
}

Result<std::optional<SetReport>> examineSet(const std::string& partPath, FileSystem& fs) {
    Result<Examined> chosen = examine(partPath, fs);
    if (!chosen)
        return chosen.failure();
    if (!chosen.value().regular)
        return makeFailure(FailureKind::IoError,
                           "cannot open '" + partPath + "' (not an ordinary file)");
    if (!chosen.value().isPart)
        return std::optional<SetReport>{};

    SetReport report;
    report.partPath = partPath;
    report.header = PartHeader::parse(chosen.value().header);
    report.base = partPath.size() >= 3 ? partPath.substr(0, partPath.size() - 3) : std::string();
    report.restoresTo = report.base + report.header.NameTail;

    for (int index = 0; index < report.header.PartCount; ++index) {
        SlotReport slot;
        slot.index = index;
        slot.path = PartFileName(report.base, index);
        Result<Examined> sibling = examine(slot.path, fs);
        if (!sibling) {
            if (sibling.failure().kind == FailureKind::FileNotFound) {
                slot.state = SlotReport::State::Missing;
            } else {
                slot.state = SlotReport::State::Unreadable;
                slot.detail = sibling.failure().description;
            }
        } else if (!sibling.value().isPart) {
            slot.state = SlotReport::State::NotAPart;
            slot.detail = sibling.value().notPartReason;
        } else {
            slot.header = PartHeader::parse(sibling.value().header);
            slot.payloadBytes = sibling.value().size - kHeaderSize;
            if (slot.header.PartIndex != index)
                slot.state = SlotReport::State::WrongIndex;
            else if (slot.header.PartCount != report.header.PartCount ||
                     slot.header.NameTail != report.header.NameTail)
                slot.state = SlotReport::State::OtherSet;
            else
                slot.state = SlotReport::State::Present;
        }
        report.slots.push_back(std::move(slot));
    }
    return std::optional<SetReport>(std::move(report));
}

std::string formatSetReport(const SetReport& report) {
    std::string text;
    text += "Part:        " + report.partPath + "\n";
    text += "Index:       " + formatIndex(report.header.PartIndex) + " of a set of " +
            std::to_string(report.header.PartCount) + " part" +
            (report.header.PartCount == 1 ? "" : "s") + "\n";
    text += "Restores to: " + report.restoresTo + "\n";
    if (report.header.PartIndex != 0)
        text += "Join from:   " + PartFileName(report.base, 0) + "\n";

    int present = 0;
    int missing = 0;
    int wrong = 0;
    int other = 0;
    std::uint64_t payload = 0;
    for (const SlotReport& slot : report.slots) {
        std::string state;
        switch (slot.state) {
        case SlotReport::State::Present:
            ++present;
            payload += slot.payloadBytes;
            state = std::to_string(slot.payloadBytes) + " bytes";
            break;
        case SlotReport::State::Missing:
            ++missing;
            state = "missing";
            break;
        case SlotReport::State::WrongIndex:
            ++wrong;
            state = "wrong index " + formatIndex(slot.header.PartIndex);
            break;
        case SlotReport::State::OtherSet:
            ++other;
            state = "from another set (" + formatIndex(slot.header.PartCount) + " parts, tail '" +
                    slot.header.NameTail + "')";
            break;
        case SlotReport::State::NotAPart:
            ++other;
            state = "not a part (" + slot.detail + ")";
            break;
        case SlotReport::State::Unreadable:
            ++other;
            state = "unreadable (" + slot.detail + ")";
            break;
        }
        text += "  " + formatIndex(slot.index) + "  " + padded(state, 20) + "  " + slot.path + "\n";
    }

    if (report.complete()) {
        text += "Complete: " + std::to_string(present) + " of " +
                std::to_string(report.slots.size()) + " parts present, " + std::to_string(payload) +
                " bytes in all.\n";
    } else {
        text += "Incomplete: " + std::to_string(present) + " of " +
                std::to_string(report.slots.size()) + " parts present";
        if (missing > 0)
            text += ", " + std::to_string(missing) + " missing";
        if (wrong > 0)
            text += ", " + std::to_string(wrong) + " with a wrong index";
        if (other > 0)
            text += ", " + std::to_string(other) + " not of this set";
        text += ".\n";
    }
    return text;
}

} // namespace tolvar::cli
