// Progress reports, and stopping an operation through them: what is left on disk.

#include "test_support.h"

#include <filesystem>
#include <map>

namespace tolvar::testing {
namespace {

constexpr auto Yes = MsgAnswer::Yes;
constexpr auto No = MsgAnswer::No;

// Records every report and asks to stop at the chosen one (1-based; 0 never stops).
class StopAt : public ProgressObserver {
public:
    explicit StopAt(std::size_t stopAt = 0) : stopAt(stopAt) {}
    bool onProgress(const Progress& progress) override {
        seen.push_back(progress);
        return seen.size() != stopAt;
    }
    std::size_t stopAt;
    std::vector<Progress> seen;
};

enum class Operation { SplitBySize, SplitByNumber, Assemble };

// 50000 bytes: 8 KB parts give a set of 7; 5 parts give 6, the last header-only.
class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        bytes = randomBytes(50000, 21);
        writeFile(dir / "movie.avi", bytes);
        descriptors = openDescriptorCount();
    }
    void TearDown() override { EXPECT_EQ(openDescriptorCount(), descriptors); }

    bool start(Operation operation, std::vector<MsgAnswer> script) {
        switch (operation) {
        case Operation::SplitBySize:
            return runner.split(dir / "movie.avi", 8, "", std::move(script));
        case Operation::SplitByNumber:
            return runner.split2(dir / "movie.avi", 5, "", std::move(script));
        case Operation::Assemble:
            return runner.assemble(dir / "movie.000", dir / "out.", std::move(script));
        }
        return false;
    }

    // Readies an assembly: a set of 7 parts and an old file of the output's name.
    void prepareAssembly() {
        ASSERT_TRUE(runner.split(dir / "movie.avi", 8, "", {Yes, Yes}));
        writeFile(dir / "out.avi", "old output");
    }

    ScratchDir dir;
    EngineRunner runner;
    std::string bytes;
    int descriptors = 0;
};

TEST_F(ProgressTest, SplitReportsEveryPayloadByteInOrder) {
    for (const Operation operation : {Operation::SplitBySize, Operation::SplitByNumber}) {
        StopAt observer;
        runner.progress = &observer;
        ASSERT_TRUE(start(operation, {Yes, No}));
        const int partCount = operation == Operation::SplitBySize ? 7 : 6;
        ASSERT_FALSE(observer.seen.empty());
        EXPECT_EQ(observer.seen.front().bytesDone, 0u);
        EXPECT_EQ(observer.seen.back().bytesDone, bytes.size());
        for (std::size_t i = 0; i < observer.seen.size(); ++i) {
            const Progress& p = observer.seen[i];
            EXPECT_EQ(p.bytesTotal, bytes.size());
            EXPECT_EQ(p.partCount, partCount);
            EXPECT_GE(p.partIndex, 0);
            EXPECT_LT(p.partIndex, partCount);
            EXPECT_EQ(p.partPath, partName(dir / "movie.", p.partIndex));
            if (i > 0) {
                EXPECT_GE(p.bytesDone, observer.seen[i - 1].bytesDone);
                EXPECT_GE(p.partIndex, observer.seen[i - 1].partIndex);
            }
        }
    }
}

TEST_F(ProgressTest, AssemblyReportsEveryPayloadByteInOrder) {
    prepareAssembly();
    StopAt observer;
    runner.progress = &observer;
    ASSERT_TRUE(start(Operation::Assemble, {Yes, No}));
    ASSERT_FALSE(observer.seen.empty());
    EXPECT_EQ(observer.seen.front().bytesDone, 0u);
    EXPECT_EQ(observer.seen.back().bytesDone, bytes.size());
    EXPECT_EQ(observer.seen.back().partIndex, 6);
    for (const Progress& p : observer.seen) {
        EXPECT_EQ(p.bytesTotal, bytes.size());
        EXPECT_EQ(p.partCount, 7);
    }
}

enum class StopPoint { First, Middle, Last };

struct CancelCase {
    Operation operation;
    StopPoint point;
};

std::string caseName(const ::testing::TestParamInfo<CancelCase>& info) {
    static const char* operations[] = {"SplitBySize", "SplitByNumber", "Assemble"};
    static const char* points[] = {"AtTheStart", "InTheMiddle", "OnTheLastStep"};
    return std::string(operations[int(info.param.operation)]) + points[int(info.param.point)];
}

void PrintTo(const CancelCase& c, std::ostream* out) {
    *out << "operation " << int(c.operation) << ", stop point " << int(c.point);
}

class CancelTest : public ProgressTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelTest, StopsQuietlyAndLeavesOnlyWhatWasThereBefore) {
    const auto [operation, point] = GetParam();
    if (operation == Operation::Assemble)
        prepareAssembly();
    std::map<std::string, std::string> before;
    for (const auto& name : listDir(dir.path()))
        before[name] = readFile(dir / name);

    // A run to the end first, undone afterwards, tells how many reports there are.
    StopAt counter;
    runner.progress = &counter;
    ASSERT_TRUE(start(operation, {Yes, No}));
    const std::size_t reports = counter.seen.size();
    ASSERT_GE(reports, 3u);
    for (const auto& name : listDir(dir.path()))
        if (before.count(name) == 0)
            std::filesystem::remove(dir / name);
    for (const auto& [name, content] : before)
        writeFile(dir / name, content);

    const std::size_t stopAt = point == StopPoint::First    ? 1
                               : point == StopPoint::Middle ? (reports + 1) / 2
                                                            : reports;
    StopAt observer(stopAt);
    runner.progress = &observer;
    EXPECT_FALSE(start(operation, {Yes}));
    EXPECT_SHOWN(runner, question(operation == Operation::Assemble ? messages::kConfirmAssemble
                                                                   : messages::kConfirmSplit));
    EXPECT_EQ(observer.seen.size(), stopAt) << "reports went on after the stop";
    std::set<std::string> names;
    for (const auto& [name, content] : before) {
        names.insert(name);
        EXPECT_EQ(readFile(dir / name), content) << name;
    }
    EXPECT_EQ(listDir(dir.path()), names);
}

INSTANTIATE_TEST_SUITE_P(Points, CancelTest,
                         ::testing::Values(CancelCase{Operation::SplitBySize, StopPoint::First},
                                           CancelCase{Operation::SplitBySize, StopPoint::Middle},
                                           CancelCase{Operation::SplitBySize, StopPoint::Last},
                                           CancelCase{Operation::SplitByNumber, StopPoint::First},
                                           CancelCase{Operation::SplitByNumber, StopPoint::Middle},
                                           CancelCase{Operation::SplitByNumber, StopPoint::Last},
                                           CancelCase{Operation::Assemble, StopPoint::First},
                                           CancelCase{Operation::Assemble, StopPoint::Middle},
                                           CancelCase{Operation::Assemble, StopPoint::Last}),
                         caseName);

} // namespace
} // namespace tolvar::testing
