// The part-file format and naming rules, checked against literal bytes.

#include "part_header.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace tolvar {
namespace {

std::string headerText(const HeaderBytes& bytes) {
    return std::string(bytes.data(), bytes.size());
}

HeaderBytes headerOf(std::string_view text) {
    HeaderBytes bytes{};
    std::memcpy(bytes.data(), text.data(), std::min(text.size(), bytes.size()));
    return bytes;
}

TEST(PartHeaderBuild, GoldenVector) {
    EXPECT_EQ(headerText(PartHeader::build(2, 5, "C:\\data\\movie.avi")), "SPLITKV002005avi");
}

TEST(PartHeaderBuild, ThreePartSetOfMovie) {
    EXPECT_EQ(headerText(PartHeader::build(0, 3, "C:\\data\\movie.avi")), "SPLITKV000003avi");
    EXPECT_EQ(headerText(PartHeader::build(1, 3, "C:\\data\\movie.avi")), "SPLITKV001003avi");
    EXPECT_EQ(headerText(PartHeader::build(2, 3, "C:\\data\\movie.avi")), "SPLITKV002003avi");
    EXPECT_EQ(headerText(PartHeader::build(998, 999, "/x/y.bin")), "SPLITKV998999bin");
}

TEST(PartHeaderBuild, ShortPathsArePaddedWithSpaces) {
    EXPECT_EQ(headerText(PartHeader::build(0, 2, "ab")), "SPLITKV000002ab ");
    EXPECT_EQ(headerText(PartHeader::build(1, 2, "a")), "SPLITKV001002a  ");
    EXPECT_EQ(headerText(PartHeader::build(0, 2, "")), "SPLITKV000002   ");
}

TEST(PartHeaderBuild, TailIsTheLastThreeBytesOfAnyPath) {
    EXPECT_EQ(headerText(PartHeader::build(0, 2, "/music/song.flac")), "SPLITKV000002lac");
    EXPECT_EQ(headerText(PartHeader::build(0, 2, "/data/README")), "SPLITKV000002DME");
    // "é" in UTF-8 is two bytes: the tail cuts through the character, byte-exact.
    EXPECT_EQ(headerText(PartHeader::build(0, 2, "/data/caf\xc3\xa9")), "SPLITKV000002f\xc3\xa9");
    EXPECT_EQ(headerText(PartHeader::build(0, 2, "/data/x\xff\x01\x80")),
              "SPLITKV000002\xff\x01\x80");
}

struct ParseCase {
    const char* name;
    std::string_view header;
    int index;
    int count;
};

void PrintTo(const ParseCase& c, std::ostream* out) {
    *out << c.name;
}

class PartHeaderParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(PartHeaderParse, ReadsTheLeadingNumberOfEachField) {
    const auto& param = GetParam();
    const PartHeader header = PartHeader::parse(headerOf(param.header));
    EXPECT_EQ(header.PartIndex, param.index);
    EXPECT_EQ(header.PartCount, param.count);
    EXPECT_EQ(header.NameTail, std::string(param.header.substr(13, 3)));
}

INSTANTIATE_TEST_SUITE_P(Fields, PartHeaderParse,
                         ::testing::Values(ParseCase{"Golden", "SPLITKV002005avi", 2, 5},
                                           ParseCase{"Largest", "SPLITKV998999bin", 998, 999},
                                           ParseCase{"Zeros", "SPLITKV000000xyz", 0, 0},
                                           ParseCase{"DigitsThenLetters", "SPLITKV1a24x7abc", 1, 4},
                                           ParseCase{"NoDigits", "SPLITKVabc---tal", 0, 0},
                                           ParseCase{"LeadingBlanks", "SPLITKV  7 12tal", 7, 12},
                                           ParseCase{"Signs", "SPLITKV-12+05tal", -12, 5},
                                           ParseCase{"LoneSign", "SPLITKV-x1+  tal", 0, 0},
                                           ParseCase{"HighBytesAreNotDigits",
                                                     "SPLITKV\xb9\xb2\xb3"
                                                     "009\x80\x81\x82",
                                                     0, 9},
                                           ParseCase{"NulBytes",
                                                     std::string_view("SPLITKV\0\0\0"
                                                                      "3\0\0a\0b",
                                                                      16),
                                                     0, 3}),
                         [](const ::testing::TestParamInfo<ParseCase>& paramInfo) {
                             return std::string(paramInfo.param.name);
                         });

TEST(PartHeaderParse, TailKeepsEveryByte) {
    EXPECT_EQ(PartHeader::parse(headerOf(std::string_view("SPLITKV000002a\0/", 16))).NameTail,
              std::string("a\0/", 3));
    EXPECT_EQ(PartHeader::parse(headerOf("SPLITKV000002ab ")).NameTail, "ab ");
}

TEST(IsPart, ComparesTheMagicTagExactly) {
    EXPECT_TRUE(isPart("SPLITKV"));
    EXPECT_TRUE(isPart("SPLITKV000001abc"));
    EXPECT_TRUE(isPart("SPLITKVanything at all follows"));
    EXPECT_FALSE(isPart("splitkv000001abc"));
    EXPECT_FALSE(isPart("SPLITkV000001abc"));
    EXPECT_FALSE(isPart("SPLITK"));
    EXPECT_FALSE(isPart(""));
    EXPECT_FALSE(isPart(" SPLITKV000001ab"));
    EXPECT_FALSE(isPart(std::string_view("SPLITK\0V", 8)));
}

TEST(PartNames, IndexIsAppendedWithThreeDigits) {
    EXPECT_EQ(PartFileName("C:\\data\\movie.", 0), "C:\\data\\movie.000");
    EXPECT_EQ(PartFileName("C:\\data\\movie.", 12), "C:\\data\\movie.012");
    EXPECT_EQ(PartFileName("D:\\out\\movie.", 998), "D:\\out\\movie.998");
    EXPECT_EQ(PartFileName("", 7), "007");
    EXPECT_EQ(formatIndex(1000), "1000");
}

TEST(PartNames, BaseIsThePrefixOrThePathWithoutItsLastThreeBytes) {
    EXPECT_EQ(partBaseName("C:\\data\\movie.avi", ""), "C:\\data\\movie.");
    EXPECT_EQ(partBaseName("C:\\data\\movie.avi", "D:\\out\\movie."), "D:\\out\\movie.");
    EXPECT_EQ(partBaseName("/music/song.flac", ""), "/music/song.f");
    EXPECT_EQ(partBaseName("/data/README", ""), "/data/REA");
    EXPECT_EQ(partBaseName("abc", ""), "");
    // Blanks are a destination like any other text.
    EXPECT_EQ(partBaseName("/data/movie.avi", "   "), "   ");
    EXPECT_EQ(partBaseName("ab", ""), std::nullopt);
    EXPECT_EQ(partBaseName("", ""), std::nullopt);
    EXPECT_EQ(partBaseName("ab", "out."), "out.");
}

TEST(PartNames, BaseAndTailRestoreTheSourceName) {
    for (std::string_view source : {"C:\\data\\movie.avi", "/music/song.flac", "/data/README",
                                    "/d/caf\xc3\xa9.txt", "/d/\xff\xfe\x80name\xe9", "abc"}) {
        const auto base = partBaseName(source, "");
        ASSERT_TRUE(base.has_value()) << source;
        EXPECT_EQ(*base + std::string(nameTailOf(source)), source);
    }
}

} // namespace
} // namespace tolvar
