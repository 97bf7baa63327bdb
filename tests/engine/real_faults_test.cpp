// Faults the real file system produces: a disk that fills up, folders and files the user may
// not touch, and parts that change while they are being read.

#include "test_support.h"

#include <filesystem>
#include <functional>
#include <grp.h>
#include <map>
#include <sys/mount.h>
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

class RealFaults : public ::testing::Test {
protected:
    void SetUp() override { descriptors = openDescriptorCount(); }
    void TearDown() override { EXPECT_EQ(openDescriptorCount(), descriptors); }

    ScratchDir dir;
    EngineRunner run;
    int descriptors = 0;
};

TEST_F(RealFaults, SplitOntoAFullDiskRemovesItsPartsAndSucceedsOnceThereIsRoom) {
    SmallDisk disk(dir / "small", "64k");
    if (!disk.mounted)
        GTEST_SKIP() << disk.reason;
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
