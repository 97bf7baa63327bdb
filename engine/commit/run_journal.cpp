#include "run_journal.h"

#include "file_io.h"
#include "folder.h"
#include "path_parts.h"
#include "pending_set.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <concepts>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvar::detail {

namespace {

constexpr std::string_view kFormatTag = "tolvar-journal-1";
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

class FieldReader {
public:
    explicit FieldReader(const std::string& text) : text(text) {}

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
        return number(value.device) && number(value.inode) && number(value.size);
    }

private:
    const std::string& text;
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

bool holds(FileSystem& fs, const std::string& path, const FileIdentity& identity, bool sizeToo) {
    struct stat st {};
    if (fs.lstat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return sizeToo ? identity.matches(st)
                   : st.st_dev == identity.device && st.st_ino == identity.inode;
}

// A file at one of the run's own hidden names, whose random letters only this user's journal
// knows: the recorded identity, or, where the file system numbers its inodes afresh once the
// kernel forgets them (FUSE drivers do), a regular file of this user's on the same device with
// one name (and the recorded size, where asked). A hard link to someone's file has two names.
bool holdsHidden(FileSystem& fs, const std::string& path, const FileIdentity& identity,
                 bool sizeToo) {
    struct stat st {};
    if (fs.lstat(path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != identity.device)
        return false;
    if (st.st_ino == identity.inode)
        return !sizeToo || identity.matches(st);
    return st.st_uid == ::geteuid() && st.st_nlink == 1 &&
           (!sizeToo || st.st_size == identity.size);
}

// A file as O_CREAT | O_EXCL makes one: regular, empty, this user's, one name.
bool isNewbornFile(FileSystem& fs, const std::string& path) {
    struct stat st {};
    return fs.lstat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0 && st.st_nlink == 1 &&
           st.st_uid == ::geteuid();
}

bool isFree(FileSystem& fs, const std::string& path) {
    struct stat st {};
    return fs.lstat(path, &st) != 0 && errno == ENOENT;
}

struct Settled {
    bool done = false;    // nothing is left for a later run: the journal may go
    bool changed = false; // something was put back or removed
    bool restored = false;
};

// Undoes or finishes one dead run's commit in its folder, under the folder's lock.
Settled settle(FileSystem& fs, const JournalContents& run) {
    Settled result;
    struct stat st {};
    // A folder that is gone, or another folder at its path now, holds nothing of the run's.
    if (fs.stat(run.folder, &st) != 0) {
        result.done = errno == ENOENT;
        return result;
    }
    if (st.st_dev != run.folderDevice || st.st_ino != run.folderInode) {
        result.done = true;
        return result;
    }
    auto locked = lockFolder(fs, run.folder);
    if (!locked)
        return result;
    result.done = true;
    const auto at = [&](const std::string& name) { return pathIn(run.folder, name); };
    if (!run.committed) {
        for (auto move = run.moves.rbegin(); move != run.moves.rend(); ++move) {
            const std::string real = at(move->name);
            if (!move->temporary.empty() && holds(fs, real, move->replacement, true) &&
                fs.unlink(real) == 0)
                result.changed = true;
            if (move->old && holdsHidden(fs, at(move->backup), *move->old, true)) {
                if (isFree(fs, real) && fs.rename(at(move->backup), real) == 0)
                    result.changed = result.restored = true;
                else
                    result.done = false;
            }
        }
    } else {
        for (const auto& move : run.moves)
            if (move.old && holdsHidden(fs, at(move.backup), *move.old, true)) {
                if (fs.unlink(at(move.backup)) == 0)
                    result.changed = true;
                else
                    result.done = false;
            }
    }
    for (const auto& temporary : run.temporaries)
        if (holdsHidden(fs, at(temporary.name), temporary.identity, false) &&
            fs.unlink(at(temporary.name)) == 0)
            result.changed = true;
    for (const auto& name : run.intended) {
        const bool recorded =
            std::any_of(run.temporaries.begin(), run.temporaries.end(),
                        [&](const JournalContents::Temporary& t) { return t.name == name; });
        if (!recorded && isNewbornFile(fs, at(name)) && fs.unlink(at(name)) == 0)
            result.changed = true;
    }
    return result;
}

std::string noteFor(const JournalContents& run, const Settled& settled) {
    const std::string where =
        "an interrupted " + run.operation + " in '" + escapedForDisplay(run.folder) + "'";
    if (run.committed)
        return "Completed " + where + ": the older files it replaced were removed.";
    if (settled.restored)
        return "Undid " + where + ": the files it had replaced are back.";
    return "Removed the unfinished files of " + where + ".";
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
    for (const auto& temporary : contents.temporaries) {
        field(text, "T");
        field(text, temporary.name);
        identityFields(text, temporary.identity);
    }
    for (const auto& name : contents.intended) {
        field(text, "N");
        field(text, name);
    }
    for (const auto& move : contents.moves)
        moveRecord(text, move);
    if (contents.committed)
        field(text, "C");
    return text;
}

std::optional<JournalContents> parseJournal(const std::string& text) {
    FieldReader in(text);
    JournalContents contents;
    const auto tag = in.next();
    if (!tag || *tag != kFormatTag || !in.string(contents.owner.host) ||
        !in.string(contents.owner.boot) || !in.string(contents.owner.pidNamespace) ||
        !in.number(contents.owner.pid) || !in.number(contents.owner.startTime) ||
        !in.string(contents.operation) || !in.string(contents.folder) ||
        !in.number(contents.folderDevice) || !in.number(contents.folderInode))
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
        } else if (*kind == "C") {
            contents.committed = true;
        } else {
            return std::nullopt;
        }
    }
    return contents;
}

Result<std::string> stateFolder() {
    const auto candidates = stateCandidates();
    for (const auto& candidate : candidates)
        if (makePrivateFolder(candidate))
            return candidate;
    return makeFailure(FailureKind::PermissionDenied,
                       "cannot keep a journal in '" + escapedForDisplay(candidates.front()) +
                           "' (it must be a folder of yours that nobody else may write to)");
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
    return writeAll(fs, fd, text.data(), text.size(), path);
}

Result<void> RunJournal::addIntended(const std::string& temporaryPath) {
    std::string text;
    field(text, "N");
    field(text, fileNameOf(temporaryPath));
    return append(text);
}

Result<void> RunJournal::addTemporary(const std::string& temporaryPath, const struct stat& st) {
    std::string text;
    field(text, "T");
    field(text, fileNameOf(temporaryPath));
    identityFields(text, FileIdentity::of(st));
    return append(text);
}

Result<void> RunJournal::addMoves(const std::vector<JournalContents::Move>& moves) {
    std::string text;
    for (const auto& move : moves)
        moveRecord(text, move);
    // Bounded like every write of the engine: one step at a time.
    for (std::size_t at = 0; at < text.size(); at += CopyStepSize)
        if (auto written =
                writeAll(fs, fd, text.data() + at, std::min(CopyStepSize, text.size() - at), path);
            !written)
            return written;
    return {};
}

Result<void> RunJournal::markCommitted(bool durable) {
    std::string text;
    field(text, "C");
    if (auto written = append(text); !written)
        return written;
    if (durable && fs.fsync(fd) != 0 && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return fileFailure(errno, FileAction::Sync, path);
    return {};
}

std::vector<std::string> finishInterruptedRuns(FileSystem& fs) {
    std::vector<std::string> notes;
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
            const bool ours = run->owner == currentProcess();
            if (ours ? isInUse(path) : livenessOf(run->owner) != Liveness::Gone)
                continue;
            const Settled settled = settle(fs, *run);
            // Another run may have settled it while this one waited for the folder's lock.
            struct stat now {};
            if (fs.lstat(path, &now) != 0 || !sameFile(now, status))
                continue;
            if (settled.done)
                fs.unlink(path);
            if (settled.changed)
                notes.push_back(noteFor(*run, settled));
        }
    }
    return notes;
}

void finishInterruptedRuns(FileSystem& fs, MessageBox& box) {
    for (const auto& note : finishInterruptedRuns(fs))
        box.inform(note);
}

} // namespace tolvar::detail
