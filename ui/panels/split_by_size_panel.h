#pragma once

#include "split_options.h"

class QComboBox;

namespace tolvar {

// Panel "1", Frame1: split by size. The source (Text1, chosen with Command1), the name prefix
// of the parts (Text6, Command11), and the size of each part typed into Text5 in the unit of
// Combo1 ("KB" or "MB", filled by the window at start-up); under them the checksum file
// (Check1) and the number of recovery files (Spin1) with what they cost (Label12). Command2
// checks the size and hands the split to the window's SplitFile, which reads Text6 and Text1
// and the options itself.
class SplitBySizePanel : public SplitPanel {
    Q_OBJECT

public:
    SplitBySizePanel(PanelHost& host, QWidget* parent);

    QLabel* Label1;
    QLineEdit* Text1;
    QPushButton* Command1;
    QLabel* Label8;
    QLineEdit* Text6;
    QPushButton* Command11;
    QLabel* Label2;
    QLineEdit* Text5;
    QComboBox* Combo1;
    QCheckBox* Check1;
    QLabel* Label11;
    QSpinBox* Spin1;
    QLabel* Label12;
    QPushButton* Command2;

public slots:
    // The open dialog into Text1; a cancel empties the box.
    void Command1_Click();
    // The save dialog into Text6, "." appended; a cancel empties the box.
    void Command11_Click();
    // A size not above 0 is refused ("Invalid size."); a size that is no number or out of
    // range is a failure report that empties Text5. Then, with a source that exists, the
    // split, and "Splitting done successfully." when it is done. No source: nothing at all.
    void Command2_Click();

protected:
    std::optional<std::uint64_t> recoveryFileSizeNow() const override;
};

} // namespace tolvar
