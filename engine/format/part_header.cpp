#include "part_header.h"

#include "translation.h"

#include <algorithm>
#include <cstring>

namespace tolvar {

std::string formatIndex(int index) {
    std::string digits = std::to_string(index < 0 ? -index : index);
    if (digits.size() < 3)
        digits.insert(0, 3 - digits.size(), '0');
    return index < 0 ? "-" + digits : digits;
}

std::string_view nameTailOf(std::string_view path) {
    return path.size() <= 3 ? path : path.substr(path.size() - 3);
}

HeaderBytes PartHeader::build(int index, int count, std::string_view sourcePath) {
    std::string text(kMagicTag);
    text += formatIndex(index);
    text += formatIndex(count);
    text += nameTailOf(sourcePath);
    text.resize(kHeaderSize, ' ');
    HeaderBytes bytes{};
    std::memcpy(bytes.data(), text.data(), kHeaderSize);
    return bytes;
}

namespace {

// The decimal number at the start of a field: leading blanks, an optional sign, then digits;
// 0 when no digit follows. Three characters cannot leave the 16-bit range.
std::int16_t leadingNumber(std::string_view field) {
    std::size_t i = 0;
    while (i < field.size() && field[i] == ' ')
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '-' || field[i] == '+')) {
        negative = field[i] == '-';
        ++i;
    }
    int value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i)
        value = value * 10 + (field[i] - '0');
    return static_cast<std::int16_t>(negative ? -value : value);
}

} // namespace

PartHeader PartHeader::parse(const HeaderBytes& bytes) {
    const std::string_view text(bytes.data(), bytes.size());
    PartHeader header;
    header.PartIndex = leadingNumber(text.substr(7, 3));
    header.PartCount = leadingNumber(text.substr(10, 3));
    header.NameTail = std::string(text.substr(13, 3));
    return header;
}

bool isPart(std::string_view firstBytes) {
    return firstBytes.size() >= kMagicTag.size() &&
           firstBytes.substr(0, kMagicTag.size()) == kMagicTag;
}

HeaderReading readHeader(std::string_view firstBytes) {
    HeaderReading reading;
    reading.tagged = isPart(firstBytes);
    if (firstBytes.size() < kHeaderSize) {
        reading.reason = _("shorter than a part header");
    } else if (!reading.tagged) {
        reading.reason = _("no part header");
    } else {
        HeaderBytes bytes{};
        std::copy_n(firstBytes.begin(), kHeaderSize, bytes.begin());
        reading.header = PartHeader::parse(bytes);
    }
    return reading;
}

std::string PartFileName(std::string_view base, int index) {
    std::string name(base);
    name += formatIndex(index);
    return name;
}

std::optional<std::string> partBaseName(std::string_view sourcePath, std::string_view prefix) {
    if (!prefix.empty())
        return std::string(prefix);
    if (sourcePath.size() < 3)
        return std::nullopt;
    return std::string(sourcePath.substr(0, sourcePath.size() - 3));
}

} // namespace tolvar
