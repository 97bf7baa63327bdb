#include "split_by_number_panel.h"

#include "qt_text.h"
#include "size_text.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>

namespace tolvar {

namespace {

// The number's scroll bar, drawn as what it is used as: two arrow buttons in one frame, the
// upper raising the number and the lower lowering it, with arrows as large as the font's
// letters. The wheel moves the number the way the arrows do. Keys and the value are the
// scroll bar's own.
class NumberScrollBar : public QScrollBar {
public:
    explicit NumberScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {
        repeat.setInterval(60);
        connect(&repeat, &QTimer::timeout, this, [this] {
            repeat.setInterval(60);
            step(held);
        });
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QPalette& colours = palette();
        const QRect whole = rect().adjusted(0, 0, -1, -1);
        const int middle = height() / 2;
        auto half = [&](bool upper) {
            return upper ? QRect(1, 1, width() - 2, middle - 1)
                         : QRect(1, middle + 1, width() - 2, height() - middle - 2);
        };
        for (const bool upper : {true, false}) {
            const bool pressed = held == (upper ? 1 : -1);
            painter.fillRect(half(upper), pressed ? colours.dark() : colours.button());
        }
        painter.setPen(colours.color(QPalette::Dark));
        painter.drawRect(whole);
        painter.drawLine(1, middle, width() - 2, middle);
        if (hasFocus()) {
            painter.setPen(colours.color(QPalette::Highlight));
            painter.drawRect(whole.adjusted(1, 1, -1, -1));
        }

        // An arrow about as wide as a capital letter is tall, never wider than its button.
        const int room = std::min(width() - 6, middle - 4);
        const int wide = std::max(5, std::min(room, fontMetrics().capHeight() * 5 / 4));
        const int tall = (wide + 1) / 2;
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        const bool enabled = isEnabled();
        for (const bool upper : {true, false}) {
            const bool canMove = upper ? value() < maximum() : value() > minimum();
            painter.setBrush(enabled && canMove
                                 ? colours.buttonText()
                                 : colours.brush(QPalette::Disabled, QPalette::ButtonText));
            const QPointF c = QRectF(half(upper)).center();
            const double dx = wide / 2.0;
            const double dy = (upper ? -tall : tall) / 2.0;
            const QPointF arrow[] = {
                {c.x() - dx, c.y() - dy}, {c.x() + dx, c.y() - dy}, {c.x(), c.y() + dy}};
            painter.drawPolygon(arrow, 3);
        }
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) {
            event->ignore();
            return;
        }
        setFocus(Qt::MouseFocusReason);
        held = event->position().y() < height() / 2.0 ? 1 : -1;
        step(held);
        repeat.start(400);
        update();
    }
    void mouseReleaseEvent(QMouseEvent*) override {
        repeat.stop();
        held = 0;
        update();
    }
    void mouseMoveEvent(QMouseEvent*) override {}

    void wheelEvent(QWheelEvent* event) override {
        // Up (away from the user) raises the number, in steps of one notch.
        wheelTurn +=
            event->angleDelta().y() != 0 ? event->angleDelta().y() : event->angleDelta().x();
        const int notches = wheelTurn / QWheelEvent::DefaultDeltasPerStep;
        wheelTurn -= notches * QWheelEvent::DefaultDeltasPerStep;
        step(notches);
        event->accept();
    }

private:
    void step(int by) {
        if (by != 0)
            setValue(value() + by * singleStep());
        update();
    }

    QTimer repeat;
    int held = 0;
    int wheelTurn = 0;
};

} // namespace

