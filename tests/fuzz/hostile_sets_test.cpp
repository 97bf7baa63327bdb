// Damaged and hostile part sets, built by hand byte by byte: what the user is told and which
// files exist afterwards.

#include "failure.h"
#include "files.h"
#include "harness.h"
#include "operations.h"
#include "scratch_dir.h"
#include "scripted_message_box.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <system_error>

namespace tolvar {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::ScratchDir;
using testing::ScriptedMessageBox;
using testing::ShownMessage;
using testing::writeFile;

const std::string kTitle(kProductTitle);

// A part file as a splitter would write it, with every field given as raw bytes.
std::string part(std::string_view index, std::string_view count, std::string_view tail,
                 std::string_view payload) {
    std::string bytes = "SPLITKV";
    bytes += index;
    bytes += count;
    bytes += tail;
    bytes += payload;
    return bytes;
}

// Everything in a folder, one level deep: a file's content, "<folder>" or "-> target".
std::map<std::string, std::string> listing(const fs::path& folder) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const auto status = fs::symlink_status(entry.path());
        const std::string name = entry.path().filename().string();
        if (fs::is_symlink(status))
            entries[name] = "-> " + fs::read_symlink(entry.path()).string();
        else if (fs::is_directory(status))
            entries[name] = "<folder>";
        else
            entries[name] = readFile(entry.path());
    }
    return entries;
}

bool sameMessages(const std::vector<ShownMessage>& actual,
                  const std::vector<ShownMessage>& expected) {
    if (actual.size() != expected.size())
        return false;
    for (std::size_t i = 0; i < actual.size(); ++i)
        // The delete question names the files it deletes; its first line is the question.
        if (actual[i].text.substr(0, expected[i].question == QuestionKind::DeleteParts
                                         ? actual[i].text.find('\n')
                                         : std::string::npos) != expected[i].text ||
            actual[i].style != expected[i].style || actual[i].title != expected[i].title ||
            actual[i].question != expected[i].question)
            return false;
    return true;
}

std::string show(const std::vector<ShownMessage>& messages) {
    std::string text;
    for (const auto& message : messages)
        text += "[" + std::to_string(static_cast<int>(message.style)) + " '" + message.title +
                "' '" + message.text + "'] ";
    return text;
}

const ShownMessage kConfirm{messages::kConfirmAssemble, MsgStyle::Question, kTitle,
                            QuestionKind::Confirm};
const ShownMessage kDeleteQuestion{messages::kDeleteParts, MsgStyle::QuestionDefaultNo, kTitle,
                                   QuestionKind::DeleteParts};

ShownMessage refusal(const std::string& text) {
    return {text, MsgStyle::Critical, kTitle};
}

ShownMessage report(const Failure& failure) {
    return {failure.description, MsgStyle::Critical, failureTitle(failure)};
}

// Names a data-driven row after its own name field.
template <class Row> std::string rowName(const ::testing::TestParamInfo<Row>& row) {
    return row.param.name;
}

class HostileSets : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(outside);
        fs::create_directory(dir);
        writeFile(outside / "target.txt", "a file the assembly must never touch\n");
    }

    std::string path(const std::string& name) const { return (dir / name).string(); }

    // Assembles with Yes to the confirmation and the given answer to the delete question.
    bool assemble(const std::string& chosen, const std::string& prefix = {},
                  MsgAnswer deleteAnswer = MsgAnswer::No) {
        box.reset({MsgAnswer::Yes});
        box.answerRestWith(deleteAnswer);
        OperationContext context{box};
        return AssembleFile(chosen, prefix, context);
    }

    void expectMessages(const std::vector<ShownMessage>& expected) const {
        EXPECT_TRUE(sameMessages(box.shown(), expected))
            << "shown: " << show(box.shown()) << "\nexpected: " << show(expected);
    }

    // The set folder holds exactly these entries, and nothing outside it has changed.
    void expectFiles(const std::map<std::string, std::string>& expected) const {
        EXPECT_EQ(listing(dir), expected);
        EXPECT_EQ(listing(outside), (std::map<std::string, std::string>{
                                        {"target.txt", "a file the assembly must never touch\n"}}));
        EXPECT_EQ(listing(root).size(), 2u);
    }

    ScratchDir scratch;
    fs::path root = scratch.dir();
    fs::path outside = root / "outside";
    fs::path dir = root / "set";
    ScriptedMessageBox box{{}, [](const std::string& problem) { ADD_FAILURE() << problem; }};
};

