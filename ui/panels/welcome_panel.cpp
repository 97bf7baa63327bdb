#include "welcome_panel.h"

#include "qt_text.h"

namespace tolvar {

WelcomePanel::WelcomePanel(QWidget* parent) : Panel("Frame5", parent) {
    lowerControlsBy((kOptionRowsHeight + kSizeForRowsHeight) / 2);
    Label5 = addLabel("Label5", T_("Welcome, what do you want to do?"), {360, 480, 2775, 255});
    Command10 = addButton("Command10", T_("&Split a File"), {360, 1200, 2295, 615});
    Command9 = addButton("Command9", T_("&Assemble Files"), {2880, 1200, 2295, 615});
}

} // namespace tolvar
