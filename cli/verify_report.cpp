#include "verify_report.h"

#include "operations.h"
#include "set_report.h"

namespace tolvar::cli {

bool VerifyReport::whole() const {
    if (checksumFileDamaged)
        return false;
    for (const PartVerdict& verdict : verdicts)
        if (verdict.condition != PartCondition::Good)
            return false;
    return true;
}

Result<std::optional<VerifyReport>> verifyWithChecksums(const std::string& partPath,
                                                        const std::optional<PartSet>& set,
                                                        FileSystem& fs, MessageBox& box,
                                                        ProgressObserver* progress) {
    const auto baseName = partBaseName(partPath, {});
    if (!baseName)
        return std::optional<VerifyReport>{};
    const std::string& base = *baseName;
    // A chosen part without its header is still found in the checksum file by its name.
    auto lookup =
        set ? lookUpChecksumFile(fs, base, set->chosen.header) : lookUpChecksumFile(fs, base);
    if (!lookup)
        return lookup.failure();
    if (const auto& problem = lookup.value().problem) {
        if (problem->kind == ChecksumFileProblem::Kind::Damaged) {
            box.refuse(messages::checksumFileDamagedMessage(lookup.value().path, problem->reason) +
                       " The set is listed without it.");
            VerifyReport report;
            report.checksumPath = lookup.value().path;
            report.checksumFileDamaged = true;
            return std::optional<VerifyReport>(std::move(report));
        }
        box.inform(messages::checksumFileUnusableMessage(lookup.value().path, problem->reason));
        return std::optional<VerifyReport>{};
    }
    if (!lookup.value().file)
        return std::optional<VerifyReport>{};
    const ChecksumFile& file = *lookup.value().file;
    PartHeader header;
    header.PartCount = static_cast<std::int16_t>(file.parts.size());
    header.NameTail = std::string(nameTailOf(file.sourcePath));
    VerifyReport report;
    report.checksumPath = lookup.value().path;
    auto verified = verifyParts(fs, base, file, header, progress, report.verdicts);
    if (!verified)
        return verified.failure();
    if (!verified.value())
        return makeFailure(FailureKind::IoError, "verifying was interrupted");
    return std::optional<VerifyReport>(std::move(report));
}

std::string formatVerifyReport(const VerifyReport& report) {
    std::string text = "Checksum file: " + escapedForDisplay(report.checksumPath) + "\n";
    int good = 0;
    int damaged = 0;
    int missing = 0;
    int foreign = 0;
    for (const PartVerdict& verdict : report.verdicts) {
        switch (verdict.condition) {
        case PartCondition::Good:
            ++good;
            break;
        case PartCondition::Damaged:
            ++damaged;
            break;
        case PartCondition::Missing:
            ++missing;
            break;
        case PartCondition::Foreign:
            ++foreign;
            break;
        }
        const std::string slot = verdict.recovery ? "r" + formatIndex(verdict.index).substr(1)
                                                  : formatIndex(verdict.index);
        text += formatPartLine(slot, describeVerdict(verdict), verdict.path);
    }
    const std::string counted =
        std::to_string(good) + " of " + std::to_string(report.verdicts.size()) + " files good";
    if (report.whole())
        return text + "Whole: " + counted + ".\n";
    text += "Not whole: " + counted;
    if (damaged > 0)
        text += ", " + std::to_string(damaged) + " damaged";
    if (missing > 0)
        text += ", " + std::to_string(missing) + " missing";
    if (foreign > 0)
        text += ", " + std::to_string(foreign) + " foreign";
    return text + ".\n";
}

} // namespace tolvar::cli
