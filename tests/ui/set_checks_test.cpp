// What the window does with the checksum file and the recovery files: sets split from the
// window are checked when they are assembled, a damaged part is refused by name or rebuilt,
// a damaged checksum file and an existing output are asked about with No as the default, the
// check dialog judges every file, and a later part given or dropped stands for its set. Real
// files, real engine; only the message box and the file dialogs are scripted.
#include "assembly_checks.h"
#include "check_dialog.h"
#include "ui_test_support.h"

#include <QCheckBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QSpinBox>
#include <QTreeWidget>
#include <QUrl>
#include <memory>

using namespace tolvar;
using namespace tolvar::uitest;

namespace {

constexpr auto Yes = MsgAnswer::Yes;
constexpr auto No = MsgAnswer::No;
constexpr auto Ok = MsgAnswer::Ok;

// 300 000 bytes in parts of 50 KB: big.000 to big.005.
constexpr qsizetype kLength = 300000;
constexpr int kPartKilobytes = 50;

void flipByteAt(const QString& path, qsizetype at) {
    QByteArray bytes = readAll(path);
    bytes[at] = static_cast<char>(bytes[at] ^ 0x5a);
    QVERIFY(writeFile(path, bytes));
}

} // namespace

class SetChecksTest : public QObject {
    Q_OBJECT

    QTemporaryDir settingsDir;
    std::unique_ptr<QTemporaryDir> dir;
    FakeMessageBox box;
    FakeFileDialogs dialogs;
    std::unique_ptr<frmMain> window;
    QByteArray original;

    QString path(const QString& name) const { return dir->filePath(name); }
    template <class T> T* c(const char* name) { return child<T>(*window, name); }

    // big.bin split from the split-by-size panel, keeping the source.
    void splitInWindow(int recoveryFiles, bool checksums = true) {
        original = pattern(kLength);
        QVERIFY(writeFile(path("big.bin"), original));
        window->ShowPanel(QStringLiteral("1"));
        c<QLineEdit>("Text1")->setText(path("big.bin"));
        c<QLineEdit>("Text5")->setText(QString::number(kPartKilobytes));
        if (c<QCheckBox>("Check1")->isChecked() != checksums)
            c<QCheckBox>("Check1")->click();
        c<QSpinBox>("Spin1")->setValue(recoveryFiles);
        box.reset({Yes, No, Ok});
        c<QPushButton>("Command2")->click();
        QCOMPARE(box.texts().back(), std::string("Splitting done successfully."));
    }
    bool assembleInWindow(std::vector<MsgAnswer> answers) {
        window->ShowPanel(QStringLiteral("2"));
        c<QLineEdit>("Text2")->setText(path("big.000"));
        box.reset(std::move(answers));
        const bool before = QFile::exists(path("big.bin"));
        c<QPushButton>("Command3")->click();
        return before || QFile::exists(path("big.bin"));
    }
    std::string shownText(std::size_t i) const {
        return i < box.shown().size() ? box.shown()[i].text : std::string("<nothing>");
    }

private slots:
    void initTestCase() { redirectSettings(settingsDir); }
    void init() {
        QFile::remove(settingsFile(settingsDir));
        dir = std::make_unique<QTemporaryDir>();
        box = FakeMessageBox();
        dialogs = FakeFileDialogs();
        window = std::make_unique<frmMain>(WindowServices{&box, &dialogs, nullptr});
    }
    void cleanup() {
        QCOMPARE(box.problems(), std::size_t{0});
        window.reset();
        QTRY_VERIFY2(leftOverTopLevels().isEmpty(), qPrintable(leftOverTopLevels()));
    }

    // A set split in the window carries its checksums: a flipped byte, or a part of another
    // file of the same size and name tail put in its place, is refused by name and nothing
    // is written.
    void aChangedPartOfAWindowSetIsRefusedByName_data() {
        QTest::addColumn<bool>("foreign");
        QTest::newRow("a byte flipped in big.002") << false;
        QTest::newRow("another file's part as big.003") << true;
    }
    void aChangedPartOfAWindowSetIsRefusedByName() {
        QFETCH(bool, foreign);
        splitInWindow(0);
        const QString part = path(foreign ? "big.003" : "big.002");
        if (foreign) {
            QDir().mkdir(path("other"));
            QVERIFY(writeFile(path("other/big.bin"), pattern(kLength, 99)));
            c<QLineEdit>("Text1")->setText(path("other/big.bin"));
            box.reset({Yes, No, Ok});
            c<QPushButton>("Command2")->click();
            QFile::remove(part);
            QVERIFY(QFile::copy(path("other/big.003"), part));
        } else {
            flipByteAt(part, 16 + 25000);
        }
        QVERIFY(QFile::remove(path("big.bin")));
        assembleInWindow({Yes, Ok});
        QCOMPARE(box.shown().size(), std::size_t{2});
        QCOMPARE(box.shown()[1].style, MsgStyle::Critical);
        QVERIFY2(shownText(1).find("'" + part.toStdString() + "': damaged") != std::string::npos,
                 shownText(1).c_str());
        QVERIFY(!QFile::exists(path("big.bin")));
    }

