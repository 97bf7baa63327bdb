#include "options.h"

#include "destinations.h"
#include "input_rules.h"
#include "room_check.h"
#include "translation.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <getopt.h>
#include <string>

namespace tolvar::cli {

namespace {

enum class OptionId {
    Help,
    Version,
    Yes,
    DeleteSource,
    DeleteParts,
    Checksums,
    NoChecksums,
    JoinScript,
    Size,
    Parts,
    For,
    Prefix,
    Recovery,
    InPlace,
};

struct KnownOption {
    std::string_view longName;
    char shortName; // '\0' when the option has no short form
    OptionId id;
    bool takesValue;
};

constexpr KnownOption kKnownOptions[] = {
    {"help", 'h', OptionId::Help, false},
    {"version", 'V', OptionId::Version, false},
    {"yes", 'y', OptionId::Yes, false},
    {"delete-source", '\0', OptionId::DeleteSource, false},
    {"delete-parts", '\0', OptionId::DeleteParts, false},
    {"checksums", '\0', OptionId::Checksums, false},
    {"no-checksums", '\0', OptionId::NoChecksums, false},
    {"join-script", '\0', OptionId::JoinScript, false},
    {"size", 's', OptionId::Size, true},
    {"parts", 'n', OptionId::Parts, true},
    {"for", '\0', OptionId::For, true},
    {"prefix", 'p', OptionId::Prefix, true},
    {"recovery", 'r', OptionId::Recovery, true},
    {"in-place", '\0', OptionId::InPlace, false},
};

// What getopt_long returns for an option: its short letter, or a code above every letter
// for one that has none.
int codeOf(const KnownOption& known) {
    return known.shortName != '\0' ? static_cast<unsigned char>(known.shortName)
                                   : 256 + static_cast<int>(&known - kKnownOptions);
}

const KnownOption* findCode(int code) {
    for (const KnownOption& known : kKnownOptions)
        if (codeOf(known) == code)
            return &known;
    return nullptr;
}

// The long options a name given after "--" abbreviates; getopt_long says only that it is
// unknown or ambiguous, and which of the two is the user's to know.
std::vector<const KnownOption*> longCandidates(std::string_view name) {
    std::vector<const KnownOption*> found;
    for (const KnownOption& known : kKnownOptions)
        if (known.longName.starts_with(name))
            found.push_back(&known);
    return found;
}

struct Seen {
    bool help = false;
    bool version = false;
    std::optional<UsageError> firstError;
    std::vector<std::string> positionals;
    Options options;
};

void fail(Seen& seen, std::string message) {
    if (!seen.firstError)
        seen.firstError = UsageError{std::move(message)};
}

void apply(Seen& seen, const KnownOption& known, std::string value) {
    switch (known.id) {
    case OptionId::Help:
        seen.help = true;
        break;
    case OptionId::Version:
        seen.version = true;
        break;
    case OptionId::Yes:
        seen.options.yes = true;
        break;
    case OptionId::DeleteSource:
        seen.options.deleteSource = true;
        break;
    case OptionId::DeleteParts:
        seen.options.deleteParts = true;
        break;
    case OptionId::Checksums:
        seen.options.checksums = true;
        break;
    case OptionId::NoChecksums:
        seen.options.noChecksums = true;
        break;
    case OptionId::JoinScript:
        seen.options.joinScript = true;
        break;
    case OptionId::Size:
        seen.options.sizeText = std::move(value);
        break;
    case OptionId::Parts:
        seen.options.partsText = std::move(value);
        break;
    case OptionId::For:
        seen.options.forText = std::move(value);
        break;
    case OptionId::Prefix:
        seen.options.prefix = std::move(value);
        break;
    case OptionId::Recovery:
        seen.options.recoveryText = std::move(value);
        break;
    case OptionId::InPlace:
        seen.options.inPlace = true;
        break;
    }
}

std::string displayName(const KnownOption& known) {
    return "--" + std::string(known.longName);
}

// Checks that the options given fit the command; the first misfit is the error.
std::optional<UsageError> checkFit(const Options& options) {
    const bool split = options.command == Command::Split;
    const bool join = options.command == Command::Join;
    if (!split && (options.sizeText || options.partsText))
        return UsageError{std::string("--") + (options.sizeText ? "size" : "parts") +
                          _(" applies to split only")};
    if (!split && options.forText)
        return UsageError{_("--for applies to split only")};
    if (!split && options.recoveryText)
        return UsageError{_("--recovery applies to split only")};
    if (!split && options.deleteSource)
        return UsageError{_("--delete-source applies to split only")};
    if (!join && options.deleteParts)
        return UsageError{_("--delete-parts applies to join only")};
    if (!split && options.checksums)
        return UsageError{_("--checksums applies to split only")};
    if (!split && options.joinScript)
        return UsageError{_("--join-script applies to split only")};
    if (!join && options.noChecksums)
        return UsageError{_("--no-checksums applies to join only")};
    if (!join && !split && options.inPlace)
        return UsageError{_("--in-place applies to split and join only")};
    if ((options.command == Command::Info || options.command == Command::Verify ||
         options.command == Command::Repair) &&
        options.prefix)
        return UsageError{_("--prefix applies to split and join only")};
    if (split && options.sizeText && options.partsText)
        return UsageError{_("split takes either --size or --parts, not both")};
    if (split && options.forText && (options.sizeText || options.partsText))
        return UsageError{_("--for chooses the size itself: give it without --size and --parts")};
    if (split && !options.sizeText && !options.partsText && !options.forText)
        return UsageError{_("split needs --size SIZE, --parts N or --for NAME")};
    return std::nullopt;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// getopt_long's view of the table: a leading "-" hands over the other arguments in place (also
// under POSIXLY_CORRECT) and ":" tells a missing value from an unknown option.
struct GetoptTable {
    GetoptTable() {
        shortOptions = "-:";
        for (const KnownOption& known : kKnownOptions) {
            if (known.shortName != '\0') {
                shortOptions += known.shortName;
                if (known.takesValue)
                    shortOptions += ':';
            }
            longOptions.push_back({known.longName.data(),
                                   known.takesValue ? required_argument : no_argument, nullptr,
                                   codeOf(known)});
        }
        longOptions.push_back({nullptr, 0, nullptr, 0});
    }
    std::string shortOptions;
    std::vector<option> longOptions;
};

// Names the problem getopt_long met in argv[element]: a missing value, a value given to an
// option that takes none, or an unknown or ambiguous option.
std::string problemWith(int result, std::string_view element) {
    if (const KnownOption* known = findCode(optopt))
        return displayName(*known) + (result == ':' ? _(" needs a value") : _(" takes no value"));
    if (optopt != 0)
        return _("unknown option '-") +
               escapedForDisplay(std::string(1, static_cast<char>(optopt))) + "'";
    const std::string_view name = element.substr(2, element.find('=') - 2);
    const std::vector<const KnownOption*> candidates = longCandidates(name);
    if (candidates.size() < 2)
        return _("unknown option '--") + escapedForDisplay(name) + "'";
    std::string message =
        _("option '--") + escapedForDisplay(name) + _("' is ambiguous; possibilities:");
    for (const KnownOption* candidate : candidates)
        message += " " + displayName(*candidate);
    return message;
}

// The arguments as getopt_long reads them: a C argument vector led by the program's name.
// The pointers point into strings, so the vector is never copied or moved.
class ArgumentVector {
public:
    explicit ArgumentVector(const std::vector<std::string_view>& args) : strings{"tolvar-split"} {
        strings.insert(strings.end(), args.begin(), args.end());
        for (std::string& arg : strings)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
    }
    ArgumentVector(const ArgumentVector&) = delete;
    ArgumentVector& operator=(const ArgumentVector&) = delete;

    int argc() const { return static_cast<int>(strings.size()); }
    char** argv() { return pointers.data(); }
    char* at(int element) { return pointers[static_cast<std::size_t>(element)]; }

private:
    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

// Runs getopt_long over all the arguments: options are applied, other arguments collected in
// order, and the first problem kept as the error.
Seen readArguments(ArgumentVector& arguments) {
    static const GetoptTable table;
    Seen seen;
    opterr = 0; // our own messages, and only the first of them
    optind = 0; // start afresh: the state of an earlier parse must not carry over
    int failedElement = -1;
    for (;;) {
        // The element getopt_long reads now: a cluster is read letter by letter in place.
        const int element = std::max(optind, 1);
        const int result =
            getopt_long(arguments.argc(), arguments.argv(), table.shortOptions.c_str(),
                        table.longOptions.data(), nullptr);
        if (result == -1)
            break;
        if (element == failedElement)
            continue; // the rest of a cluster holding an unknown letter counts for nothing
        if (result == 1) {
            // A lone "-" is an ordinary argument, as in most tools.
            seen.positionals.emplace_back(optarg);
        } else if (result == '?' || result == ':') {
            fail(seen, problemWith(result, arguments.at(element)));
            failedElement = element;
        } else if (const KnownOption* known = findCode(result)) {
            apply(seen, *known, optarg != nullptr ? optarg : "");
        }
    }
    // Everything after "--" is an argument.
    for (int i = optind; i < arguments.argc(); ++i)
        seen.positionals.emplace_back(arguments.at(i));
    return seen;
}

struct CommandName {
    std::string_view name;
    Command command;
    std::string_view operand; // what the usage error calls the one argument it needs
};

constexpr CommandName kCommands[] = {
    {"split", Command::Split, "FILE"},   {"join", Command::Join, "FIRST_PART"},
    {"info", Command::Info, "PART"},     {"verify", Command::Verify, "PART"},
    {"repair", Command::Repair, "PART"},
};

Options commandOnly(Command command) {
    Options options;
    options.command = command;
    return options;
}

// The command the first argument names, with its one operand and the options that fit it.
std::variant<Options, UsageError> commandWithOperand(Seen seen) {
    if (seen.positionals.empty())
        return UsageError{_("missing command (split, join, info, verify or repair)")};
    const std::string& command = seen.positionals.front();
    const auto named =
        std::find_if(std::begin(kCommands), std::end(kCommands),
                     [&](const CommandName& entry) { return entry.name == command; });
    if (named == std::end(kCommands))
        return UsageError{_("unknown command '") + escapedForDisplay(command) + "'"};
    if (seen.positionals.size() < 2)
        return UsageError{command + _(" needs ") + std::string(named->operand)};
    if (seen.positionals.size() > 2)
        return UsageError{_("unexpected argument '") + escapedForDisplay(seen.positionals[2]) +
                          "'"};
    Options options = std::move(seen.options);
    options.command = named->command;
    options.path = seen.positionals[1];
    if (std::optional<UsageError> misfit = checkFit(options))
        return *misfit;
    return options;
}

} // namespace

std::variant<Options, UsageError> parseCommandLine(const std::vector<std::string_view>& args) {
    ArgumentVector arguments(args);
    Seen seen = readArguments(arguments);
    // Help and version answer whatever else was typed, even what was typed wrong.
    if (seen.help)
        return commandOnly(Command::Help);
    if (seen.version)
        return commandOnly(Command::Version);
    if (seen.firstError)
        return *seen.firstError;
    if (seen.options.forText == "list")
        return commandOnly(Command::ListDestinations);
    return commandWithOperand(std::move(seen));
}

std::optional<TypedSize> parseSize(std::string_view text) {
    std::size_t numberEnd = 0;
    while (numberEnd < text.size() &&
           ((text[numberEnd] >= '0' && text[numberEnd] <= '9') || text[numberEnd] == '.' ||
            text[numberEnd] == '-' || text[numberEnd] == '+' || text[numberEnd] == 'e' ||
            text[numberEnd] == 'E'))
        ++numberEnd;
    const std::string_view number = text.substr(0, numberEnd);
    const std::string_view unit = text.substr(numberEnd);

    SizeUnit sizeUnit = SizeUnit::Kilobytes;
    if (unit.empty() || equalsIgnoringCase(unit, "k") || equalsIgnoringCase(unit, "kb") ||
        equalsIgnoringCase(unit, "kib"))
        sizeUnit = SizeUnit::Kilobytes;
    else if (equalsIgnoringCase(unit, "m") || equalsIgnoringCase(unit, "mb") ||
             equalsIgnoringCase(unit, "mib"))
        sizeUnit = SizeUnit::Megabytes;
    else
        return std::nullopt;

    // from_chars refuses a leading "+", which people do type.
    std::string_view digits = number;
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && digits.front() == '-')
            return std::nullopt;
    }
    if (digits.empty() || digits.front() == '+')
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size() || !std::isfinite(value))
        return std::nullopt;
    return TypedSize{value, sizeUnit};
}

