#include "set_report.h"

#include "operations.h"

namespace tolvar::cli {

namespace {

std::string quoted(std::string_view text) {
    return "'" + escapedForDisplay(text) + "'";
}

std::string bytesText(std::uint64_t count) {
    return std::to_string(count) + " bytes";
}

} // namespace

std::string formatPartLine(std::string_view slot, std::string_view state, std::string_view path) {
    std::string line = "  ";
    line += slot;
    line += "  ";
    line += state;
    if (state.size() < 20)
        line.append(20 - state.size(), ' ');
    return line + "  " + escapedForDisplay(path) + "\n";
}

std::string formatSetReport(const PartSet& set) {
    const PartHeader& chosen = set.chosen.header;
    std::string text;
    text += "Part:        " + escapedForDisplay(set.chosenPath) + "\n";
    text += "Index:       " + formatIndex(chosen.PartIndex) + " of a set of " +
            std::to_string(chosen.PartCount) + " part" + (chosen.PartCount == 1 ? "" : "s") + "\n";
    text += "Restores to: " + escapedForDisplay(set.outputName({})) + "\n";
    if (chosen.PartIndex != 0)
        text += "Join from:   " + escapedForDisplay(PartFileName(set.base, 0)) + "\n";

    int present = 0;
    int missing = 0;
    int wrongIndex = 0;
    int wrongSize = 0;
    int other = 0;
    for (const PartEntry& entry : set.parts) {
        std::string state;
        switch (entry.state) {
        case PartState::Present:
            ++present;
            state = bytesText(entry.payloadSize);
            break;
        case PartState::Missing:
            ++missing;
            state = "missing";
            break;
        case PartState::WrongIndex:
            ++wrongIndex;
            state = "wrong index " + formatIndex(entry.header.PartIndex);
            break;
        case PartState::WrongSize:
            ++wrongSize;
            state = "wrong size (" + bytesText(entry.payloadSize) + ")";
            break;
        case PartState::OtherSet:
            ++other;
            state = "from another set (" + formatIndex(entry.header.PartCount) + " parts, tail " +
                    quoted(entry.header.NameTail) + ")";
            break;
        case PartState::NotAPart:
        case PartState::Unreadable:
            ++other;
            // A folder or device at the name is no part; only a file that fails is unreadable.
            state = entry.reason.empty()
                        ? "unreadable (" + escapedForDisplay(entry.failure->description) + ")"
                        : "not a part (" + entry.reason + ")";
            break;
        }
        text += formatPartLine(formatIndex(entry.index), state, entry.path);
    }

    const std::string counted =
        std::to_string(present) + " of " + std::to_string(set.parts.size()) + " parts present";
    if (set.whole())
        return text + "Complete: " + counted + ", " + std::to_string(set.presentPayload()) +
               " bytes in all.\n";
    text += "Incomplete: " + counted;
    const auto add = [&](int n, const char* what) {
        if (n > 0)
            text += ", " + std::to_string(n) + what;
    };
    add(missing, " missing");
    add(wrongIndex, " with a wrong index");
    add(wrongSize, " of the wrong size");
    add(other, " not of this set");
    text += ".\n";
    if (!set.countIsValid())
        text += set.problemInWords() + "\n";
    return text;
}

std::string silentStopInWords(const PartSet* set) {
    if (set != nullptr && set->chosen.header.PartIndex != 0)
        return messages::notAssembledMessage(quoted(set->chosenPath) + " is broken file " +
                                             formatIndex(set->chosen.header.PartIndex) +
                                             " of its set, not the first one; join from " +
                                             quoted(PartFileName(set->base, 0)) + ".");
    if (set != nullptr)
        for (const PartEntry& entry : set->parts)
            if (entry.state == PartState::WrongIndex)
                return messages::notAssembledMessage(set->problemInWords(entry));
    return messages::notAssembledMessage(
        "a broken file does not carry the index its name calls for.");
}

} // namespace tolvar::cli
