#include "message_box.h"

namespace tolvar {

bool MessageBox::ask(const std::string& question) {
    return show(question, MsgStyle::Question, std::string(kProductTitle)) == MsgAnswer::Yes;
}

bool MessageBox::askDefaultNo(const std::string& question) {
    return show(question, MsgStyle::QuestionDefaultNo, std::string(kProductTitle)) ==
           MsgAnswer::Yes;
}

void MessageBox::refuse(const std::string& text) {
    show(text, MsgStyle::Critical, std::string(kProductTitle));
}

void MessageBox::inform(const std::string& text) {
    show(text, MsgStyle::Information, std::string(kProductTitle));
}

} // namespace tolvar
