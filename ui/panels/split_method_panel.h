#pragma once

#include "panel.h"

namespace tolvar {

// Panel "3", Frame3: the choice between splitting by size (Command4) and by number of
// broken files (Command5). The window handles both buttons: they only lead to other panels.
class SplitMethodPanel : public Panel {
    Q_OBJECT

public:
    explicit SplitMethodPanel(QWidget* parent);

    QLabel* Label3;
    QPushButton* Command4;
    QPushButton* Command5;
};

} // namespace tolvar
