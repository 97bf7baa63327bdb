#pragma once

#include "split_options.h"

class QScrollBar;

namespace tolvar {

// Panel "4", Frame4: split by number of broken files. The source (Text3, chosen with
// Command8), the name prefix of the parts (Text7, Command12), and the number of parts from 2
// to 50, set with the scroll bar VScroll1 and shown in the read-only Text4; under them the
// checksum file (Check2) and the number of recovery files (Spin2) with what they cost
// (Label14). Command7 checks the number and hands the split to the window's SplitFile2, which
// reads Text7 and Text3 and the options itself.
class SplitByNumberPanel : public SplitPanel {
    Q_OBJECT

public:
    SplitByNumberPanel(PanelHost& host, QWidget* parent);

    QLabel* Label7;
    QLineEdit* Text3;
    QPushButton* Command8;
    QLabel* Label9;
    QLineEdit* Text7;
    QPushButton* Command12;
    QLabel* Label6;
    QLineEdit* Text4;
    QScrollBar* VScroll1;
    QCheckBox* Check2;
    QLabel* Label13;
    QSpinBox* Spin2;
    QLabel* Label14;
    // What the split makes and needs against the room where it goes.
    QLabel* Label17;
    QPushButton* Command7;

public slots:
    // The open dialog into Text3; a cancel empties the box.
    void Command8_Click();
    // The save dialog into Text7, "." appended; a cancel empties the box.
    void Command12_Click();
    // Shows the scroll bar's value in Text4, on every step and while the thumb is dragged.
    void VScroll1_Change(int value);
    // No source, no number or a source that does not exist: nothing. A number outside 2 to
    // 50 is refused ("Choose a number between 2 and 50."); otherwise the split, and
    // "Splitting done successfully." when it is done.
    void Command7_Click();

public slots:
    // Writes Label17 again for the source, the number and the options chosen now.
    void updateInfo();

protected:
    std::optional<std::uint64_t> recoveryFileSizeNow() const override;
};

} // namespace tolvar
