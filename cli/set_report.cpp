#include "set_report.h"

#include "operations.h"
#include "translation.h"

namespace tolvar::cli {

namespace {

std::string quoted(std::string_view text) {
    return "'" + escapedForDisplay(text) + "'";
}

std::string bytesText(std::uint64_t count) {
    return std::to_string(count) + _(" bytes");
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
    text += _("Part:        ") + escapedForDisplay(set.chosenPath) + "\n";
    text += _("Index:       ") + formatIndex(chosen.PartIndex) + _(" of a set of ") +
            std::to_string(chosen.PartCount) + (chosen.PartCount == 1 ? _(" part") : _(" parts")) +
            "\n";
    text += _("Restores to: ") + escapedForDisplay(set.outputName({})) + "\n";
    if (chosen.PartIndex != 0)
        text += _("Join from:   ") + escapedForDisplay(PartFileName(set.base, 0)) + "\n";

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
            state = _("missing");
            break;
        case PartState::WrongIndex:
            ++wrongIndex;
            state = _("wrong index ") + formatIndex(entry.header.PartIndex);
            break;
        case PartState::WrongSize:
            ++wrongSize;
            state = _("wrong size (") + bytesText(entry.payloadSize) + ")";
            break;
        case PartState::OtherSet:
            ++other;
            state = _("from another set (") + formatIndex(entry.header.PartCount) +
                    _(" parts, tail ") + quoted(entry.header.NameTail) + ")";
            break;
        case PartState::NotAPart:
        case PartState::Unreadable:
            ++other;
            // A folder or device at the name is no part; only a file that fails is unreadable.
            state = entry.reason.empty()
                        ? _("unreadable (") + escapedForDisplay(entry.failure->description) + ")"
                        : _("not a part (") + entry.reason + ")";
            break;
        }
        text += formatPartLine(formatIndex(entry.index), state, entry.path);
    }

    const std::string counted = std::to_string(present) + _(" of ") +
                                std::to_string(set.parts.size()) + _(" parts present");
    if (set.whole())
        return text + _("Complete: ") + counted + ", " + std::to_string(set.presentPayload()) +
               _(" bytes in all.\n");
    text += _("Incomplete: ") + counted;
    const auto add = [&](int n, const char* what) {
        if (n > 0)
            text += ", " + std::to_string(n) + what;
    };
    add(missing, _(" missing"));
    add(wrongIndex, _(" with a wrong index"));
    add(wrongSize, _(" of the wrong size"));
    add(other, _(" not of this set"));
    text += ".\n";
    if (!set.countIsValid())
        text += set.problemInWords() + "\n";
    return text;
}

std::string silentStopInWords(const PartSet* set) {
    if (set != nullptr && set->chosen.header.PartIndex != 0)
        return messages::notAssembledMessage(quoted(set->chosenPath) + _(" is broken file ") +
                                             formatIndex(set->chosen.header.PartIndex) +
                                             _(" of its set, not the first one; join from ") +
                                             quoted(PartFileName(set->base, 0)) + ".");
    if (set != nullptr)
        for (const PartEntry& entry : set->parts)
            if (entry.state == PartState::WrongIndex)
                return messages::notAssembledMessage(set->problemInWords(entry));
    return messages::notAssembledMessage(
        _("a broken file does not carry the index its name calls for."));
}

} // namespace tolvar::cli
