#include "run_journal.h"

#include "file_handle.h"
#include "folder.h"
#include "folder_files.h"
#include "message.h"
#include "path_parts.h"
#include "pending_set.h"
#include "sha256.h"
#include "translation.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <concepts>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tolvar::detail {

namespace {

// The second format adds a fingerprint to every file's identity, and deletions. Journals of the
// first, left by an earlier version, are still settled as it would have.
constexpr std::string_view kFormatTag = "tolvar-journal-2";
constexpr std::string_view kFirstFormatTag = "tolvar-journal-1";
constexpr std::string_view kStateName = "tolvar-files-splitter";

// Records are NUL-terminated fields, the first naming the record; no name holds a NUL.
void field(std::string& out, std::string_view value) {
    out += value;
    out += '\0';
}

template <std::integral Number> void field(std::string& out, Number value) {
    field(out, std::to_string(value));
}

void identityFields(std::string& out, const FileIdentity& identity) {
    field(out, identity.device);
    field(out, identity.inode);
    field(out, identity.size);
    field(out, identity.fingerprint);
}

void moveRecord(std::string& out, const JournalContents::Move& move) {
    field(out, "M");
    field(out, move.name);
    field(out, move.backup);
    field(out, move.temporary);
    identityFields(out, move.replacement);
    field(out, move.old ? 1 : 0);
    identityFields(out, move.old.value_or(FileIdentity{}));
}

bool isFingerprint(std::string_view text) {
    return text.empty() || (text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
                                return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                            }));
}

// A record naming one file by what it is: a kind, its name and its identity.
void fileRecord(std::string& out, const char* kind, const std::string& name,
                const FileIdentity& identity) {
    field(out, kind);
    field(out, name);
    identityFields(out, identity);
}

void deletionRecord(std::string& out, const JournalContents::Deletion& deletion) {
    fileRecord(out, "D", deletion.name, deletion.identity);
}

// An in-place join's start: its names, then every file it will delete, by kind.
void inPlaceRecords(std::string& out, const JournalContents::InPlaceJoin& join) {
    field(out, "J");
    field(out, join.output);
    field(out, join.temporary);
    field(out, join.base);
    field(out, join.digest);
    for (const auto& part : join.parts)
        fileRecord(out, "JP", part.name, part.identity);
    for (const auto& file : join.after)
        fileRecord(out, "JA", file.name, file.identity);
}

void partsInRecord(std::string& out, std::size_t partsIn, off_t length,
                   const std::string& fingerprint) {
    field(out, "JK");
    field(out, partsIn);
    field(out, length);
    field(out, fingerprint);
}

void inPlaceSplitRecord(std::string& out, const InPlaceSplitRecord& split) {
    field(out, "IS");
    field(out, split.source);
    identityFields(out, split.original);
    field(out, split.modifiedSeconds);
    field(out, split.modifiedNanoseconds);
    field(out, split.mode);
    field(out, split.rule);
    field(out, split.amount);
    field(out, split.recoveryParts);
    field(out, split.checksums ? 1 : 0);
    field(out, split.joinScript ? 1 : 0);
    field(out, split.base);
    field(out, split.wholeDigest);
}

void inPlaceFileRecord(std::string& out, const InPlaceFile& file) {
    field(out, "IF");
    field(out, file.name);
    field(out, file.hidden);
    identityFields(out, file.identity);
    field(out, file.digest);
}

class FieldReader {
public:
    FieldReader(const std::string& text, bool withFingerprints)
        : text(text), withFingerprints(withFingerprints) {}

    // The next field; nothing at the end, or when the last field was cut short.
    std::optional<std::string_view> next() {
        const auto end = text.find('\0', at);
        if (end == std::string::npos)
            return std::nullopt;
        const std::string_view value(text.data() + at, end - at);
        at = end + 1;
        return value;
    }

    template <class Number> bool number(Number& value) {
        const auto text = next();
        if (!text || text->empty())
            return false;
        const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
        return error == std::errc() && end == text->data() + text->size();
    }

    bool string(std::string& value) {
        const auto text = next();
        if (!text)
            return false;
        value = std::string(*text);
        return true;
    }

    bool identity(FileIdentity& value) {
        if (!number(value.device) || !number(value.inode) || !number(value.size))
            return false;
        if (!withFingerprints)
            return true;
        if (!string(value.fingerprint))
            return false;
        malformed = malformed || !isFingerprint(value.fingerprint);
        return true;
    }

    // A field that cannot be what it claims: the journal is not one this program wrote.
    bool malformed = false;

private:
    const std::string& text;
    bool withFingerprints;
    std::size_t at = 0;
};

bool isDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A folder of this user's that nobody else may write to, made 0700 where missing along with
// the folders above it up to an existing one.
bool isPrivateFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 022) == 0;
}

bool makePrivateFolder(const std::string& path) {
    if (isPrivateFolder(path))
        return true;
    const std::string parent = folderOf(path);
    struct stat st {};
    if (::lstat(parent.c_str(), &st) != 0 && (parent == path || !makePrivateFolder(parent)))
        return false;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    return isPrivateFolder(path);
}

bool ownedByUs(const char* path) {
    struct stat st {};
    return path != nullptr && path[0] == '/' && ::stat(path, &st) == 0 && st.st_uid == ::geteuid();
}

// Where journals may live, most preferred first. The home folder counts only when it is this
// user's own: root running with another user's HOME must not leave root's files there.
std::vector<std::string> stateCandidates() {
    std::vector<std::string> candidates;
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    if (state != nullptr && state[0] == '/')
        candidates.push_back(pathIn(state, std::string(kStateName)));
    else if (ownedByUs(home))
        candidates.push_back(pathIn(home, ".local/state/" + std::string(kStateName)));
    candidates.push_back("/tmp/" + std::string(kStateName) + "-" + std::to_string(::geteuid()));
    return candidates;
}

