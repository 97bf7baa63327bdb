// Shows the real window with one panel in view, or with the About box open, so the
// screenshot script can photograph it under Xvfb. Not installed; settings go to a temporary
// folder so the user's saved position is never touched.
#include "frm_main.h"
#include "progress_presenter.h"

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
        std::fprintf(stderr, "usage: tolvar_ui_preview 1|2|3|4|5|about|progress\n");
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
    } else if (what == QLatin1String("progress")) {
        window.ShowPanel(QStringLiteral("1"));
    } else {
        window.ShowPanel(what);
    }
    window.show();

    // A split caught in the middle: the dialog stays up until the copy would finish.
    tolvar::ProgressPresenter progress(&window, tolvar::ProgressPresenter::Direction::Writing, 0);
    if (what == QLatin1String("progress")) {
        QTimer::singleShot(300, &window, [&progress] {
            tolvar::Progress report;
            report.bytesTotal = 4700000000;
            report.bytesDone = 1900000000;
            report.partIndex = 2;
            report.partCount = 7;
            report.partPath = "/home/user/Videos/holiday-2026.002";
            progress.onProgress(report);
        });
    }
    return QApplication::exec();
}