    // An existing file of the output's name is named and kept on No, the default; Yes
    // replaces it with the whole file.
    void anExistingOutputIsAskedAboutAndNoKeepsIt() {
        splitInWindow(0);
        QVERIFY(writeFile(path("big.bin"), "notes\n"));
        assembleInWindow({No});
        QCOMPARE(box.shown().size(), std::size_t{1});
        QCOMPARE(shownText(0), std::string("'big.bin' already exists. Replace it?"));
        QCOMPARE(box.shown()[0].style, MsgStyle::QuestionDefaultNo);
        QCOMPARE(box.shown()[0].question, QuestionKind::Replace);
        QCOMPARE(readAll(path("big.bin")), QByteArray("notes\n"));

        assembleInWindow({Yes, Yes, No, Ok});
        QCOMPARE(readAll(path("big.bin")), original);
    }

    // A damaged part of a set with a recovery file: the window names it, rebuilds it on Yes
    // (the default) and assembles the very bytes that were split.
    void aDamagedPartIsRebuiltAndTheSetAssembledByteForByte() {
        splitInWindow(1);
        const QByteArray part = readAll(path("big.002"));
        flipByteAt(path("big.002"), 16 + 100);
        QVERIFY(QFile::remove(path("big.bin")));
        assembleInWindow({Yes, Yes, No, Ok});
        QCOMPARE(box.shown().size(), std::size_t{4});
        QCOMPARE(box.shown()[0].style, MsgStyle::Question);
        QCOMPARE(box.shown()[0].question, QuestionKind::Rebuild);
        QVERIFY2(shownText(0).rfind("'" + path("big.002").toStdString() + "': damaged", 0) == 0,
                 shownText(0).c_str());
        QVERIFY(shownText(0).ends_with("Rebuild 'big.002' from the recovery files and assemble?"));
        QCOMPARE(shownText(3), std::string("File assembled successfully."));
        QCOMPARE(readAll(path("big.002")), part);
        QCOMPARE(readAll(path("big.bin")), original);
    }

