#pragma once

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

// Every word the program says to its user goes through one of these. Implementations are
// modal: show() returns only when the user has dismissed the box.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual MsgAnswer show(const std::string& text, MsgStyle style, const std::string& title) = 0;

    // Convenience for the common cases, all titled with the product name.
    bool ask(const std::string& question);          // Question; true on Yes
    bool askDefaultNo(const std::string& question); // QuestionDefaultNo; true on Yes
    void refuse(const std::string& text);           // Critical, OK
    void inform(const std::string& text);           // Information, OK
};

} // namespace tolvar
