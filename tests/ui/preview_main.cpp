// Shows the real window with one panel in view, or with the About box open, so the
// screenshot script can photograph it under Xvfb. Not installed; settings go to a temporary
// folder so the user's saved position is never touched.
#include "frm_main.h"

#include <QAction>
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: tolvar_ui_preview 1|2|3|4|5|about\n");
        return 2;
    }
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());

    tolvar::frmMain window;
    const QString what = args.at(1);
    if (what == QLatin1String("about")) {
        window.ShowPanel(QStringLiteral("5"));
        QTimer::singleShot(300, &window, [&window] {
            window.findChild<QAction*>(QStringLiteral("menuAbout"))->trigger();
        });
    } else {
        window.ShowPanel(what);
    }
    window.show();
    return QApplication::exec();
}
