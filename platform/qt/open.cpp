#include "open.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

namespace tolvar {

namespace {

QString convertPattern(const QString& pattern) {
    // On the system these filters come from, "*.*" matches every name, also names without a
    // dot; QDir's wildcard would hide them (README, Makefile, ...).
    const QString trimmed = pattern.trimmed();
    return trimmed == QLatin1String("*.*") ? QStringLiteral("*") : trimmed;
}

// Whether a save dialog's choice is a new name that needs the create question: a folder name
// is the dialog's to handle (it opens the folder).
bool namesNothingYet(const QString& path) {
    const QFileInfo info(path);
    return !info.exists() && !info.isSymLink() && !info.fileName().isEmpty();
}

bool confirmCreate(QWidget* parent, const QString& title, const QString& path) {
    return QMessageBox::question(parent, title,
                                 QFileDialog::tr("%1 does not exist.\nDo you want to create it?")
                                     .arg(QFileInfo(path).fileName()),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
}

// Qt's own save dialog asks before replacing a file but never before creating one, which is
// the other half of the promise the save dialog makes. The desktop's own dialog (where the
// platform has one) returns without calling accept(); runDialog asks after it instead.
class FileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    bool askedAboutCreating = false;

    void accept() override {
        const QStringList chosen = selectedFiles();
        if (acceptMode() == QFileDialog::AcceptSave && !chosen.isEmpty() &&
            namesNothingYet(chosen.first())) {
            if (!confirmCreate(this, windowTitle(), chosen.first()))
                return;
            askedAboutCreating = true;
        }
        QFileDialog::accept();
    }
};

// The places the desktop's own dialog would list: home, the usual folders, and the user's
// GTK bookmarks (what GNOME's Files shows in its side bar).
QList<QUrl> desktopPlaces() {
    QList<QUrl> places{QUrl::fromLocalFile(QDir::homePath())};
    for (const auto location : {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
                                QStandardPaths::DownloadLocation, QStandardPaths::MoviesLocation,
                                QStandardPaths::MusicLocation, QStandardPaths::PicturesLocation}) {
        const QString folder = QStandardPaths::writableLocation(location);
        if (!folder.isEmpty() && folder != QDir::homePath() && QFileInfo(folder).isDir())
            places << QUrl::fromLocalFile(folder);
    }
    QFile bookmarks(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                    QStringLiteral("/gtk-3.0/bookmarks"));
    if (bookmarks.open(QIODevice::ReadOnly | QIODevice::Text)) {
        // One "URL [name]" a line; only local folders can be opened here.
        while (!bookmarks.atEnd()) {
            const QString line = QString::fromUtf8(bookmarks.readLine()).trimmed();
            const QUrl url(line.section(QLatin1Char(' '), 0, 0));
            if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir() && !places.contains(url))
                places << url;
        }
    }
    return places;
}

QString runDialog(DialogKind kind, QWidget* owner, const QString& filter, const QString& title,
                  const QString& initialFolder) {
    const bool save = kind == DialogKind::Save;
    QString folder = initialFolder;
    QString name;
    for (;;) {
        // The desktop's own dialog where the platform offers one (GNOME's through the GTK
        // theme, a sandbox's through the portal), with the bookmarks and recent files the user
        // knows; Qt's own elsewhere, sized by the font so it grows with the screen's scale.
        FileDialog dialog(owner, title);
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        const QStringList filters = Open::nameFilters(filter);
        if (!filters.isEmpty())
            dialog.setNameFilters(filters);
        if (!folder.isEmpty())
            dialog.setDirectory(folder);
        dialog.selectFile(name);
        dialog.setSidebarUrls(desktopPlaces());
        const QFontMetrics metrics = dialog.fontMetrics();
        dialog.resize(dialog.sizeHint().expandedTo(
            QSize(metrics.averageCharWidth() * 100, metrics.lineSpacing() * 30)));
        if (dialog.exec() != QDialog::Accepted)
            return {};
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty())
            return {};
        const QString path = chosen.first();
        if (!save || dialog.askedAboutCreating || !namesNothingYet(path) ||
            confirmCreate(owner, title, path))
            return path;
        // No: back to the dialog, where the user left it.
        folder = QFileInfo(path).absolutePath();
        name = QFileInfo(path).fileName();
    }
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
