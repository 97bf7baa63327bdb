#include "split_options.h"

#include "part_header.h"
#include "path_parts.h"
#include "path_text.h"
#include "qt_text.h"
#include "recovery.h"
#include "room_needs.h"
#include "transfer_rate.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QSpinBox>
#include <algorithm>
#include <filesystem>
#include <system_error>

namespace tolvar {

QString recoveryCostText(int count, std::optional<std::uint64_t> eachFile) {
    if (count <= 0)
        return T_("No recovery files: a lost or damaged broken file\n"
                  "cannot be rebuilt.");
    const QString n = QString::number(count);
    const QString files = count == 1 ? T_("file") : T_("files");
    const QString price = eachFile ? T_("%1 x %2 more.").arg(n, formatByteCount(*eachFile))
                                   : T_("each as large as a broken file.");
    return T_("%1 recovery %2: any %1 lost or damaged broken\n%2 can be rebuilt; %3")
        .arg(n, files, price);
}

QStringList widestRecoveryCostTexts() {
    // The widest digits and unit the line can show.
    return {recoveryCostText(0, {}), recoveryCostText(kMaxRecoveryParts, {}),
            recoveryCostText(kMaxRecoveryParts, std::uint64_t{1023} * 1024 * 1024)};
}

SplitPanel::SplitPanel(const char* name, PanelHost& panelHost, QWidget* parent)
    : WorkingPanel(name, panelHost, parent) {}

void SplitPanel::addSplitOptions(int top, const char* check, const char* label, const char* number,
                                 const char* script, const char* costName) {
    checksums = new QCheckBox(T_("Write a &checksum file"), this);
    checksums->setObjectName(QString::fromLatin1(check));
    checksums->setChecked(true);
    place(checksums, {240, top, 2535, 315});
    recoveryLabel = addLabel(label, T_("&Recovery files:"), {2880, top, 1095, 315},
                             Qt::AlignRight | Qt::AlignVCenter);
    recovery = new QSpinBox(this);
    recovery->setObjectName(QString::fromLatin1(number));
    recovery->setRange(0, kMaxRecoveryParts);
    recovery->setValue(0);
    labelFor(recoveryLabel, recovery);
    place(recovery, {4080, top, 855, 315});
    joinScript = new QCheckBox(T_("Add a &join script for recipients without this program"), this);
    joinScript->setObjectName(QString::fromLatin1(script));
    place(joinScript, {240, top + 360, 5055, 315});
    cost = addLabel(costName, recoveryCostText(0, {}), {240, top + 720, 5055, 510});
    measureWith(cost, widestRecoveryCostTexts());

    connect(checksums, &QCheckBox::clicked, this, [this](bool write) {
        chosenChecksums = write;
        emit checksumsChosen(write);
    });
    connect(joinScript, &QCheckBox::clicked, this, [this](bool write) {
        showChecksumChoice();
        emit joinScriptChosen(write);
    });
    connect(recovery, &QSpinBox::valueChanged, this, [this] {
        showChecksumChoice();
        updateCost();
    });
}

void SplitPanel::setWriteChecksums(bool write) {
    chosenChecksums = write;
    showChecksumChoice();
}

bool SplitPanel::writeJoinScript() const {
    return joinScript->isChecked();
}

void SplitPanel::setWriteJoinScript(bool write) {
    joinScript->setChecked(write);
    showChecksumChoice();
}

void SplitPanel::showChecksumChoice() {
    const bool needed = recovery->value() > 0 || joinScript->isChecked();
    checksums->setEnabled(!needed);
    checksums->setChecked(needed || chosenChecksums);
}

SplitOptions SplitPanel::chosenOptions() const {
    return {recovery->value(), checksums->isChecked(), joinScript->isChecked()};
}

void SplitPanel::updateCost() {
    const int count = recovery->value();
    cost->setText(recoveryCostText(count, count > 0 ? recoveryFileSizeNow() : std::nullopt));
}

std::optional<std::uint64_t> SplitPanel::sourceLength(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
    std::error_code error;
    const std::filesystem::path file(pathToBytes(path).toStdString());
    if (!std::filesystem::is_regular_file(file, error))
        return std::nullopt;
    const auto length = std::filesystem::file_size(file, error);
    if (error)
        return std::nullopt;
    return length;
}

std::optional<std::uint64_t> SplitPanel::recoveryFileSize(const SplitPlan& plan) const {
    if (plan.verdict != SplitPlan::Verdict::Ready)
        return std::nullopt;
    RecoveryLayout layout;
    layout.dataCount = static_cast<int>(plan.partCount);
    layout.recoveryCount = recovery->value();
    layout.partSize = plan.partSize;
    layout.totalLength = plan.length;
    return static_cast<std::uint64_t>(layout.recoveryFileSize());
}

} // namespace tolvar

namespace tolvar {

QString SplitPanel::destinationFolderOf(const QString& source, const QString& prefix) {
    const QString chosen = !prefix.isEmpty() ? prefix : source;
    if (chosen.isEmpty())
        return {};
    return pathFromBytes(QByteArray::fromStdString(folderOf(pathToBytes(chosen).toStdString())));
}

void SplitPanel::showPlan(QLabel* line, const std::optional<SplitPlan>& plan, const QString& source,
                          const QString& prefix, const Destination* destination) const {
    line->clear();
    if (!plan || plan->verdict != SplitPlan::Verdict::Ready)
        return;
    const auto partSize = formatByteCount(static_cast<std::uint64_t>(plan->partSize));
    QString made = T_("%1 broken files of %2").arg(plan->partCount).arg(partSize);
    if (destination != nullptr && destination->counts == LimitCounts::PerDisc) {
        const std::int64_t perDisc = planFor(*destination).partsPerUnit;
        const std::int64_t discs = (plan->partCount + perDisc - 1) / perDisc;
        made = discs == 1
                   ? T_("%1 broken files of %2 on one disc").arg(plan->partCount).arg(partSize)
                   : T_("%1 broken files of %2 on %3 discs")
                         .arg(plan->partCount)
                         .arg(partSize)
                         .arg(discs);
    }
    const QString folder = destinationFolderOf(source, prefix);
    const std::string base =
        partBaseName(pathToBytes(source).toStdString(), pathToBytes(prefix).toStdString())
            .value_or(std::string());
    const RoomCheck room = splitRoomAt(defaultFileSystem(), pathToBytes(folder).toStdString(),
                                       *plan, chosenOptions(), fileNameOf(base).size() + 3);
    if (!room.free) {
        line->setText(made);
        return;
    }
    const QString needed = formatByteCount(room.need);
    const QString free = formatByteCount(*room.free);
    // The folder gives way, in its middle, to keep the line within the panel.
    const QFontMetrics metrics(line->font());
    const int rest =
        metrics.horizontalAdvance(T_("%1 needed, %2 free in %3").arg(needed, free, QString()));
    const QString shown =
        metrics.elidedText(folder, Qt::ElideMiddle, std::max(0, line->width() - rest));
    line->setText(made + QLatin1Char('\n') +
                  T_("%1 needed, %2 free in %3").arg(needed, free, shown));
}

} // namespace tolvar