std::optional<std::int32_t> parsePartCount(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-')
            return std::nullopt;
    }
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string prefixWithDot(std::string_view prefix) {
    std::string result(prefix);
    if (!result.empty() && result.back() != '.')
        result += '.';
    return result;
}

std::string destinationList() {
    std::string text = _("NAME        PART SIZE              FITS\n");
    for (const Destination& row : destinations()) {
        const DestinationPlan plan = planFor(row);
        const std::uint64_t payload = std::uint64_t(plan.partKilobytes) * 1024;
        std::string name(row.name);
        name.resize(std::max<std::size_t>(name.size() + 1, 12), ' ');
        std::string size = std::to_string(plan.partKilobytes) + "K (" + roomInWords(payload) + ")";
        size.resize(std::max<std::size_t>(size.size() + 1, 23), ' ');
        std::string fits = _(row.label.data());
        switch (row.counts) {
        case LimitCounts::PerFile:
            fits += _(": each broken file at most ") + std::to_string(row.limit) + _(" bytes");
            break;
        case LimitCounts::PerMessage:
            fits += _(": each broken file, base64-encoded in one message, within ") +
                    std::to_string(row.limit) + _(" bytes");
            break;
        case LimitCounts::PerDisc:
            fits += ": " + std::to_string(plan.partsPerUnit) +
                    (plan.partsPerUnit == 1 ? _(" broken file") : _(" broken files")) +
                    _(" per disc of ") + std::to_string(row.limit) + _(" bytes");
            break;
        }
        text += name + size + fits + "\n";
    }
    return text;
}

