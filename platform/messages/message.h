#pragma once

// A message is data until a front end shows it: an id and its arguments. Its English text is
// composed in one place (catalogue.cpp) from the id's text in the user's language, so no code
// builds a sentence of its own and none decides anything by reading one.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvar {

// What a question asks, so that whoever answers in the user's place (the command line's
// policy, the benchmark driver, a test) answers by what is asked, never by the words.
enum class QuestionKind {
    None,                // not a question
    Confirm,             // whether to start a split or an assembly
    DeleteSource,        // whether to delete the file that was split
    DeleteParts,         // whether to delete the broken files that were assembled
    Replace,             // whether a rebuilt file may take the name of an existing file
    Rebuild,             // whether to rebuild lost broken files from the recovery files
    DamagedChecksumFile, // whether to assemble without checking against a damaged checksum file
    // In-place joins.
    InPlaceJoin,      // whether to assemble by deleting each broken file as it goes in
    InPlaceUnchecked, // whether to do so although no checksum file vouches for the contents
    // In-place split:
    SplitInPlace, // whether to split a file that has no room beside it by shortening it
};

// One id per message; catalogue.cpp holds each one's English text and question kind.
enum class MessageId {
    ConfirmSplit,
    ConfirmAssemble,
    TooSmall,
    AlreadySplit,
    DeleteSource,
    DeleteSourceQuestion,
    DeleteParts,
    DeletePartsQuestion,
    DeletePartsQuestionWithChecksums,
    DeletePartsQuestionWithRecovery,
    DeletePartsQuestionWithBoth,
    ReplaceQuestion,
    RebuildQuestion,
    AssembleUncheckedQuestion,
    SplitDone,
    AssembleDone,
    AssembledUnchecked,
    NotSplitFile,
    NotSplitFileNamed,
    NotBrokenFile,
    NotBrokenFileNamed,
    NotAPartOfAnySet,
    BeyondRepair,
    PartsComplete,
    AssembledAs,
    NotDeletedOne,
    NotDeletedMany,
    ChangedSinceReadOne,
    ChangedSinceReadMany,
    PartIsSource,
    OutputIsPart,
    UnsafeNameTail,
    ChecksumNameTaken,
    ChecksumFileCannotBeUsed,
    ChecksumFileUnusable,
    ChecksumFileUnusableForCheck,
    ChecksumFileUnusableForRepair,
    Rebuilt,
    NothingNeededRebuilding,
    NothingRebuilt,
    ChecksumFileDamaged,
    AssembleWithoutChecksumFile,
    PartsDoNotMatch,
    AssembledDiffers,
    TooManyParts,
    UnusablePartName,
    ShortName,
    OutputIsFolder,
    SourceChanged,
    NotAssembled,
    NotConfirmed,
    NotConfirmedNoTerminal,
    ListOfTwo,
    ListRange,
    // Room checked before the first byte: what a split or join needs against what the folder
    // has.
    RoomForParts,
    RoomForFile,
    RoomOnlyOnceReplacedGo,
    // In-place joins.
    InPlaceJoinQuestion,
    InPlaceUncheckedQuestion,
    InPlaceNotConfirmedUnchecked,
    InPlaceJoinUnfinished,
    InPlaceOutputElsewhere,
    InPlaceCannotPickUp,
    InPlaceDiffers,
    InPlaceRoomNeeded,
    InPlaceUnsafeDriver,
    // In-place split:
    InPlaceSplitQuestion,
    InPlaceSplitUnfinished,
    InPlaceSplitRunning,
    InPlaceSplitOtherSettings,
    InPlaceSplitOtherFolder,
    InPlaceSplitNameTaken,
    InPlaceSplitSourceChanged,
    InPlaceSplitFileMissing,
    InPlaceSplitSuggested,
    InPlaceSplitLinked,
};

class Message {
public:
    // The id's text with {1}, {2}... replaced by args in order. Arguments are put in as they
    // are: names pass through quotedName or escapedForDisplay first.
    constexpr Message(MessageId id, std::vector<std::string> args = {})
        : messageId(id), arguments(std::move(args)) {}

    MessageId id() const { return messageId; }
    const std::vector<std::string>& args() const { return arguments; }
    // What the message asks; QuestionKind::None for anything that is not a question.
    QuestionKind question() const;
    // The composed text in the user's language (English unless a translation is loaded).
    std::string text() const;
    // Messages reach a box, a terminal or a test as text.
    operator std::string() const { return text(); }

private:
    MessageId messageId;
    std::vector<std::string> arguments;
};

// A message's text run on with more text, as the front ends add how to go on.
std::string operator+(const Message& message, std::string_view more);
std::string operator+(std::string_view before, const Message& message);
std::string operator+(const Message& message, const Message& more);
bool operator==(const Message& message, std::string_view text);

// A name shown to the user: escaped and in quotes, "'/a/movie.001'".
std::string quotedName(std::string_view name);
// "a", "a and b", "a, b and c": items joined as a sentence lists them.
std::string listed(const std::vector<std::string>& items);

} // namespace tolvar
