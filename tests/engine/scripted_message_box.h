#pragma once

// A message box for tests: it answers from a script, in order, and records every message it
// is shown. Header-only and free of any test framework so that fuzzers and other suites can
// use it too; a test plugs its own failure reporting in through the handler.

#include "message_box.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tolvar::testing {

struct ShownMessage {
    std::string text;
    MsgStyle style;
    std::string title;
};

class ScriptedMessageBox : public MessageBox {
public:
    // Called with a short explanation when the engine shows a message the script did not
    // expect, or expects the wrong kind of answer (Yes/No for an OK box or the reverse).
    using ProblemHandler = std::function<void(const std::string&)>;

    // The script holds one answer per message the test expects, in order: Yes or No for a
    // question, Ok for a critical or information box. Without a handler a problem aborts.
    explicit ScriptedMessageBox(std::vector<MsgAnswer> script = {},
                                ProblemHandler onProblem = nullptr)
        : script(std::move(script)), onProblem(std::move(onProblem)) {}

    // Once the script is used up, answer questions with `answer` and OK boxes with Ok
    // instead of reporting a problem; for callers that cannot know how many messages come.
    void answerRestWith(MsgAnswer answer) { restAnswer = answer; }

    // Replaces the script and forgets the messages shown so far.
    void reset(std::vector<MsgAnswer> newScript) {
        script = std::move(newScript);
        next = 0;
        shownMessages.clear();
    }

    MsgAnswer show(const std::string& text, MsgStyle style, const std::string& title) override {
        shownMessages.push_back({text, style, title});
        const bool question = style == MsgStyle::Question;
        if (next < script.size()) {
            const MsgAnswer answer = script[next++];
            if (question == (answer == MsgAnswer::Ok))
                problem("answer " + answerName(answer) + " scripted for a box of style " +
                        std::to_string(static_cast<int>(style)) + ": \"" + text + "\"");
            return answer;
        }
        if (restAnswer)
            return question ? *restAnswer : MsgAnswer::Ok;
        problem("unexpected message (style " + std::to_string(static_cast<int>(style)) +
                ", title \"" + title + "\"): \"" + text + "\"");
        return question ? MsgAnswer::No : MsgAnswer::Ok;
    }

    const std::vector<ShownMessage>& shown() const { return shownMessages; }
    // How many scripted answers have not been asked for yet.
    std::size_t unusedAnswers() const { return script.size() - next; }

private:
    static std::string answerName(MsgAnswer answer) {
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

    void problem(const std::string& what) {
        if (onProblem) {
            onProblem(what);
            return;
        }
        std::fprintf(stderr, "ScriptedMessageBox: %s\n", what.c_str());
        std::abort();
    }

    std::vector<MsgAnswer> script;
    std::size_t next = 0;
    std::optional<MsgAnswer> restAnswer;
    ProblemHandler onProblem;
    std::vector<ShownMessage> shownMessages;
};

} // namespace tolvar::testing
