#pragma once

#include "failure.h"
#include "file_system.h"
#include "message_box.h"
#include "open.h"
#include "panels/panel.h"
#include "qt_message_box.h"

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class QAction;
class QPixmap;
class QLineEdit;
class QMenu;

namespace tolvar {

class AssemblePanel;
class SplitByNumberPanel;
class SplitBySizePanel;
class SplitMethodPanel;
class WelcomePanel;

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
// split by size, split by number, assemble), a menu, the saved position, and the three
// operations the working panels run. Each panel builds its own controls and checks its own
// input; every control carries its classic name as object name (Text1, Command2, Frame4, ...).
class frmMain : public QMainWindow, private PanelHost {
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
    bool SplitFile(const QString& Filename, std::int32_t Filesize) override;
    // Splits Filename into Filenumber parts (plus one for the rest), prefix Text7, source
    // box Text3. As SplitFile otherwise.
    bool SplitFile2(const QString& Filename, std::int32_t Filenumber) override;
    // Rebuilds the file whose first part is Filename, named after the prefix box Text8 (or
    // the part). Shows its own questions and reports; true only when the file is in place.
    Assembled AssembleFile(const QString& Filename) override;
    // Whether strPath names at least one ordinary, non-hidden file; the last component may
    // hold "*" and "?". A search that cannot be made is a failure.
    Result<bool> FileExists(const QString& strPath) override;

    // A file given to the program (its argument, a file manager's "Open with"): a broken file
    // of any index opens the assemble panel with its set's first part chosen; any other file
    // opens the choice of the split method with it as the source of both split panels.
    void openFile(const QString& path);

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
    // Chooses a file of a set and shows what each of its files is, with Repair.
    void menuCheck_Click();
    void menuHelp_Click();
    void menuAbout_Click();
    void menuExit_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // One row per panel, in the keyboard order across the window: its number ("1" to "5"),
    // the control that takes the focus when the user moves to it, the box a dropped file goes
    // to (none: the panel ignores drops) and its controls in keyboard order.
    struct PanelRow {
        const char* number;
        Panel* panel;
        QWidget* firstFocus;
        QLineEdit* dropBox;
        std::vector<QWidget*> keyboardOrder;
    };

    void createPanels();
    void createMenu();
    void setTabOrder();
    void applyLayout();
    // Brings the panel of this number into view with the focus on its first control.
    void moveToPanel(const char* number);
    // The row of the panel in view; none when no panel is.
    const PanelRow* rowInView() const;
    void Form_Load();
    void Form_Unload();
    void saveWindowPosition();
    void keepOnScreen();
    QLineEdit* dropTarget() const;

    // What the panels ask of the window.
    MessageBox& messageBox() override { return *box; }
    FileDialogs& fileDialogs() override { return *dialogs; }
    QWidget* dialogOwner() override { return this; }
    QString initialFolder(const QString& chosenOnPanel) const override;
    QString firstPartOf(const QString& path) const override;

    std::unique_ptr<QtMessageBox> ownBox;
    std::unique_ptr<FileDialogs> ownDialogs;
    MessageBox* box;
    FileDialogs* dialogs;
    FileSystem* fileSystem;

    double scale = 1.0 / 15.0;
    int progressDelay = 500;
    int operationsRunning = 0;
    // Shown, and not yet framed by the window manager.
    bool framing = false;
    QWidget* client = nullptr;

    SplitBySizePanel* Frame1;
    AssemblePanel* Frame2;
    SplitMethodPanel* Frame3;
    SplitByNumberPanel* Frame4;
    WelcomePanel* Frame5;
    std::vector<PanelRow> panelRows;
    QMenu* menu;
    QAction* menuSplit;
    QAction* menuAssemble;
    QAction* menuCheck;
    QAction* menuHelp;
    QAction* menuAbout;
    QAction* menuExit;
};

} // namespace tolvar
