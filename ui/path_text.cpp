#include "path_text.h"

#include "file_system.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMimeData>
#include <sys/stat.h>

namespace tolvar {

namespace {

constexpr char16_t kKeptByteBase = 0xDC00;

bool isKeptByte(QChar c) {
    return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF;
}

qsizetype utf8Length(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

} // namespace

QString pathFromBytes(const QByteArray& bytes) {
    const QString decoded = QFile::decodeName(bytes);
    if (QFile::encodeName(decoded) == bytes)
        return decoded;

    QString text;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const qsizetype length = utf8Length(lead);
        if (length > 0 && i + length <= bytes.size()) {
            // A sequence is taken as text only if it decodes and encodes back unchanged,
            // which rules out overlong forms, encoded surrogates and truncated sequences.
            const QByteArray sequence = bytes.mid(i, length);
            const QString piece = QString::fromUtf8(sequence);
            if (piece.toUtf8() == sequence) {
                text += piece;
                i += length;
                continue;
            }
        }
        text += QChar(static_cast<char16_t>(kKeptByteBase + lead));
        ++i;
    }
    return text;
}

QByteArray pathToBytes(const QString& path) {
    bool hasKeptBytes = false;
    for (qsizetype i = 0; i < path.size() && !hasKeptBytes; ++i) {
        const bool pairedLow = i > 0 && path[i - 1].isHighSurrogate();
        hasKeptBytes = isKeptByte(path[i]) && !pairedLow;
    }
    if (!hasKeptBytes)
        return QFile::encodeName(path);

    QByteArray bytes;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const bool pairedLow = i > 0 && path[i - 1].isHighSurrogate();
        if (isKeptByte(path[i]) && !pairedLow) {
            bytes += path.mid(runStart, i - runStart).toUtf8();
            bytes += static_cast<char>(path[i].unicode() - kKeptByteBase);
            runStart = i + 1;
        }
    }
    bytes += path.mid(runStart).toUtf8();
    return bytes;
}

QByteArray localFileFromUri(const QByteArray& uri) {
    QByteArray rest = uri.trimmed();
    if (!rest.startsWith("file://"))
        return {};
    rest = rest.mid(7);
    if (rest.startsWith("localhost/"))
        rest = rest.mid(9);
    if (!rest.startsWith('/'))
        return {};
    return QByteArray::fromPercentEncoding(rest);
}

QString droppedFile(const QMimeData* mime, FileSystem& fileSystem) {
    if (!mime || !mime->hasUrls())
        return {};
    // The list itself, not QUrl: QUrl would turn bytes of a name that are not UTF-8 into
    // U+FFFD and the file could no longer be found.
    QList<QByteArray> entries;
    for (const QByteArray& line : mime->data(QStringLiteral("text/uri-list")).split('\n')) {
        const QByteArray entry = line.trimmed();
        if (!entry.isEmpty() && !entry.startsWith('#'))
            entries << entry;
    }
    if (entries.size() != 1)
        return {};
    const QByteArray file = localFileFromUri(entries.first());
    // The same rule as the open dialog: an existing file, not a folder.
    struct stat st {};
    if (file.isEmpty() || fileSystem.stat(file.toStdString(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return pathFromBytes(file);
}

QString dialogStartFolder(const QString& programFolder, const QString& chosenOnPanel) {
    const QFileInfo program(programFolder);
    if (!programFolder.isEmpty() && program.isDir() && program.isWritable())
        return programFolder;
    if (!chosenOnPanel.isEmpty()) {
        const QString folder = QFileInfo(chosenOnPanel).absolutePath();
        if (QFileInfo(folder).isDir())
            return folder;
    }
    return QDir::homePath();
}

} // namespace tolvar
