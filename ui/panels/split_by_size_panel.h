#pragma once

#include "split_options.h"

class QComboBox;

namespace tolvar {

// Panel "1", Frame1: split by size. The source (Text1, chosen with Command1), the name prefix
// of the parts (Text6, Command11), and the size of each part typed into Text5 in the unit of
// Combo1 ("KB" or "MB", filled by the window at start-up); under them where the parts must go
// (Combo2: a destination of the engine's table, the largest part the chosen folder holds, or
// "Custom"), which fills Text5 and Combo1, with the line of what the split makes and needs
// (Label16); under those the checksum file
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
    QLabel* Label15;
    QComboBox* Combo2;
    QLabel* Label16;
    QCheckBox* Check1;
    QLabel* Label11;
    QSpinBox* Spin1;
    QLabel* Label12;
    QPushButton* Command2;

    // The choice of Combo2 as remembered between runs: a destination's name, "max" or
    // "custom".
    QString sizeFor() const;
    // Selects the remembered choice (an unknown one is "custom") and fills the size as
    // choosing it does.
    void setSizeFor(const QString& choice);

public slots:
    // A destination or the largest part chosen in Combo2: its part size into Text5, in KB.
    // "Custom" leaves the size as it is.
    void Combo2_Click(int index);
    // Writes Label16 again: how many broken files the size makes of the source, on how many
    // discs for a disc, and what they need against the room where they go, when known.
    void updateInfo();
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

private:
    // The part size Text5 and Combo1 give now, in whole kilobytes; nothing when they give none.
    std::optional<std::int32_t> kilobytesNow() const;
    // The folder the broken files go to: Text6's, else the source's; empty when neither is set.
    QString destinationFolder() const;
};

} // namespace tolvar
