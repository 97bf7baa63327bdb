#include "open.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>

namespace tolvar {

namespace {

QString convertPattern(const QString& pattern) {
    // On the system these filters come from, "*.*" matches every name, also names without a
    // dot; QDir's wildcard would hide them (README, Makefile, ...).
    const QString trimmed = pattern.trimmed();
    return trimmed == QLatin1String("*.*") ? QStringLiteral("*") : trimmed;
}

// Qt's own save dialog asks before replacing a file but never before creating one, which is
// the other half of the promise the save dialog makes.
class FileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override {
        const QStringList chosen = selectedFiles();
        if (acceptMode() == QFileDialog::AcceptSave && !chosen.isEmpty()) {
            const QFileInfo info(chosen.first());
            // A folder name is Qt's to handle (it opens the folder); only a plain name that
            // names nothing yet needs the question.
            if (!info.exists() && !info.isSymLink() && !info.fileName().isEmpty()) {
                const auto answer = QMessageBox::question(
                    this, windowTitle(),
                    tr("%1 does not exist.\nDo you want to create it?").arg(info.fileName()),
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
                if (answer != QMessageBox::Yes)
                    return;
            }
        }
        QFileDialog::accept();
    }
};

QString runDialog(DialogKind kind, QWidget* owner, const QString& filter, const QString& title,
                  const QString& initialFolder) {
    FileDialog dialog(owner, title);
    const bool save = kind == DialogKind::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Qt's own widget dialog everywhere: the same look and the same questions on every
    // desktop, and the create question above cannot be bypassed by a native dialog.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    const QStringList filters = Open::nameFilters(filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    if (!initialFolder.isEmpty())
        dialog.setDirectory(initialFolder);
    dialog.selectFile(QString());
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

} // namespace

QStringList Open::nameFilters(const QString& filter) {
    static const QRegularExpression trailingGroup(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    QStringList items = filter.split(QLatin1Char('|'));
    if (filter.endsWith(QLatin1Char('|')))
        items.removeLast();

    QStringList result;
    for (qsizetype i = 0; i + 1 < items.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : items[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString converted = convertPattern(pattern);
            if (!converted.isEmpty())
                patterns << converted;
        }
        if (patterns.isEmpty())
            continue;
        QString description = items[i];
        description.remove(trailingGroup);
        description = description.trimmed();
        result << (description.isEmpty() ? QString() : description + QLatin1Char(' ')) +
                      QLatin1Char('(') + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return result;
}

QString Open::ShowOpenDialog(QWidget* owner, const QString& filter, const QString& title,
                             const QString& initialFolder) {
    return runDialog(DialogKind::Open, owner, filter, title, initialFolder);
}

QString Open::ShowSaveDialog(QWidget* owner, const QString& filter, const QString& title,
                             const QString& initialFolder) {
    return runDialog(DialogKind::Save, owner, filter, title, initialFolder);
}

QString QtFileDialogs::choose(DialogKind kind, QWidget* owner, const QString& filter,
                              const QString& title, const QString& initialFolder) {
    return runDialog(kind, owner, filter, title, initialFolder);
}

} // namespace tolvar
