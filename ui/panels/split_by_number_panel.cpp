#include "split_by_number_panel.h"

#include "size_text.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

namespace tolvar {

SplitByNumberPanel::SplitByNumberPanel(PanelHost& panelHost, QWidget* parent)
    : WorkingPanel("Frame4", panelHost, parent) {
    // The same rhythm as the split-by-size panel.
    Label7 = addLabel("Label7", QStringLiteral("Choose a file to split:"), {240, 240, 1695, 255});
    Text3 = addTextBox("Text3", true, {240, 480, 4695, 285});
    Command8 = addButton("Command8", QStringLiteral("..."), {5040, 495, 255, 255});
    Label9 = addLabel("Label9", QStringLiteral("Choose where to save the broken files:"),
                      {240, 910, 3135, 255});
    Text7 = addTextBox("Text7", true, {240, 1150, 4695, 285});
    Command12 = addButton("Command12", QStringLiteral("..."), {5040, 1165, 255, 255});
    Label6 = addLabel("Label6", QStringLiteral("Choose the number of broken files:"),
                      {240, 1580, 2655, 285}, Qt::AlignLeft | Qt::AlignVCenter);
    Text4 = addTextBox("Text4", true, {3000, 1580, 1935, 285});
    Text4->setText(QStringLiteral("2"));

    VScroll1 = new QScrollBar(Qt::Vertical, this);
    VScroll1->setObjectName(QStringLiteral("VScroll1"));
    VScroll1->setRange(kFewestParts, kMostParts);
    VScroll1->setValue(2);
    VScroll1->setSingleStep(1);
    VScroll1->setPageStep(1);
    VScroll1->setFocusPolicy(Qt::StrongFocus);
    // The number grows upwards, as in a spin box: the top of the bar is 50, dragging the
    // thumb up raises the number, and so do the up arrow and the Up and Page Up keys. A
    // scroll bar's own arrows and keys step towards its top by subtracting, so each step
    // is mirrored before it takes effect.
    VScroll1->setInvertedAppearance(true);
    connect(VScroll1, &QScrollBar::actionTriggered, this, [this](int action) {
        // The value is still the old one here; the position is what the action would make it.
        const int from = VScroll1->value();
        switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
            VScroll1->setSliderPosition(from - VScroll1->singleStep());
            break;
        case QAbstractSlider::SliderSingleStepSub:
            VScroll1->setSliderPosition(from + VScroll1->singleStep());
            break;
        case QAbstractSlider::SliderPageStepAdd:
            VScroll1->setSliderPosition(from - VScroll1->pageStep());
            break;
        case QAbstractSlider::SliderPageStepSub:
            VScroll1->setSliderPosition(from + VScroll1->pageStep());
            break;
        default:
            break;
        }
    });
    place(VScroll1, {5040, 1595, 255, 255});
    Command7 = addButton("Command7", QStringLiteral("Split File"), {240, 2040, 5055, 375});

    connect(Command8, &QPushButton::clicked, this, &SplitByNumberPanel::Command8_Click);
    connect(Command12, &QPushButton::clicked, this, &SplitByNumberPanel::Command12_Click);
    connect(Command7, &QPushButton::clicked, this, &SplitByNumberPanel::Command7_Click);
    // valueChanged fires for every step and, with tracking on, while the thumb is dragged.
    connect(VScroll1, &QScrollBar::valueChanged, this, &SplitByNumberPanel::VScroll1_Change);
}

void SplitByNumberPanel::Command8_Click() {
    Text3->setText(
        chooseFile(QString::fromLatin1(kAllFiles), QString::fromLatin1(kChooseSplitSource)));
}

void SplitByNumberPanel::Command12_Click() {
    Text7->setText(choosePrefix(QString::fromLatin1(kChooseSplitTarget)));
}

void SplitByNumberPanel::VScroll1_Change(int value) {
    Text4->setText(QString::number(value));
}

void SplitByNumberPanel::Command7_Click() {
    if (Text3->text().isEmpty() || Text4->text().isEmpty())
        return;
    const Result<bool> exists = host.FileExists(Text3->text());
    if (!exists) {
        reportFailure(exists.failure());
        return;
    }
    if (!exists.value())
        return;

    const std::optional<double> number = parseCountText(Text4->text());
    if (!number) {
        reportFailure(
            makeFailure(FailureKind::InvalidNumber,
                        "\"" + Text4->text().toStdString() + "\" is not a number of broken files"));
        return;
    }
    if (partCountIsRefused(*number)) {
        host.messageBox().refuse(kChooseNumber);
        return;
    }
    const auto Filenumber = static_cast<std::int32_t>(roundHalfEven(*number));
    if (host.SplitFile2(Text3->text(), Filenumber))
        host.messageBox().inform("Splitting done successfully.");
}

} // namespace tolvar
