#include "qt_message_box.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QSpacerItem>
#include <QString>
#include <QStyle>
#include <algorithm>

namespace tolvar {

namespace {

const QRegularExpression& webAddress() {
    static const QRegularExpression address(QStringLiteral("https://[^\\s'\"<>]+"));
    return address;
}

// Plain text as markup that shows the same words, its web addresses made links that keep to
// one line (an address breaks at its hyphens otherwise).
QString linked(const QString& plain) {
    QString html;
    qsizetype from = 0;
    QRegularExpressionMatchIterator found = webAddress().globalMatch(plain);
    while (found.hasNext()) {
        const QRegularExpressionMatch match = found.next();
        html += plain.mid(from, match.capturedStart() - from).toHtmlEscaped();
        const QString address = match.captured().toHtmlEscaped();
        html += QStringLiteral("<nobr><a href=\"%1\">%1</a></nobr>").arg(address);
        from = match.capturedEnd();
    }
    html += plain.mid(from).toHtmlEscaped();
    html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    return html;
}

// Shows text as plain text, or linked markup where it holds a web address.
// The text format is the main text's; the note under it is told apart by its markup.
void setShownText(QMessageBox& box, const QString& text, bool informative) {
    const bool links = webAddress().match(text).hasMatch();
    if (informative) {
        box.setInformativeText(links ? linked(text) : text);
        return;
    }
    box.setTextFormat(links ? Qt::RichText : Qt::PlainText);
    box.setText(links ? linked(text) : text);
}

} // namespace

QtMessageBox::QtMessageBox(QWidget* owner) : ownerWidget(owner) {}

MsgAnswer QtMessageBox::present(const BoxText& shown) {
    return run(shown.text, shown.style, shown.title, nullptr, QString());
}

void QtMessageBox::showAbout(const std::string& text, const std::string& title, const QPixmap& icon,
                             const QString& note) {
    run(text, MsgStyle::Information, title, &icon, note);
}

MsgAnswer QtMessageBox::run(const std::string& text, MsgStyle style, const std::string& title,
                            const QPixmap* icon, const QString& note) {
    // Messages are written with CR LF between lines; a label would show the CR as a glyph.
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));

    QMessageBox box(ownerWidget.data());
    box.setWindowTitle(QString::fromStdString(title));
    // Failure reports quote file names, which may contain "<"; never let them become markup:
    // only a text with a web address is shown as markup, every character of it escaped.
    setShownText(box, shown, false);
    if (!note.isEmpty())
        setShownText(box, note, true);
    if (box.textFormat() == Qt::RichText || !note.isEmpty()) {
        // The address can be reached by Tab and opened by Return, as well as clicked.
        box.setTextInteractionFlags(Qt::TextBrowserInteraction);
        for (QLabel* label : box.findChildren<QLabel*>())
            label->setOpenExternalLinks(true);
    }

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
        int wanted = metrics.horizontalAdvance(box.windowTitle()) + buttons;
        // A line with a web address is kept whole too: Qt's box wraps at a fixed pixel width
        // whatever the scale, and would break the address at a hyphen.
        const QFontMetrics textMetrics(box.font());
        const int room = box.screen() ? box.screen()->availableGeometry().width() * 3 / 4 : 0;
        for (const QString& line : shown.split(QLatin1Char('\n')))
            if (webAddress().match(line).hasMatch())
                wanted = std::max(wanted, std::min(room, textMetrics.horizontalAdvance(line) +
                                                             6 * textMetrics.height()));
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }

    if (icon && !icon->isNull())
        box.setIconPixmap(*icon);

    const int pressed = box.exec();
    if (style != MsgStyle::Question && style != MsgStyle::QuestionDefaultNo)
        return MsgAnswer::Ok;
    return pressed == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

} // namespace tolvar
