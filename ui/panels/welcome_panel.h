#pragma once

#include "panel.h"

namespace tolvar {

// Panel "5", Frame5: the welcome, offering to split (Command10) or to assemble (Command9).
// The window handles both buttons: they only lead to other panels.
class WelcomePanel : public Panel {
    Q_OBJECT

public:
    explicit WelcomePanel(QWidget* parent);

    QLabel* Label5;
    QPushButton* Command10;
    QPushButton* Command9;
};

} // namespace tolvar