// The journals this process has open. One of this process's own that is not among them was
// kept after a failure that could not be undone, and is settled like a dead run's.
std::mutex openJournalsMutex;
std::set<std::string> openJournals;

bool isInUse(const std::string& path) {
    std::lock_guard lock(openJournalsMutex);
    return openJournals.count(path) != 0;
}

void setInUse(const std::string& path, bool inUse) {
    std::lock_guard lock(openJournalsMutex);
    if (inUse)
        openJournals.insert(path);
    else
        openJournals.erase(path);
}

bool isJournalName(const std::string& name) {
    return name.starts_with("run-") && name.ends_with(".journal");
}

// Reads at most kMaxJournalSize bytes of an ordinary file of ours; nothing otherwise.
std::optional<std::string> readJournal(FileSystem& fs, const std::string& path,
                                       struct stat& status) {
    const int fd = fs.open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    FileHandle file(fs, fd);
    if (fs.fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
        status.st_size < 0 || static_cast<std::size_t>(status.st_size) > kMaxJournalSize)
        return std::nullopt;
    std::string text(static_cast<std::size_t>(status.st_size), '\0');
    auto got = readFully(fs, fd, text.data(), text.size(), 0, path);
    if (!got)
        return std::nullopt;
    text.resize(got.value());
    return text;
}

// How a folder a journal names answered a look from a child process.
enum class Reach { Answered, Missing, Unreachable, Silent };

// Looks at the folder at path (its status and its entries) from a child process: on a mount
// that stopped answering (a stuck FUSE stick, a dead network share) the look sleeps in the
// kernel, and no signal ends it. A thread stuck there would keep this process from ever ending;
// a child is killed and left to the kernel, and the command goes on after a second.
Reach probeFolderInChild(FileSystem& fs, const std::string& path) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return Reach::Unreachable;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        return Reach::Unreachable;
    }
    if (child == 0) {
        ::close(ends[0]);
        struct stat st {};
        std::vector<std::string> names;
        if (fs.stat(path, &st) != 0)
            ::_exit(errno == ENOENT || errno == ENOTDIR ? 1 : 2);
        if (!S_ISDIR(st.st_mode))
            ::_exit(1);
        ::_exit(fs.listFolder(path, names) == 0 ? 0 : 2);
    }
    // The pipe's write end closes when the child ends, whichever way.
    ::close(ends[1]);
    pollfd end{ends[0], POLLIN, 0};
    int ready = 0;
    do
        ready = ::poll(&end, 1, 1000);
    while (ready < 0 && errno == EINTR);
    ::close(ends[0]);
    int status = 0;
    if (ready <= 0) {
        ::kill(child, SIGKILL);
        // Reaped here if the kill took; otherwise the kernel lets it go with the mount.
        ::waitpid(child, nullptr, WNOHANG);
        return Reach::Silent;
    }
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status))
        return Reach::Unreachable;
    switch (WEXITSTATUS(status)) {
    case 0:
        return Reach::Answered;
    case 1:
        return Reach::Missing;
    default:
        return Reach::Unreachable;
    }
}

// A dead run's folder, reached and checked, and the tests that tell its files apart.
class RunFolder {
public:
    RunFolder(FileSystem& fs, const Folder& folder, const JournalContents& run)
        : fs(fs), fd(folder.fd()), oldFormat(run.firstFormat),
          sameFolder(folder.status().st_dev == run.folderDevice &&
                     folder.status().st_ino == run.folderInode) {}

    bool isSameFolder() const { return sameFolder; }
    bool firstFormat() const { return oldFormat; }

    bool status(const std::string& name, struct stat& st) const {
        return fs.lstatAt(fd, name, &st) == 0;
    }
    bool isFree(const std::string& name) const {
        struct stat st {};
        return fs.lstatAt(fd, name, &st) != 0 && errno == ENOENT;
    }

    // Whether name holds the file identity recorded. In the folder the run saw, its inode (and
    // size) tells at once; where the folder was renumbered since, inode numbers may have been
    // handed out afresh (the kernel's vfat reuses them across mounts), so only what the file
    // holds counts.
    bool holds(const std::string& name, const FileIdentity& identity) const {
        struct stat st {};
        if (!status(name, st) || !S_ISREG(st.st_mode))
            return false;
        if (sameFolder && identity.matches(st))
            return true;
        if (identity.fingerprint.empty() || st.st_size != identity.size)
            return false;
        const auto fingerprint = fingerprintAt(fs, fd, name, st);
        return fingerprint && *fingerprint == identity.fingerprint;
    }

    // A file at one of the run's own hidden names, whose random letters only this user's
    // journal knows: the recorded identity, or a regular file of this user's with one name (a
    // hard link to someone's file has two), on the same device while the folder is the same.
    // Journals of the first format have nothing better for their backups either, and ask for
    // the recorded size.
    bool holdsHidden(const std::string& name, const FileIdentity& identity, bool sizeToo) const {
        struct stat st {};
        if (!status(name, st) || !S_ISREG(st.st_mode))
            return false;
        if (st.st_dev == identity.device && st.st_ino == identity.inode)
            return !sizeToo || identity.matches(st);
        if (sameFolder && st.st_dev != identity.device)
            return false;
        return st.st_uid == ::geteuid() && st.st_nlink == 1 &&
               (!sizeToo || st.st_size == identity.size);
    }