TEST_F(HostileSets, CountsBelowTwoAreNoSplitFileAndKeepTheOldOutput) {
    // These once rebuilt an empty file over the older one and called it a success.
    for (const char* count : {"000", "001", "abc", "-01"}) {
        SCOPED_TRACE(count);
        const std::string first = part("000", count, "bin", "payload nobody asked for");
        writeFile(dir / "set.000", first);
        writeFile(dir / "set.bin", "the older file of that name");

        EXPECT_FALSE(assemble(path("set.000"), {}, MsgAnswer::Yes));

        expectMessages({kConfirm, refusal(messages::kNotSplitFile)});
        expectFiles({{"set.000", first}, {"set.bin", "the older file of that name"}});
    }
}

TEST_F(HostileSets, CountOf999StopsAtTheFirstMissingPartAndKeepsTheOldOutput) {
    std::map<std::string, std::string> files;
    for (const char* index : {"000", "001", "002"}) {
        files[std::string("set.") + index] = part(index, "999", "bin", index);
        writeFile(dir / (std::string("set.") + index), files[std::string("set.") + index]);
    }
    files["set.bin"] = "the older file of that name";
    writeFile(dir / "set.bin", files["set.bin"]);

    EXPECT_FALSE(assemble(path("set.000"), {}, MsgAnswer::Yes));

    expectMessages({kConfirm, report(fileFailure(ENOENT, FileAction::Open, path("set.003")))});
    expectFiles(files);
}

// A count or index field is read as the decimal number at its start; anything else in it is
// ignored, and a field that starts with no number reads as 0.
struct FieldCase {
    const char* name;
    const char* countField;
    const char* secondIndexField;
    bool result;
    const char* output;       // the assembled bytes when the result is true
    std::string refusal = {}; // the refusal shown when the result is false, if any
};

// A refusal that names set.001 in our own words: it is of another set than set.000.
const char* const kInWords = "in words";

void PrintTo(const FieldCase& row, std::ostream* out) {
    *out << row.name;
}

class CountAndIndexFields : public HostileSets, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(CountAndIndexFields, ReadAsTheLeadingNumber) {
    const FieldCase& field = GetParam();
    const std::map<std::string, std::string> files = {
        {"set.000", part("000", field.countField, "txt", "alpha ")},
        {"set.001", part(field.secondIndexField, "003", "txt", "bravo ")},
        {"set.002", part("002", "003", "txt", "end")},
    };
    for (const auto& [name, bytes] : files)
        writeFile(dir / name, bytes);

    EXPECT_EQ(assemble(path("set.000")), field.result);

    auto expected = files;
    if (field.result) {
        expectMessages({kConfirm, kDeleteQuestion});
        expected["set.txt"] = field.output;
    } else if (field.refusal == kInWords) {
        ASSERT_EQ(box.shown().size(), 2u);
        EXPECT_EQ(box.shown()[1].text.rfind("Not assembled: '" + path("set.001") + "'", 0), 0u)
            << box.shown()[1].text;
    } else if (!field.refusal.empty()) {
        expectMessages({kConfirm, refusal(field.refusal)});
    } else {
        expectMessages({kConfirm}); // an index out of place stops without a word
    }
    expectFiles(expected);
}

INSTANTIATE_TEST_SUITE_P(
    HostileSets, CountAndIndexFields,
    ::testing::Values(FieldCase{"LettersCountAsZero", "abc", "001", false, "",
                                messages::kNotSplitFile},
                      FieldCase{"DigitsThenLetters", "2ab", "001", false, "", kInWords},
                      FieldCase{"LeadingBlank", " 3x", "001", true, "alpha bravo end"},
                      FieldCase{"PlusSign", "+03", "001", true, "alpha bravo end"},
                      FieldCase{"IndexWithTrailingLetters", "003", "1zz", true, "alpha bravo end"},
                      FieldCase{"IndexOfLettersReadsZero", "003", "x01", false, ""},
                      FieldCase{"IndexOfBlanksReadsZero", "003", "   ", false, ""}),
    rowName<FieldCase>);

TEST_F(HostileSets, ChosenIndexOfLettersReadsAsTheFirstPart) {
    const std::map<std::string, std::string> files = {
        {"set.000", part("abc", "002", "dat", "one,")},
        {"set.001", part("001", "002", "dat", "two")},
    };
    for (const auto& [name, bytes] : files)
        writeFile(dir / name, bytes);

    EXPECT_TRUE(assemble(path("set.000")));

    expectMessages({kConfirm, kDeleteQuestion});
    auto expected = files;
    expected["set.dat"] = "one,two";
    expectFiles(expected);
}

// A tail that would lead the output elsewhere or make no usable name is refused before any
// file is created; nothing inside or beside the set changes.
struct UnsafeTail {
    const char* name;
    std::string tail;
};

void PrintTo(const UnsafeTail& row, std::ostream* out) {
    *out << row.name;
}

class UnsafeTails : public HostileSets, public ::testing::WithParamInterface<UnsafeTail> {};

