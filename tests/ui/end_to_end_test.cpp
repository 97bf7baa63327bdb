// Real files through the real window and engine: split by size and by number, assemble back,
// compare byte for byte; the refusals and failure reports a user would see; progress with
// Cancel; and dropping files on the panels. Only the message box and dialogs are scripted.
#include "assembly_checks.h"
#include "operations.h"
#include "ui_test_support.h"

#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QProgressDialog>
#include <QScreen>
#include <QScrollBar>
#include <QThread>
#include <QUrl>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/vfs.h>
#include <unistd.h>

using namespace tolvar;
using namespace tolvar::uitest;

namespace {

const std::string kConfirmSplit = "Are you sure you want to split this file?";
std::string deleteSource(const QString& source) {
    return messages::deleteSourceQuestion(QFile::encodeName(source).toStdString());
}
const std::string kSplitDone = "Splitting done successfully.";
const std::string kConfirmAssemble = "Are you sure you want to assemble these files?";
// The window writes a checksum file unless told not to.
std::string deleteParts(std::size_t parts, const QString& output, bool checksumFile = true) {
    return messages::deletePartsQuestion(parts, QFile::encodeName(output).toStdString(),
                                         checksumFile, false);
}
const std::string kAssembled = "File assembled successfully.";

using Texts = std::vector<std::string>;

// The real file system, made slow on demand so an operation lasts long enough to show its
// progress dialog and to be cancelled in the middle.
class SlowFileSystem : public PosixFileSystem {
public:
    int pauseMs = 0;
    // A path whose status the file system refuses to give, as behind an unreadable folder.
    std::string unreadable;
    // The free room every folder reports, in bytes; zero: what the disk says.
    std::uint64_t freeRoom = 0;

    int fstatfs(int fd, struct statfs* info) override {
        const int result = PosixFileSystem::fstatfs(fd, info);
        if (result == 0 && freeRoom > 0) {
            info->f_frsize = 4096;
            info->f_bavail = freeRoom / 4096;
        }
        return result;
    }

    int stat(const std::string& path, struct stat* st) override {
        if (path == unreadable) {
            errno = EACCES;
            return -1;
        }
        return PosixFileSystem::stat(path, st);
    }

    ssize_t write(int fd, const void* buffer, std::size_t count) override {
        pause();
        return PosixFileSystem::write(fd, buffer, count);
    }
    ssize_t copyFileRange(int inFd, off_t* inOffset, int outFd, std::size_t count) override {
        pause();
        return PosixFileSystem::copyFileRange(inFd, inOffset, outFd, count);
    }
    // A splice from the file moves at most 1 MiB, a quarter of what one copyFileRange step
    // asks for: a quarter of the pause keeps the copy as long as before.
    ssize_t splice(int inFd, off_t* inOffset, int outFd, std::size_t count) override {
        if (inOffset != nullptr && pauseMs > 0)
            QThread::msleep(static_cast<unsigned long>(pauseMs / 4));
        return PosixFileSystem::splice(inFd, inOffset, outFd, count);
    }

private:
    void pause() const {
        if (pauseMs > 0)
            QThread::msleep(static_cast<unsigned long>(pauseMs));
    }
};

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

    QTemporaryDir settingsDir;
    std::unique_ptr<QTemporaryDir> dir;
    FakeMessageBox box;
    FakeFileDialogs dialogs;
    SlowFileSystem files;
    std::unique_ptr<frmMain> window;