    // The old file of a move at its backup name.
    bool holdsBackup(const JournalContents::Move& move) const {
        if (!move.old)
            return false;
        if (oldFormat)
            return sameFolder && holdsHidden(move.backup, *move.old, true);
        return holds(move.backup, *move.old);
    }
    // The new file of a move at its real name. A first-format journal knows it by inode only.
    bool holdsReplacement(const JournalContents::Move& move) const {
        if (move.temporary.empty())
            return false;
        struct stat st {};
        if (oldFormat)
            return sameFolder && status(move.name, st) && S_ISREG(st.st_mode) &&
                   move.replacement.matches(st);
        return holds(move.name, move.replacement);
    }

    // A file as O_CREAT | O_EXCL makes one: regular, empty, this user's, one name.
    bool isNewborn(const std::string& name) const {
        struct stat st {};
        return status(name, st) && S_ISREG(st.st_mode) && st.st_size == 0 && st.st_nlink == 1 &&
               st.st_uid == ::geteuid();
    }

    // Moves a backup onto its real name only while nothing has that name: an undo never
    // replaces a file another program put there meanwhile.
    int putBack(const std::string& backup, const std::string& name) const {
        if (fs.renameNoReplaceAt(fd, backup, name) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS && errno != EPERM && errno != EOPNOTSUPP)
            return -1;
        if (!isFree(name)) {
            errno = EEXIST;
            return -1;
        }
        return fs.renameAt(fd, backup, name);
    }
    bool remove(const std::string& name) const { return fs.unlinkAt(fd, name) == 0; }

private:
    FileSystem& fs;
    int fd;
    bool oldFormat;
    bool sameFolder;
};

struct Settled {
    bool done = false;    // nothing is left for a later run: the journal may go
    bool changed = false; // something was put back or removed
    bool restored = false;
    std::size_t deleted = 0;
    std::string waiting; // why the journal stays for a later run, when it does
    // Old files that stay at their hidden names, as another file has taken their real ones.
    std::vector<std::pair<std::string, std::string>> keptAside;
    // Real names holding a file that is neither the run's old one nor its new one.
    std::vector<std::string> strangers;
};

// Whether a folder other than the one the run saw (by device and inode: FUSE drivers give a
// folder a new number after a remount) is the run's. It is if one of the run's hidden names,
// random letters only this user's journal knows, holds what the journal recorded for it: a
// stranger's folder at that path cannot hold them. A folder where none is left is the run's
// only if its real names hold the run's old set or its new one whole, and then nothing is left
// to do there.
enum class Recognised { Yes, NothingToDo, No };

Recognised recognise(const RunFolder& at, const JournalContents& run) {
    for (const auto& move : run.moves)
        if (at.holdsBackup(move) ||
            (!move.temporary.empty() && at.holds(move.temporary, move.replacement)))
            return Recognised::Yes;
    for (const auto& deletion : run.deletions)
        if (at.holds(deletion.name, deletion.identity))
            return Recognised::Yes;
    if (run.moves.empty())
        return run.temporaries.empty() && run.intended.empty() ? Recognised::NothingToDo
                                                               : Recognised::No;
    const bool wholeNew = std::all_of(run.moves.begin(), run.moves.end(), [&](const auto& move) {
        return move.temporary.empty() ? at.isFree(move.name) : at.holdsReplacement(move);
    });
    const bool wholeOld = std::all_of(run.moves.begin(), run.moves.end(), [&](const auto& move) {
        return move.old ? at.holds(move.name, *move.old) : at.isFree(move.name);
    });
    return wholeNew || wholeOld ? Recognised::NothingToDo : Recognised::No;
}

void undoMoves(const RunFolder& at, const JournalContents& run, Settled& result) {
    for (auto move = run.moves.rbegin(); move != run.moves.rend(); ++move) {
        const bool oldAside = at.holdsBackup(*move);
        // A new file goes only where nothing was replaced or the old one can come back: where
        // the old one is nowhere to be found (or the file at the name passes for both, split
        // again with a change no sample saw), a name keeps the file it holds.
        const bool isNew = at.holdsReplacement(*move) && (!move->old || oldAside);
        if (isNew && at.remove(move->name))
            result.changed = true;
        else if (!isNew && !at.isFree(move->name) && !at.holdsReplacement(*move) &&
                 !(move->old && at.holds(move->name, *move->old)))
            result.strangers.push_back(move->name);
        if (!oldAside)
            continue;
        if (at.putBack(move->backup, move->name) == 0)
            result.changed = result.restored = true;
        else if (errno == EEXIST)
            result.keptAside.emplace_back(move->name, move->backup);
        else
            result.done = false;
    }
}

void finishMoves(const RunFolder& at, const JournalContents& run, Settled& result) {
    for (const auto& move : run.moves) {
        if (at.holdsBackup(move)) {
            if (at.remove(move.backup))
                result.changed = true;
            else
                result.done = false;
        }
        if (!at.firstFormat() && !move.temporary.empty() && !at.isFree(move.name) &&
            !at.holdsReplacement(move))
            result.strangers.push_back(move.name);
    }
}

// The same look, where what a look through the same file layer found moments ago is taken to
// hold still: one command settles at its start and again in its operation, a journal whose
// folder is gone is looked at by each, and each look costs a fork, which in a large process is
// dear. A mount can stop answering, or a stick come back, at any moment, after a look as well
// as between two, so a short memory adds no risk a look does not have.
Reach probeFolder(FileSystem& fs, const std::string& path) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kRemembered = std::chrono::seconds(2);
    static std::mutex mutex;
    struct Look {
        Reach reach;
        Clock::time_point at;
    };
    static std::map<std::pair<const FileSystem*, std::string>, Look> looked;
    const auto key = std::make_pair(&fs, path);
    {
        std::lock_guard lock(mutex);
        const auto found = looked.find(key);
        if (found != looked.end() && Clock::now() - found->second.at < kRemembered)
            return found->second.reach;
    }
    const Reach reach = probeFolderInChild(fs, path);
    std::lock_guard lock(mutex);
    looked[key] = {reach, Clock::now()};
    return reach;
}

