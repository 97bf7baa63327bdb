#include "display_text.h"
#include "message.h"
#include "translation.h"

#include <cstddef>
#include <utility>

namespace tolvar {

namespace {

struct Entry {
    const char* english; // the text with {1}, {2}... where the arguments go
    QuestionKind question = QuestionKind::None;
};

// Every message's English text. Each is looked up in the user's language as a whole, so a
// translation may put the arguments in another order.
Entry entryFor(MessageId id) {
    using Q = QuestionKind;
    switch (id) {
    case MessageId::ConfirmSplit:
        return {N_("Are you sure you want to split this file?"), Q::Confirm};
    case MessageId::ConfirmAssemble:
        return {N_("Are you sure you want to assemble these files?"), Q::Confirm};
    case MessageId::TooSmall:
        return {N_("This file size is smaller than the selected split size.")};
    case MessageId::AlreadySplit:
        return {N_("This file is already splited.")};
    case MessageId::DeleteSource:
        return {N_("Would you like to delete the original file?"), Q::DeleteSource};
    case MessageId::DeleteSourceQuestion:
        return {N_("Would you like to delete the original file?\n'{1}'"), Q::DeleteSource};
    case MessageId::DeleteParts:
        return {N_("Do you want to delete the broken files?"), Q::DeleteParts};
    case MessageId::DeletePartsQuestion:
        return {N_("Do you want to delete the broken files?\nThe {1} broken files of '{2}'."),
                Q::DeleteParts};
    case MessageId::DeletePartsQuestionWithChecksums:
        return {N_("Do you want to delete the broken files?\nThe {1} broken files of '{2}', with "
                   "its checksum file."),
                Q::DeleteParts};
    case MessageId::DeletePartsQuestionWithRecovery:
        return {N_("Do you want to delete the broken files?\nThe {1} broken files of '{2}', with "
                   "its recovery files."),
                Q::DeleteParts};
    case MessageId::DeletePartsQuestionWithBoth:
        return {N_("Do you want to delete the broken files?\nThe {1} broken files of '{2}', with "
                   "its checksum and recovery files."),
                Q::DeleteParts};
    case MessageId::ReplaceQuestion:
        return {N_("'{1}' already exists. Replace it?"), Q::Replace};
    case MessageId::RebuildQuestion:
        return {N_("{1}\nRebuild {2} from the recovery files and assemble?"), Q::Rebuild};
    case MessageId::AssembleUncheckedQuestion:
        return {N_("{1}\nAssemble them without checking their contents?"), Q::DamagedChecksumFile};
    case MessageId::SplitDone:
        return {N_("Splitting done successfully.")};
    case MessageId::AssembleDone:
        return {N_("File assembled successfully.")};
    case MessageId::AssembledUnchecked:
        return {N_("File assembled successfully.\nIts contents could not be checked: the broken "
                   "files have no usable checksum file.")};
    case MessageId::NotSplitFile:
        return {N_("This is not a split file.")};
    case MessageId::NotSplitFileNamed:
        return {N_("This is not a split file.\n'{1}'")};
    case MessageId::NotBrokenFile:
        return {N_("This is not a broken file.")};
    case MessageId::NotBrokenFileNamed:
        return {N_("This is not a broken file.\n'{1}'")};
    case MessageId::NotAPartOfAnySet:
        return {N_("'{1}' is not a broken file or a recovery file of a set.")};
    case MessageId::BeyondRepair:
        return {N_("Nothing was assembled: these files of the set are damaged or missing, and its "
                   "recovery files cannot rebuild them all:\n{1}")};
    case MessageId::PartsComplete:
        return {N_("The broken files are complete")};
    case MessageId::AssembledAs:
        return {N_("The file was assembled as '{1}'")};
    case MessageId::NotDeletedOne:
        return {N_("{1}, but {2} could not be deleted and is still there.")};
    case MessageId::NotDeletedMany:
        return {N_("{1}, but these files could not be deleted and are still there: {2}.")};
    case MessageId::ChangedSinceReadOne:
        return {N_("This file was not deleted: it is no longer the file that was read (another "
                   "program changed or replaced it):")};
    case MessageId::ChangedSinceReadMany:
        return {N_("These files were not deleted: they are no longer the files that were read "
                   "(another program changed or replaced them):")};
    case MessageId::PartIsSource:
        return {N_("A broken file would replace the file you are splitting. Choose another place "
                   "to save the broken files.")};
    case MessageId::OutputIsPart:
        return {N_("The assembled file would replace one of its own broken files. Choose another "
                   "place to save the assembled file.")};
    case MessageId::UnsafeNameTail:
        return {N_("The broken files carry a name that cannot be used for the assembled file.")};
    case MessageId::ChecksumNameTaken:
        return {N_("A file named '{1}' is already there and was not written by {2}. Move it "
                   "away, or split without checksums.")};
    case MessageId::ChecksumFileCannotBeUsed:
        return {N_("The checksum file '{1}' cannot be used: {2}")};
    case MessageId::ChecksumFileUnusable:
        return {N_("{1}. The broken files are checked without it.")};
    case MessageId::ChecksumFileUnusableForCheck:
        return {N_("{1}, so the contents of the broken files cannot be checked. ")};
    case MessageId::ChecksumFileUnusableForRepair:
        return {N_("{1}.")};
    case MessageId::Rebuilt:
        return {N_("Rebuilt {1} from the recovery files.")};
    case MessageId::NothingNeededRebuilding:
        return {N_("Every file of the set is good: nothing needed rebuilding.")};
    case MessageId::NothingRebuilt:
        return {N_("Nothing was rebuilt: more files of the set are damaged or missing than its "
                   "recovery files can rebuild.")};
    case MessageId::ChecksumFileDamaged:
        return {N_("The checksum file '{1}' is damaged: {2}, so the broken files cannot be "
                   "checked against it.")};
    case MessageId::AssembleWithoutChecksumFile:
        return {N_("Nothing was assembled. Move the checksum file away to assemble the broken "
                   "files with their usual checks only.")};
    case MessageId::PartsDoNotMatch:
        return {N_("Nothing was assembled: these broken files do not match the checksum "
                   "file:{1}")};
    case MessageId::AssembledDiffers:
        return {N_("The assembled file does not match the checksum of the original file, so it "
                   "was not kept. A broken file may have changed while it was being read.")};
    case MessageId::TooManyParts:
        return {N_("This split would need {1} broken files, but a set can hold at most {2}. "
                   "Choose a larger size or fewer broken files.")};
    case MessageId::UnusablePartName:
        return {N_("'{1}' cannot be split under this name: the broken files would be hidden "
                   "('{2}'). Rename the file, or choose where to save the broken files.")};
    case MessageId::ShortName:
        return {N_("'{1}' cannot be split: its name has fewer than three characters, and the "
                   "broken files keep the last three to restore it. Rename the file first.")};
    case MessageId::OutputIsFolder:
        return {N_("'{1}' is a folder: the rebuilt file cannot take its name. Move the folder "
                   "away, or choose another name for the rebuilt file.")};
    case MessageId::SourceChanged:
        return {N_("The broken files are complete, but '{1}' was not deleted: it is no longer "
                   "the file that was split (it was changed, replaced or moved while it was "
                   "being split), so the broken files may not hold it.")};
    case MessageId::NotAssembled:
        return {N_("Not assembled: {1}")};
    case MessageId::NotConfirmed:
        return {N_("not confirmed")};
    case MessageId::NotConfirmedNoTerminal:
        return {N_("not confirmed: standard input is not a terminal; use --yes")};
    case MessageId::ListOfTwo:
        return {N_("{1} and {2}")};
    case MessageId::ListRange:
        return {N_("{1} to {2}")};
    case MessageId::RoomForParts:
        return {N_("The broken files need {1} in {2}; it has {3} free.")};
    case MessageId::RoomForFile:
        return {N_("The rebuilt file needs {1} in {2}; it has {3} free.")};
    case MessageId::RoomOnlyOnceReplacedGo:
        return {N_("The older files at these names take {1} more, but they go only once the new "
                   "ones are complete: move them away first, or choose another folder.")};
    // In-place joins.
    case MessageId::InPlaceJoinQuestion:
        return {N_("There is room to assemble '{1}' only by deleting each broken file as soon "
                   "as its bytes are safely in the rebuilt file. A broken file once deleted "
                   "cannot be brought back, even if you cancel. Assemble that way?"),
                Q::InPlaceJoin};
    case MessageId::InPlaceUncheckedQuestion:
        return {N_("The broken files of '{1}' have no checksum file, so their contents cannot "
                   "be checked before they are deleted: a damaged broken file would be found "
                   "only after the files before it are gone. Assemble in place anyway?"),
                Q::InPlaceUnchecked};
    case MessageId::InPlaceNotConfirmedUnchecked:
        return {N_("not confirmed: the contents cannot be checked; to join in place without "
                   "checking them, give --no-checksums")};
    case MessageId::InPlaceJoinUnfinished:
        return {N_("An in-place join into {1} is unfinished; nothing of it is lost. To finish "
                   "it, join {2} in place again (tolvar-split join --in-place, or Assemble in "
                   "the window).")};
    case MessageId::InPlaceOutputElsewhere:
        return {N_("An in-place join puts the rebuilt file beside its broken files, but '{1}' "
                   "is in another folder.")};
    case MessageId::InPlaceCannotPickUp:
        return {N_("The in-place join into {1} cannot be picked up: {2} is no longer the file "
                   "it was. Nothing was changed; the join's files stay as they are.")};
    case MessageId::InPlaceDiffers:
        return {N_("The file rebuilt in place differs from its checksum file, so it was not "
                   "given the name {1}: it is kept as {2}, with the checksum file.")};
    case MessageId::InPlaceRoomNeeded:
        return {N_("There is no room for '{1}' beside its broken files: it needs {2}, and {3} "
                   "are free. Joined in place, it needs room only for its largest broken file "
                   "and the checksum file: {4}. To join it that way, give --in-place.")};
    case MessageId::InPlaceUnsafeDriver:
        return {N_("{1} is on FAT mounted with fusefat, which spoils the bytes already in a file "
                   "when more are added after it was closed, so an interrupted in-place join "
                   "could not be picked up safely there. Mount it with the kernel's vfat driver, "
                   "or assemble without joining in place. Nothing was changed.")};
    // In-place split:
    case MessageId::InPlaceSplitQuestion:
        return {N_("There is room to split '{1}' only by shortening it as each broken file is "
                   "written, so the original file is gone when the split ends. Split it that "
                   "way?"),
                Q::SplitInPlace};
    case MessageId::InPlaceSplitUnfinished:
        return {N_("An in-place split of '{1}' is unfinished: its bytes are in that file and in "
                   "hidden broken files beside it, which nothing removes. To finish it, run the "
                   "same split again: {2}")};
    case MessageId::InPlaceSplitRunning:
        return {N_("'{1}' is being split in place by another run right now.")};
    case MessageId::InPlaceSplitOtherSettings:
        return {N_("'{1}' is partly split in place with other settings. Finish that split "
                   "first: {2}")};
    case MessageId::InPlaceSplitOtherFolder:
        return {N_("A file split in place keeps its broken files in its own folder, and '{1}' "
                   "is elsewhere. Choose no destination, or one in the file's own folder.")};
    case MessageId::InPlaceSplitNameTaken:
        return {N_("'{1}' is already there. A split in place puts its files only onto free "
                   "names: move the earlier files away first.")};
    case MessageId::InPlaceSplitSourceChanged:
        return {N_("'{1}' is no longer as the split in place left it, so it was not cut "
                   "further. Nothing is lost: its bytes are in it and in the broken files "
                   "already written.")};
    case MessageId::InPlaceSplitFileMissing:
        return {N_("A broken file the split in place had written ('{1}') is no longer where it "
                   "was left, so the split cannot go on. Put it back and run the same split "
                   "again.")};
    case MessageId::InPlaceSplitSuggested:
        return {N_("There is no room to split '{1}' beside it: the broken files need {2}, and {3} "
                   "are free. Shortened as each broken file is written, it needs room only for "
                   "its largest broken file plus the recovery and checksum files: {4}. Add "
                   "--in-place to split it that way; the original file is gone when the split "
                   "ends.")};
    case MessageId::InPlaceSplitLinked:
        return {N_("'{1}' has other names (hard links): split in place, it would be emptied "
                   "under them too. Split it without shortening it, or remove the other "
                   "names first.")};
    }
    return {""};
}

// text with each {n} (n from 1 to 9) replaced by args[n - 1]; other braces stay as they are.
std::string filledIn(std::string_view text, const std::vector<std::string>& args) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{' && i + 2 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9' &&
            text[i + 2] == '}') {
            const auto at = static_cast<std::size_t>(text[i + 1] - '1');
            if (at < args.size()) {
                result += args[at];
                i += 2;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

} // namespace

QuestionKind Message::question() const {
    return entryFor(messageId).question;
}

std::string Message::text() const {
    return filledIn(_(entryFor(messageId).english), arguments);
}

std::string operator+(const Message& message, std::string_view more) {
    std::string text = message.text();
    text += more;
    return text;
}

std::string operator+(std::string_view before, const Message& message) {
    std::string text(before);
    text += message.text();
    return text;
}

std::string operator+(const Message& message, const Message& more) {
    return message.text() + more.text();
}

bool operator==(const Message& message, std::string_view text) {
    return message.text() == text;
}

std::string quotedName(std::string_view name) {
    return "'" + escapedForDisplay(name) + "'";
}

std::string listed(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i + 1 == items.size() && i > 0)
            return Message(MessageId::ListOfTwo, {text, items[i]}).text();
        if (i > 0)
            text += ", ";
        text += items[i];
    }
    return text;
}

} // namespace tolvar