    QLineEdit* text(int n) {
        return window->findChild<QLineEdit*>(QStringLiteral("Text%1").arg(n));
    }
    QPushButton* command(int n) {
        return window->findChild<QPushButton*>(QStringLiteral("Command%1").arg(n));
    }
    QString path(const QString& name) { return dir->filePath(name); }
    QStringList entries() {
        return QDir(dir->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    // QTest's widget overloads hand events straight to the widget; going through the window
    // lets modality apply as it does for a real mouse.
    void clickThroughWindowSystem(QWidget* target) {
        const QPoint at = target->mapTo(window.get(), target->rect().center());
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, at);
    }
    void choose(int button, const QString& result) {
        dialogs.results.push_back(result);
        command(button)->click();
    }

private slots:
    void initTestCase() { redirectSettings(settingsDir); }
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        box = FakeMessageBox();
        dialogs = FakeFileDialogs();
        files.pauseMs = 0;
        files.unreadable.clear();
        files.freeRoom = 0;
        window = std::make_unique<frmMain>(WindowServices{&box, &dialogs, &files});
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup() {
        window.reset();
        dir.reset();
        QTRY_VERIFY2(leftOverTopLevels().isEmpty(), qPrintable(leftOverTopLevels()));
    }

    void splitBySizeThenAssembleElsewhereRoundTrips() {
        const QByteArray original = pattern(300000);
        QVERIFY(writeFile(path("movie.avi"), original));
        QDir(dir->path()).mkdir(QStringLiteral("parts"));
        QDir(dir->path()).mkdir(QStringLiteral("rebuilt"));

        QTest::mouseClick(command(10), Qt::LeftButton);
        QTest::mouseClick(command(4), Qt::LeftButton);
        choose(1, path("movie.avi"));
        choose(11, path("parts/piece"));
        QCOMPARE(text(6)->text(), path("parts/piece."));
        QTest::keyClicks(text(5), QStringLiteral("100"));
        box.reset({MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Ok});
        QTest::mouseClick(command(2), Qt::LeftButton);
        QCOMPARE(box.texts(), (Texts{kConfirmSplit, deleteSource(path("movie.avi")), kSplitDone}));
        QCOMPARE(
            QDir(path("parts")).entryList(QDir::Files),
            (QStringList{"piece.000", "piece.001", "piece.002", "piece.sha256", "piece.tolvar"}));
        QCOMPARE(QFileInfo(path("parts/piece.000")).size(), 16 + 102400);
        QCOMPARE(QFileInfo(path("parts/piece.002")).size(), 16 + 300000 - 2 * 102400);
        QCOMPARE(readAll(path("movie.avi")), original);

        box.reset({});
        window->findChild<QAction*>(QStringLiteral("menuAssemble"))->trigger();
        choose(6, path("parts/piece.000"));
        choose(13, path("rebuilt/film"));
        box.reset({MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Ok});
        QTest::mouseClick(command(3), Qt::LeftButton);
        QCOMPARE(box.texts(),
                 (Texts{kConfirmAssemble, deleteParts(3, path("rebuilt/film.avi")), kAssembled}));
        QCOMPARE(box.shown().back().style, MsgStyle::Information);
        // The set keeps the source's last three characters: film. + avi.
        QCOMPARE(readAll(path("rebuilt/film.avi")), original);
        QCOMPARE(QDir(path("rebuilt")).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"film.avi"});
        QVERIFY(text(2)->text().isEmpty());
        QVERIFY(text(8)->text().isEmpty());
        QCOMPARE(box.problems(), std::size_t{0});
    }

    void splitByNumberDeletingSourceThenAssembleBesideTheParts() {
        const QByteArray original = pattern(1000003, 11);
        QVERIFY(writeFile(path("disk.img"), original));
        window->ShowPanel(QStringLiteral("4"));
        choose(8, path("disk.img"));
        window->findChild<QScrollBar*>(QStringLiteral("VScroll1"))->setValue(5);
        box.reset({MsgAnswer::Yes, MsgAnswer::Yes, MsgAnswer::Ok});
        command(7)->click();
        QCOMPARE(box.texts(), (Texts{kConfirmSplit, deleteSource(path("disk.img")), kSplitDone}));
        QVERIFY(!QFile::exists(path("disk.img")));
        // The box still shows the path of the deleted source.
        QCOMPARE(text(3)->text(), path("disk.img"));
        QCOMPARE(entries(), (QStringList{"disk.000", "disk.001", "disk.002", "disk.003", "disk.004",
                                         "disk.005", "disk.sha256", "disk.tolvar"}));

        box.reset({});
        window->ShowPanel(QStringLiteral("2"));
        choose(6, path("disk.000"));
        box.reset({MsgAnswer::Yes, MsgAnswer::Yes, MsgAnswer::Ok});
        command(3)->click();
        QCOMPARE(box.texts(),
                 (Texts{kConfirmAssemble, deleteParts(6, path("disk.img")), kAssembled}));
        QCOMPARE(entries(), QStringList{"disk.img"});
        QCOMPARE(readAll(path("disk.img")), original);
    }

