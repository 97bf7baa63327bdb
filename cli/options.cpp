#include "options.h"

#include "input_rules.h"
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
    if (!split && options.inPlace)
        return UsageError{_("--in-place applies to split only")};
    if ((options.command == Command::Info || options.command == Command::Verify ||
         options.command == Command::Repair) &&
        options.prefix)
        return UsageError{_("--prefix applies to split and join only")};
    if (split && options.sizeText && options.partsText)
        return UsageError{_("split takes either --size or --parts, not both")};
    if (split && !options.sizeText && !options.partsText)
        return UsageError{_("split needs --size SIZE or --parts N")};
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

std::string usageText() {
    return _("Usage: tolvar-split split (--size SIZE | --parts N) [--prefix PREFIX] [--yes]\n"
             "                          [--checksums] [--recovery N] [--join-script]\n"
             "                          [--delete-source] [--in-place] FILE\n"
             "       tolvar-split join [--prefix PREFIX] [--yes] [--delete-parts]\n"
             "                         [--no-checksums] FIRST_PART\n"
             "       tolvar-split info PART\n"
             "       tolvar-split verify PART\n"
             "       tolvar-split repair PART\n"
             "Try 'tolvar-split --help' for more information.\n");
}

std::string helpText() {
    return R"HELP(Usage: tolvar-split split (--size SIZE | --parts N) [--prefix PREFIX] [--yes]
                          [--checksums] [--recovery N] [--join-script]
                          [--delete-source] [--in-place] FILE
       tolvar-split join [--prefix PREFIX] [--yes] [--delete-parts]
                         [--no-checksums] FIRST_PART
       tolvar-split info PART
       tolvar-split verify PART
       tolvar-split repair PART
       tolvar-split --help | --version

Cut a file into numbered broken files and join them back, byte for byte. The
broken files are the same as those of the Tolvar Files Splitter window: each
starts with a 16-byte header ("SPLITKV", its index, the number of parts and
the last three characters of the source's name) followed by a slice of the
source.

Commands:
  split FILE      Cut FILE into broken files. Without --prefix they go beside
                  FILE, named after it with its last three characters replaced
                  by the three-digit index: movie.avi gives movie.000,
                  movie.001, ... A FILE whose name has fewer than three
                  characters is refused, with or without --prefix.
  join FIRST_PART Rebuild the file from the set whose first part (the one whose
                  name ends in 000) is FIRST_PART. Without --prefix the file is
                  written beside the parts under its original name. A damaged
                  checksum file beside the set stops the join (see
                  --no-checksums).
  info PART       Read PART's header and list its set: the part's index, the
                  number of parts, the name the set restores to, each part
                  present with its payload size, and each part that is
                  missing, carries a wrong index or is not a part at all.
                  Changes nothing.
  verify PART     Check every file of PART's set against the checksum file
                  beside it (see --checksums) and print each as good, damaged
                  (cut short, grown, altered, or another part's bytes), missing
                  or foreign (not a part of this set). Without a usable
                  checksum file, say why and list the set as info does; with
                  a damaged one, say so, list the set and exit with status 1.
                  Changes nothing.
  repair PART     Check every file of PART's set against its checksum file
                  (PART may name a file of the set that is lost),
                  rebuild the missing and damaged ones from the others and the
                  recovery parts, check each rebuilt file against its checksum
                  and put it in place under its own name. With more files lost
                  than there are recovery parts, say so and change nothing.

Options:
  -s, --size SIZE   (split) Payload of each part: a number with an optional
                    unit K (1024 bytes, the default) or M (1024 K), e.g. 100K,
                    700M, 1.5M, 64. The size is rounded to whole kilobytes, a
                    half going to the even neighbour. It must come to 1 K to
                    2097151 K (2047.999 M).
  -n, --parts N     (split) Cut into N parts of equal size, N from 2 to 50; the
                    bytes left over go into one further, short part.
  -p, --prefix PREFIX
                    (split) Name the parts PREFIX.000, PREFIX.001, ...
                    (join) Name the rebuilt file PREFIX. followed by the last
                    three characters kept from the source's name.
                    A "." is appended unless PREFIX already ends in one. An
                    empty PREFIX is the same as none. A PREFIX ending in "/"
                    or naming a folder puts the files in that folder under
                    the names they would have beside FILE or FIRST_PART
                    (--prefix out/ dir/movie.avi gives out/movie.000, ...).
      --checksums   (split) Also write a checksum file beside the parts, named
                    after them with "sha256" in place of the index (movie.sha256
                    beside movie.000, ...). It holds one sha256sum line per part
                    and nothing else, so "sha256sum -c movie.sha256" (GNU,
                    busybox, uutils), "shasum -a 256 -c movie.sha256" and
                    "7zz t -thash movie.sha256" run in the parts' folder check
                    them without this program. Its companion, movie.tolvar,
                    holds the same lines and the original's name (no folder),
                    size, time, permissions and SHA-256. join uses them when
                    it is there: a damaged part is refused, naming it, before
                    anything is written, and the rebuilt file is checked against
                    the original's SHA-256 before it is kept. Deleting the parts
                    deletes it too. Its lines may name only the set's own files.
      --join-script (split, implies --checksums) Also write movie.join.sh, a
                    POSIX sh script that rebuilds the file without this program
                    ("sh movie.join.sh" in the parts' folder): it checks every
                    part first and never replaces an existing file.
      --no-checksums
                    (join) Join without the checksum file beside the set, with
                    the usual checks of every part's header and size only; for
                    a set whose checksum file is damaged, which otherwise stops
                    the join.
  -y, --yes         Answer Yes to "Are you sure ...?" and to "... already
                    exists. Replace it?" without asking. It also stops the
                    question about deleting files: they are kept unless
                    --delete-source or --delete-parts is given.
  -r, --recovery N  (split) Also write N recovery parts, movie.r00 to
                    movie.r(N-1), N from 1 to 100, and the checksum file
                    movie.sha256 that lists them: any N files of the set may
                    then be lost or damaged and rebuilt with repair.
      --delete-source
                    (split) Delete FILE once every part is written.
      --in-place    (split) Split FILE where there is room for only one part
                    more: the parts are written from its end, and FILE is
                    shortened by each part's bytes once that part is safely
                    on the disk, so FILE is gone at the end. The parts go
                    beside FILE, onto names nothing else has. Stopped at any
                    moment (a kill, a full disk, a power cut), nothing is
                    lost: every byte is in FILE or in a hidden part beside
                    it. Run the same command again to finish; every other
                    command says so until then.
      --delete-parts
                    (join) Delete the parts once the file is rebuilt.
  -h, --help        Show this help and exit.
  -V, --version     Show the version and exit.

Options may come before or after the other arguments; "--" ends the options.
A long option may be shortened to any beginning that names only it (--siz).

Questions:
  Before it starts, split and join ask "Are you sure ...? [y/N]" on the
  terminal; before that, join asks "'movie.avi' already exists. Replace it?"
  when a file has the rebuilt file's name. When standard input is not a
  terminal and --yes is not given, the answer is No: the program says so and
  changes nothing. After a split or join, the program asks whether to delete
  the source or the parts; --delete-source and --delete-parts answer Yes, --yes
  without them answers No, and without a terminal the answer is No.

Output:
  All messages go to standard error: the questions, refusals such as "This
  file is already splited.", and failure reports in the form
  "Tolvar Files Splitter - 61: Disk full: cannot write '...' (...)", where 61
  is the failure's number. When standard error is a terminal, a progress line
  shows the bytes done, the total and the rate. info prints its list on
  standard output. Ctrl+C during the copy stops it and removes the files this
  run created.

Exit status:
  0  done (info: the set is complete; verify: every file is good;
     repair: the set is whole or repaired)
  1  refused, declined, interrupted or failed (info: the set is incomplete or
     PART is not a part; verify: a file is damaged, missing or
     foreign, or the checksum file is damaged; repair: the set could not
     be repaired)
  2  the command line could not be understood
  3  the split or join is done, but files it was to delete are still there
     (a deletion failed, or the source changed); the messages name them
)HELP";
}

} // namespace tolvar::cli
