#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace tolvar {

// Open lets the user pick an existing file; Save lets the user name a file to write, asking
// before replacing an existing file and before accepting a name that does not exist yet (No
// keeps the dialog open).
enum class DialogKind { Open, Save };

// The window's way to the file dialogs, behind an interface so tests can script the answers.
// choose takes the owner the dialog is modal to, a filter such as "All Files |*.*" or
// "000 Files (*.000)|*.000" (description and pattern alternating, separated by "|"), the
// dialog's title and the folder it starts in, and returns the chosen path or the empty text
// when the user cancels.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    virtual QString choose(DialogKind kind, QWidget* owner, const QString& filter,
                           const QString& title, const QString& initialFolder) = 0;
};

// The real dialogs, the same as the Open functions below.
class QtFileDialogs : public FileDialogs {
public:
    QString choose(DialogKind kind, QWidget* owner, const QString& filter, const QString& title,
                   const QString& initialFolder) override;
};

namespace Open {

// Modal open dialog over owner; only an existing file can be confirmed. Returns its path,
// or the empty text on cancel. No length limit applies to the path.
QString ShowOpenDialog(QWidget* owner, const QString& filter, const QString& title,
                       const QString& initialFolder);

// Modal save dialog over owner. Confirming an existing file asks whether to replace it,
// confirming a name that does not exist asks whether to create it; No keeps the dialog open.
// Returns the path, or the empty text on cancel.
QString ShowSaveDialog(QWidget* owner, const QString& filter, const QString& title,
                       const QString& initialFolder);

// Turns "desc|pattern|desc|pattern" into Qt name filters "desc (pattern)". A trailing "|" is
// optional. "*.*" becomes "*" so names without a dot are listed too; several patterns
// separated by ";" are kept as alternatives. A parenthesised group that ends a description
// is replaced by the converted patterns, so Qt never reads "*.*" back from it. Entries
// without a pattern are dropped; an empty filter gives no filter at all.
QStringList nameFilters(const QString& filter);

} // namespace Open

} // namespace tolvar