    // More damage than the recovery files cover: every bad file named, nothing changed.
    void damageBeyondTheRecoveryFilesIsNamedAndChangesNothing() {
        splitInWindow(1);
        flipByteAt(path("big.001"), 16 + 10);
        QVERIFY(QFile::remove(path("big.004")));
        QVERIFY(QFile::remove(path("big.bin")));
        const QStringList before = QDir(dir->path()).entryList(QDir::Files | QDir::Hidden);
        assembleInWindow({Ok});
        QCOMPARE(box.shown().size(), std::size_t{1});
        QCOMPARE(box.shown()[0].style, MsgStyle::Critical);
        for (const char* name : {"big.001': damaged", "big.004': missing"})
            QVERIFY2(shownText(0).find(name) != std::string::npos, shownText(0).c_str());
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), before);
    }

    // A damaged checksum file: asked about, No by default and No stops; Yes assembles without
    // it, and the success message says the contents were not checked.
    void aDamagedChecksumFileIsAskedAboutAndYesAssemblesUnchecked() {
        splitInWindow(0);
        flipByteAt(path("big.sha256"), 200);
        QVERIFY(QFile::remove(path("big.bin")));
        assembleInWindow({No});
        QCOMPARE(box.shown().size(), std::size_t{1});
        QCOMPARE(box.shown()[0].style, MsgStyle::QuestionDefaultNo);
        QCOMPARE(box.shown()[0].question, QuestionKind::DamagedChecksumFile);
        QVERIFY2(shownText(0).rfind("The checksum file '" + path("big.sha256").toStdString(), 0) ==
                     0,
                 shownText(0).c_str());
        QVERIFY(!QFile::exists(path("big.bin")));

        box.answerRestWith(No);
        assembleInWindow({Yes, Yes});
        QVERIFY2(box.texts().back().find("could not be checked") != std::string::npos,
                 box.texts().back().c_str());
        QCOMPARE(readAll(path("big.bin")), original);
    }

    // The check dialog's verdict on the whole set, each file's condition, and Repair only
    // where it helps.
    void checkDialogJudgesEveryFile_data() {
        QTest::addColumn<int>("recovery");
        QTest::addColumn<bool>("checksums");
        QTest::addColumn<QStringList>("damage"); // names whose byte is flipped
        QTest::addColumn<QStringList>("remove"); // names removed
        QTest::addColumn<QString>("conditions"); // one letter a file: Good Damaged Missing Foreign
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<bool>("repairable");
        QTest::newRow("whole") << 0 << true << QStringList{} << QStringList{} << "GGGGGG"
                               << "The set is whole: all 6 files are good." << false;
        QTest::newRow("damaged and missing, two recovery files")
            << 2 << true << QStringList{"big.002"} << QStringList{"big.004"} << "GGDGMGGG"
            << "1 damaged, 1 missing. The recovery files can rebuild them" << true;
        QTest::newRow("beyond one recovery file")
            << 1 << true << QStringList{"big.002"} << QStringList{"big.004"} << "GGDGMGG"
            << "There are too few good recovery files" << false;
        QTest::newRow("every broken file damaged")
            << 6 << true
            << QStringList{"big.000", "big.001", "big.002", "big.003", "big.004", "big.005"}
            << QStringList{} << "DDDDDDGGGGGG"
            << "The checksum file cannot be used to rebuild them: none of the broken files"
            << false;
        QTest::newRow("no checksum file")
            << 0 << false << QStringList{} << QStringList{"big.001"} << "GMGGGG"
            << "There is no checksum file" << false;
    }
    void checkDialogJudgesEveryFile() {
        QFETCH(int, recovery);
        QFETCH(bool, checksums);
        QFETCH(QStringList, damage);
        QFETCH(QStringList, remove);
        QFETCH(QString, conditions);
        QFETCH(QString, verdict);
        QFETCH(bool, repairable);
        splitInWindow(recovery, checksums);
        for (const QString& name : damage)
            flipByteAt(path(name), 16 + 7);
        for (const QString& name : remove)
            QVERIFY(QFile::remove(path(name)));

        auto judged = [&](CheckDialog& dialog) {
            QString letters;
            QTreeWidget* list = dialog.fileList();
            for (int i = 0; i < list->topLevelItemCount(); ++i)
                letters +=
                    QStringLiteral("GDMF").at(list->topLevelItem(i)->data(1, Qt::UserRole).toInt());
            return letters;
        };
        CheckDialog dialog(path("big.003"), box, defaultFileSystem(), window.get(), 60000);
        QVERIFY(dialog.runCheck());
        QCOMPARE(judged(dialog), conditions);
        QVERIFY2(dialog.verdictLabel()->text().contains(verdict),
                 qPrintable(dialog.verdictLabel()->text()));
        QCOMPARE(dialog.repairButton()->isEnabled(), repairable);
        // A screen reader hears the list by its name and the verdict as the dialog opens.
        QVERIFY(!dialog.fileList()->accessibleName().isEmpty());
        QCOMPARE(dialog.accessibleDescription(), dialog.verdictLabel()->text());
        if (repairable) {
            box.reset({Ok});
            dialog.repairButton()->click();
            QCOMPARE(shownText(0),
                     std::string("Rebuilt 'big.002' and 'big.004' from the recovery files."));
            QCOMPARE(judged(dialog), QString(conditions.size(), QLatin1Char('G')));
            QCOMPARE(readAll(path("big.bin")), original);
        }
    }

    // Any part of a set, given to the program, dropped on the assemble panel or picked in its
    // dialog, chooses the
    // set's first part; any other file given becomes the source of both split panels.
    void aLaterPartGivenOrDroppedOpensItsSet() {
        splitInWindow(0);
        window->openFile(path("big.003"));
        QCOMPARE(window->panelInView(), QStringLiteral("2"));
        QCOMPARE(c<QLineEdit>("Text2")->text(), path("big.000"));

        c<QLineEdit>("Text2")->clear();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path("big.003"))});
        const QPoint at = window->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &drop);
        QCOMPARE(c<QLineEdit>("Text2")->text(), path("big.000"));

        // Picked in the assemble dialog, as its "All Files" filter allows.
        c<QLineEdit>("Text2")->clear();
        dialogs.results = {path("big.002")};
        c<QPushButton>("Command6")->click();
        QCOMPARE(c<QLineEdit>("Text2")->text(), path("big.000"));

        window->openFile(path("big.bin"));
        QCOMPARE(window->panelInView(), QStringLiteral("3"));
        QCOMPARE(c<QLineEdit>("Text1")->text(), path("big.bin"));
        QCOMPARE(c<QLineEdit>("Text3")->text(), path("big.bin"));
    }
};

QTEST_MAIN(SetChecksTest)
#include "set_checks_test.moc"
