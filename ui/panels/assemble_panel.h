#pragma once

#include "panel.h"

namespace tolvar {

// Panel "2", Frame2: assemble. The first part of a set (Text2, chosen with Command6) and the
// name prefix of the rebuilt file (Text8, Command13). Command3 hands both to the window's
// AssembleFile without checks of its own.
class AssemblePanel : public WorkingPanel {
    Q_OBJECT

public:
    AssemblePanel(PanelHost& host, QWidget* parent);

    QLabel* Label4;
    QLineEdit* Text2;
    QPushButton* Command6;
    QLabel* Label10;
    QLineEdit* Text8;
    QPushButton* Command13;
    QPushButton* Command3;

public slots:
    // The open dialog for "000" files into Text2; a cancel empties the box.
    void Command6_Click();
    // The save dialog into Text8, "." appended; a cancel empties the box.
    void Command13_Click();
    // The assembly, and "File assembled successfully." when it is done, after which both
    // boxes are emptied.
    void Command3_Click();
};

} // namespace tolvar
