// The one reader of a set on its own: what it makes of every kind of file at a part's name,
// and that it reads no more than a header of each file, once.

#include "part_set.h"
#include "test_support.h"

#include <filesystem>

namespace tolvar::testing {
namespace {

// A three-part set of "movie.avi" with 10-byte payloads (the last one 4 bytes) in a scratch
// folder; each row spoils part 001 in its own way.
struct Spoiled {
    const char* name;
    std::function<void(const std::string& part1)> spoil;
    PartState state;
};

void PrintTo(const Spoiled& row, std::ostream* out) {
    *out << row.name;
}

std::string part(int index, int count, std::string_view tail, std::size_t payload) {
    return expectedHeader(index, count, tail) + std::string(payload, 'x');
}

class SpoiledPart : public ::testing::TestWithParam<Spoiled> {
protected:
    ScratchDir dir;
    std::string base = dir / "movie.";
    void SetUp() override {
        writeFile(base + "000", part(0, 3, "avi", 10));
        writeFile(base + "001", part(1, 3, "avi", 10));
        writeFile(base + "002", part(2, 3, "avi", 4));
    }
};

TEST_P(SpoiledPart, IsJudgedForWhatItIsAndTheRestOfTheSetStaysPresent) {
    GetParam().spoil(base + "001");
    FaultyFileSystem fs;
    auto read = readPartSet(fs, base + "002");
    ASSERT_TRUE(read) << read.failure().description;
    ASSERT_TRUE(read.value().has_value());
    const PartSet& set = *read.value();
    EXPECT_EQ(set.count, 3);
    EXPECT_EQ(set.tail, "avi");
    ASSERT_EQ(set.parts.size(), 3u);
    EXPECT_EQ(set.parts[0].state, PartState::Present);
    EXPECT_EQ(set.parts[1].state, GetParam().state);
    EXPECT_EQ(set.parts[2].state, PartState::Present);
    EXPECT_EQ(set.whole(), GetParam().state == PartState::Present);
    // One open per name, the chosen file's included, whatever lies there.
    EXPECT_EQ(fs.calls(FsCall::Open), 3u);
    EXPECT_EQ(fs.openCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    AtOneIndex, SpoiledPart,
    ::testing::Values(
        Spoiled{"Intact", [](const std::string&) {}, PartState::Present},
        Spoiled{"Missing", [](const std::string& p) { std::filesystem::remove(p); },
                PartState::Missing},
        Spoiled{"AFolder",
                [](const std::string& p) {
                    std::filesystem::remove(p);
                    std::filesystem::create_directory(p);
                },
                PartState::Unreadable},
        Spoiled{"AFifo",
                [](const std::string& p) {
                    std::filesystem::remove(p);
                    ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
                },
                PartState::Unreadable},
        Spoiled{"ShorterThanAHeader", [](const std::string& p) { writeFile(p, "SPLITKV00"); },
                PartState::NotAPart},
        Spoiled{"NoTag", [](const std::string& p) { writeFile(p, std::string(26, 'y')); },
                PartState::NotAPart},
        Spoiled{"AnotherIndex", [](const std::string& p) { writeFile(p, part(2, 3, "avi", 10)); },
                PartState::WrongIndex},
        Spoiled{"AnotherCount", [](const std::string& p) { writeFile(p, part(1, 4, "avi", 10)); },
                PartState::OtherSet},
        Spoiled{"AnotherTail", [](const std::string& p) { writeFile(p, part(1, 3, "mkv", 10)); },
                PartState::OtherSet},
        Spoiled{"APayloadTooShort",
                [](const std::string& p) { writeFile(p, part(1, 3, "avi", 9)); },
                PartState::WrongSize}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ReadPartSet, AChosenFileThatIsNoPartIsNoSetAndOneThatCannotBeReadIsAFailure) {
    ScratchDir dir;
    writeFile(dir / "notes.txt", "plain words, no header");
    auto plain = readPartSet(defaultFileSystem(), dir / "notes.txt");
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain.value().has_value());

    auto missing = readPartSet(defaultFileSystem(), dir / "movie.000");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.failure().kind, FailureKind::FileNotFound);
}

} // namespace
} // namespace tolvar::testing