// Undoes or finishes one dead run's commit, and its deletions, in its folder, under the
// folder's lock; every step goes through the descriptor checked here.
Settled settle(FileSystem& fs, const JournalContents& run) {
    Settled result;
    switch (probeFolder(fs, run.folder)) {
    case Reach::Answered:
        break;
    case Reach::Missing:
        result.waiting = _("it is not there now");
        return result;
    case Reach::Silent:
        result.waiting = _("it does not answer");
        return result;
    case Reach::Unreachable:
        result.waiting = _("it cannot be read now");
        return result;
    }
    auto folder = Folder::open(fs, run.folder);
    if (!folder) {
        result.waiting = _("it cannot be read now");
        return result;
    }
    const RunFolder at(fs, folder.value(), run);
    if (!at.isSameFolder()) {
        // The first format knew its folder by number alone, and dropped its journal here.
        if (run.firstFormat) {
            result.done = true;
            return result;
        }
        switch (recognise(at, run)) {
        case Recognised::Yes:
            break;
        case Recognised::NothingToDo:
            result.done = true;
            return result;
        case Recognised::No:
            result.waiting = _("another folder is at that path now");
            return result;
        }
    }
    // A command's start-up waits at most a second for a folder another run is committing in.
    const auto locked =
        lockFolder(fs, folder.value(), LockWait{std::chrono::milliseconds(1000), nullptr});
    if (!locked) {
        result.waiting = _("another run holds it");
        return result;
    }
    result.done = true;
    if (run.committed)
        finishMoves(at, run, result);
    else
        undoMoves(at, run, result);
    for (const auto& temporary : run.temporaries)
        if (at.holdsHidden(temporary.name, temporary.identity, false) && at.remove(temporary.name))
            result.changed = true;
    for (const auto& name : run.intended) {
        const bool recorded =
            std::any_of(run.temporaries.begin(), run.temporaries.end(),
                        [&](const JournalContents::Temporary& t) { return t.name == name; });
        if (!recorded && at.isNewborn(name) && at.remove(name))
            result.changed = true;
    }
    for (const auto& deletion : run.deletions)
        if (at.holds(deletion.name, deletion.identity) && at.remove(deletion.name))
            ++result.deleted;
    return result;
}

std::string noteFor(const JournalContents& run, const Settled& settled) {
    const std::string where =
        _("an interrupted ") + run.operation + _(" in '") + escapedForDisplay(run.folder) + "'";
    std::string note;
    if (!run.moves.empty() || !run.temporaries.empty() || !run.intended.empty()) {
        if (!settled.changed && settled.keptAside.empty() && settled.strangers.empty())
            note.clear();
        else if (run.committed)
            note = _("Completed ") + where + _(": the older files it replaced were removed.");
        else if (!settled.keptAside.empty())
            note = _("Partly undid ") + where + ".";
        else if (settled.restored)
            note = _("Undid ") + where + _(": the files it had replaced are back.");
        else
            note = _("Removed the unfinished files of ") + where + ".";
    }
    if (settled.deleted > 0)
        note += std::string(note.empty() ? "" : " ") + _("Finished the deletions of ") + where +
                ": " + std::to_string(settled.deleted) +
                (settled.deleted == 1 ? _(" file was") : _(" files were")) + _(" deleted.");
    const auto inFolder = [&](const std::string& name) {
        return "'" + escapedForDisplay(pathIn(run.folder, name)) + "'";
    };
    for (const auto& [name, backup] : settled.keptAside)
        note += _(" The older ") + inFolder(name) + _(" is kept as ") + inFolder(backup) +
                _(", as another file has taken its name.");
    for (const auto& name : settled.strangers)
        note += " " + inFolder(name) +
                _(" was left alone: it holds neither the run's old file "
                  "nor its new one.");
    return note;
}

// The folders this process has said are waited for: one line each, however often settled.
std::mutex announcedMutex;
std::set<std::string> announced;

bool announce(const std::string& folder) {
    std::lock_guard lock(announcedMutex);
    return announced.insert(folder).second;
}

} // namespace

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

bool isOurTemporaryName(const std::string& name) {
    constexpr std::string_view kLead = ".tolvar-";
    if (!isPlainName(name) || !name.starts_with(kLead))
        return false;
    std::string_view rest(name.data() + kLead.size(), name.size() - kLead.size());
    std::size_t letterCount = kHiddenLetters;
    if (const auto dash = rest.find('-');
        dash != std::string_view::npos && dash > 0 && isDigits(rest.substr(0, dash))) {
        rest.remove_prefix(dash + 1);
        letterCount = 10;
    }
    if (rest.size() < letterCount)
        return false;
    const std::string_view letters = rest.substr(0, letterCount);
    const std::string_view suffix = rest.substr(letterCount);
    // Files in the making end in ".tmp", backups in ".bak"; probes of what names the folder
    // takes carry ".probe" beside the character they try.
    return std::all_of(letters.begin(), letters.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }) &&
           (suffix == ".tmp" || suffix == ".bak" || suffix.find(".probe") != std::string::npos);
}

