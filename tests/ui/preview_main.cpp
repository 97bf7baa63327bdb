// Shows the real window with one panel in view, with the About box open, or with the
// progress dialog of a split, so the screenshot script can photograph it under Xvfb. Not
// installed; settings go to a temporary folder so the user's saved position is never touched.
#include "frm_main.h"
#include "progress_presenter.h"

#include <QAction>
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[]) {
    tolvar::prepareDisplayScaling();
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    bool sized = true;
    const int pointSize = args.size() == 3 ? args.at(2).toInt(&sized) : 0;
    if (args.size() < 2 || args.size() > 3 || !sized) {
        std::fprintf(stderr, "usage: tolvar_ui_preview 1|2|3|4|5|about|progress|progress-moved "
                             "[font point size]\n");
        return 2;
    }
    if (pointSize > 0) {
        QFont font = QApplication::font();
        font.setPointSize(pointSize);
        QApplication::setFont(font);
    }
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());

    tolvar::frmMain window;
    const QString what = args.at(1);
    const bool progressShot = what.startsWith(QLatin1String("progress"));
    if (what == QLatin1String("about")) {
        window.ShowPanel(QStringLiteral("5"));
        QTimer::singleShot(300, &window, [&window] {
            window.findChild<QAction*>(QStringLiteral("menuAbout"))->trigger();
        });
    } else if (progressShot) {
        window.ShowPanel(QStringLiteral("1"));
    } else {
        window.ShowPanel(what);
    }
    window.show();

    // A split caught in the middle, copying 40 MB a second: after two seconds the dialog
    // shows the rate and the time left.
    tolvar::ProgressPresenter progress(&window, tolvar::ProgressPresenter::Direction::Writing, 0);
    tolvar::Progress report;
    report.bytesTotal = 4700000000;
    report.bytesDone = 1900000000;
    report.partIndex = 2;
    report.partCount = 7;
    report.partPath = "/home/user/Videos/holiday-2026.002";
    QTimer copying;
    QObject::connect(&copying, &QTimer::timeout, &window, [&] {
        report.bytesDone += 4 * 1024 * 1024;
        progress.onProgress(report);
    });
    if (progressShot)
        QTimer::singleShot(300, &window, [&copying] { copying.start(100); });
    // The user moves the window while the dialog is up: the dialog goes with it.
    if (what == QLatin1String("progress-moved"))
        QTimer::singleShot(1200, &window, [&window] { window.move(40, 40); });
    return QApplication::exec();
}
