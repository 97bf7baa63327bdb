#include "frm_main.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    tolvar::prepareDisplayScaling();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tolvar Files Splitter"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    // Lets desktops match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("tolvar-files-splitter"));

    tolvar::frmMain window;
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    return QApplication::exec();
}
