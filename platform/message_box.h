#pragma once

#include "message.h"

#include <string>
#include <string_view>

namespace tolvar {

// The product's name, used as the title of nearly every message.
inline constexpr std::string_view kProductTitle = "Tolvar Files Splitter";

// The combinations of buttons and icon the program ever shows. The values are the
// classic message-box style numbers, kept so messages can be described by them in tests.
enum class MsgStyle : int {
    Critical = 16, // OK, critical icon: refusals and failure reports
    Question = 36, // Yes and No, question icon: confirmations
    // Yes and No, question icon, No the default: questions whose Yes replaces or deletes a
    // file, so that a Return pressed by habit loses nothing.
    QuestionDefaultNo = 292,
    Information = 64, // OK, information icon: success, About, Help
};

enum class MsgAnswer { Ok, Yes, No };

// What a box is shown: the words, the buttons and icon, the title; for a question what it
// asks, and for a failure report the failure's number (0 for anything else). Whoever answers
// in the user's place decides by these, never by the words, which may be translated.
struct BoxText {
    std::string text;
    MsgStyle style = MsgStyle::Information;
    std::string title;
    QuestionKind question = QuestionKind::None;
    int failureNumber = 0;
};

// Every word the program says to its user goes through one of these. Implementations are
// modal: present() returns only when the user has dismissed the box.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual MsgAnswer present(const BoxText& shown) = 0;

    // A box of its own title and style that asks nothing the program acts on: About, Help.
    MsgAnswer show(const std::string& text, MsgStyle style, const std::string& title);
    // Convenience for the common cases, all titled with the product name. A question carries
    // its kind from the catalogue.
    bool ask(const Message& question);          // Question; true on Yes
    bool askDefaultNo(const Message& question); // QuestionDefaultNo; true on Yes
    void refuse(const std::string& text);       // Critical, OK
    void inform(const std::string& text);       // Information, OK
};

} // namespace tolvar