SplitByNumberPanel::SplitByNumberPanel(PanelHost& panelHost, QWidget* parent)
    : SplitPanel("Frame4", panelHost, parent) {
    // The same rhythm as the split-by-size panel; where that panel chooses where the parts go,
    // this one says what the split makes and needs.
    Label7 = addLabel("Label7", T_("Choose a &file to split:"), {240, 240, 1695, 255});
    Text3 = addTextBox("Text3", true, {240, 480, 4695, 285});
    Command8 = addButton("Command8", QStringLiteral("..."), {5040, 495, 255, 255});
    Label9 =
        addLabel("Label9", T_("Choose &where to save the broken files:"), {240, 910, 3135, 255});
    Text7 = addTextBox("Text7", true, {240, 1150, 4695, 285});
    Command12 = addButton("Command12", QStringLiteral("..."), {5040, 1165, 255, 255});
    Label6 = addLabel("Label6", T_("Choose the &number of broken files:"), {240, 1580, 2655, 285},
                      Qt::AlignLeft | Qt::AlignVCenter);
    Text4 = addTextBox("Text4", true, {3000, 1580, 1935, 285});
    Text4->setText(QStringLiteral("2"));

    VScroll1 = new NumberScrollBar(this);
    VScroll1->setObjectName(QStringLiteral("VScroll1"));
    VScroll1->setRange(kFewestParts, kMostParts);
    VScroll1->setValue(2);
    VScroll1->setSingleStep(1);
    VScroll1->setPageStep(1);
    VScroll1->setFocusPolicy(Qt::StrongFocus);
    // The number grows upwards, as in a spin box: the top of the bar is 50, and the Up and
    // Page Up keys raise the number as the upper arrow does. A scroll bar's own keys step
    // towards its top by subtracting, so each step is mirrored before it takes effect.
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
    Label17 = addLabel("Label17", QString(), {240, 2160, 5055, 510});
    measureWith(Label17,
                {T_("%1 broken files of %2").arg(999).arg(QStringLiteral("1023 MB")),
                 T_("%1 needed, %2 free in %3").arg("1023 GB", "1023 GB", "/media/stick")});
    addSplitOptions(2000 + kSizeForRowsHeight, "Check2", "Label13", "Spin2", "Check4", "Label14");
    Check2 = checksumBox();
    Label13 = findChild<QLabel*>(QStringLiteral("Label13"));
    Spin2 = recoveryBox();
    Label14 = costLine();
    Command7 = addButton("Command7", T_("&Split File"),
                         {240, 2040 + kOptionRowsHeight + kSizeForRowsHeight, 5055, 375});
    setActionButton(Command7);
    setPathBoxes({Text3, Text7});
    labelFor(Label7, Text3);
    labelFor(Label9, Text7);
    // The access key goes to the scroll bar, the control that changes the number; the box
    // that shows it is named alike.
    labelFor(Label6, VScroll1);
    Text4->setAccessibleName(VScroll1->accessibleName());
    explain(Command8, T_("Choose the file to split"));
    explain(Command12, T_("Choose where to save the broken files"));

    connect(Command8, &QPushButton::clicked, this, &SplitByNumberPanel::Command8_Click);
    connect(Command12, &QPushButton::clicked, this, &SplitByNumberPanel::Command12_Click);
    connect(Command7, &QPushButton::clicked, this, &SplitByNumberPanel::Command7_Click);
    // valueChanged fires for every step and, with tracking on, while the thumb is dragged.
    connect(VScroll1, &QScrollBar::valueChanged, this, &SplitByNumberPanel::VScroll1_Change);
    connect(Text3, &QLineEdit::textChanged, this, &SplitByNumberPanel::updateCost);
    connect(VScroll1, &QScrollBar::valueChanged, this, &SplitByNumberPanel::updateCost);
    for (QLineEdit* box : {Text3, Text7})
        connect(box, &QLineEdit::textChanged, this, &SplitByNumberPanel::updateInfo);
    connect(VScroll1, &QScrollBar::valueChanged, this, &SplitByNumberPanel::updateInfo);
    connect(Spin2, &QSpinBox::valueChanged, this, &SplitByNumberPanel::updateInfo);
    connect(Check2, &QCheckBox::toggled, this, &SplitByNumberPanel::updateInfo);
    connect(joinScriptBox(), &QCheckBox::toggled, this, &SplitByNumberPanel::updateInfo);
}

void SplitByNumberPanel::updateInfo() {
    const std::optional<std::uint64_t> length = sourceLength(Text3->text());
    std::optional<SplitPlan> plan;
    if (length) {
        const Result<SplitPlan> planned = planSplit(SplitRule::NumberOfParts, VScroll1->value(),
                                                    static_cast<std::int64_t>(*length));
        if (planned)
            plan = planned.value();
    }
    showPlan(Label17, plan, Text3->text(), Text7->text(), nullptr);
}

std::optional<std::uint64_t> SplitByNumberPanel::recoveryFileSizeNow() const {
    const std::optional<std::uint64_t> length = sourceLength(Text3->text());
    if (!length)
        return std::nullopt;
    const Result<SplitPlan> plan =
        planSplit(SplitRule::NumberOfParts, VScroll1->value(), static_cast<std::int64_t>(*length));
    return plan ? recoveryFileSize(plan.value()) : std::nullopt;
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
        host.messageBox().inform(messages::kSplitDone);
}

} // namespace tolvar
