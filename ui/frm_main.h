#pragma once

#include "failure.h"
#include "file_system.h"
#include "message_box.h"
#include "open.h"

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QMimeData;
class QPushButton;
class QScrollBar;

namespace tolvar {

class ProgressPresenter;

// To be called before the QApplication is made. A desktop font scale such as 144 or 120 dpi
// would otherwise become a fractional device-pixel ratio (1.5, 1.25), at which one-pixel lines
// such as the panels' frames fall between pixels and are cut off; the layout follows the font
// itself, so whole ratios lose nothing.
void prepareDisplayScaling();

// What the window talks through. Each null member means the real thing: a QMessageBox over
// the window, the Qt file dialogs, the real file system. Tests pass scripted fakes; the
// window does not own them, so they must outlive it.
struct WindowServices {
    MessageBox* box = nullptr;
    FileDialogs* dialogs = nullptr;
    FileSystem* fileSystem = nullptr;
};

// The program's one window: five panels in one place (welcome, choose the split method,
// split by size, split by number, assemble), a menu, and the three operations it runs.
// Every control carries its classic name as object name (Text1, Command2, Frame4, ...).
class frmMain : public QMainWindow {
    Q_OBJECT

public:
    // Builds the window and runs its start-up: restores the saved position (or centres the
    // window), fills the unit list, and shows the welcome panel. Does not show the window.
    explicit frmMain(const WindowServices& services = {}, QWidget* parent = nullptr);
    ~frmMain() override;

    // Brings panel "1" to "5" into view and parks the others; "0" or any other text leaves
    // no panel in view.
    void ShowPanel(const QString& panel);

    // Splits Filename into parts of Filesize KB, named after the prefix box Text6 (or the
    // source); the source box Text1 is what is deleted if the user asks. Shows its own
    // questions and reports; true only when the split was completed.
    bool SplitFile(const QString& Filename, std::int32_t Filesize);
    // Splits Filename into Filenumber parts (plus one for the rest), prefix Text7, source
    // box Text3. As SplitFile otherwise.
    bool SplitFile2(const QString& Filename, std::int32_t Filenumber);
    // Rebuilds the file whose first part is Filename, named after the prefix box Text8 (or
    // the part). Shows its own questions and reports; true only when the file is in place.
    bool AssembleFile(const QString& Filename);
    // Whether strPath names at least one ordinary, non-hidden file; the last component may
    // hold "*" and "?". A search that cannot be made is a failure.
    Result<bool> FileExists(const QString& strPath);

    // The number of the panel in view, "0" when none is.
    QString panelInView() const;
    // Pixels per twip of the layout: derived from the font so every caption fits, never
    // smaller than the screen's own.
    double layoutScale() const { return scale; }
    // The screen's twips per pixel, used for the saved position.
    double screenTwipsPerPixelX() const;
    double screenTwipsPerPixelY() const;
    // Operations shorter than this show no progress dialog (milliseconds).
    void setProgressDelay(int milliseconds) { progressDelay = milliseconds; }

public slots:
    // Split by size: choose the source (open dialog into Text1), choose the prefix (save
    // dialog into Text6, "." appended), and validate the size, then split.
    void Command1_Click();
    void Command11_Click();
    void Command2_Click();
    // Split by number: the same two choices into Text3 and Text7, then split into the number
    // shown in Text4 (2 to 50).
    void Command8_Click();
    void Command12_Click();
    void Command7_Click();
    // Shows the scroll bar's value in Text4.
    void VScroll1_Change(int value);
    // Assemble: choose the first part (open dialog into Text2), the prefix (save dialog into
    // Text8, "." appended), and assemble; success empties both boxes.
    void Command6_Click();
    void Command13_Click();
    void Command3_Click();
    // Navigation: welcome -> choose the method (Command10) or assemble (Command9); method ->
    // by size (Command4) or by number (Command5). Each moves the focus to the new panel.
    void Command10_Click();
    void Command9_Click();
    void Command4_Click();
    void Command5_Click();
    // The menu: the same as Command10 and Command9; the Help and About messages; Exit saves
    // the position and closes the window, which ends the program.
    void menuSplit_Click();
    void menuAssemble_Click();
    void menuHelp_Click();
    void menuAbout_Click();
    void menuExit_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct Placement {
        QWidget* widget;
        int left, top, width, height;
    };

    void buildControls();
    void buildMenu();
    void setTabOrder();
    void applyLayout();
    double requiredScale() const;
    void Form_Load();
    void Form_Unload();
    void saveWindowPosition();
    void reportFailure(const Failure& failure);
    QLineEdit* dropTarget() const;
    QString droppedFile(const QMimeData* mime) const;
    QString initialFolder() const;

    MessageBox& messageBox();
    FileDialogs& fileDialogs();

    std::unique_ptr<MessageBox> ownBox;
    std::unique_ptr<FileDialogs> ownDialogs;
    MessageBox* box;
    FileDialogs* dialogs;
    FileSystem* fileSystem;

    double scale = 1.0 / 15.0;
    int progressDelay = 500;
    int operationsRunning = 0;
    std::vector<Placement> placements;
    QWidget* client = nullptr;

    QFrame* Frame1;
    QFrame* Frame2;
    QFrame* Frame3;
    QFrame* Frame4;
    QFrame* Frame5;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label9;
    QLabel* Label10;
    QLineEdit* Text1;
    QLineEdit* Text2;
    QLineEdit* Text3;
    QLineEdit* Text4;
    QLineEdit* Text5;
    QLineEdit* Text6;
    QLineEdit* Text7;
    QLineEdit* Text8;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command5;
    QPushButton* Command6;
    QPushButton* Command7;
    QPushButton* Command8;
    QPushButton* Command9;
    QPushButton* Command10;
    QPushButton* Command11;
    QPushButton* Command12;
    QPushButton* Command13;
    QComboBox* Combo1;
    QScrollBar* VScroll1;
    QMenu* menu;
    QAction* menuSplit;
    QAction* menuAssemble;
    QAction* menuHelp;
    QAction* menuAbout;
    QAction* menuExit;
};

} // namespace tolvar
