#include "qt_message_box.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QString>
#include <QStyle>

namespace tolvar {

QtMessageBox::QtMessageBox(QWidget* owner) : ownerWidget(owner) {}

MsgAnswer QtMessageBox::show(const std::string& text, MsgStyle style, const std::string& title) {
    // Messages are written with CR LF between lines; a label would show the CR as a glyph.
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));

    QMessageBox box(ownerWidget.data());
    box.setWindowTitle(QString::fromStdString(title));
    // Failure reports quote file names, which may contain "<"; never let them become markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(shown);

    switch (style) {
    case MsgStyle::Question:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        break;
    case MsgStyle::QuestionDefaultNo:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    case MsgStyle::Critical:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MsgStyle::Information:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }

    // A short text makes a narrow box, and the window manager then cuts its title short: the
    // box is made wide enough for the whole title beside the title bar's buttons.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const QFontMetrics metrics(QApplication::font("QWorkspaceTitleBar"));
        const int buttons =
            4 * metrics.height() + box.style()->pixelMetric(QStyle::PM_TitleBarHeight);
        const int wanted = metrics.horizontalAdvance(box.windowTitle()) + buttons;
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }

    const int pressed = box.exec();
    if (style != MsgStyle::Question && style != MsgStyle::QuestionDefaultNo)
        return MsgAnswer::Ok;
    return pressed == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

} // namespace tolvar
