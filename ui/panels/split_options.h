#pragma once

#include "destinations.h"
#include "operations.h"
#include "panel.h"
#include "split_plan.h"

#include <QStringList>
#include <cstdint>
#include <optional>

class QCheckBox;
class QSpinBox;

namespace tolvar {

// What the recovery files cost, in two lines for the line under the number: "No recovery files:
// a lost or damaged broken file\ncannot be rebuilt." for 0; "2 recovery files: any 2 lost or
// damaged broken\nfiles can be rebuilt; 2 x 50.0 MB more." with eachFile, the bytes of one
// recovery file, or "...; each as large as a broken file." when it is not known yet.
QString recoveryCostText(int count, std::optional<std::uint64_t> eachFile);

// The widest texts recoveryCostText gives, to size the line by.
QStringList widestRecoveryCostTexts();

// A split panel: besides its own controls, a row that chooses the checksum file and the
// number of recovery files, with the line saying what they cost, and the options they give
// the split. Recovery files need the checksum file that lists them: while the number is above
// 0, or while the join script (which checks the parts against it) is chosen, the check box is
// ticked and cannot be changed, and it shows the user's own choice again after.
class SplitPanel : public WorkingPanel {
    Q_OBJECT

public:
    QCheckBox* checksumBox() const { return checksums; }
    QCheckBox* joinScriptBox() const { return joinScript; }
    QSpinBox* recoveryBox() const { return recovery; }
    QLabel* costLine() const { return cost; }

    // The user's choice of a checksum file, as remembered between runs.
    bool writeChecksums() const { return chosenChecksums; }
    void setWriteChecksums(bool write);
    // The user's choice of a join script, as remembered between runs.
    bool writeJoinScript() const;
    void setWriteJoinScript(bool write);
    // The split's options as chosen: the checksum file and the recovery files.
    SplitOptions chosenOptions() const;

signals:
    // The user ticked or cleared the check box.
    void checksumsChosen(bool write);
    void joinScriptChosen(bool write);

public slots:
    // Writes the cost line again for the number and the panel's current inputs.
    void updateCost();

protected:
    SplitPanel(const char* name, PanelHost& host, QWidget* parent);

    // Adds the rows at top (twips) with these object names: the check box, the label of the
    // number, the number, the join script's check box and the cost line.
    void addSplitOptions(int top, const char* check, const char* label, const char* number,
                         const char* script, const char* costName);
    // The bytes of one recovery file of the split the inputs describe now; nothing when they
    // do not say yet (no size, no source).
    virtual std::optional<std::uint64_t> recoveryFileSizeNow() const = 0;

    // The length of the file a source box names; nothing when it names none.
    static std::optional<std::uint64_t> sourceLength(const QString& path);
    // The bytes of each recovery file, at the number chosen, for a split cut as plan says;
    // nothing when the split would be refused.
    std::optional<std::uint64_t> recoveryFileSize(const SplitPlan& plan) const;
    // The folder the broken files of source go to under the prefix box's text: the prefix's
    // folder, else the source's; empty when neither is chosen.
    static QString destinationFolderOf(const QString& source, const QString& prefix);
    // Writes line: "4 broken files of 1.46 GB" (on how many discs, for a disc destination)
    // and, where the folder tells its room, "4.66 GB needed, 12.1 GB free in /media/stick"
    // for the split plan describes with the options chosen now. Empty without a plan that a
    // split would carry out.
    void showPlan(QLabel* line, const std::optional<SplitPlan>& plan, const QString& source,
                  const QString& prefix, const Destination* destination) const;

private:
    void showChecksumChoice();

    QCheckBox* checksums = nullptr;
    QCheckBox* joinScript = nullptr;
    QLabel* recoveryLabel = nullptr;
    QSpinBox* recovery = nullptr;
    QLabel* cost = nullptr;
    bool chosenChecksums = true;
};

} // namespace tolvar
