#pragma once

#include "message_box.h"

#include <QPointer>
#include <QWidget>

namespace tolvar {

// The message box the window and the engine talk through: a modal QMessageBox over owner.
// Style 36 shows Yes and No with a question icon (Yes is the default, Escape answers No),
// 16 shows OK with a critical icon, 64 OK with an information icon. The text is shown as
// plain text, never as markup; CR LF line breaks are shown as line breaks. A web address in it
// (https://...) is a link that opens in the browser, never broken across lines.
class QtMessageBox : public MessageBox {
public:
    // owner may be null (an unowned box); it is tracked, so a deleted owner is no danger.
    explicit QtMessageBox(QWidget* owner = nullptr);

    // Shows the box and returns the button pressed: Yes or No for style 36, Ok otherwise.
    // Closing a question box by its title bar or Escape counts as No.
    MsgAnswer present(const BoxText& shown) override;

    // An information box with the program's own icon instead of the information icon, and a
    // smaller note under the text (plain text, addresses linked as above).
    void showAbout(const std::string& text, const std::string& title, const QPixmap& icon,
                   const QString& note);

private:
    MsgAnswer run(const std::string& text, MsgStyle style, const std::string& title,
                  const QPixmap* icon, const QString& note);

    QPointer<QWidget> ownerWidget;
};

} // namespace tolvar