    // A folder with room for the set and one broken file more: the window offers each run in
    // place, No by default, and the file comes back byte for byte.
    void runsThatFitOnlyInPlaceAreOfferedAndLoseNothing() {
        const QByteArray original = pattern(1000003, 13);
        QVERIFY(writeFile(path("film.mkv"), original));
        // Less than the set or the rebuilt file takes, more than one broken file.
        files.freeRoom = 600 * 1024;
        window->ShowPanel(QStringLiteral("1"));
        choose(1, path("film.mkv"));
        text(5)->setText(QStringLiteral("200"));
        box.reset({MsgAnswer::Yes, MsgAnswer::Ok});
        command(2)->click();
        QCOMPARE(box.texts().size(), std::size_t{2});
        QCOMPARE(box.shown()[0].question, QuestionKind::SplitInPlace);
        QCOMPARE(box.shown()[0].style, MsgStyle::QuestionDefaultNo);
        QCOMPARE(box.texts()[1], kSplitDone);
        QCOMPARE(entries(), (QStringList{"film.000", "film.001", "film.002", "film.003", "film.004",
                                         "film.sha256", "film.tolvar"}));

        window->ShowPanel(QStringLiteral("2"));
        choose(6, path("film.000"));
        box.reset({MsgAnswer::Yes, MsgAnswer::Yes, MsgAnswer::Ok});
        command(3)->click();
        QCOMPARE(box.texts().size(), std::size_t{3});
        QCOMPARE(box.shown()[0].question, QuestionKind::InPlaceJoin);
        QCOMPARE(box.shown()[0].style, MsgStyle::QuestionDefaultNo);
        QCOMPARE(box.texts()[1], kConfirmAssemble);
        QCOMPARE(box.texts()[2], kAssembled);
        QCOMPARE(entries(), QStringList{"film.mkv"});
        QCOMPARE(readAll(path("film.mkv")), original);
    }

    void refusalsAreShownByTheEngineAndThePanelAddsNothing() {
        QVERIFY(writeFile(path("tiny.txt"), pattern(500)));
        window->ShowPanel(QStringLiteral("1"));
        choose(1, path("tiny.txt"));
        text(5)->setText(QStringLiteral("1"));
        box.reset({MsgAnswer::Yes, MsgAnswer::Ok});
        command(2)->click();
        QCOMPARE(box.texts(),
                 (Texts{kConfirmSplit, "This file size is smaller than the selected split size."}));
        QCOMPARE(box.shown()[1].style, MsgStyle::Critical);
        QCOMPARE(box.shown()[1].title, std::string("Tolvar Files Splitter"));

        // A part of a set cannot be split again.
        QVERIFY(writeFile(path("whole.bin"), pattern(5000)));
        text(1)->setText(path("whole.bin"));
        box.reset({MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Ok});
        command(2)->click();
        QCOMPARE(box.texts().back(), kSplitDone);
        text(1)->setText(path("whole.000"));
        text(5)->setText(QStringLiteral("0.5"));
        box.reset({MsgAnswer::Yes, MsgAnswer::Ok});
        command(2)->click();
        QCOMPARE(box.texts(), (Texts{kConfirmSplit, "This file is already splited."}));

        // A file that is not a part cannot be assembled; both boxes stay.
        QVERIFY(writeFile(path("plain.000"), pattern(100)));
        window->ShowPanel(QStringLiteral("2"));
        choose(6, path("plain.000"));
        choose(13, path("out"));
        // The window says so, naming it, before anything is asked.
        box.reset({MsgAnswer::Ok});
        command(3)->click();
        QCOMPARE(box.texts(), (Texts{notSplitFileMessage(path("plain.000").toStdString())}));
        QCOMPARE(text(2)->text(), path("plain.000"));
        QCOMPARE(text(8)->text(), path("out."));
        QCOMPARE(box.problems(), std::size_t{0});
    }

