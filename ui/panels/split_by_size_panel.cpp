#include "split_by_size_panel.h"

#include "destinations.h"
#include "part_header.h"
#include "path_parts.h"
#include "path_text.h"
#include "qt_text.h"
#include "room_needs.h"
#include "size_text.h"
#include "transfer_rate.h"
#include "translation.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>

namespace tolvar {

SplitBySizePanel::SplitBySizePanel(PanelHost& panelHost, QWidget* parent)
    : SplitPanel("Frame1", panelHost, parent) {
    // Each label sits just above its box, or on the middle line of the box beside it; the
    // groups are evenly spaced.
    Label1 = addLabel("Label1", T_("Choose a &file to split:"), {240, 240, 1575, 255});
    Text1 = addTextBox("Text1", true, {240, 480, 4695, 285});
    Command1 = addButton("Command1", QStringLiteral("..."), {5040, 495, 255, 255});
    Label8 =
        addLabel("Label8", T_("Choose &where to save the broken files:"), {240, 910, 3015, 255});
    Text6 = addTextBox("Text6", true, {240, 1150, 4695, 285});
    Command11 = addButton("Command11", QStringLiteral("..."), {5040, 1165, 255, 255});
    Label2 = addLabel("Label2", T_("Write the si&ze for each broken file:"), {240, 1580, 2535, 285},
                      Qt::AlignLeft | Qt::AlignVCenter);
    Text5 = addTextBox("Text5", false, {2880, 1580, 1095, 285});
    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(false);
    place(Combo1, {4080, 1565, 855, 315});
    // Where the checksum row was; the options and the button move down by its height.
    Label15 = addLabel("Label15", T_("Size f&or:"), {240, 2000, 1095, 315},
                       Qt::AlignLeft | Qt::AlignVCenter);
    Combo2 = new QComboBox(this);
    Combo2->setObjectName(QStringLiteral("Combo2"));
    Combo2->setEditable(false);
    for (const Destination& row : destinations())
        Combo2->addItem(QString::fromUtf8(_(row.label.data())),
                        QString::fromLatin1(row.name.data(), qsizetype(row.name.size())));
    Combo2->addItem(T_("Largest the chosen folder holds"), QStringLiteral("max"));
    Combo2->addItem(T_("Custom"), QStringLiteral("custom"));
    Combo2->setCurrentIndex(Combo2->count() - 1);
    place(Combo2, {1440, 2000, 3495, 315});
    Label16 = addLabel("Label16", QString(), {240, 2400, 5055, 510});
    measureWith(Label16,
                {T_("%1 broken files of %2 on %3 discs").arg(999).arg("1023 MB").arg(999),
                 T_("%1 needed, %2 free in %3").arg("1023 GB", "1023 GB", "/media/stick")});
    addSplitOptions(2000 + kSizeForRowsHeight, "Check1", "Label11", "Spin1", "Check3", "Label12");
    Check1 = checksumBox();
    Label11 = findChild<QLabel*>(QStringLiteral("Label11"));
    Spin1 = recoveryBox();
    Label12 = costLine();
    Command2 = addButton("Command2", T_("&Split File"),
                         {240, 2040 + kOptionRowsHeight + kSizeForRowsHeight, 5055, 375});
    setActionButton(Command2);
    setPathBoxes({Text1, Text6});
    labelFor(Label1, Text1);
    labelFor(Label8, Text6);
    labelFor(Label2, Text5);
    labelFor(Label15, Combo2);
    explain(Command1, T_("Choose the file to split"));
    explain(Command11, T_("Choose where to save the broken files"));
    Combo1->setAccessibleName(T_("Unit of the size"));

    connect(Command1, &QPushButton::clicked, this, &SplitBySizePanel::Command1_Click);
    connect(Command11, &QPushButton::clicked, this, &SplitBySizePanel::Command11_Click);
    connect(Command2, &QPushButton::clicked, this, &SplitBySizePanel::Command2_Click);
    connect(Text1, &QLineEdit::textChanged, this, &SplitBySizePanel::updateCost);
    connect(Text5, &QLineEdit::textChanged, this, &SplitBySizePanel::updateCost);
    connect(Combo1, &QComboBox::currentIndexChanged, this, &SplitBySizePanel::updateCost);

    connect(Combo2, &QComboBox::activated, this, &SplitBySizePanel::Combo2_Click);
    // A size the user types or a unit the user picks is no longer the destination's.
    const auto custom = [this] { Combo2->setCurrentIndex(Combo2->count() - 1); };
    connect(Text5, &QLineEdit::textEdited, this, custom);
    connect(Combo1, &QComboBox::activated, this, custom);
    // The largest part follows the folder it is for.
    const auto folderChanged = [this] {
        if (Combo2->currentData().toString() == QLatin1String("max"))
            Combo2_Click(Combo2->currentIndex());
    };
    connect(Text1, &QLineEdit::textChanged, this, folderChanged);
    connect(Text6, &QLineEdit::textChanged, this, folderChanged);
    for (QLineEdit* box : {Text1, Text5, Text6})
        connect(box, &QLineEdit::textChanged, this, &SplitBySizePanel::updateInfo);
    connect(Combo1, &QComboBox::currentIndexChanged, this, &SplitBySizePanel::updateInfo);
    connect(Combo2, &QComboBox::currentIndexChanged, this, &SplitBySizePanel::updateInfo);
    connect(Spin1, &QSpinBox::valueChanged, this, &SplitBySizePanel::updateInfo);
    connect(Check1, &QCheckBox::toggled, this, &SplitBySizePanel::updateInfo);
    connect(joinScriptBox(), &QCheckBox::toggled, this, &SplitBySizePanel::updateInfo);
}

QString SplitBySizePanel::sizeFor() const {
    return Combo2->currentData().toString();
}

void SplitBySizePanel::setSizeFor(const QString& choice) {
    const int index = Combo2->findData(choice);
    Combo2->setCurrentIndex(index >= 0 ? index : Combo2->count() - 1);
    Combo2_Click(Combo2->currentIndex());
}

QString SplitBySizePanel::destinationFolder() const {
    return destinationFolderOf(Text1->text(), Text6->text());
}

void SplitBySizePanel::Combo2_Click(int index) {
    const QString choice = Combo2->itemData(index).toString();
    std::int32_t kilobytes = 0;
    if (choice == QLatin1String("custom"))
        return;
    if (choice == QLatin1String("max")) {
        const QString folder = destinationFolder();
        kilobytes = folder.isEmpty()
                        ? kLargestPartKilobytes
                        : largestPartAt(defaultFileSystem(), pathToBytes(folder).toStdString());
    } else if (const Destination* row = findDestination(choice.toStdString())) {
        kilobytes = planFor(*row).partKilobytes;
    } else {
        return;
    }
    Combo1->setCurrentIndex(Combo1->findText(QStringLiteral("KB")));
    Text5->setText(QString::number(kilobytes));
}

std::optional<std::int32_t> SplitBySizePanel::kilobytesNow() const {
    const std::optional<double> size = parseSizeText(Text5->text(), QLocale());
    if (!size || sizeIsRefused(*size))
        return std::nullopt;
    const Result<std::int32_t> kilobytes =
        wholeKilobytes(*size, Combo1->currentText() == QLatin1String("MB"));
    if (!kilobytes || kilobytes.value() <= 0)
        return std::nullopt;
    return kilobytes.value();
}

void SplitBySizePanel::updateInfo() {
    const std::optional<std::int32_t> kilobytes = kilobytesNow();
    const std::optional<std::uint64_t> length = sourceLength(Text1->text());
    std::optional<SplitPlan> plan;
    if (kilobytes && length) {
        const Result<SplitPlan> planned =
            planSplit(SplitRule::Kilobytes, *kilobytes, static_cast<std::int64_t>(*length));
        if (planned)
            plan = planned.value();
    }
    showPlan(Label16, plan, Text1->text(), Text6->text(), findDestination(sizeFor().toStdString()));
}

std::optional<std::uint64_t> SplitBySizePanel::recoveryFileSizeNow() const {
    const std::optional<std::int32_t> kilobytes = kilobytesNow();
    if (!kilobytes)
        return std::nullopt;
    const std::optional<std::uint64_t> length = sourceLength(Text1->text());
    if (!length)
        return static_cast<std::uint64_t>(*kilobytes) * 1024;
    const Result<SplitPlan> plan =
        planSplit(SplitRule::Kilobytes, *kilobytes, static_cast<std::int64_t>(*length));
    return plan ? recoveryFileSize(plan.value()) : std::nullopt;
}

void SplitBySizePanel::Command1_Click() {
    Text1->setText(
        chooseFile(QString::fromLatin1(kAllFiles), QString::fromLatin1(kChooseSplitSource)));
}

void SplitBySizePanel::Command11_Click() {
    Text6->setText(choosePrefix(QString::fromLatin1(kChooseSplitTarget)));
}

void SplitBySizePanel::Command2_Click() {
    auto fail = [this](const Failure& failure) {
        reportFailure(failure);
        Text5->clear();
    };

    const QString typed = Text5->text();
    // Refused in the panel, before any question: read the C way, "1.500" would make parts of
    // 2 KB for a user who meant fifteen hundred.
    const QString ambiguous = ambiguousSizeMessage(typed, QLocale());
    if (!ambiguous.isEmpty()) {
        host.messageBox().refuse(ambiguous.toStdString());
        return;
    }
    const std::optional<double> size = parseSizeText(typed, QLocale());
    if (!size) {
        fail(makeFailure(FailureKind::InvalidNumber,
                         typed.trimmed().isEmpty()
                             ? std::string("no size was written")
                             : "\"" + typed.toStdString() + "\" is not a size"));
        return;
    }
    if (sizeIsRefused(*size)) {
        host.messageBox().refuse(kInvalidSize);
        return;
    }

    std::int32_t Filesize = 0;
    const QString unit = Combo1->currentText();
    if (unit == QLatin1String("KB") || unit == QLatin1String("MB")) {
        const Result<std::int32_t> kilobytes = wholeKilobytes(*size, unit == QLatin1String("MB"));
        if (!kilobytes) {
            fail(kilobytes.failure());
            return;
        }
        Filesize = kilobytes.value();
    }

    if (Text1->text().isEmpty())
        return;
    const Result<bool> exists = host.FileExists(Text1->text());
    if (!exists) {
        fail(exists.failure());
        return;
    }
    if (!exists.value())
        return;

    if (host.SplitFile(Text1->text(), Filesize))
        host.messageBox().inform(messages::kSplitDone);
}

} // namespace tolvar
