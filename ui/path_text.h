#pragma once

#include <QByteArray>
#include <QString>

class QMimeData;

namespace tolvar {

class FileSystem;

// File names are bytes; the window shows them as text. A name in the system's encoding goes
// through QFile::decodeName and QFile::encodeName. Qt replaces bytes that do not decode by
// U+FFFD, which would make such a name unreachable, so each of those bytes is kept instead as
// one of the code points U+DC80 to U+DCFF, and turned back into the same byte on the way out.

// The text shown for a name as the system stores it; pathToBytes gives the bytes back exactly.
QString pathFromBytes(const QByteArray& bytes);

// The bytes of a name for the system; the reverse of pathFromBytes, and the same as
// QFile::encodeName for any text that holds no kept byte.
QByteArray pathToBytes(const QString& path);

// The local file named by a "text/uri-list" entry ("file:///path" or
// "file://localhost/path"), percent escapes decoded to raw bytes; empty for any other entry.
QByteArray localFileFromUri(const QByteArray& uri);

// Where a file dialog starts: the program's own folder where the user may write in it (a
// copy unpacked beside its files); otherwise, installed in /usr/bin, the folder of the path
// already chosen on the panel when that folder exists, else the home folder.
QString dialogStartFolder(const QString& programFolder, const QString& chosenOnPanel);

// The path of the one ordinary file a drop names, looked up through fileSystem (folders,
// devices and missing files do not count); empty for a drop of anything else, of no file or
// of several.
QString droppedFile(const QMimeData* mime, FileSystem& fileSystem);

} // namespace tolvar
