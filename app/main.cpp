#include "frm_main.h"
#include "path_text.h"
#include "qt_text.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    tolvar::prepareDisplayScaling();
    QApplication application(argc, argv);
    // The window's own words and the engine's come from our catalogue; Qt's own (the file
    // dialogs' buttons, Yes and No) from Qt's, in the same language.
    tolvar::startTranslations(argv[0]);
    tolvar::installQtTranslations();
    QApplication::setApplicationName(QStringLiteral("Tolvar Files Splitter"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    // Lets desktops match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("tolvar-files-splitter"));

    tolvar::frmMain window;
    QApplication::setWindowIcon(window.windowIcon());
    // One file, as the file manager passes it (%f): the window starts with it chosen. The
    // name is taken byte for byte, so names that are not valid UTF-8 survive.
    if (argc > 1)
        window.openFile(tolvar::pathFromBytes(QByteArray(argv[1])));
    window.show();
    return QApplication::exec();
}
