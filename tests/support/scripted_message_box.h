#pragma once

// A message box for tests: it answers from a script, in order, and records every message it
// is shown. A test plugs its own failure reporting in through the handler.

#include "message_box.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tolvar::testing {

struct ShownMessage {
    std::string text;
    MsgStyle style;
    std::string title;
    QuestionKind question = QuestionKind::None;
};

class ScriptedMessageBox : public MessageBox {
public:
    // Called with a short explanation when the engine shows a message the script did not
    // expect, or expects the wrong kind of answer (Yes/No for an OK box or the reverse).
    using ProblemHandler = std::function<void(const std::string&)>;

    // The script holds one answer per message the test expects, in order: Yes or No for a
    // question, Ok for a critical or information box. Without a handler a problem aborts.
    explicit ScriptedMessageBox(std::vector<MsgAnswer> script = {},
                                ProblemHandler onProblem = nullptr);

    // Once the script is used up, answer questions with `answer` and OK boxes with Ok
    // instead of reporting a problem; for callers that cannot know how many messages come.
    void answerRestWith(MsgAnswer answer) { restAnswer = answer; }

    // Replaces the script and forgets the messages shown and the problems met so far.
    void reset(std::vector<MsgAnswer> newScript);

    MsgAnswer present(const BoxText& shown) override;

    const std::vector<ShownMessage>& shown() const { return shownMessages; }
    std::vector<std::string> texts() const;
    // How many scripted answers have not been asked for yet.
    std::size_t unusedAnswers() const { return script.size() - next; }
    // How many problems were reported since the last reset.
    std::size_t problems() const { return problemCount; }

private:
    void problem(const std::string& what);

    std::vector<MsgAnswer> script;
    std::size_t next = 0;
    std::optional<MsgAnswer> restAnswer;
    ProblemHandler onProblem;
    std::vector<ShownMessage> shownMessages;
    std::size_t problemCount = 0;
};

} // namespace tolvar::testing
