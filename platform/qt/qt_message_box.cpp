#include "qt_message_box.h"

#include <QMessageBox>
#include <QString>

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

    const int pressed = box.exec();
    if (style != MsgStyle::Question && style != MsgStyle::QuestionDefaultNo)
        return MsgAnswer::Ok;
    return pressed == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

} // namespace tolvar
