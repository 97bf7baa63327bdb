#include "scripted_message_box.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace tolvar::testing {

namespace {

std::string answerName(MsgAnswer answer) {
    switch (answer) {
    case MsgAnswer::Ok:
        return "Ok";
    case MsgAnswer::Yes:
        return "Yes";
    case MsgAnswer::No:
        return "No";
    }
    return "?";
}

} // namespace

ScriptedMessageBox::ScriptedMessageBox(std::vector<MsgAnswer> script, ProblemHandler onProblem)
    : script(std::move(script)), onProblem(std::move(onProblem)) {}

void ScriptedMessageBox::reset(std::vector<MsgAnswer> newScript) {
    script = std::move(newScript);
    next = 0;
    shownMessages.clear();
    problemCount = 0;
}

MsgAnswer ScriptedMessageBox::present(const BoxText& shown) {
    const std::string& text = shown.text;
    const MsgStyle style = shown.style;
    const std::string& title = shown.title;
    shownMessages.push_back({text, style, title, shown.question});
    const bool question = style == MsgStyle::Question || style == MsgStyle::QuestionDefaultNo;
    if (next < script.size()) {
        const MsgAnswer answer = script[next++];
        if (question == (answer == MsgAnswer::Ok))
            problem("answer " + answerName(answer) + " scripted for a box of style " +
                    std::to_string(static_cast<int>(style)) + ": \"" + text + "\"");
        return answer;
    }
    if (restAnswer)
        return question ? *restAnswer : MsgAnswer::Ok;
    problem("unexpected message (style " + std::to_string(static_cast<int>(style)) + ", title \"" +
            title + "\"): \"" + text + "\"");
    return question ? MsgAnswer::No : MsgAnswer::Ok;
}

std::vector<std::string> ScriptedMessageBox::texts() const {
    std::vector<std::string> result;
    for (const ShownMessage& message : shownMessages)
        result.push_back(message.text);
    return result;
}

void ScriptedMessageBox::problem(const std::string& what) {
    ++problemCount;
    if (onProblem) {
        onProblem(what);
        return;
    }
    std::fprintf(stderr, "ScriptedMessageBox: %s\n", what.c_str());
    std::abort();
}

} // namespace tolvar::testing
