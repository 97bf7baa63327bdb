#pragma once

#include "file_system.h"
#include "message_box.h"
#include "set_verdict.h"

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace tolvar {

// Check Broken Files: every broken file and recovery file of a set, each with its condition
// in words and an icon (good, damaged, missing, foreign), the verdict on the whole set, and a
// Repair button while repair can help. Changes nothing unless Repair is pressed.
class CheckDialog : public QDialog {
    Q_OBJECT

public:
    // chosen: any file of the set. Messages go through box, files through fs; a check or a
    // repair longer than progressDelay milliseconds shows its progress over owner.
    CheckDialog(const QString& chosen, MessageBox& box, FileSystem& fs, QWidget* owner,
                int progressDelay);

    // Checks the set and fills the list. False when there is nothing to show: the file
    // belongs to no set or cannot be read (said through the box), or the check was cancelled.
    bool runCheck();

    QTreeWidget* fileList() const { return files; }
    QLabel* verdictLabel() const { return verdict; }
    QPushButton* repairButton() const { return repairer; }

public slots:
    // Rebuilds the damaged, missing and foreign files, says what was rebuilt, and checks the
    // set again.
    void repair();

private:
    void fill(const SetVerdict& check);

    std::string chosenPath;
    MessageBox& box;
    FileSystem& fs;
    int delay;
    QLabel* heading;
    QTreeWidget* files;
    QLabel* verdict;
    QPushButton* repairer;
};

} // namespace tolvar
