// The command line's building blocks in-process: reading the arguments, sizes and numbers,
// the prefix rule, the progress text, and how the terminal box answers without a terminal.

#include "byte_count.h"
#include "operations.h"
#include "options.h"
#include "terminal_message_box.h"
#include "terminal_progress.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tolvar::cli {
namespace {

std::variant<Options, UsageError> parse(std::vector<std::string_view> args) {
    return parseCommandLine(args);
}

Options parsedOptions(std::vector<std::string_view> args) {
    auto result = parse(args);
    if (const auto* error = std::get_if<UsageError>(&result)) {
        ADD_FAILURE() << "unexpected usage error: " << error->message;
        return {};
    }
    return std::get<Options>(result);
}

TEST(ParseCommandLine, OptionsBeforeAfterAndBetweenTheArguments) {
    const Options a = parsedOptions({"-y", "split", "movie.avi", "--size", "700M", "-p", "out"});
    EXPECT_EQ(a.command, Command::Split);
    EXPECT_EQ(a.path, "movie.avi");
    EXPECT_EQ(a.sizeText, "700M");
    EXPECT_EQ(a.prefix, "out");
    EXPECT_TRUE(a.yes);
    EXPECT_FALSE(a.partsText.has_value());

    const Options b = parsedOptions({"--parts=7", "--prefix=", "split", "--delete-source", "f"});
    EXPECT_EQ(b.partsText, "7");
    EXPECT_EQ(b.prefix, ""); // given but empty: parts beside the source
    EXPECT_TRUE(b.deleteSource);

    const Options c = parsedOptions({"split", "-ys1.5M", "-pdest", "f"});
    EXPECT_TRUE(c.yes);
    EXPECT_EQ(c.sizeText, "1.5M");
    EXPECT_EQ(c.prefix, "dest");

    const Options d = parsedOptions({"join", "--delete-parts", "--", "--yes"});
    EXPECT_EQ(d.command, Command::Join);
    EXPECT_EQ(d.path, "--yes");
    EXPECT_FALSE(d.yes);

    // --yes is harmless where nothing is asked, so scripts may pass it everywhere.
    const Options e = parsedOptions({"info", "-", "--yes"});
    EXPECT_EQ(e.command, Command::Info);
    EXPECT_EQ(e.path, "-");
}

TEST(ParseCommandLine, HelpAndVersionWinOverEverythingElse) {
    EXPECT_EQ(parsedOptions({"split", "--nonsense", "--help"}).command, Command::Help);
    EXPECT_EQ(parsedOptions({"-V", "join"}).command, Command::Version);
    // After "--" they are file names.
    const auto afterDashes = parse({"info", "--", "--help"});
    ASSERT_TRUE(std::holds_alternative<Options>(afterDashes));
    EXPECT_EQ(std::get<Options>(afterDashes).path, "--help");
}

TEST(ParseCommandLine, TheFirstProblemIsReported) {
    struct Row {
        std::vector<std::string_view> args;
        const char* message;
    };
    const Row rows[] = {
        {{}, "missing command (split, join, info, verify or repair)"},
        {{"--yes"}, "missing command (split, join, info, verify or repair)"},
        {{"split", "--bad", "-q", "f"}, "unknown option '--bad'"},
        {{"split", "-s"}, "--size needs a value"},
        {{"info", "--delete-source=yes", "p"}, "--delete-source takes no value"},
        {{"join"}, "join needs FIRST_PART"},
        {{"info", "a", "b"}, "unexpected argument 'b'"},
        {{"join", "-n", "3", "p"}, "--parts applies to split only"},
        {{"split", "--no-checksums", "-s", "1", "f"}, "--no-checksums applies to join only"},
        {{"join", "--join-script", "p"}, "--join-script applies to split only"},
        {{"info", "--in-place", "p"}, "--in-place applies to split and join only"},
        // A file name from a folder anyone writes to, as a shell's * hands it over.
        {{"info", "a", "b\x1b[2J\a"}, "unexpected argument 'b\\033[2J\\a'"},
    };
    for (const Row& row : rows) {
        const auto result = parse(row.args);
        ASSERT_TRUE(std::holds_alternative<UsageError>(result)) << row.message;
        EXPECT_EQ(std::get<UsageError>(result).message, row.message);
    }
}

TEST(ParseCommandLine, LongOptionsMayBeCutToAnyUnambiguousBeginning) {
    const Options split = parsedOptions(
        {"split", "--siz", "100", "--pre=out", "--y", "--delete-s", "--check", "--rec", "2", "f"});
    EXPECT_EQ(split.sizeText, "100");
    EXPECT_EQ(split.prefix, "out");
    EXPECT_TRUE(split.yes);
    EXPECT_TRUE(split.deleteSource);
    EXPECT_TRUE(split.checksums);
    EXPECT_EQ(split.recoveryText, "2");
    EXPECT_TRUE(parsedOptions({"join", "--delete-p", "f"}).deleteParts);
    EXPECT_TRUE(parsedOptions({"split", "--in", "-s", "1", "f"}).inPlace);
    EXPECT_EQ(parsedOptions({"--vers"}).command, Command::Version);
}

TEST(ParseCommandLine, AnAmbiguousBeginningNamesWhatItCouldBe) {
    const auto result = parse({"split", "--delete", "-s", "1K", "f"});
    ASSERT_TRUE(std::holds_alternative<UsageError>(result));
    EXPECT_EQ(std::get<UsageError>(result).message,
              "option '--delete' is ambiguous; possibilities: --delete-source --delete-parts");
    // "--p" could be --parts or --prefix; with a value attached it is still refused.
    const auto withValue = parse({"split", "--p=3", "f"});
    ASSERT_TRUE(std::holds_alternative<UsageError>(withValue));
    EXPECT_EQ(std::get<UsageError>(withValue).message,
              "option '--p' is ambiguous; possibilities: --parts --prefix");
}

TEST(ParseSize, NumbersWithUnits) {
    struct Row {
        const char* text;
        double value;
        SizeUnit unit;
        double kilobytes;
    };
    constexpr SizeUnit K = SizeUnit::Kilobytes;
    constexpr SizeUnit M = SizeUnit::Megabytes;
    const Row rows[] = {{"100K", 100, K, 100},   {"700M", 700, M, 716800}, {"1.5M", 1.5, M, 1536},
                        {"64", 64, K, 64},       {"2kb", 2, K, 2},         {"1MiB", 1, M, 1024},
                        {"+3", 3, K, 3},         {"-5K", -5, K, -5},       {"0.5", 0.5, K, 0.5},
                        {"1e3K", 1000, K, 1000}, {"0", 0, K, 0},           {".25m", 0.25, M, 256}};
    for (const Row& row : rows) {
        const auto parsed = parseSize(row.text);
        ASSERT_TRUE(parsed.has_value()) << row.text;
        EXPECT_DOUBLE_EQ(parsed->value, row.value) << row.text;
        EXPECT_EQ(parsed->unit, row.unit) << row.text;
        EXPECT_DOUBLE_EQ(parsed->kilobytes(), row.kilobytes) << row.text;
    }
}

TEST(ParseSize, TextsThatAreNoSize) {
    for (const char* text : {"", "K", "abc", "10G", "1.5.2", "inf", "nan", " 5", "5 K", "5K ", "1e",
                             "++5", "--5", "+-5", "5KK", "0x10"})
        EXPECT_FALSE(parseSize(text).has_value()) << '"' << text << '"';
}

TEST(ParsePartCount, WholeNumbersOnly) {
    EXPECT_EQ(parsePartCount("2"), 2);
    EXPECT_EQ(parsePartCount("50"), 50);
    EXPECT_EQ(parsePartCount("+7"), 7);
    EXPECT_EQ(parsePartCount("-5"), -5);
    EXPECT_EQ(parsePartCount("0051"), 51);
    for (const char* text : {"", "2.5", "x", "3 ", "99999999999", "+", "+-3"})
        EXPECT_FALSE(parsePartCount(text).has_value()) << '"' << text << '"';
}

TEST(PrefixWithDot, AppendsOneDotUnlessThereIsOne) {
    EXPECT_EQ(prefixWithDot(""), "");
    EXPECT_EQ(prefixWithDot("/out/movie"), "/out/movie.");
    EXPECT_EQ(prefixWithDot("/out/movie."), "/out/movie.");
    EXPECT_EQ(prefixWithDot("/out/movie.avi"), "/out/movie.avi.");
    EXPECT_EQ(prefixWithDot(" "), " ."); // blanks are a prefix like any other text
}

TEST(ProgressText, BytesAndRate) {
    EXPECT_EQ(bytesInUnits(0), "0 B");
    EXPECT_EQ(bytesInUnits(1023), "1023 B");
    EXPECT_EQ(bytesInUnits(1024), "1.0 KiB");
    EXPECT_EQ(bytesInUnits(1536), "1.5 KiB");
    EXPECT_EQ(bytesInUnits(1048575), "1024.0 KiB");
    EXPECT_EQ(bytesInUnits(1048576), "1.0 MiB");
    EXPECT_EQ(bytesInUnits(3ull << 30), "3.00 GiB");

    Progress progress;
    progress.bytesDone = 1572864;
    progress.bytesTotal = 734003200;
    EXPECT_EQ(formatProgressLine(progress, 0), "1.5 MiB / 700.0 MiB");
    EXPECT_EQ(formatProgressLine(progress, 0.5), "1.5 MiB / 700.0 MiB  3.0 MiB/s");
}

TEST(TerminalProgress, StopsOnceAStopIsRequested) {
    volatile std::sig_atomic_t stop = 0;
    TerminalProgress progress(false, &stop);
    Progress step;
    EXPECT_TRUE(progress.onProgress(step));
    stop = 1;
    EXPECT_FALSE(progress.onProgress(step));
}

// Without a terminal nothing is read from standard input, so the policy can be tested here.
struct BoxRow {
    AnswerPolicy policy;
    Message question;
    MsgAnswer answer;
    const char* said;
};

TEST(TerminalMessageBox, AnswersWithoutATerminal) {
    const AnswerPolicy none{};
    const AnswerPolicy yes{true, false, false};
    const AnswerPolicy yesDelete{true, true, false};
    const AnswerPolicy deleteOnly{false, true, false};
    const BoxRow rows[] = {
        {none, messages::kConfirmSplit, MsgAnswer::No,
         "tolvar-split: not confirmed: standard input is not a terminal; use --yes\n"},
        {none, messages::kConfirmAssemble, MsgAnswer::No,
         "tolvar-split: not confirmed: standard input is not a terminal; use --yes\n"},
        {yes, messages::kConfirmSplit, MsgAnswer::Yes, ""},
        {yes, messages::kDeleteSource, MsgAnswer::No, ""},
        {yes, messages::kDeleteParts, MsgAnswer::No, ""},
        {yesDelete, messages::kDeleteSource, MsgAnswer::Yes, ""},
        {yesDelete, messages::kDeleteParts, MsgAnswer::Yes, ""},
        {deleteOnly, messages::kDeleteParts, MsgAnswer::Yes, ""},
        {none, messages::kDeleteSource, MsgAnswer::No, ""},
    };
    for (const BoxRow& row : rows) {
        TerminalMessageBox box(row.policy, nullptr);
        ::testing::internal::CaptureStderr();
        const MsgAnswer answer = box.present({row.question.text(), MsgStyle::Question,
                                              "Tolvar Files Splitter", row.question.question()});
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(answer, row.answer) << row.question.text();
        EXPECT_EQ(said, row.said) << row.question.text();
    }
}

TEST(TerminalMessageBox, MessagesAndFailureReports) {
    TerminalMessageBox box(AnswerPolicy{}, nullptr);
    ::testing::internal::CaptureStderr();
    box.refuse(messages::kAlreadySplit);
    showFailureReport(box, makeFailure(FailureKind::NoSpace, "cannot write '/tmp/a.001'"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "tolvar-split: This file is already splited.\n"
              "Tolvar Files Splitter - 61: Disk full: cannot write '/tmp/a.001'\n");
}

} // namespace
} // namespace tolvar::cli
