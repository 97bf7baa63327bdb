#include "message_box.h"

namespace tolvar {

MsgAnswer MessageBox::show(const std::string& text, MsgStyle style, const std::string& title) {
    return present({text, style, title});
}

bool MessageBox::ask(const Message& question) {
    return present({question.text(), MsgStyle::Question, std::string(kProductTitle),
                    question.question()}) == MsgAnswer::Yes;
}

bool MessageBox::askDefaultNo(const Message& question) {
    return present({question.text(), MsgStyle::QuestionDefaultNo, std::string(kProductTitle),
                    question.question()}) == MsgAnswer::Yes;
}

void MessageBox::refuse(const std::string& text) {
    present({text, MsgStyle::Critical, std::string(kProductTitle)});
}

void MessageBox::inform(const std::string& text) {
    present({text, MsgStyle::Information, std::string(kProductTitle)});
}

} // namespace tolvar
