// Faults the real file system produces: a disk that fills up, folders and files the user may
// not touch, and parts that change while they are being read.

#include "test_support.h"

#include <filesystem>
#include <functional>
#include <grp.h>
#include <map>
#include <optional>
#include <sys/mount.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tolvar::testing {
namespace {

constexpr auto Yes = MsgAnswer::Yes;
constexpr auto No = MsgAnswer::No;
constexpr auto Ok = MsgAnswer::Ok;
constexpr uid_t kNobody = 65534;

// Every file below a folder with its bytes, to compare before and after.
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string();
        if (entry.is_directory())
            files[path] = "<folder>";
        else if (::access(path.c_str(), R_OK) != 0)
            files[path] = "<unreadable>";
        else
            files[path] = readFile(path);
    }
    return files;
}

// A small tmpfs mounted for one test; unmounted before its folder goes.
class SmallDisk {
public:
    SmallDisk(const std::string& where, const char* size) : path(where) {
        std::filesystem::create_directory(path);
        const std::string options = std::string("size=") + size;
        if (::mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0)
            mounted = true;
        else
            reason = std::string("a real full disk needs root, to mount a 64 KiB tmpfs (mount: ") +
                     std::strerror(errno) + ")";
    }
    ~SmallDisk() {
        if (mounted)
            ::umount2(path.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    std::string path;
    bool mounted = false;
    std::string reason;
};

// The real file layer, but a folder's file system reports the room chosen here: free bytes in
// blocks of 4096, or nothing at all (a share that says no blocks) when free is unset.
class ReportedRoom : public PosixFileSystem {
public:
    explicit ReportedRoom(std::optional<std::uint64_t> free) : free(free) {}
    int fstatfs(int fd, struct statfs* info) override {
        const int result = PosixFileSystem::fstatfs(fd, info);
        if (result == 0) {
            info->f_bsize = info->f_frsize = 4096;
            info->f_blocks = free ? 1 << 20 : 0;
            info->f_bavail = free ? *free / 4096 : 0;
        }
        return result;
    }

private:
    std::optional<std::uint64_t> free;
};

class RealFaults : public ::testing::Test {
protected:
    void SetUp() override { descriptors = openDescriptorCount(); }
    void TearDown() override { EXPECT_EQ(openDescriptorCount(), descriptors); }

    ScratchDir dir;
    EngineRunner run;
    int descriptors = 0;
};

// A disk that fills although its room was not known beforehand (a share that reports none).
TEST_F(RealFaults, SplitOntoAFullDiskRemovesItsPartsAndSucceedsOnceThereIsRoom) {
    SmallDisk disk(dir / "small", "64k");
    if (!disk.mounted)
        GTEST_SKIP() << disk.reason;
    ReportedRoom unknown(std::nullopt);
    EngineRunner run(unknown);
    const std::string bytes = randomBytes(200000, 41);
    writeFile(dir / "movie.avi", bytes);
    EXPECT_FALSE(run.split(dir / "movie.avi", 16, disk.path + "/movie.", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::NoSpace,
                                {disk.path + "/movie.", std::strerror(ENOSPC)}));
    EXPECT_TRUE(listDir(disk.path).empty()) << "parts of a failed split were left";
    EXPECT_TRUE(readFile(dir / "movie.avi") == bytes);

    writeFile(dir / "movie.avi", bytes.substr(0, 30000));
    ASSERT_TRUE(run.split(dir / "movie.avi", 8, disk.path + "/movie.", {Yes, No}));
    EXPECT_TRUE(isPartSet(disk.path + "/movie.", bytes.substr(0, 30000), 8192, "avi"));
}

TEST_F(RealFaults, AssemblyOntoAFullDiskKeepsTheOldFileAndLeavesNoTemporary) {
    SmallDisk disk(dir / "small", "64k");
    if (!disk.mounted)
        GTEST_SKIP() << disk.reason;
    ReportedRoom unknown(std::nullopt);
    EngineRunner run(unknown);
    const std::string bytes = randomBytes(200000, 42);
    writeFile(dir / "movie.avi", bytes);
    ASSERT_TRUE(run.split(dir / "movie.avi", 50, "", {Yes, Yes}));
    writeFile(disk.path + "/movie.avi", "old file on the small disk");
    const auto partsBefore = snapshot(dir.path());

    EXPECT_FALSE(run.assemble(dir / "movie.000", disk.path + "/movie.", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::NoSpace,
                                {disk.path + "/movie.avi", std::strerror(ENOSPC)}));
    EXPECT_EQ(listDir(disk.path), std::set<std::string>{"movie.avi"});
    EXPECT_EQ(readFile(disk.path + "/movie.avi"), "old file on the small disk");
    EXPECT_TRUE(snapshot(dir.path()) == partsBefore);

    ASSERT_TRUE(run.assemble(dir / "movie.000", dir / "again.", {Yes, No}));
    EXPECT_TRUE(readFile(dir / "again.avi") == bytes);
}

// A split or join that cannot fit is refused before its first byte, naming what it needs, the
// folder and the room there, on a real small disk and where the file layer reports the room.
TEST_F(RealFaults, RunsThatCannotFitAreRefusedBeforeTheFirstByte) {
    SmallDisk disk(dir / "small", "256k");
    const std::string bytes = randomBytes(300000, 44);
    writeFile(dir / "movie.avi", bytes);
    std::filesystem::create_directory(dir / "out");
    // 300000 bytes in 5 parts of 64 KiB and 16 bytes (17 blocks of 4096), the last 37872
    // bytes (10 blocks): 78 blocks.
    ReportedRoom little(100 * 1024);
    const struct {
        const char* what;
        FileSystem* fs;
        std::string folder;
        std::string need;
        std::string free;
    } places[] = {
        {"reported room", &little, dir / "out", "312.0 KB", "100.0 KB"},
        {"real tmpfs", &defaultFileSystem(), disk.path, "", ""},
    };
    for (const auto& place : places) {
        SCOPED_TRACE(place.what);
        if (place.fs == &defaultFileSystem() && !disk.mounted)
            continue;
        EngineRunner runner(*place.fs);
        EXPECT_FALSE(runner.split(dir / "movie.avi", 64, place.folder + "/movie.", {Yes, Ok}));
        ASSERT_EQ(runner.shown().size(), 2u);
        const std::string& said = runner.shown()[1].text;
        EXPECT_EQ(said.rfind("The broken files need ", 0), 0u) << said;
        EXPECT_NE(said.find(" in '" + place.folder + "'; it has "), std::string::npos) << said;
        if (!place.need.empty()) {
            EXPECT_EQ(said, "The broken files need " + place.need + " in '" + place.folder +
                                "'; it has " + place.free + " free.");
        }
        EXPECT_TRUE(listDir(place.folder).empty());
    }

    // A join: the rebuilt file's 300000 bytes (74 blocks) against 60 KB.
    ASSERT_TRUE(run.split(dir / "movie.avi", 64, "", {Yes, No}));
    ReportedRoom less(60 * 1024);
    EngineRunner joiner(less);
    EXPECT_FALSE(joiner.assemble(dir / "movie.000", dir / "out/movie.", {Yes, Ok}));
    ASSERT_EQ(joiner.shown().size(), 2u);
    EXPECT_EQ(joiner.shown()[1].text,
              "The rebuilt file needs 296.0 KB in '" + dir / "out" + "'; it has 60.0 KB free.");
    EXPECT_TRUE(listDir(dir / "out").empty());
    if (disk.mounted) {
        writeFile(dir / "movie.avi", bytes + bytes);
        ASSERT_TRUE(run.split(dir / "movie.avi", 128, "", {Yes, No}));
        EngineRunner real;
        EXPECT_FALSE(real.assemble(dir / "movie.000", disk.path + "/movie.", {Yes, Ok}));
        ASSERT_EQ(real.shown().size(), 2u);
        EXPECT_EQ(real.shown()[1].text.rfind("The rebuilt file needs ", 0), 0u);
        EXPECT_TRUE(listDir(disk.path).empty());
    }

    // Where the room is not known, the run goes on as it always did.
    ReportedRoom unknown(std::nullopt);
    EngineRunner blind(unknown);
    writeFile(dir / "movie.avi", bytes);
    EXPECT_TRUE(blind.split(dir / "movie.avi", 64, dir / "out/movie.", {Yes, No}));
}

// An older set at the names goes only once the new one is complete: a re-split that fits only
// without it is refused, saying so, and the older set stays whole.
TEST_F(RealFaults, AResplitThatFitsOnlyOnceTheOlderSetGoesIsRefusedAndKeepsIt) {
    SmallDisk disk(dir / "small", "256k");
    if (!disk.mounted)
        GTEST_SKIP() << disk.reason;
    const std::string bytes = randomBytes(150000, 45);
    writeFile(dir / "movie.avi", bytes);
    ASSERT_TRUE(run.split(dir / "movie.avi", 64, disk.path + "/movie.", {Yes, No}));
    const auto before = snapshot(disk.path);
    EXPECT_FALSE(run.split(dir / "movie.avi", 32, disk.path + "/movie.", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    const std::string& said = run.shown()[1].text;
    EXPECT_EQ(said.rfind("The broken files need ", 0), 0u) << said;
    EXPECT_NE(said.find("The older files at these names take "), std::string::npos) << said;
    EXPECT_TRUE(snapshot(disk.path) == before);
    // Once they are gone, the same split fits.
    for (const std::string& name : listDir(disk.path))
        std::filesystem::remove(disk.path + "/" + name);
    ASSERT_TRUE(run.split(dir / "movie.avi", 32, disk.path + "/movie.", {Yes, No}));
    EXPECT_TRUE(isPartSet(disk.path + "/movie.", bytes, 32768, "avi"));
}

// Runs `body` in a child that has become an ordinary user, so that permission bits count
// even when the tests run as root; the child's exit status says whether its checks held.
// Without root the body runs in this process.
void asOrdinaryUser(const ScratchDir& dir, const std::function<bool()>& body) {
    if (::geteuid() != 0) {
        EXPECT_TRUE(body());
        return;
    }
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(77);
        if (::access(dir.path().c_str(), W_OK | X_OK) != 0)
            ::_exit(78);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "cannot become an ordinary user to test permissions";
    if (WEXITSTATUS(status) == 78)
        GTEST_SKIP() << "an ordinary user cannot reach the scratch folder " << dir.path();
    EXPECT_EQ(WEXITSTATUS(status), 0) << "checks failed in the unprivileged child (see above)";
}

// Checks for the child process, which cannot report through the test framework.
bool check(bool condition, const char* what) {
    if (!condition)
        std::fprintf(stderr, "check failed: %s\n", what);
    return condition;
}

bool isReport(const EngineRunner& runner, std::size_t count, FailureKind kind,
              const std::string& path) {
    if (!check(runner.shown().size() == count, "message count"))
        return false;
    const ShownMessage& report = runner.shown().back();
    return check(report.title == kTitle + " - " + std::to_string(int(kind)),
                 report.title.c_str()) &&
           check(report.text.find(path) != std::string::npos, report.text.c_str());
}

TEST_F(RealFaults, ReadOnlyFoldersAndUnreadableFilesArePermissionDenied) {
    namespace fs = std::filesystem;
    const std::string bytes = randomBytes(5000, 43);
    writeFile(dir / "movie.avi", bytes);
    fs::permissions(dir / "movie.avi",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::create_directory(dir / "locked");
    writeFile(dir / "locked/movie.avi", "old output");
    const auto readOnlyFolder = fs::perms::owner_read | fs::perms::owner_exec |
                                fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(dir / "locked", readOnlyFolder);
    fs::create_directory(dir / "set");
    ASSERT_TRUE(run.split(dir / "movie.avi", 2, dir / "set/movie.", {Yes, No}));
    fs::permissions(dir / "set", readOnlyFolder);
    writeFile(dir / "secret.bin", bytes);
    fs::permissions(dir / "secret.bin", fs::perms::none);
    const auto before = snapshot(dir.path());

    asOrdinaryUser(dir, [&] {
        EngineRunner user;
        bool ok = true;
        ok &= check(!user.split(dir / "movie.avi", 1, dir / "locked/movie.", {Yes, Ok}),
                    "split into a locked folder");
        ok &= isReport(user, 2, FailureKind::PermissionDenied, dir / "locked/movie.000");
        ok &= check(!user.split(dir / "secret.bin", 1, "", {Yes, Ok}), "split of unreadable");
        ok &= isReport(user, 2, FailureKind::PermissionDenied, dir / "secret.bin");
        ok &= check(!user.assemble(dir / "set/movie.000", dir / "locked/movie.", {Yes, Ok}),
                    "assembly into a locked folder");
        ok &= isReport(user, 2, FailureKind::PermissionDenied, dir / "locked/movie.avi");
        // The output lands where it may; deleting the parts from a locked folder fails.
        ok &= check(!user.assemble(dir / "set/movie.000", dir / "out.", {Yes, Yes, Ok, Ok}),
                    "deleting locked parts");
        // The report, then the rebuilt file and the parts still there.
        if (check(user.shown().size() == 4, "message count")) {
            const ShownMessage& report = user.shown()[2];
            ok &= check(report.title == kTitle + " - " +
                                            std::to_string(int(FailureKind::PermissionDenied)) &&
                            report.text.find(dir / "set/movie.000") != std::string::npos,
                        report.text.c_str());
            const std::string& left = user.shown().back().text;
            ok &= check(left.find("'" + dir / "out.avi" + "'") != std::string::npos &&
                            left.find("'" + dir / "set/movie.002" + "'.") != std::string::npos,
                        left.c_str());
        } else {
            ok = false;
        }
        ok &= check(readFile(dir / "out.avi") == bytes, "output whole after failed delete");
        std::filesystem::remove(dir / "out.avi");
        return ok;
    });
    EXPECT_TRUE(snapshot(dir.path()) == before);
}

// Changes the files under the operation's feet at its first progress report.
class Saboteur : public ProgressObserver {
public:
    explicit Saboteur(std::function<void()> act) : act(std::move(act)) {}
    bool onProgress(const Progress&) override {
        if (act) {
            act();
            act = nullptr;
        }
        return true;
    }

private:
    std::function<void()> act;
};

TEST_F(RealFaults, PartsChangedDuringAssemblyEndItCleanly) {
    const std::string bytes = randomBytes(40000, 44);
    writeFile(dir / "movie.avi", bytes);
    ASSERT_TRUE(run.split(dir / "movie.avi", 10, "", {Yes, No}));
    const auto set = snapshot(dir.path());
    const auto restore = [&] {
        for (const auto& [path, content] : set)
            writeFile(path, content);
    };

    Saboteur deleter([&] { std::filesystem::remove(dir / "movie.003"); });
    run.progress = &deleter;
    EXPECT_FALSE(run.assemble(dir / "movie.000", "", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::FileNotFound,
                                {dir / "movie.003", std::strerror(ENOENT)}));
    auto expected = set;
    expected.erase(dir / "movie.003");
    EXPECT_TRUE(snapshot(dir.path()) == expected) << "a temporary file or a change was left";

    restore();
    Saboteur truncator([&] { std::filesystem::resize_file(dir / "movie.002", 9); });
    run.progress = &truncator;
    EXPECT_FALSE(run.assemble(dir / "movie.000", "", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    // The part was checked before anything was written: that it changed since is a failure.
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::IoError, {dir / "movie.002"}));
    expected = set;
    expected[dir / "movie.002"] = set.at(dir / "movie.002").substr(0, 9);
    EXPECT_TRUE(snapshot(dir.path()) == expected);

    restore();
    run.progress = nullptr;
    ASSERT_TRUE(run.assemble(dir / "movie.000", "", {Yes, Yes}));
    EXPECT_TRUE(readFile(dir / "movie.avi") == bytes);
}

TEST_F(RealFaults, SourceShrinkingDuringASplitFailsAndRemovesTheParts) {
    const std::string bytes = randomBytes(40000, 45);
    writeFile(dir / "movie.avi", bytes);
    Saboteur shrinker([&] { std::filesystem::resize_file(dir / "movie.avi", 15000); });
    run.progress = &shrinker;
    EXPECT_FALSE(run.split(dir / "movie.avi", 10, "", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::IoError, {dir / "movie.avi"}));
    EXPECT_EQ(listDir(dir.path()), std::set<std::string>{"movie.avi"});
    EXPECT_TRUE(readFile(dir / "movie.avi") == bytes.substr(0, 15000));
}

} // namespace
} // namespace tolvar::testing
