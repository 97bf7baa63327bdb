#pragma once

#include "input_rules.h"
#include "message_box.h"
#include "terminal_progress.h"

#include <string>

namespace tolvar::cli {

// How the engine's questions are answered.
struct AnswerPolicy {
    bool yes = false;         // --yes: the confirmation is Yes without asking
    bool deleteYes = false;   // --delete-source / --delete-parts: the delete question is Yes
    bool interactive = false; // standard input is a terminal, so questions may be asked
};

// The engine's message box on a terminal. Messages go to standard error: failure reports as
// "<title>: <description>" (which keeps the failure's number), everything else as
// "tolvar-split: <text>". Questions are answered by their kind and the policy:
//   - the delete questions: Yes with deleteYes; otherwise No without asking when yes is set
//     (a script that said --yes must not stop at a prompt); otherwise asked when interactive,
//     else No;
//   - any other question (the confirmations): Yes with yes; otherwise asked when interactive;
//     otherwise No, saying that standard input is not a terminal.
// Asking prints "tolvar-split: <question> [y/N] " and reads one line; "y" or "yes" in any case
// is Yes, anything else (an empty line, end of input, Ctrl+C) is No.
class TerminalMessageBox : public MessageBox {
public:
    // progress, when given, has its line erased before any message is written.
    TerminalMessageBox(AnswerPolicy policy, TerminalProgress* progress);

    // Writes the message or answers the question as described above; OK for non-questions.
    MsgAnswer present(const BoxText& shown) override;

    // True once anything other than a prompt has been written: a message, a failure report or
    // the note that a confirmation was not given.
    bool spoke() const { return hasSpoken; }

private:
    MsgAnswer answerQuestion(const BoxText& shown);
    MsgAnswer askOnTerminal(const std::string& text);

    AnswerPolicy policy;
    TerminalProgress* progress;
    bool hasSpoken = false;
};

// The command line's own words about its questions.
inline const Message kNotConfirmedNoTerminal{MessageId::NotConfirmedNoTerminal};
inline const Message kNotConfirmed{MessageId::NotConfirmed};

} // namespace tolvar::cli
