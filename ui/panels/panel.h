#pragma once

#include "failure.h"
#include "message_box.h"
#include "open.h"

#include <QFrame>
#include <QRect>
#include <QString>
#include <cstdint>
#include <utility>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tolvar {

// Twips (1/1440 inch, the unit the window was designed in) to pixels at scale pixels per
// twip: positions to the nearest pixel, sizes rounded up so that a control is never a
// fraction of a pixel short of what its caption needs.
int pixelsAt(int twips, double scale);
int extentAt(int twips, double scale);

// A caption as it is drawn and spoken: without the "&" that marks its access key ("&&" is a
// literal "&").
QString withoutMnemonic(const QString& caption);

// The designed panel height, what the split panels' row of checksum and recovery choices adds
// to it, and what the split-by-size panel's row choosing where the parts go (with its line of
// what the split makes and needs) adds. Every panel takes the tallest height, so the window
// keeps one size; the shorter panels lower their controls by half the difference and stay
// centred.
inline constexpr int kDesignedPanelHeight = 2655;
inline constexpr int kOptionRowsHeight = 1260;
inline constexpr int kSizeForRowsHeight = 960;
inline constexpr int kPanelHeight = kDesignedPanelHeight + kOptionRowsHeight + kSizeForRowsHeight;

// One of the window's five panels: a frame without a caption whose controls sit where the
// design put them, in twips, and grow together with the rest of the window. Each control
// carries its classic name as object name (Text1, Command2, ...). The window places the frame
// itself; a panel only lays out what is inside it.
class Panel : public QFrame {
    Q_OBJECT

public:
    // Pixels per twip at which every caption of the panel fits its control in the current
    // font (the text boxes and the list their text, the buttons their caption).
    double requiredScale() const;
    // Places the controls at scale pixels per twip.
    void applyScale(double scale);

signals:
    // Escape on the panel: the user wants the panel before it.
    void backRequested();

protected:
    // name: the frame's object name (Frame1 to Frame5).
    Panel(const char* name, QWidget* parent);
    // Return or Enter presses the focused button of the panel, as Space does; Escape asks for
    // the panel before this one.
    void keyPressEvent(QKeyEvent* event) override;

    // The controls, each created as a child of the panel at its place in twips.
    QLabel* addLabel(const char* name, const QString& text, const QRect& twips,
                     Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop);
    QPushButton* addButton(const char* name, const QString& text, const QRect& twips);
    QLineEdit* addTextBox(const char* name, bool readOnly, const QRect& twips);
    // Any other control, made by the caller.
    void place(QWidget* control, const QRect& twips);
    // The label names control for a screen reader and moves the focus to it by its access key.
    static void labelFor(QLabel* label, QWidget* control);
    // A button whose caption says nothing ("...") gets words a screen reader speaks and a
    // tooltip shows.
    static void explain(QPushButton* button, const QString& what);
    // A label whose text changes: measured by the widest of these texts instead (lines
    // separated by "\n").
    void measureWith(QLabel* label, const QStringList& texts);
    // Added to the Top of every control placed from now on.
    void lowerControlsBy(int twips) { controlOffset = twips; }

private:
    struct Placement {
        QWidget* control;
        QRect twips;
        QStringList samples;
    };
    std::vector<Placement> placements;
    int controlOffset = 0;
};

// How an assembly from the window ended.
struct Assembled {
    bool done = false;
    // A checksum file vouched for the assembled file's contents.
    bool contentsChecked = false;
    explicit operator bool() const { return done; }
};

// What a working panel asks of the window it sits in: the message box and the file dialogs
// the window talks through, and the window's operations.
class PanelHost {
public:
    virtual MessageBox& messageBox() = 0;
    virtual FileDialogs& fileDialogs() = 0;
    // The dialogs' owner, and the folder they start in given the path already chosen on the
    // panel (empty when none is).
    virtual QWidget* dialogOwner() = 0;
    virtual QString initialFolder(const QString& chosenOnPanel) const = 0;
    // A broken file stands for its set: the name of its first part; any other path unchanged.
    virtual QString firstPartOf(const QString& path) const = 0;
    virtual Result<bool> FileExists(const QString& strPath) = 0;
    virtual bool SplitFile(const QString& Filename, std::int32_t Filesize) = 0;
    virtual bool SplitFile2(const QString& Filename, std::int32_t Filenumber) = 0;
    virtual Assembled AssembleFile(const QString& Filename) = 0;

protected:
    ~PanelHost() = default;
};

// The filters and titles of the working panels' dialogs.
inline constexpr char kAllFiles[] = "All Files |*.*";
inline constexpr char kChooseSplitSource[] = "Choose a file to split - Tolvar Files Splitter";
inline constexpr char kChooseSplitTarget[] =
    "Choose where to save the broken files - Tolvar Files Splitter";

// A panel that collects a choice of files and runs one of the window's operations.
class WorkingPanel : public Panel {
    Q_OBJECT

protected:
    WorkingPanel(const char* name, PanelHost& host, QWidget* parent);

    // The button that Return or Enter presses anywhere on the panel, unless the focus is on
    // another button, which is then pressed itself.
    void setActionButton(QPushButton* button);
    void keyPressEvent(QKeyEvent* event) override;
    // The panel's path boxes, most telling first: the file dialogs start in the folder of the
    // first one filled.
    void setPathBoxes(std::vector<QLineEdit*> boxes) { pathBoxes = std::move(boxes); }

    // The open dialog with this filter and title: the chosen path, or "" when cancelled.
    QString chooseFile(const QString& filter, const QString& title);
    // The save dialog for a name prefix ("All Files"): the chosen path with "." appended
    // unless it already ends in one, or "" when cancelled. The engine appends the part's
    // index or the source's name tail to it.
    QString choosePrefix(const QString& title);
    // A failure of the panel's own steps, in the failure report's fixed form.
    void reportFailure(const Failure& failure);

    PanelHost& host;

private:
    QString chosenOnPanel() const;

    QPushButton* action = nullptr;
    std::vector<QLineEdit*> pathBoxes;
};

} // namespace tolvar