bool isMaxSize(std::string_view text) {
    return equalsIgnoringCase(text, "max");
}

namespace {

// The synopsis opens both the short usage and --help, so the two cannot drift apart.
const char* const kSynopsis =
    // TRANSLATORS: wrapped
    N_("Usage: tolvar-split split (--size SIZE | --parts N | --for NAME)\n"
       "                          [--prefix PREFIX] [--yes] [--checksums] [--recovery N]\n"
       "                          [--join-script] [--delete-source] [--in-place] FILE\n"
       "       tolvar-split split --for list\n"
       "       tolvar-split join [--prefix PREFIX] [--yes] [--delete-parts]\n"
       "                         [--no-checksums] [--in-place] FIRST_PART\n"
       "       tolvar-split info PART\n"
       "       tolvar-split verify PART\n"
       "       tolvar-split repair PART\n");

} // namespace

std::string usageText() {
    return std::string(_(kSynopsis)) + _("Try 'tolvar-split --help' for more information.\n");
}

// Each section is translated apart, so a translator works on one at a time; the blank lines
// between them are not theirs. A translation is wrapped to 80 columns in its own lines.
std::string helpText() {
    const char* const sections[] = {
        // TRANSLATORS: wrapped
        N_("Cut a file into numbered broken files and join them back, byte for byte. The\n"
           "broken files are the same as those of the Tolvar Files Splitter window: each\n"
           "starts with a 16-byte header (\"SPLITKV\", its index, the number of parts and\n"
           "the last three characters of the source's name) followed by a slice of the\n"
           "source.\n"),
        // TRANSLATORS: wrapped
        N_("Commands:\n"
           "  split FILE      Cut FILE into broken files. Without --prefix they go beside\n"
           "                  FILE, named after it with its last three characters replaced\n"
           "                  by the three-digit index: movie.avi gives movie.000,\n"
           "                  movie.001, ... A FILE whose name has fewer than three\n"
           "                  characters is refused, with or without --prefix.\n"
           "  join FIRST_PART Rebuild the file from the set whose first part (the one whose\n"
           "                  name ends in 000) is FIRST_PART. Without --prefix the file is\n"
           "                  written beside the parts under its original name. A damaged\n"
           "                  checksum file beside the set stops the join (see\n"
           "                  --no-checksums).\n"
           "  info PART       Read PART's header and list its set: the part's index, the\n"
           "                  number of parts, the name the set restores to, each part\n"
           "                  present with its payload size, and each part that is\n"
           "                  missing, carries a wrong index or is not a part at all.\n"
           "                  Changes nothing.\n"
           "  verify PART     Check every file of PART's set against the checksum file\n"
           "                  beside it (see --checksums) and print each as good, damaged\n"
           "                  (cut short, grown, altered, or another part's bytes), missing\n"
           "                  or foreign (not a part of this set). Without a usable\n"
           "                  checksum file, say why and list the set as info does; with\n"
           "                  a damaged one, say so, list the set and exit with status 1.\n"
           "                  Changes nothing.\n"
           "  repair PART     Check every file of PART's set against its checksum file\n"
           "                  (PART may name a file of the set that is lost),\n"
           "                  rebuild the missing and damaged ones from the others and the\n"
           "                  recovery parts, check each rebuilt file against its checksum\n"
           "                  and put it in place under its own name. With more files lost\n"
           "                  than there are recovery parts, say so and change nothing.\n"),
        // TRANSLATORS: wrapped
        N_("Options:\n"
           "  -s, --size SIZE   (split) Payload of each part: a number with an optional\n"
           "                    unit K (1024 bytes, the default) or M (1024 K), e.g. 100K,\n"
           "                    700M, 1.5M, 64. The size is rounded to whole kilobytes, a\n"
           "                    half going to the even neighbour. It must come to 1 K to\n"
           "                    2097151 K (2047.999 M). \"max\" is the largest part the\n"
           "                    destination folder's file system holds, within that\n"
           "                    limit (a FAT32 file holds 4 GiB - 1 byte: 2097151 K).\n"
           "      --for NAME    (split) Parts that fit where they must go: NAME is a row\n"
           "                    of the table --for list prints (fat32, cd, dvd, dvd-dl,\n"
           "                    bd, email, email-10mb, discord, telegram, github). Each\n"
           "                    broken file, header included, fits the limit (for mail,\n"
           "                    once base64-encoded in a message); a disc takes as many\n"
           "                    as fill it. --for chooses the size: it cannot be given\n"
           "                    with --size or --parts.\n"
           "      --for list    Print the table (name, part size, what it fits) and exit.\n"
           "  -n, --parts N     (split) Cut into N parts of equal size, N from 2 to 50; the\n"
           "                    bytes left over go into one further, short part.\n"
           "  -p, --prefix PREFIX\n"
           "                    (split) Name the parts PREFIX.000, PREFIX.001, ...\n"
           "                    (join) Name the rebuilt file PREFIX. followed by the last\n"
           "                    three characters kept from the source's name.\n"
           "                    A \".\" is appended unless PREFIX already ends in one. An\n"
           "                    empty PREFIX is the same as none. A PREFIX ending in \"/\"\n"
           "                    or naming a folder puts the files in that folder under\n"
           "                    the names they would have beside FILE or FIRST_PART\n"
           "                    (--prefix out/ dir/movie.avi gives out/movie.000, ...).\n"
           "      --checksums   (split) Also write a checksum file beside the parts, named\n"
           "                    after them with \"sha256\" in place of the index (movie.sha256\n"
           "                    beside movie.000, ...). It holds one sha256sum line per part\n"
           "                    and nothing else, so \"sha256sum -c movie.sha256\" (GNU,\n"
           "                    busybox, uutils), \"shasum -a 256 -c movie.sha256\" and\n"
           "                    \"7zz t -thash movie.sha256\" run in the parts' folder check\n"
           "                    them without this program. Its companion, movie.tolvar,\n"
           "                    holds the same lines and the original's name (no folder),\n"
           "                    size, time, permissions and SHA-256. join uses them when\n"
           "                    it is there: a damaged part is refused, naming it, before\n"
           "                    anything is written, and the rebuilt file is checked against\n"
           "                    the original's SHA-256 before it is kept. Deleting the parts\n"
           "                    deletes it too. Its lines may name only the set's own files.\n"
           "      --join-script (split, implies --checksums) Also write movie.join.sh, a\n"
           "                    POSIX sh script that rebuilds the file without this program\n"
           "                    (\"sh movie.join.sh\" in the parts' folder): it checks every\n"
           "                    part first and never replaces an existing file.\n"
           "      --no-checksums\n"
           "                    (join) Join without the checksum file beside the set, with\n"
           "                    the usual checks of every part's header and size only; for\n"
           "                    a set whose checksum file is damaged, which otherwise stops\n"
           "                    the join.\n"
           "  -y, --yes         Answer Yes to \"Are you sure ...?\" and to \"... already\n"
           "                    exists. Replace it?\" without asking. It also stops the\n"
           "                    question about deleting files: they are kept unless\n"
           "                    --delete-source or --delete-parts is given.\n"
           "  -r, --recovery N  (split) Also write N recovery parts, movie.r00 to\n"
           "                    movie.r(N-1), N from 1 to 100, and the checksum file\n"
           "                    movie.sha256 that lists them: any N files of the set may\n"
           "                    then be lost or damaged and rebuilt with repair.\n"
           "      --in-place    (split) Split FILE where there is room for only one part\n"
           "                    more: the parts are written from its end, and FILE is\n"
           "                    shortened by each part's bytes once that part is safely\n"
           "                    on the disk, so FILE is gone at the end. The parts go\n"
           "                    beside FILE, onto names nothing else has.\n"
           "                    (join) Delete each broken file as soon as its bytes are\n"
           "                    safely in the rebuilt file, which is then made beside the\n"
           "                    parts: the folder needs room only for the largest broken\n"
           "                    file and the checksum file, not for the whole file. The\n"
           "                    whole set is checked first (with a checksum file, every\n"
           "                    part's contents; a damaged part the recovery parts can\n"
           "                    rebuild is repaired first, other damage stops the join\n"
           "                    with nothing changed). Without a checksum file the\n"
           "                    contents cannot be checked, and the join asks again;\n"
           "                    --yes does not answer that question, --no-checksums does.\n"
           "                    Stopped at any moment (a kill, a full disk, a power cut),\n"
           "                    either loses nothing: the same command again (even with\n"
           "                    FIRST_PART gone) finishes the run, and every other\n"
           "                    command says that it is unfinished.\n"
           "      --delete-source\n"
           "                    (split) Delete FILE once every part is written.\n"
           "      --delete-parts\n"
           "                    (join) Delete the parts once the file is rebuilt.\n"
           "  -h, --help        Show this help and exit.\n"
           "  -V, --version     Show the version and exit.\n"),
        // TRANSLATORS: wrapped
        N_("Options may come before or after the other arguments; \"--\" ends the options.\n"
           "A long option may be shortened to any beginning that names only it (--siz).\n"),
        // TRANSLATORS: wrapped
        N_("Room:\n"
           "  Before writing anything, split and join compare what they will write (the\n"
           "  broken files, recovery and checksum files; or the rebuilt file) with the\n"
           "  room left in the destination folder, and refuse when it does not fit,\n"
           "  naming both figures. Files the run replaces count as room only once they\n"
           "  are gone: they are removed after the new files are complete.\n"),
        // TRANSLATORS: wrapped
        N_("Questions:\n"
           "  Before it starts, split and join ask \"Are you sure ...? [y/N]\" on the\n"
           "  terminal; before that, join asks \"'movie.avi' already exists. Replace it?\"\n"
           "  when a file has the rebuilt file's name. When standard input is not a\n"
           "  terminal and --yes is not given, the answer is No: the program says so and\n"
           "  changes nothing. After a split or join, the program asks whether to delete\n"
           "  the source or the parts; --delete-source and --delete-parts answer Yes, --yes\n"
           "  without them answers No, and without a terminal the answer is No.\n"),
        // TRANSLATORS: wrapped
        N_("Output:\n"
           "  All messages go to standard error: the questions, refusals such as \"This\n"
           "  file is already splited.\", and failure reports in the form\n"
           "  \"Tolvar Files Splitter - 61: Disk full: cannot write '...' (...)\", where 61\n"
           "  is the failure's number. When standard error is a terminal, a progress line\n"
           "  shows the bytes done, the total and the rate. info prints its list on\n"
           "  standard output. Ctrl+C during the copy stops it and removes the files this\n"
           "  run created.\n"),
        // TRANSLATORS: wrapped
        N_("Exit status:\n"
           "  0  done (info: the set is complete; verify: every file is good;\n"
           "     repair: the set is whole or repaired)\n"
           "  1  refused, declined, interrupted or failed (info: the set is incomplete or\n"
           "     PART is not a part; verify: a file is damaged, missing or\n"
           "     foreign, or the checksum file is damaged; repair: the set could not\n"
           "     be repaired)\n"
           "  2  the command line could not be understood\n"
           "  3  the split or join is done, but files it was to delete are still there\n"
           "     (a deletion failed, or the source changed); the messages name them\n"),
    };
    // TRANSLATORS: indented as the synopsis's lines after its first
    std::string text = std::string(_(kSynopsis)) + _("       tolvar-split --help | --version\n");
    for (const char* section : sections)
        text += "\n" + std::string(_(section));
    return text;
}

} // namespace tolvar::cli
