#include "terminal_message_box.h"

#include "operations.h"
#include "terminal_io.h"

namespace tolvar::cli {

namespace {

constexpr std::string_view kProgramName = "tolvar-split";

bool isYes(std::string answer) {
    while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\r'))
        answer.pop_back();
    while (!answer.empty() && answer.front() == ' ')
        answer.erase(0, 1);
    for (char& c : answer)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return answer == "y" || answer == "yes";
}

void say(std::string_view text) {
    std::string line(kProgramName);
    line += ": ";
    line += text;
    line += '\n';
    writeToStderr(line);
}

} // namespace

TerminalMessageBox::TerminalMessageBox(AnswerPolicy answers, TerminalProgress* line)
    : policy(answers), progress(line) {}

MsgAnswer TerminalMessageBox::show(const std::string& text, MsgStyle style,
                                   const std::string& title) {
    if (progress != nullptr)
        progress->clear();
    if (style == MsgStyle::Question || style == MsgStyle::QuestionDefaultNo)
        return answerQuestion(text);
    hasSpoken = true;
    if (title == kProductTitle)
        say(text);
    else
        writeToStderr(title + ": " + text + "\n");
    return MsgAnswer::Ok;
}

MsgAnswer TerminalMessageBox::answerQuestion(const std::string& text) {
    if (messages::isDeleteQuestion(text)) {
        if (policy.deleteYes)
            return MsgAnswer::Yes;
        if (policy.yes || !policy.interactive)
            return MsgAnswer::No;
        // The files it names are the ones on the command line: the prompt stays one line.
        return askOnTerminal(text.substr(0, text.find('\n')));
    }
    if (policy.yes)
        return MsgAnswer::Yes;
    if (!policy.interactive) {
        hasSpoken = true;
        say(kNotConfirmedNoTerminal);
        return MsgAnswer::No;
    }
    const MsgAnswer answer = askOnTerminal(text);
    if (answer == MsgAnswer::No) {
        hasSpoken = true;
        say(kNotConfirmed);
    }
    return answer;
}

MsgAnswer TerminalMessageBox::askOnTerminal(const std::string& text) {
    writeToStderr(std::string(kProgramName) + ": " + text + " [y/N] ");
    const std::optional<std::string> line = readLineFromStdin();
    if (!line) {
        // End the prompt's line ourselves: no newline was echoed.
        writeToStderr("\n");
        return MsgAnswer::No;
    }
    return isYes(*line) ? MsgAnswer::Yes : MsgAnswer::No;
}

} // namespace tolvar::cli