Result<std::string> fingerprintOf(FileSystem& fs, int fd, off_t size,
                                  const std::string& reportPath) {
    constexpr off_t kBlock = 4096;
    constexpr off_t kSpread = 7;
    Sha256 hash;
    const std::string sizeText = std::to_string(size) + '\0';
    hash.update(sizeText.data(), sizeText.size());
    std::string block(static_cast<std::size_t>(kBlock), '\0');
    // The first block, then seven more ending at the file's end; in a file under 32 KiB they
    // overlap, and all of it is read.
    for (off_t i = 0; i <= kSpread; ++i) {
        const off_t at = i == 0 ? 0 : std::max<off_t>(0, (size - kBlock) * i / kSpread);
        const auto length = static_cast<std::size_t>(std::min(kBlock, size - at));
        if (length == 0)
            break;
        auto got = readFully(fs, fd, block.data(), length, at, reportPath);
        if (!got)
            return got.failure();
        // Shorter than its size a moment ago: another program is changing it.
        if (got.value() != length)
            return fileFailure(EIO, FileAction::Read, reportPath);
        hash.update(block.data(), length);
    }
    return toHex(hash.finish());
}

std::optional<std::string> fingerprintAt(FileSystem& fs, int folder, const std::string& name,
                                         struct stat& status) {
    const off_t size = status.st_size;
    const int fd = fs.openAt(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    FileHandle file(fs, fd);
    if (fs.fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size != size)
        return std::nullopt;
    auto fingerprint = fingerprintOf(fs, fd, size, name);
    if (!fingerprint)
        return std::nullopt;
    return fingerprint.value();
}

std::string formatJournal(const JournalContents& contents) {
    std::string text;
    field(text, kFormatTag);
    field(text, contents.owner.host);
    field(text, contents.owner.boot);
    field(text, contents.owner.pidNamespace);
    field(text, contents.owner.pid);
    field(text, contents.owner.startTime);
    field(text, contents.operation);
    field(text, contents.folder);
    field(text, contents.folderDevice);
    field(text, contents.folderInode);
    for (const auto& temporary : contents.temporaries)
        fileRecord(text, "T", temporary.name, temporary.identity);
    for (const auto& name : contents.intended) {
        field(text, "N");
        field(text, name);
    }
    for (const auto& move : contents.moves)
        moveRecord(text, move);
    for (const auto& deletion : contents.deletions)
        deletionRecord(text, deletion);
    if (contents.committed)
        field(text, "C");
    if (const auto& join = contents.inPlace) {
        inPlaceRecords(text, *join);
        if (join->partsIn > 0)
            partsInRecord(text, join->partsIn, join->length, join->fingerprint);
        if (join->placed)
            field(text, "JD");
    }
    if (contents.inPlaceSplit)
        inPlaceSplitRecord(text, *contents.inPlaceSplit);
    for (const auto& file : contents.inPlaceFiles)
        inPlaceFileRecord(text, file);
    if (contents.inPlaceDone)
        field(text, "ID");
    return text;
}

std::optional<JournalContents> parseJournal(const std::string& text) {
    const std::size_t tagEnd = text.find('\0');
    const std::string_view tag(text.data(), std::min(tagEnd, text.size()));
    if (tagEnd == std::string::npos || (tag != kFormatTag && tag != kFirstFormatTag))
        return std::nullopt;
    FieldReader in(text, tag == kFormatTag);
    JournalContents contents;
    contents.firstFormat = tag == kFirstFormatTag;
    if (!in.next() || !in.string(contents.owner.host) || !in.string(contents.owner.boot) ||
        !in.string(contents.owner.pidNamespace) || !in.number(contents.owner.pid) ||
        !in.number(contents.owner.startTime) || !in.string(contents.operation) ||
        !in.string(contents.folder) || !in.number(contents.folderDevice) ||
        !in.number(contents.folderInode))
        return std::nullopt;
    if (contents.folder.empty() || contents.folder[0] != '/' ||
        (contents.operation != "split" && contents.operation != "join" &&
         contents.operation != "repair"))
        return std::nullopt;
    // A record cut short is where a kill stopped the run: what came before it stands.
    while (const auto kind = in.next()) {
        if (*kind == "T") {
            JournalContents::Temporary temporary;
            if (!in.string(temporary.name) || !in.identity(temporary.identity))
                break;
            if (!isOurTemporaryName(temporary.name))
                return std::nullopt;
            contents.temporaries.push_back(std::move(temporary));
        } else if (*kind == "N") {
            std::string name;
            if (!in.string(name))
                break;
            if (!isOurTemporaryName(name))
                return std::nullopt;
            contents.intended.push_back(std::move(name));
        } else if (*kind == "M") {
            JournalContents::Move move;
            int hasOld = 0;
            FileIdentity old;
            if (!in.string(move.name) || !in.string(move.backup) || !in.string(move.temporary) ||
                !in.identity(move.replacement) || !in.number(hasOld) || !in.identity(old))
                break;
            if (!isPlainName(move.name) || isOurTemporaryName(move.name) ||
                !isOurTemporaryName(move.backup) ||
                !(move.temporary.empty() || isOurTemporaryName(move.temporary)))
                return std::nullopt;
            if (hasOld != 0)
                move.old = old;
            contents.moves.push_back(std::move(move));
        } else if (*kind == "D" && !contents.firstFormat) {
            JournalContents::Deletion deletion;
            if (!in.string(deletion.name) || !in.identity(deletion.identity))
                break;
            if (!isPlainName(deletion.name) || isOurTemporaryName(deletion.name))
                return std::nullopt;
            contents.deletions.push_back(std::move(deletion));
        } else if (*kind == "C") {
            contents.committed = true;
        } else if (*kind == "J" && !contents.firstFormat && !contents.inPlace) {
            JournalContents::InPlaceJoin join;
            if (!in.string(join.output) || !in.string(join.temporary) || !in.string(join.base) ||
                !in.string(join.digest))
                break;
            if (!isPlainName(join.output) || isOurTemporaryName(join.output) ||
                !isOurTemporaryName(join.temporary) || !isPlainName(join.base + "000") ||
                join.digest.size() % 64 != 0 || !isFingerprint(join.digest))
                return std::nullopt;
            contents.inPlace = std::move(join);
        } else if ((*kind == "JP" || *kind == "JA") && contents.inPlace) {
            JournalContents::Deletion file;
            if (!in.string(file.name) || !in.identity(file.identity))
                break;
            if (!isPlainName(file.name) || isOurTemporaryName(file.name))
                return std::nullopt;
            (*kind == "JP" ? contents.inPlace->parts : contents.inPlace->after)
                .push_back(std::move(file));
        } else if (*kind == "JK" && contents.inPlace) {
            std::size_t partsIn = 0;
            off_t length = 0;
            std::string fingerprint;
            if (!in.number(partsIn) || !in.number(length) || !in.string(fingerprint))
                break;
            // Each record says how far the join had come; only a later one goes further.
            if (partsIn > contents.inPlace->parts.size() || length < 0 ||
                partsIn <= contents.inPlace->partsIn || fingerprint.size() != 64 ||
                !isFingerprint(fingerprint))
                return std::nullopt;
            contents.inPlace->partsIn = partsIn;
            contents.inPlace->length = length;
            contents.inPlace->fingerprint = std::move(fingerprint);
        } else if (*kind == "JD" && contents.inPlace) {
            contents.inPlace->placed = true;
        } else if (*kind == "IS" && !contents.firstFormat) {
            InPlaceSplitRecord split;
            int checksums = 0, joinScript = 0;
            if (!in.string(split.source) || !in.identity(split.original) ||
                !in.number(split.modifiedSeconds) || !in.number(split.modifiedNanoseconds) ||
                !in.number(split.mode) || !in.number(split.rule) || !in.number(split.amount) ||
                !in.number(split.recoveryParts) || !in.number(checksums) ||
                !in.number(joinScript) || !in.string(split.base) || !in.string(split.wholeDigest))
                break;
            if (!isPlainName(split.source) || isOurTemporaryName(split.source) ||
                !isPlainName(split.base) || !isFingerprint(split.wholeDigest) ||
                contents.inPlaceSplit)
                return std::nullopt;
            split.checksums = checksums != 0;
            split.joinScript = joinScript != 0;
            contents.inPlaceSplit = std::move(split);
        } else if (*kind == "IF" && contents.inPlaceSplit) {
            InPlaceFile file;
            if (!in.string(file.name) || !in.string(file.hidden) || !in.identity(file.identity) ||
                !in.string(file.digest))
                break;
            if (!isPlainName(file.name) || isOurTemporaryName(file.name) ||
                !isOurTemporaryName(file.hidden) || !isFingerprint(file.digest))
                return std::nullopt;
            contents.inPlaceFiles.push_back(std::move(file));
        } else if (*kind == "ID" && contents.inPlaceSplit) {
            contents.inPlaceDone = true;
        } else {
            return std::nullopt;
        }
    }
    if (in.malformed)
        return std::nullopt;
    return contents;
}

Result<std::string> stateFolder() {
    const auto candidates = stateCandidates();
    for (const auto& candidate : candidates)
        if (makePrivateFolder(candidate))
            return candidate;
    return makeFailure(FailureKind::PermissionDenied,
                       _("cannot keep a journal in '") + escapedForDisplay(candidates.front()) +
                           _("' (it must be a folder of yours that nobody else may write to)"));
}

RunJournal::~RunJournal() {
    fs.close(fd);
    if (!kept)
        fs.unlink(path);
    setInUse(path, false);
}

Result<std::unique_ptr<RunJournal>> RunJournal::start(FileSystem& fs, const Folder& folder,
                                                      const char* operation,
                                                      const std::string& reportPath) {
    auto state = stateFolder();
    if (!state)
        return state.failure();
    JournalContents contents;
    contents.owner = currentProcess();
    contents.operation = operation;
    contents.folder = folder.path();
    contents.folderDevice = folder.status().st_dev;
    contents.folderInode = folder.status().st_ino;
    const std::string header = formatJournal(contents);
    const auto journalPath = [&] {
        return pathIn(state.value(),
                      "run-" + std::to_string(::getpid()) + "-" + randomLetters(10) + ".journal");
    };
    // Written unnamed and linked in whole, so a kill never leaves a journal without its
    // header, which no later run could tell from one still being written.
    if (const int unnamed = fs.open(state.value(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        unnamed >= 0) {
        if (auto written = writeAll(fs, unnamed, header.data(), header.size(), state.value());
            !written) {
            fs.close(unnamed);
            return written.failure();
        }
        for (int attempt = 0;; ++attempt) {
            std::string path = journalPath();
            setInUse(path, true);
            if (fs.linkOpenFile(unnamed, path) == 0)
                return std::unique_ptr<RunJournal>(new RunJournal(fs, path, unnamed, reportPath));
            const int err = errno;
            setInUse(path, false);
            // A state folder that will not link an unnamed file (as file systems without hard
            // links refuse) still takes a named one, below; any other failure is reported.
            if (err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL ||
                err == EMLINK) {
                fs.close(unnamed);
                break;
            }
            if (err != EEXIST || attempt == 100) {
                fs.close(unnamed);
                return fileFailure(err, FileAction::Create, path);
            }
        }
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS) {
        return fileFailure(errno, FileAction::Create, state.value());
    }
    for (int attempt = 0;; ++attempt) {
        std::string path = journalPath();
        const int fd = fs.open(path, O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST && attempt < 100)
                continue;
            return fileFailure(errno, FileAction::Create, path);
        }
        setInUse(path, true);
        std::unique_ptr<RunJournal> journal(new RunJournal(fs, path, fd, reportPath));
        if (auto written = journal->append(header); !written)
            return written.failure();
        return journal;
    }
}

Result<void> RunJournal::append(const std::string& text) {
    // Bounded like every write of the engine: one step at a time.
    for (std::size_t at = 0; at < text.size(); at += CopyStepSize)
        if (auto written =
                writeAll(fs, fd, text.data() + at, std::min(CopyStepSize, text.size() - at), path);
            !written)
            return written;
    return {};
}

Result<void> RunJournal::addIntended(const std::string& temporaryPath) {
    std::string text;
    field(text, "N");
    field(text, fileNameOf(temporaryPath));
    return append(text);
}

Result<void> RunJournal::addTemporary(const std::string& temporaryPath, const struct stat& st) {
    std::string text;
    fileRecord(text, "T", fileNameOf(temporaryPath), FileIdentity::of(st));
    return append(text);
}

Result<void> RunJournal::addMoves(const std::vector<JournalContents::Move>& moves) {
    std::string text;
    for (const auto& move : moves)
        moveRecord(text, move);
    return append(text);
}

Result<void> RunJournal::markCommitted(bool durable) {
    std::string text;
    field(text, "C");
    return durable ? appendDurably(text) : append(text);
}

Result<void> RunJournal::addInPlaceSplit(const InPlaceSplitRecord& record) {
    std::string text;
    inPlaceSplitRecord(text, record);
    keep();
    return appendDurably(text);
}

Result<void> RunJournal::addInPlaceFile(const InPlaceFile& file) {
    std::string text;
    inPlaceFileRecord(text, file);
    // The source is cut right after: the record must outlive a power cut that catches it.
    return appendDurably(text);
}

Result<void> RunJournal::markInPlaceDone() {
    std::string text;
    field(text, "ID");
    return append(text);
}

Result<bool> RunJournal::holdLock() {
    if (fs.tryLock(fd) == 0)
        return true;
    if (errno == EWOULDBLOCK)
        return false;
    return fileFailure(errno, FileAction::Open, path);
}

Result<void> RunJournal::addDeletions(const std::vector<JournalContents::Deletion>& deletions) {
    std::string text;
    for (const auto& deletion : deletions)
        deletionRecord(text, deletion);
    // The files go right after: the record must outlive a power cut that catches them going.
    return appendDurably(text);
}

Result<void> RunJournal::appendDurably(const std::string& text) {
    if (auto written = append(text); !written)
        return written;
    if (fs.fsync(fd) != 0 && !cannotFlush(errno))
        return fileFailure(errno, FileAction::Sync, path);
    return {};
}

Result<void> RunJournal::startInPlaceJoin(const JournalContents::InPlaceJoin& join) {
    std::string text;
    inPlaceRecords(text, join);
    return appendDurably(text);
}

Result<void> RunJournal::markPartsIn(std::size_t partsIn, off_t length,
                                     const std::string& fingerprint) {
    std::string text;
    partsInRecord(text, partsIn, length, fingerprint);
    return appendDurably(text);
}

Result<void> RunJournal::markPlaced() {
    std::string text;
    field(text, "JD");
    return appendDurably(text);
}

Result<std::unique_ptr<RunJournal>> RunJournal::adopt(FileSystem& fs, const std::string& path,
                                                      const std::string& reportPath) {
    const int fd = fs.open(path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return fileFailure(errno, FileAction::Open, path);
    setInUse(path, true);
    return std::unique_ptr<RunJournal>(new RunJournal(fs, path, fd, reportPath));
}

Result<FileIdentity> identityOf(FileSystem& fs, int folder, const std::string& name,
                                const struct stat& st, const std::string& reportPath) {
    FileIdentity identity = FileIdentity::of(st);
    if (!S_ISREG(st.st_mode))
        return identity;
    const int fd = fs.openAt(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fileFailure(errno, FileAction::Open, reportPath);
    FileHandle file(fs, fd);
    struct stat now {};
    if (fs.fstat(fd, &now) != 0)
        return fileFailure(errno, FileAction::Read, reportPath);
    // Another file at the name since it was looked at: the caller's checks meet it.
    if (!sameFile(now, st) || now.st_size != st.st_size)
        return identity;
    auto fingerprint = fingerprintOf(fs, fd, st.st_size, reportPath);
    if (!fingerprint)
        return fingerprint.failure();
    identity.fingerprint = std::move(fingerprint.value());
    return identity;
}

Result<std::unique_ptr<RunJournal>>
journalDeletions(FileSystem& fs, const Folder& folder,
                 const std::vector<std::pair<std::string, struct stat>>& files,
                 const char* operation) {
    std::vector<JournalContents::Deletion> deletions;
    for (const auto& [name, seen] : files) {
        struct stat st {};
        if (fs.lstatAt(folder.fd(), name, &st) != 0 || !sameVersion(st, seen))
            continue;
        auto identity = identityOf(fs, folder.fd(), name, st, folder.pathOf(name));
        if (!identity)
            return identity.failure();
        deletions.push_back({name, std::move(identity.value())});
    }
    auto journal = RunJournal::start(fs, folder, operation, folder.path());
    if (!journal)
        return journal.failure();
    if (auto recorded = journal.value()->addDeletions(deletions); !recorded)
        return recorded.failure();
    return std::move(journal.value());
}

namespace {

// Whether a run is going on with the journal at path: it holds the journal's lock.
bool journalHeld(FileSystem& fs, const std::string& path) {
    if (isInUse(path))
        return true;
    const int fd = fs.open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return true;
    FileHandle file(fs, fd);
    return fs.tryLock(fd) != 0;
}

// Every journal of this user's whose run is over, with its path, as read. `act` may say a
// journal is dealt with by returning false to skip the rest of the loop for it.
template <class Act> void forEachOverRun(FileSystem& fs, Act act) {
    for (const auto& folder : stateCandidates()) {
        if (!isPrivateFolder(folder))
            continue;
        std::vector<std::string> names;
        if (fs.listFolder(folder, names) != 0)
            continue;
        for (const auto& name : names) {
            if (!isJournalName(name))
                continue;
            const std::string path = pathIn(folder, name);
            struct stat status {};
            const auto text = readJournal(fs, path, status);
            if (!text)
                continue;
            const auto run = parseJournal(*text);
            if (!run)
                continue;
            // Its files hold the user's only copy of the source's bytes: only the same split
            // goes on with it (unfinishedInPlaceSplits). Done but for removing the journal,
            // which failed, it goes.
            if (run->inPlaceSplit) {
                if (run->inPlaceDone && !journalHeld(fs, path))
                    fs.unlink(path);
                continue;
            }
            const bool ours = run->owner == currentProcess();
            if (ours ? isInUse(path) : livenessOf(run->owner) != Liveness::Gone)
                continue;
            act(path, status, *run);
        }
    }
}

} // namespace

// The window's panels take the same size or number.
std::string inPlaceSplitCommand(const JournalContents& run) {
    const InPlaceSplitRecord& split = *run.inPlaceSplit;
    const std::string how = split.rule == 0 ? "--size " + std::to_string(split.amount) + "K"
                                            : "--parts " + std::to_string(split.amount);
    std::string options;
    if (split.recoveryParts > 0)
        options += " --recovery " + std::to_string(split.recoveryParts);
    else if (split.joinScript)
        options += " --join-script";
    else if (split.checksums)
        options += " --checksums";
    return "tolvar-split split --in-place " + how + options + " '" +
           escapedForDisplay(pathIn(run.folder, split.source)) + "'";
}

std::vector<FoundInPlaceSplit> unfinishedInPlaceSplits(FileSystem& fs) {
    std::vector<FoundInPlaceSplit> found;
    for (const auto& folder : stateCandidates()) {
        if (!isPrivateFolder(folder))
            continue;
        std::vector<std::string> names;
        if (fs.listFolder(folder, names) != 0)
            continue;
        for (const auto& name : names) {
            if (!isJournalName(name))
                continue;
            const std::string path = pathIn(folder, name);
            struct stat status {};
            const auto text = readJournal(fs, path, status);
            if (!text)
                continue;
            auto run = parseJournal(*text);
            if (run && run->inPlaceSplit && !run->inPlaceDone && !journalHeld(fs, path))
                found.push_back({path, std::move(*run)});
        }
    }
    return found;
}

std::vector<std::pair<std::string, JournalContents>> unfinishedInPlaceJoins(FileSystem& fs) {
    std::vector<std::pair<std::string, JournalContents>> found;
    forEachOverRun(fs,
                   [&](const std::string& path, const struct stat&, const JournalContents& run) {
                       if (run.inPlace)
                           found.emplace_back(path, run);
                   });
    return found;
}

std::vector<std::string> finishInterruptedRuns(FileSystem& fs) {
    std::vector<std::string> notes;
    const auto settleOne = [&](const std::string& path, const struct stat& status,
                               const JournalContents& run) {
        const Settled settled = settle(fs, run);
        if (!settled.waiting.empty()) {
            if (announce(run.folder))
                notes.push_back(_("An interrupted ") + run.operation + _(" in '") +
                                escapedForDisplay(run.folder) + _("' waits for that folder (") +
                                settled.waiting +
                                _("): the next command that reaches it will settle it."));
            return;
        }
        // Another run may have settled it while this one waited for the folder's lock.
        struct stat now {};
        if (fs.lstat(path, &now) != 0 || !sameFile(now, status))
            return;
        if (settled.done)
            fs.unlink(path);
        if (const std::string note = noteFor(run, settled); !note.empty())
            notes.push_back(note);
    };
    forEachOverRun(fs, [&](const std::string& path, const struct stat& status,
                           const JournalContents& run) {
        if (!run.inPlace) {
            settleOne(path, status, run);
            return;
        }
        // Once the rebuilt file has its name, only the deletions of its checksum and recovery
        // files can be left, which any command finishes.
        if (run.inPlace->placed) {
            JournalContents deletions = run;
            deletions.deletions = run.inPlace->after;
            deletions.inPlace.reset();
            settleOne(path, status, deletions);
            return;
        }
        // Before, its temporary holds the only copy of the broken files already gone: the user
        // is told how to finish it, and nothing of it is touched.
        if (announce(run.folder + "/" + run.inPlace->base))
            notes.push_back(Message(MessageId::InPlaceJoinUnfinished,
                                    {quotedName(pathIn(run.folder, run.inPlace->output)),
                                     quotedName(pathIn(run.folder, run.inPlace->base + "000"))}));
    });
    for (const auto& split : unfinishedInPlaceSplits(fs))
        if (announce(split.path))
            notes.push_back(Message(MessageId::InPlaceSplitUnfinished,
                                    {escapedForDisplay(pathIn(split.contents.folder,
                                                              split.contents.inPlaceSplit->source)),
                                     inPlaceSplitCommand(split.contents)}));
    return notes;
}

void finishInterruptedRuns(FileSystem& fs, MessageBox& box) {
    for (const auto& note : finishInterruptedRuns(fs))
        box.inform(note);
}

} // namespace tolvar::detail
