// Shows the real window with one panel in view, with the About box open, with the progress
// dialog of a split, with the check of a set that has a damaged and a missing broken file, or
// with the rebuild, the replace or either in-place question, so the screenshot script can
// photograph it under Xvfb. Not installed; settings and the set go to temporary folders so the
// user's saved position is never touched.
#include "assembly_checks.h"
#include "check_dialog.h"
#include "frm_main.h"
#include "in_place_join.h"
#include "operations.h"
#include "progress_presenter.h"
#include "qt_message_box.h"
#include "qt_text.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <memory>

namespace {

// Says yes to the split and no to deleting its source.
class SplitAnswers : public tolvar::MessageBox {
public:
    tolvar::MsgAnswer present(const tolvar::BoxText& shown) override {
        if (shown.question == tolvar::QuestionKind::None)
            return tolvar::MsgAnswer::Ok;
        return shown.question == tolvar::QuestionKind::DeleteSource ? tolvar::MsgAnswer::No
                                                                    : tolvar::MsgAnswer::Yes;
    }
};

// A set of 7 broken files with 2 recovery files in folder, its 003 changed and its 005 gone.
std::string damagedSet(const QString& folder) {
    const std::string source = folder.toStdString() + "/holiday-2026.mkv";
    std::ofstream(source) << std::string(6 * 4096 + 100, 'x');
    SplitAnswers answers;
    tolvar::OperationContext context{answers};
    tolvar::SplitFile(source, 4, "", source, context, {2, true});
    const std::string base = folder.toStdString() + "/holiday-2026.";
    std::fstream(base + "003", std::ios::in | std::ios::out | std::ios::binary).seekp(100).put('y');
    std::remove((base + "005").c_str());
    return base + "000";
}

} // namespace

int main(int argc, char* argv[]) {
    tolvar::prepareDisplayScaling();
    QApplication application(argc, argv);
    // In the user's language, as the window is (LANGUAGE=de for German).
    tolvar::startTranslationsIn(TOLVAR_LOCALE_ROOT);
    tolvar::installQtTranslations();
    const QStringList args = QApplication::arguments();
    bool sized = true;
    const int pointSize = args.size() == 3 ? args.at(2).toInt(&sized) : 0;
    if (args.size() < 2 || args.size() > 3 || !sized) {
        std::fprintf(stderr, "usage: tolvar_ui_preview "
                             "1|2|3|4|5|about|help|progress|progress-moved|check|rebuild|replace|"
                             "in-place|split-in-place [font point size]\n");
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
    if (what == QLatin1String("about") || what == QLatin1String("help")) {
        window.ShowPanel(QStringLiteral("5"));
        const QString item = what == QLatin1String("about") ? QStringLiteral("menuAbout")
                                                            : QStringLiteral("menuHelp");
        QTimer::singleShot(300, &window,
                           [&window, item] { window.findChild<QAction*>(item)->trigger(); });
    } else if (progressShot) {
        window.ShowPanel(QStringLiteral("1"));
    } else if (what == QLatin1String("check")) {
        window.ShowPanel(QStringLiteral("2"));
    } else if (what == QLatin1String("rebuild") || what == QLatin1String("replace") ||
               what == QLatin1String("in-place")) {
        window.ShowPanel(QStringLiteral("2"));
        QTimer::singleShot(300, &window, [&window, what] {
            tolvar::QtMessageBox box(&window);
            if (what == QLatin1String("in-place"))
                box.askDefaultNo(
                    tolvar::messages::inPlaceJoinQuestion("/home/user/Videos/holiday-2026.mkv"));
            else if (what == QLatin1String("replace"))
                box.askDefaultNo(tolvar::replaceQuestion("/home/user/Videos/holiday-2026.mkv"));
            else
                box.ask(tolvar::rebuildQuestion(
                    "'/home/user/Videos/holiday-2026.003': damaged (altered)\n"
                    "'/home/user/Videos/holiday-2026.005': missing",
                    {"holiday-2026.003", "holiday-2026.005"}));
        });
    } else if (what == QLatin1String("split-in-place")) {
        // The question a split that fits only in place asks, over the split-by-size panel.
        window.ShowPanel(QStringLiteral("1"));
        QTimer::singleShot(300, &window, [&window] {
            tolvar::QtMessageBox box(&window);
            box.askDefaultNo(tolvar::Message(tolvar::MessageId::InPlaceSplitQuestion,
                                             {"/media/stick/holiday-2026.mkv"}));
        });
    } else {
        window.ShowPanel(what);
    }
    // The split-by-size panel with a 5 GB source chosen for DVDs: the size, the broken files,
    // the discs and the room they need where they go.
    QTemporaryDir sourceFolder;
    if (what == QLatin1String("1")) {
        QFile source(sourceFolder.filePath(QStringLiteral("holiday-2026.mkv")));
        if (source.open(QIODevice::WriteOnly) && source.resize(5'000'000'000)) {
            source.close();
            window.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(source.fileName());
            auto* where = window.findChild<QComboBox*>(QStringLiteral("Combo2"));
            where->setCurrentIndex(where->findData(QStringLiteral("dvd")));
            emit where->activated(where->currentIndex());
        }
    }
    window.show();

    QTemporaryDir setFolder;
    std::unique_ptr<tolvar::CheckDialog> check;
    SplitAnswers answers;
    if (what == QLatin1String("check")) {
        check = std::make_unique<tolvar::CheckDialog>(
            QString::fromStdString(damagedSet(setFolder.path())), answers,
            tolvar::defaultFileSystem(), &window, 500);
        if (check->runCheck())
            QTimer::singleShot(300, check.get(), [&check] { check->show(); });
    }

    // A split caught in the middle, copying 40 MB a second: after two seconds the dialog
    // shows the rate and the time left.
    tolvar::ProgressPresenter progress(&window, tolvar::ProgressPresenter::Direction::Writing, 0,
                                       QStringLiteral("Splitting holiday-2026.mkv"));
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
