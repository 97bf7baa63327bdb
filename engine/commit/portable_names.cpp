#include "portable_names.h"

#include "checksum_file.h"
#include "failure.h"
#include "file_handle.h"
#include "folder_files.h"
#include "part_header.h"
#include "path_parts.h"
#include "recovery.h"
#include "translation.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <set>
#include <sys/vfs.h>
#include <tuple>
#include <unistd.h>

namespace tolvar::detail {

namespace {

constexpr long kMsdosMagic = 0x4d44; // vfat and msdos, the kernel's FAT drivers

bool isPlainCharacter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-' || c == ' ';
}

// The length of the UTF-8 sequence at text[at], or 1 for a byte that starts none, so that
// an invalid byte is tried on its own and a valid character whole.
std::size_t characterLength(const std::string& text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead >= 0xF0 && lead < 0xF5   ? 4
                               : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xC2 && lead < 0xE0 ? 2
                                                             : 1;
    if (at + length > text.size())
        return 1;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
            return 1;
    return length;
}

// What one probe tries: a character inside a name, or a name ending in it.
struct Probe {
    std::string character;
    bool atEnd;
    bool operator<(const Probe& other) const {
        return std::tie(character, atEnd) < std::tie(other.character, other.atEnd);
    }
};

std::set<Probe> probesFor(const std::vector<std::string>& names) {
    std::set<Probe> probes;
    for (const std::string& name : names) {
        for (std::size_t at = 0; at < name.size();) {
            const std::size_t length = characterLength(name, at);
            if (length > 1 || !isPlainCharacter(static_cast<unsigned char>(name[at])))
                probes.insert({name.substr(at, length), false});
            at += length;
        }
        if (!name.empty() && (name.back() == '.' || name.back() == ' '))
            probes.insert({std::string(1, name.back()), true});
    }
    return probes;
}

// Whether a probe refused with err says the name cannot be held (rather than that the folder
// is full, gone or broken, which the operation's own writes then report).
bool refusesTheName(int err) {
    return err == EINVAL || err == EILSEQ || err == EPERM || err == ENOENT || err == EACCES ||
           err == ENAMETOOLONG || err == EOPNOTSUPP;
}

// Creates a new, empty hidden file in folder whose name carries `suffix`; its name goes to
// name. False with errno from the create where the folder refused it. A journal that cannot be
// written is the operation's failure: a file a kill could leave behind unnamed is never made.
bool createProbe(FileSystem& fs, const Folder& folder, const std::string& suffix, std::string& name,
                 RunJournal& journal, std::optional<Failure>& failure) {
    auto created = createTemporary(fs, journal, folder, folder.shown(), name, 0600, suffix.c_str());
    if (created)
        return true;
    if (created.failure().action == FileAction::Create &&
        created.failure().path == folder.shown()) {
        errno = created.failure().err;
        return false;
    }
    failure = created.failure();
    errno = 0;
    return false;
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string upperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Whether the file at path starts as a part, a recovery part or a checksum file does.
bool belongsToASet(FileSystem& fs, const std::string& path) {
    char first[kRecoveryHeaderSize] = {};
    auto start = readFileStart(fs, path, first, sizeof first);
    if (!start || start.value().found != FileStart::Found::Regular)
        return false;
    const std::string_view bytes(first, start.value().length);
    return isPart(bytes) || bytes.starts_with(kRecoveryMagic) || isChecksumFileText(bytes);
}

std::string quoted(const std::string& text) {
    return "'" + escapedForDisplay(text) + "'";
}

} // namespace

Result<std::optional<std::string>> nameRefusal(FileSystem& fs, const Folder& folder,
                                               const std::vector<std::string>& names,
                                               RunJournal& journal) {
    std::optional<Failure> failure;
    // A plain probe first: a folder that takes no file at all is not ours to judge here.
    std::string plainName;
    const bool plain = createProbe(fs, folder, ".probe", plainName, journal, failure);
    if (failure)
        return *failure;
    if (!plain)
        return std::optional<std::string>();
    // The probe's name in capitals names no other file, so finding it says the folder ignores
    // case. Its inode says nothing: FUSE drivers give each spelling a node of its own.
    struct stat otherCase {};
    const bool ignoresCase = fs.lstatAt(folder.fd(), upperCase(plainName), &otherCase) == 0;

    std::optional<std::string> refusal;
    std::vector<std::pair<std::string, const Probe*>> made;
    const std::set<Probe> probes = probesFor(names);
    for (const Probe& probe : probes) {
        const std::string suffix =
            probe.atEnd ? ".probe" + probe.character : probe.character + ".probe";
        std::string path;
        const bool madeIt = createProbe(fs, folder, suffix, path, journal, failure);
        if (failure)
            break;
        if (madeIt) {
            made.emplace_back(path, &probe);
            continue;
        }
        if (!refusesTheName(errno))
            continue;
        refusal = probe.atEnd ? _("a name ending in ") + quoted(probe.character)
                              : quoted(probe.character) + _(" in a name");
        break;
    }
    // A probe the folder took but lists under another name (a driver that drops a trailing
    // dot, say) would give a file whose name is not the one asked for.
    std::vector<std::string> listed;
    if (!refusal && !made.empty() && fs.listFolderAt(folder.fd(), listed) == 0) {
        for (const auto& [path, probe] : made)
            if (std::find(listed.begin(), listed.end(), path) == listed.end()) {
                refusal = probe->atEnd ? _("a name ending in ") + quoted(probe->character)
                                       : quoted(probe->character) + _(" in a name");
                break;
            }
    }
    for (const auto& entry : made)
        fs.unlinkAt(folder.fd(), entry.first);
    fs.unlinkAt(folder.fd(), plainName);
    if (failure)
        return *failure;
    if (refusal)
        return std::optional<std::string>(
            _("The folder ") + quoted(folder.shown()) + _(" cannot hold ") + *refusal +
            _(": its file system does not allow it. Choose another name or folder."));

    if (!ignoresCase)
        return std::optional<std::string>();
    if (listed.empty() && fs.listFolderAt(folder.fd(), listed) != 0)
        return std::optional<std::string>();
    for (const std::string& name : names) {
        const std::string folded = lowerCase(name);
        for (const std::string& entry : listed)
            if (entry != name && lowerCase(entry) == folded &&
                std::find(names.begin(), names.end(), entry) == names.end() &&
                !belongsToASet(fs, folder.reach(entry)))
                return std::optional<std::string>(
                    _("The folder ") + quoted(folder.shown()) +
                    _(" does not tell upper from lower case, so ") + quoted(name) +
                    _(" would replace ") + quoted(entry) +
                    _(", which is not a broken file. Move it away, or choose another name or "
                      "folder."));
    }
    return std::optional<std::string>();
}

std::optional<std::string> nameLengthRefusal(FileSystem& fs, const Folder& folder,
                                             const std::vector<std::string>& names) {
    struct statfs info {};
    const std::size_t limit = fs.fstatfs(folder.fd(), &info) == 0 && info.f_namelen > 0
                                  ? static_cast<std::size_t>(info.f_namelen)
                                  : std::size_t{NAME_MAX};
    std::vector<std::string> all = names;
    all.push_back(newHiddenName());
    const auto longest = std::max_element(
        all.begin(), all.end(), [](const auto& a, const auto& b) { return a.size() < b.size(); });
    if (longest->size() <= limit)
        return std::nullopt;
    return _("The name ") + quoted(*longest) + _(" is ") + std::to_string(longest->size()) +
           _(" bytes long, but the folder ") + quoted(folder.shown()) +
           _(" holds names of at most ") + std::to_string(limit) +
           _(" bytes. Choose a shorter name or prefix.");
}

std::optional<FileSizeLimit> knownFileSizeLimit(FileSystem& fs, const Folder& folder) {
    struct statfs info {};
    if (fs.fstatfs(folder.fd(), &info) != 0)
        return std::nullopt;
    if (info.f_type == kMsdosMagic)
        return FileSizeLimit{(std::uint64_t{1} << 32) - 1, "FAT32"};
    return std::nullopt;
}

std::string tooLargeMessage(const std::string& path, std::uint64_t size, std::uint64_t limit,
                            const char* fileSystem, const std::string& folder) {
    constexpr double kGb = 1024.0 * 1024.0 * 1024.0;
    auto gb = [](double tenths) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", tenths / 10);
        std::string shown = text;
        if (shown.ends_with(".0"))
            shown.resize(shown.size() - 2);
        return shown + " GB";
    };
    const std::string where = fileSystem != nullptr ? std::string(_("a ")) + fileSystem + _(" file")
                                                    : _("a file in ") + quoted(folder);
    return quoted(path) + _(" is ") + gb(std::ceil(double(size) / kGb * 10)) + "; " + where +
           _(" can hold at most ") + gb(std::floor(double(limit + 1) / kGb * 10)) +
           _(". Choose another folder.");
}

std::optional<std::string> sizeLimitMessage(FileSystem& fs, int fd, const std::string& path,
                                            std::uint64_t size, const Folder& folder) {
    struct stat st {};
    // A file that took no byte at all did not meet a limit of its size.
    if (fs.fstat(fd, &st) != 0 || st.st_size == 0 || std::uint64_t(st.st_size) >= size)
        return std::nullopt;
    const char byte = 0;
    if (fs.write(fd, &byte, 1) == 1)
        return std::nullopt;
    const int err = errno;
    if (err != EFBIG) {
        // FUSE drivers without EFBIG say EPERM: it is the size only if there is room for the
        // rest and the file took writes until now. A full disk stays a full disk.
        struct statfs info {};
        if (err != EPERM || fs.fstatfs(folder.fd(), &info) != 0 ||
            std::uint64_t(info.f_bavail) * std::uint64_t(info.f_bsize) <=
                size - std::uint64_t(st.st_size))
            return std::nullopt;
    }
    const auto known = knownFileSizeLimit(fs, folder);
    return tooLargeMessage(path, size, std::uint64_t(st.st_size),
                           known ? known->fileSystem : nullptr, folder.shown());
}

} // namespace tolvar::detail
