#include "display_text.h"

namespace tolvar {

namespace {

// The length of the well-formed, printable UTF-8 sequence at bytes[at], 0 when there is none.
// C1 controls (U+0080 to U+009F) count as unprintable: terminals act on them.
std::size_t printableSequence(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned lead = byte(at);
    std::size_t length = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        if (lead == 0xC2)
            low = 0xA0;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    return length;
}

} // namespace

std::string escapedForDisplay(std::string_view bytes) {
    static constexpr char kDigits[] = "01234567";
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            if (byte == '\\')
                text += '\\';
            text += static_cast<char>(byte);
            ++i;
            continue;
        }
        if (const std::size_t length = byte >= 0x80 ? printableSequence(bytes, i) : 0; length > 0) {
            text.append(bytes.substr(i, length));
            i += length;
            continue;
        }
        switch (byte) {
        case '\a':
            text += "\\a";
            break;
        case '\b':
            text += "\\b";
            break;
        case '\t':
            text += "\\t";
            break;
        case '\n':
            text += "\\n";
            break;
        case '\v':
            text += "\\v";
            break;
        case '\f':
            text += "\\f";
            break;
        case '\r':
            text += "\\r";
            break;
        default:
            text += '\\';
            text += kDigits[(byte >> 6) & 7];
            text += kDigits[(byte >> 3) & 7];
            text += kDigits[byte & 7];
            break;
        }
        ++i;
    }
    return text;
}

} // namespace tolvar
