#include "terminal_message_box.h"

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

MsgAnswer TerminalMessageBox::present(const BoxText& shown) {
    if (progress != nullptr)
        progress->clear();
    if (shown.style == MsgStyle::Question || shown.style == MsgStyle::QuestionDefaultNo)
        return answerQuestion(shown);
    hasSpoken = true;
    if (shown.failureNumber == 0)
        say(shown.text);
    else
        writeToStderr(shown.title + ": " + shown.text + "\n");
    return MsgAnswer::Ok;
}

MsgAnswer TerminalMessageBox::answerQuestion(const BoxText& shown) {
    const std::string& text = shown.text;
    if (shown.question == QuestionKind::DeleteSource ||
        shown.question == QuestionKind::DeleteParts) {
        if (policy.deleteYes)
            return MsgAnswer::Yes;
        if (policy.yes || !policy.interactive)
            return MsgAnswer::No;
        // The files it names are the ones on the command line: the prompt stays one line.
        return askOnTerminal(text.substr(0, text.find('\n')));
    }
    // Joining in place without checking the contents is the user's own, second choice:
    // --yes does not make it, --no-checksums does before the question is ever asked.
    if (shown.question == QuestionKind::InPlaceUnchecked && !policy.interactive) {
        hasSpoken = true;
        say(Message(MessageId::InPlaceNotConfirmedUnchecked).text());
        return MsgAnswer::No;
    }
    if (policy.yes && shown.question != QuestionKind::InPlaceUnchecked)
        return MsgAnswer::Yes;
    if (!policy.interactive) {
        hasSpoken = true;
        say(kNotConfirmedNoTerminal.text());
        return MsgAnswer::No;
    }
    const MsgAnswer answer = askOnTerminal(text);
    if (answer == MsgAnswer::No) {
        hasSpoken = true;
        say(kNotConfirmed.text());
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