TEST_P(UnsafeTails, AreRefusedBeforeAnyFileIsWritten) {
    const std::string first = part("000", "002", GetParam().tail, "data");
    const std::string second = part("001", "002", GetParam().tail, "da");
    writeFile(dir / "000", first);
    writeFile(dir / "001", second);

    EXPECT_FALSE(assemble(path("000"), {}, MsgAnswer::Yes));

    expectMessages({kConfirm, refusal(messages::kUnsafeNameTail)});
    expectFiles({{"000", first}, {"001", second}});
}

INSTANTIATE_TEST_SUITE_P(HostileSets, UnsafeTails,
                         ::testing::Values(UnsafeTail{"SlashInTheMiddle", "a/b"},
                                           UnsafeTail{"ParentFolder", "/.."},
                                           UnsafeTail{"ClimbsOut", "../"},
                                           UnsafeTail{"LeadingSlash", "/xy"},
                                           UnsafeTail{"NulByte", std::string("a\0b", 3)},
                                           UnsafeTail{"AllNul", std::string(3, '\0')}),
                         rowName<UnsafeTail>);

TEST_F(HostileSets, DotsInTheTailStayAnOrdinaryNameInsideTheFolder) {
    // With parts named "000", "001", the base is the folder itself: the tail alone names the
    // output, and "..." is a plain file name there, not a way out.
    const std::string first = part("000", "002", "...", "dots");
    const std::string second = part("001", "002", "...", "!");
    writeFile(dir / "000", first);
    writeFile(dir / "001", second);

    EXPECT_TRUE(assemble(path("000")));

    expectMessages({kConfirm, kDeleteQuestion});
    expectFiles({{"000", first}, {"001", second}, {"...", "dots!"}});
}

TEST_F(HostileSets, TailBytesAbove127NameTheOutputExactly) {
    const std::string tail = "\xe9\x80\xff";
    writeFile(dir / "set.000", part("000", "002", tail, "\x01\x02\xfe"));
    writeFile(dir / "set.001", part("001", "002", tail, "\xff"));

    EXPECT_TRUE(assemble(path("set.000"), {}, MsgAnswer::Yes));

    expectMessages({kConfirm, kDeleteQuestion});
    expectFiles({{"set." + tail, "\x01\x02\xfe\xff"}});
}

TEST_F(HostileSets, ALaterPartOfAnotherSetIsRefusedInWordsAndNothingIsWritten) {
    // Its index fits, so it was once joined in, making a wrong file reported as success.
    std::map<std::string, std::string> files = {
        {"set.000", part("000", "002", "bin", "first ")},
        {"set.001", part("001", "005", "z\x1bz", "second")},
        {"set.002", part("002", "005", "z\x1bz", "not in the set")},
        {"set.bin", "the older file of that name"},
    };
    for (const auto& [name, bytes] : files)
        writeFile(dir / name, bytes);

    EXPECT_FALSE(assemble(path("set.000"), {}, MsgAnswer::Yes));

    // The foreign tail's escape byte is shown escaped, never sent to a terminal.
    expectMessages({kConfirm, refusal(("Not assembled: '" + path("set.001") +
                                       "' is from another set: it gives 005 parts and the name "
                                       "tail 'z\\033z', where '" +
                                       path("set.000") + "' gives 002 and 'bin'.")
                                          .c_str())});
    expectFiles(files);
}

TEST_F(HostileSets, APartThatIsAFolderIsReportedAndNothingIsWritten) {
    const std::string first = part("000", "002", "bin", "first");
    writeFile(dir / "set.000", first);
    fs::create_directory(dir / "set.001");
    writeFile(dir / "set.bin", "older");

    EXPECT_FALSE(assemble(path("set.000"), {}, MsgAnswer::Yes));

    expectMessages({kConfirm, report(fileFailure(EISDIR, FileAction::Open, path("set.001")))});
    expectFiles({{"set.000", first}, {"set.001", "<folder>"}, {"set.bin", "older"}});
}

TEST_F(HostileSets, AChosenFolderIsReported) {
    fs::create_directory(dir / "set.000");

    EXPECT_FALSE(assemble(path("set.000")));

    expectMessages({kConfirm, report(fileFailure(EISDIR, FileAction::Open, path("set.000")))});
    expectFiles({{"set.000", "<folder>"}});
}

TEST_F(HostileSets, ALinkAtTheOutputNameIsReplacedAndItsTargetKept) {
    const std::string first = part("000", "002", "bin", "new con");
    const std::string second = part("001", "002", "bin", "tent");
    writeFile(dir / "set.000", first);
    writeFile(dir / "set.001", second);
    fs::create_symlink(outside / "target.txt", dir / "set.bin");

    EXPECT_TRUE(assemble(path("set.000")));

    expectMessages({kConfirm, kDeleteQuestion});
    EXPECT_FALSE(fs::is_symlink(dir / "set.bin"));
    expectFiles({{"set.000", first}, {"set.001", second}, {"set.bin", "new content"}});
}

