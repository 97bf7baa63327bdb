#include "panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionSpinBox>
#include <algorithm>
#include <cmath>

namespace tolvar {

int pixelsAt(int twips, double scale) {
    return static_cast<int>(std::lround(twips * scale));
}

int extentAt(int twips, double scale) {
    return static_cast<int>(std::ceil(twips * scale - 1e-9));
}

QString withoutMnemonic(const QString& caption) {
    QString shown;
    shown.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size())
            ++i;
        shown += caption[i];
    }
    return shown;
}

Panel::Panel(const char* name, QWidget* parent) : QFrame(parent) {
    setObjectName(QString::fromLatin1(name));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
}

QLabel* Panel::addLabel(const char* name, const QString& text, const QRect& twips,
                        Qt::Alignment alignment) {
    auto* label = new QLabel(text, this);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(alignment);
    place(label, twips);
    return label;
}

QPushButton* Panel::addButton(const char* name, const QString& text, const QRect& twips) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(QString::fromLatin1(name));
    place(button, twips);
    return button;
}

QLineEdit* Panel::addTextBox(const char* name, bool readOnly, const QRect& twips) {
    auto* box = new QLineEdit(this);
    box->setObjectName(QString::fromLatin1(name));
    box->setReadOnly(readOnly);
    place(box, twips);
    return box;
}

void Panel::place(QWidget* control, const QRect& twips) {
    placements.push_back({control, twips.translated(0, controlOffset), {}});
}

void Panel::labelFor(QLabel* label, QWidget* control) {
    label->setBuddy(control);
    QString name = withoutMnemonic(label->text()).trimmed();
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    control->setAccessibleName(name);
}

void Panel::explain(QPushButton* button, const QString& what) {
    button->setAccessibleName(what);
    button->setToolTip(what);
}

void Panel::keyPressEvent(QKeyEvent* event) {
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    // The user is on the keyboard: the style draws the focus frame on the control the key
    // leads to, as it does after Tab.
    if (plain && (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
                  event->key() == Qt::Key_Enter))
        window()->setAttribute(Qt::WA_KeyboardFocusChange);
    if (plain && event->key() == Qt::Key_Escape) {
        emit backRequested();
        event->accept();
        return;
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    if (plain && enter && focused != nullptr && isAncestorOf(focused)) {
        focused->click();
        event->accept();
        return;
    }
    QFrame::keyPressEvent(event);
}

void Panel::measureWith(QLabel* label, const QStringList& texts) {
    for (Placement& p : placements)
        if (p.control == label)
            p.samples = texts;
}

double Panel::requiredScale() const {
    const QFontMetrics metrics = fontMetrics();
    double needed = 0;
    auto need = [&needed](double pixelsWanted, int twips) {
        needed = std::max(needed, pixelsWanted / twips);
    };

    for (const Placement& p : placements) {
        const int width = p.twips.width();
        const int height = p.twips.height();
        if (auto* l = qobject_cast<QLabel*>(p.control)) {
            for (const QString& text :
                 p.samples.isEmpty() ? QStringList{withoutMnemonic(l->text())} : p.samples) {
                const QStringList lines = text.split(QLatin1Char('\n'));
                for (const QString& line : lines)
                    need(metrics.horizontalAdvance(line) + 2, width);
                need(metrics.height() * static_cast<double>(lines.size()), height);
            }
        } else if (auto* k = qobject_cast<QCheckBox*>(p.control)) {
            QStyleOptionButton option;
            option.initFrom(k);
            const int indicator =
                k->style()->pixelMetric(QStyle::PM_IndicatorWidth, &option, k) +
                k->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, k);
            need(metrics.horizontalAdvance(withoutMnemonic(k->text())) + indicator + 4, width);
            need(std::max(metrics.height(), k->sizeHint().height()), height);
        } else if (auto* n = qobject_cast<QSpinBox*>(p.control)) {
            QStyleOptionSpinBox option;
            option.initFrom(n);
            option.rect = QRect(0, 0, 400, 200);
            const QRect field = n->style()->subControlRect(QStyle::CC_SpinBox, &option,
                                                           QStyle::SC_SpinBoxEditField, n);
            need(metrics.horizontalAdvance(QString::number(n->maximum())) + (400 - field.width()) +
                     6,
                 width);
            need(n->minimumSizeHint().height(), height);
        } else if (auto* b = qobject_cast<QPushButton*>(p.control)) {
            // What the style keeps around a button's caption, measured on a sample size.
            QStyleOptionButton option;
            option.initFrom(b);
            option.rect = QRect(0, 0, 400, 200);
            option.text = b->text();
            const QRect inner =
                b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b);
            need(metrics.horizontalAdvance(withoutMnemonic(b->text())) + (400 - inner.width()) + 2,
                 width);
            need(metrics.height() + (200 - inner.height()), height);
        } else if (auto* e = qobject_cast<QLineEdit*>(p.control)) {
            need(e->minimumSizeHint().height(), height);
        } else if (auto* c = qobject_cast<QComboBox*>(p.control)) {
            QStyleOptionComboBox option;
            option.initFrom(c);
            option.rect = QRect(0, 0, 400, 200);
            const QRect field = c->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                           QStyle::SC_ComboBoxEditField, c);
            int widest = 0;
            for (int i = 0; i < c->count(); ++i)
                widest = std::max(widest, metrics.horizontalAdvance(c->itemText(i)));
            need(widest + (400 - field.width()) + 4, width);
            need(metrics.height() + (200 - field.height()), height);
        }
    }
    return needed;
}

void Panel::applyScale(double scale) {
    for (const Placement& p : placements)
        p.control->setGeometry(pixelsAt(p.twips.x(), scale), pixelsAt(p.twips.y(), scale),
                               extentAt(p.twips.width(), scale), extentAt(p.twips.height(), scale));
}

WorkingPanel::WorkingPanel(const char* name, PanelHost& panelHost, QWidget* parent)
    : Panel(name, parent), host(panelHost) {}

void WorkingPanel::setActionButton(QPushButton* button) {
    action = button;
    // Drawn as the default button, which it is for Return.
    action->setDefault(true);
}

void WorkingPanel::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    if (!enter || action == nullptr ||
        (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier ||
        (focused != nullptr && isAncestorOf(focused))) {
        Panel::keyPressEvent(event);
        return;
    }
    action->click();
    event->accept();
}

QString WorkingPanel::chosenOnPanel() const {
    for (const QLineEdit* box : pathBoxes)
        if (!box->text().isEmpty())
            return box->text();
    return {};
}

QString WorkingPanel::chooseFile(const QString& filter, const QString& title) {
    return host.fileDialogs().choose(DialogKind::Open, host.dialogOwner(), filter, title,
                                     host.initialFolder(chosenOnPanel()));
}

QString WorkingPanel::choosePrefix(const QString& title) {
    QString path = host.fileDialogs().choose(DialogKind::Save, host.dialogOwner(),
                                             QString::fromLatin1(kAllFiles), title,
                                             host.initialFolder(chosenOnPanel()));
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('.')))
        path += QLatin1Char('.');
    return path;
}

void WorkingPanel::reportFailure(const Failure& failure) {
    showFailureReport(host.messageBox(), failure);
}

} // namespace tolvar
