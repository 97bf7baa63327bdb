#include "split_by_size_panel.h"

#include "qt_text.h"
#include "size_text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>

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
    addSplitOptions(2000, "Check1", "Label11", "Spin1", "Check3", "Label12");
    Check1 = checksumBox();
    Label11 = findChild<QLabel*>(QStringLiteral("Label11"));
    Spin1 = recoveryBox();
    Label12 = costLine();
    Command2 = addButton("Command2", T_("&Split File"), {240, 2040 + kOptionRowsHeight, 5055, 375});
    setActionButton(Command2);
    setPathBoxes({Text1, Text6});
    labelFor(Label1, Text1);
    labelFor(Label8, Text6);
    labelFor(Label2, Text5);
    explain(Command1, T_("Choose the file to split"));
    explain(Command11, T_("Choose where to save the broken files"));
    Combo1->setAccessibleName(T_("Unit of the size"));

    connect(Command1, &QPushButton::clicked, this, &SplitBySizePanel::Command1_Click);
    connect(Command11, &QPushButton::clicked, this, &SplitBySizePanel::Command11_Click);
    connect(Command2, &QPushButton::clicked, this, &SplitBySizePanel::Command2_Click);
    connect(Text1, &QLineEdit::textChanged, this, &SplitBySizePanel::updateCost);
    connect(Text5, &QLineEdit::textChanged, this, &SplitBySizePanel::updateCost);
    connect(Combo1, &QComboBox::currentIndexChanged, this, &SplitBySizePanel::updateCost);
}

std::optional<std::uint64_t> SplitBySizePanel::recoveryFileSizeNow() const {
    const std::optional<double> size = parseSizeText(Text5->text(), QLocale());
    if (!size || sizeIsRefused(*size))
        return std::nullopt;
    const Result<std::int32_t> kilobytes =
        wholeKilobytes(*size, Combo1->currentText() == QLatin1String("MB"));
    if (!kilobytes || kilobytes.value() <= 0)
        return std::nullopt;
    const std::optional<std::uint64_t> length = sourceLength(Text1->text());
    if (!length)
        return static_cast<std::uint64_t>(kilobytes.value()) * 1024;
    const Result<SplitPlan> plan =
        planSplit(SplitRule::Kilobytes, kilobytes.value(), static_cast<std::int64_t>(*length));
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