TEST_F(HostileSets, ALinkAtTheOutputNameSurvivesAFailedAssembly) {
    const std::string first = part("000", "002", "bin", "new ");
    writeFile(dir / "set.000", first);
    fs::create_symlink(outside / "target.txt", dir / "set.bin");

    EXPECT_FALSE(assemble(path("set.000")));

    expectMessages({kConfirm, report(fileFailure(ENOENT, FileAction::Open, path("set.001")))});
    expectFiles({{"set.000", first}, {"set.bin", "-> " + (outside / "target.txt").string()}});
}

TEST_F(HostileSets, AGapInTheSetIsReportedAndTheOldOutputKept) {
    std::map<std::string, std::string> files = {
        {"set.000", part("000", "004", "bin", "0")},
        {"set.001", part("001", "004", "bin", "1")},
        {"set.003", part("003", "004", "bin", "3")},
        {"set.bin", "the older file of that name"},
    };
    for (const auto& [name, bytes] : files)
        writeFile(dir / name, bytes);

    EXPECT_FALSE(assemble(path("set.000"), {}, MsgAnswer::Yes));

    expectMessages({kConfirm, report(fileFailure(ENOENT, FileAction::Open, path("set.002")))});
    expectFiles(files);
}

TEST_F(HostileSets, ADuplicateIndexStopsSilentlyAndTheOldOutputKept) {
    std::map<std::string, std::string> files = {
        {"set.000", part("000", "003", "bin", "0")},
        {"set.001", part("001", "003", "bin", "1")},
        {"set.002", part("001", "003", "bin", "1")},
        {"set.bin", "the older file of that name"},
    };
    for (const auto& [name, bytes] : files)
        writeFile(dir / name, bytes);

    EXPECT_FALSE(assemble(path("set.000"), {}, MsgAnswer::Yes));

    expectMessages({kConfirm});
    expectFiles(files);
}

TEST_F(HostileSets, FilesShorterThanAHeaderAreNoParts) {
    writeFile(dir / "a.000", "SPLITKV000001bi"); // 15 bytes
    EXPECT_FALSE(assemble(path("a.000")));
    expectMessages({kConfirm, refusal(messages::kNotSplitFile)});

    std::map<std::string, std::string> files = {
        {"a.000", "SPLITKV000001bi"},
        {"b.000", part("000", "002", "bin", "x")},
        {"b.001", "SPLITKV001002bi"},
    };
    writeFile(dir / "b.000", files["b.000"]);
    writeFile(dir / "b.001", files["b.001"]);
    EXPECT_FALSE(assemble(path("b.000")));
    expectMessages({kConfirm, refusal(messages::kNotBrokenFile)});
    expectFiles(files);
}

TEST_F(HostileSets, TheMagicTagIsCaseSensitive) {
    std::map<std::string, std::string> files = {
        {"set.000", part("000", "002", "bin", "x")},
        {"set.001", "splitkv001002binY"},
    };
    for (const auto& [name, bytes] : files)
        writeFile(dir / name, bytes);

    EXPECT_FALSE(assemble(path("set.000")));

    expectMessages({kConfirm, refusal(messages::kNotBrokenFile)});
    expectFiles(files);
}

TEST_F(HostileSets, AnOutputNamedLikeOneOfItsPartsIsRefused) {
    // The source's name ended in three digits: its tail names part 1 of its own set.
    std::map<std::string, std::string> files = {
        {"set.000", part("000", "003", "001", "0")},
        {"set.001", part("001", "003", "001", "1")},
        {"set.002", part("002", "003", "001", "2")},
    };
    for (const auto& [name, bytes] : files)
        writeFile(dir / name, bytes);

    EXPECT_FALSE(assemble(path("set.000"), {}, MsgAnswer::Yes));

    expectMessages({kConfirm, refusal(messages::kOutputIsPart)});
    expectFiles(files);
}

TEST_F(HostileSets, AnOutputThatIsAHardLinkToAPartIsRefused) {
    std::map<std::string, std::string> files = {
        {"set.000", part("000", "002", "bin", "0")},
        {"set.001", part("001", "002", "bin", "1")},
    };
    for (const auto& [name, bytes] : files)
        writeFile(dir / name, bytes);
    fs::create_hard_link(dir / "set.001", dir / "alias.bin");
    files["alias.bin"] = files["set.001"];

    EXPECT_FALSE(assemble(path("set.000"), path("alias."), MsgAnswer::Yes));

    expectMessages({kConfirm, refusal(messages::kOutputIsPart)});
    expectFiles(files);
}

} // namespace
} // namespace tolvar
