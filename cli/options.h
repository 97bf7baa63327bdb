#pragma once

#include "failure.h"
#include "input_rules.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tolvar::cli {

enum class Command { Help, Version, Split, Join, Info, Verify, Repair };

// Everything the command line asked for, before any value is checked against the rules the
// window applies (size above 0, 2 to 50 parts): those checks give the window's own messages
// and status 1, while this parser only rejects what cannot be read at all.
struct Options {
    Command command = Command::Help;
    std::string path; // FILE, FIRST_PART or PART
    std::optional<std::string> sizeText;
    std::optional<std::string> partsText;
    std::optional<std::string> prefix;       // as given, before the "." is appended
    std::optional<std::string> recoveryText; // split: recovery parts to write
    bool yes = false;
    bool deleteSource = false;
    bool deleteParts = false;
    bool checksums = false;   // split: write the checksum file beside the parts
    bool noChecksums = false; // join: join without the set's checksum file, even a damaged one
    bool joinScript = false;  // split: write the join script (and the checksum files) too
    bool inPlace = false;     // split: cut the file as its parts are written
};

// A command line that cannot be understood; the text names what is wrong.
struct UsageError {
    std::string message;
};

// Parses the arguments after the program name, with getopt_long's rules. Options may come
// before or after the positional arguments and take their value either as the next argument
// or after "=" (long form) or directly attached (short form); short ones cluster ("-ys1M"),
// a long one may be cut to any unambiguous beginning ("--siz"), and "--" ends the options. "--help"
// or "--version" anywhere before "--" wins over everything else, including errors elsewhere on the
// line. Refuses unknown and ambiguous options, missing values, a missing or unknown command, a
// wrong number of positional arguments, an option that does not apply to the command, and a split
// given both or neither of --size and --parts.
std::variant<Options, UsageError> parseCommandLine(const std::vector<std::string_view>& args);

// A part size as typed, in its own unit, not yet rounded.
struct TypedSize {
    double value;
    SizeUnit unit;
    double kilobytes() const { return unit == SizeUnit::Megabytes ? value * 1024 : value; }
};

// A part size as typed: a decimal number, optionally followed by a unit K/KB/KiB (1024 bytes,
// the default when no unit is given) or M/MB/MiB (1024 K), case-insensitive, with no blanks.
// Empty optional when the text is not such a number (including "inf" and "nan").
std::optional<TypedSize> parseSize(std::string_view text);

// A number of parts as typed: an optional sign followed by decimal digits. Empty optional
// when the text is not a whole number or does not fit 32 bits.
std::optional<std::int32_t> parsePartCount(std::string_view text);

// The part-name prefix as the window's boxes hold it: empty stays empty, otherwise "." is
// appended unless the text already ends in ".".
std::string prefixWithDot(std::string_view prefix);

// The text printed by --help.
std::string helpText();

// The short reminder printed after a usage error.
std::string usageText();

} // namespace tolvar::cli