    void engineFailureIsOneFailureReportAndLeavesNoParts() {
        QVERIFY(writeFile(path("src.bin"), pattern(5000)));
        window->ShowPanel(QStringLiteral("1"));
        choose(1, path("src.bin"));
        // The prefix points into a folder that does not exist.
        text(6)->setText(path("no/such/folder/p."));
        text(5)->setText(QStringLiteral("1"));
        box.reset({MsgAnswer::Yes, MsgAnswer::Ok});
        command(2)->click();
        QCOMPARE(box.shown().size(), std::size_t{2});
        QCOMPARE(box.shown()[1].style, MsgStyle::Critical);
        QVERIFY(box.shown()[1].title.starts_with("Tolvar Files Splitter - "));
        QCOMPARE(entries(), QStringList{"src.bin"});
        QCOMPARE(text(5)->text(), QStringLiteral("1"));
    }

    void namesThatAreNotUtf8SurviveTheWindow() {
        // "caf\xe9.bin": Latin-1, not valid UTF-8. Qt's own conversion loses the byte.
        const QByteArray folder = QFile::encodeName(dir->path());
        const QByteArray raw = folder + "/caf\xe9.bin";
        QVERIFY(QFile::encodeName(QFile::decodeName(raw)) != raw);
        const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        const QByteArray bytes = pattern(3000);
        QCOMPARE(::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())),
                 static_cast<ssize_t>(bytes.size()));
        ::close(fd);

        // Dropped from a file manager, the name arrives percent-encoded byte for byte.
        auto drop = [this](const QByteArray& file) {
            QMimeData mime;
            mime.setData(QStringLiteral("text/uri-list"),
                         "file://" + file.toPercentEncoding("/") + "\r\n");
            const QPoint at = window->rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window.get(), &enter);
            QDropEvent event(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window.get(), &event);
            return enter.isAccepted() && event.isAccepted();
        };
        window->ShowPanel(QStringLiteral("1"));
        QVERIFY(drop(raw));
        QVERIFY(!text(1)->text().isEmpty());
        text(5)->setText(QStringLiteral("1"));
        box.reset({MsgAnswer::Yes, MsgAnswer::Yes, MsgAnswer::Ok});
        command(2)->click();
        QCOMPARE(box.texts().back(), kSplitDone);
        QCOMPARE(::access((folder + "/caf\xe9.000").constData(), F_OK), 0);
        QCOMPARE(::access((folder + "/caf\xe9.002").constData(), F_OK), 0);
        QVERIFY(::access(raw.constData(), F_OK) != 0);

        box.reset({});
        window->ShowPanel(QStringLiteral("2"));
        QVERIFY(drop(folder + "/caf\xe9.000"));
        box.reset({MsgAnswer::Yes, MsgAnswer::Yes, MsgAnswer::Ok});
        command(3)->click();
        QCOMPARE(box.texts().back(), kAssembled);
        QFile rebuilt;
        const int in = ::open(raw.constData(), O_RDONLY);
        QVERIFY(in >= 0);
        QVERIFY(rebuilt.open(in, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        QCOMPARE(rebuilt.readAll(), bytes);
        rebuilt.close();
        // QTemporaryDir cannot remove a name it cannot decode.
        ::unlink(raw.constData());
    }

    // Progress and Cancel ------------------------------------------------------------------

    void quickOperationShowsNoProgressDialog() {
        QVERIFY(writeFile(path("quick.bin"), pattern(50000)));
        window->ShowPanel(QStringLiteral("1"));
        text(1)->setText(path("quick.bin"));
        text(5)->setText(QStringLiteral("10"));
        ShownWindows shown;
        box.reset({MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Ok});
        command(2)->click();
        QCOMPARE(box.texts().back(), kSplitDone);
        QVERIFY2(!shown.classes.contains(QStringLiteral("QProgressDialog")),
                 qPrintable(shown.classes.join(QLatin1Char(' '))));
        QVERIFY(!window->findChild<QProgressDialog*>());
    }

    void slowAnswerToTheQuestionDoesNotBringTheProgressDialog() {
        // The user takes a while over "Are you sure...?"; the copy itself is quick.
        struct SlowUserBox : FakeMessageBox {
            MsgAnswer present(const BoxText& shown) override {
                if (shown.style == MsgStyle::Question)
                    QThread::msleep(700);
                return FakeMessageBox::present(shown);
            }
        } slowUser;
        window = std::make_unique<frmMain>(WindowServices{&slowUser, &dialogs, &files});
        window->show();
        QVERIFY(writeFile(path("quick.bin"), pattern(50000)));
        window->ShowPanel(QStringLiteral("1"));
        text(1)->setText(path("quick.bin"));
        text(5)->setText(QStringLiteral("10"));
        ShownWindows shown;
        slowUser.reset({MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Ok});
        command(2)->click();
        QCOMPARE(slowUser.texts().back(), kSplitDone);
        QVERIFY2(!shown.classes.contains(QStringLiteral("QProgressDialog")),
                 qPrintable(shown.classes.join(QLatin1Char(' '))));
        window.reset();
    }

    void cancelDuringSplitRemovesItsPartsAndSaysNothing_data() {
        QTest::addColumn<bool>("byNumber");
        QTest::newRow("by size") << false;
        QTest::newRow("by number") << true;
    }
    void cancelDuringSplitRemovesItsPartsAndSaysNothing() {
        QFETCH(bool, byNumber);
        const QByteArray original = pattern(48 * 1024 * 1024, 3);
        QVERIFY(writeFile(path("large.bin"), original));
        // An older part of the same name that this run does not reach stays as it was.
        QVERIFY(writeFile(path("large.040"), "older"));
        // About two seconds in all: the dialog comes after half a second.
        files.pauseMs = 150;

        QString label;
        bool blockedWindow = false;
        ModalScript script({[&](QWidget* modal) {
            auto* progress = qobject_cast<QProgressDialog*>(modal);
            QVERIFY(progress);
            label = progress->labelText();
            // The window behind is blocked: a click on its button, delivered the way the
            // window system delivers it, starts nothing.
            clickThroughWindowSystem(command(byNumber ? 7 : 2));
            blockedWindow = QApplication::activeModalWidget() == progress;
            clickButton(progress, QStringLiteral("Cancel"));
        }});
        box.reset({MsgAnswer::Yes});
        // Without a modal dialog the same kind of click does reach the window.
        window->ShowPanel(byNumber ? QStringLiteral("4") : QStringLiteral("1"));
        clickThroughWindowSystem(command(byNumber ? 8 : 1));
        QCOMPARE(dialogs.calls.size(), std::size_t{1});
        if (byNumber) {
            text(3)->setText(path("large.bin"));
            window->findChild<QScrollBar*>(QStringLiteral("VScroll1"))->setValue(6);
            command(7)->click();
        } else {
            text(1)->setText(path("large.bin"));
            text(5)->setText(QStringLiteral("8"));
            window->findChild<QComboBox*>(QStringLiteral("Combo1"))->setCurrentIndex(1);
            command(2)->click();
        }
        QVERIFY(script.finished());
        QVERIFY(!script.timedOut());
        QVERIFY(blockedWindow);
        QVERIFY2(label.startsWith(QLatin1String("Writing broken file ")), qPrintable(label));
        QVERIFY(label.contains(QLatin1String(" of 7:\n")));
        QVERIFY(label.contains(path("large.0")));
        // Only the confirmation: no success, no failure, nothing twice.
        QCOMPARE(box.texts(), Texts{kConfirmSplit});
        QCOMPARE(entries(), (QStringList{"large.040", "large.bin"}));
        QCOMPARE(readAll(path("large.bin")), original);
        QCOMPARE(readAll(path("large.040")), QByteArray("older"));
        QTRY_VERIFY(!window->findChild<QProgressDialog*>());
    }

    void cancelDuringAssemblyKeepsTheExistingOutput() {
        const QByteArray original = pattern(48 * 1024 * 1024, 5);
        QVERIFY(writeFile(path("big.dat"), original));
        window->ShowPanel(QStringLiteral("1"));
        text(1)->setText(path("big.dat"));
        text(5)->setText(QStringLiteral("8"));
        window->findChild<QComboBox*>(QStringLiteral("Combo1"))->setCurrentIndex(1);
        box.reset({MsgAnswer::Yes, MsgAnswer::Yes, MsgAnswer::Ok});
        command(2)->click();
        QCOMPARE(box.texts().back(), kSplitDone);
        QVERIFY(!QFile::exists(path("big.dat")));
        // An older file sits where the assembled one would go.
        QVERIFY(writeFile(path("big.dat"), "previous content"));
        const QStringList before = entries();

        files.pauseMs = 150;
        box.reset({});
        QString label;
        ModalScript script({[&](QWidget* modal) {
            auto* progress = qobject_cast<QProgressDialog*>(modal);
            QVERIFY(progress);
            label = progress->labelText();
            clickButton(progress, QStringLiteral("Cancel"));
        }});
        // Yes to replacing it, then to the assembly.
        box.reset({MsgAnswer::Yes, MsgAnswer::Yes});
        window->ShowPanel(QStringLiteral("2"));
        text(2)->setText(path("big.000"));
        command(3)->click();
        QVERIFY(script.finished());
        QVERIFY2(label.startsWith(QLatin1String("Reading broken file ")), qPrintable(label));
        QCOMPARE(box.texts(),
                 (Texts{replaceQuestion(path("big.dat").toStdString()), kConfirmAssemble}));
        QCOMPARE(entries(), before);
        QCOMPARE(readAll(path("big.dat")), QByteArray("previous content"));
        QCOMPARE(text(2)->text(), path("big.000"));
    }

    void progressDialogStaysOverTheWindowAndOnTheScreen() {
        // A window half above the screen: centred on it, the dialog's title bar would be too.
        window->move(40, -window->frameGeometry().height() / 2);
        QTRY_COMPARE(window->y(), -window->frameGeometry().height() / 2);
        window->setProgressDelay(0);
        QVERIFY(writeFile(path("placed.bin"), pattern(12 * 1024 * 1024)));
        window->ShowPanel(QStringLiteral("1"));
        text(1)->setText(path("placed.bin"));
        text(5)->setText(QStringLiteral("1"));
        window->findChild<QComboBox*>(QStringLiteral("Combo1"))->setCurrentIndex(1);
        files.pauseMs = 60;

        bool ownedByTheWindow = false;
        int topAtFirst = -1;
        QPoint offCentreAfterMove(-1, -1);
        const int screenTop = window->screen()->availableGeometry().top();
        ModalScript script({[&](QWidget* modal) {
            auto* progress = qobject_cast<QProgressDialog*>(modal);
            QVERIFY(progress);
            ownedByTheWindow = progress->parentWidget() == window.get();
            topAtFirst = progress->frameGeometry().top();
            // The user moves the window while the dialog is up: the dialog goes along.
            window->move(200, 150);
            QTRY_COMPARE(window->pos(), QPoint(200, 150));
            QTest::qWait(50);
            offCentreAfterMove =
                progress->frameGeometry().center() - window->frameGeometry().center();
            clickButton(progress, QStringLiteral("Cancel"));
        }});
        box.reset({MsgAnswer::Yes});
        command(2)->click();
        QVERIFY(script.finished());
        QVERIFY(ownedByTheWindow);
        QCOMPARE(topAtFirst, screenTop);
        QVERIFY2(
            offCentreAfterMove.manhattanLength() <= 2,
            qPrintable(
                QStringLiteral("%1,%2").arg(offCentreAfterMove.x()).arg(offCentreAfterMove.y())));
    }

    void progressDialogClosesBeforeTheClosingQuestion() {
        struct AskingBox : FakeMessageBox {
            std::function<void()> onQuestion;
            MsgAnswer present(const BoxText& shown) override {
                if (shown.question == QuestionKind::DeleteSource)
                    onQuestion();
                return FakeMessageBox::present(shown);
            }
        } asking;
        bool progressGone = false;
        asking.onQuestion = [&] {
            const auto* p = window->findChild<QProgressDialog*>();
            progressGone = !p || !p->isVisible();
        };
        asking.reset({MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Ok});
        window = std::make_unique<frmMain>(WindowServices{&asking, &dialogs, &files});
        window->setProgressDelay(0);
        window->show();

        QVERIFY(writeFile(path("mid.bin"), pattern(12 * 1024 * 1024)));
        window->ShowPanel(QStringLiteral("1"));
        text(1)->setText(path("mid.bin"));
        text(5)->setText(QStringLiteral("2"));
        window->findChild<QComboBox*>(QStringLiteral("Combo1"))->setCurrentIndex(1);
        files.pauseMs = 60;
        ShownWindows shown;
        command(2)->click();
        QCOMPARE(asking.texts().back(), kSplitDone);
        QVERIFY(shown.classes.contains(QStringLiteral("QProgressDialog")));
        QVERIFY(progressGone);
        window.reset();
    }

    void closingTheWindowWaitsForTheOperation() {
        QVERIFY(writeFile(path("long.bin"), pattern(16 * 1024 * 1024)));
        window->setProgressDelay(60000);
        window->ShowPanel(QStringLiteral("1"));
        text(1)->setText(path("long.bin"));
        text(5)->setText(QStringLiteral("4"));
        window->findChild<QComboBox*>(QStringLiteral("Combo1"))->setCurrentIndex(1);
        files.pauseMs = 100;
        // A close request from the window system while the copy runs.
        QTimer::singleShot(150, window.get(), [this] { window->close(); });
        box.reset({MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Ok});
        command(2)->click();
        QCOMPARE(box.texts(), (Texts{kConfirmSplit, deleteSource(path("long.bin")), kSplitDone}));
        QVERIFY(window->isVisible());
        // Once the operation is over, closing works again.
        QVERIFY(window->close());
    }

    // Drag and drop ------------------------------------------------------------------------

    void droppingOneFileFillsTheWorkingPanelsSourceBox_data() {
        QTest::addColumn<QString>("panel");
        QTest::addColumn<int>("boxNumber");
        QTest::newRow("split by size") << "1" << 1;
        QTest::newRow("split by number") << "4" << 3;
        QTest::newRow("assemble") << "2" << 2;
    }
    void droppingOneFileFillsTheWorkingPanelsSourceBox() {
        QFETCH(QString, panel);
        QFETCH(int, boxNumber);
        const int target = boxNumber;
        QVERIFY(writeFile(path("dropped.bin"), "x"));
        window->ShowPanel(panel);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path("dropped.bin"))});
        const QPoint at = window->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(text(target)->text(), path("dropped.bin"));
        QCOMPARE(window->panelInView(), panel);
        // The boxes leave drops to the window rather than taking the path as text.
        for (int n = 1; n <= 8; ++n)
            QVERIFY(!text(n)->acceptDrops());
        QVERIFY(window->acceptDrops());
    }

    void droppedFileIsLookedAtThroughTheFileLayer() {
        QVERIFY(writeFile(path("seen.bin"), "x"));
        files.unreadable = path("seen.bin").toStdString();
        window->ShowPanel(QStringLiteral("1"));
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path("seen.bin"))});
        QDropEvent drop(window->rect().center(), Qt::CopyAction, &mime, Qt::LeftButton,
                        Qt::NoModifier);
        QApplication::sendEvent(window.get(), &drop);
        QVERIFY(!drop.isAccepted());
        QVERIFY(text(1)->text().isEmpty());
    }

    void dropsThatAreNotOneLocalFileOnAWorkingPanelAreIgnored_data() {
        // "@" stands for the test's folder, which exists only once the test runs.
        QTest::addColumn<QString>("panel");
        QTest::addColumn<QStringList>("urls");
        QTest::newRow("welcome panel") << "5" << QStringList{"file://@/one.bin"};
        QTest::newRow("method panel") << "3" << QStringList{"file://@/one.bin"};
        QTest::newRow("two files") << "1" << QStringList{"file://@/one.bin", "file://@/one.bin"};
        QTest::newRow("web address") << "1" << QStringList{"https://example.org/one.bin"};
        QTest::newRow("folder") << "2" << QStringList{"file://@"};
        QTest::newRow("missing file") << "4" << QStringList{"file://@/none"};
        QTest::newRow("no urls") << "1" << QStringList{};
    }
    void dropsThatAreNotOneLocalFileOnAWorkingPanelAreIgnored() {
        QFETCH(QString, panel);
        QFETCH(QStringList, urls);
        QList<QUrl> list;
        for (QString u : urls)
            list << QUrl(u.replace(QLatin1Char('@'), dir->path()));
        QVERIFY(writeFile(path("one.bin"), "x"));
        window->ShowPanel(panel);
        for (int n : {1, 2, 3})
            text(n)->setText(QStringLiteral("before"));
        QMimeData mime;
        mime.setUrls(list);
        mime.setText(QStringLiteral("some text"));
        const QPoint at = window->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        QVERIFY(!enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &drop);
        for (int n : {1, 2, 3})
            QCOMPARE(text(n)->text(), QStringLiteral("before"));
        QCOMPARE(window->panelInView(), panel);
    }
};

QTEST_MAIN(EndToEndTest)
#include "end_to_end_test.moc"
