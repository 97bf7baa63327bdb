// The real Qt message box and file dialogs, answered by finding the active modal widget the
// way a user would meet it. Every script has a deadline, so a box nobody answers fails the
// test instead of hanging it.
#include "qt_message_box.h"
#include "ui_test_support.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QTextDocumentFragment>
#include <memory>

using namespace tolvar;
using namespace tolvar::uitest;

namespace {

// The words a box shows, whether as plain text or as markup.
QString boxText(QWidget* w) {
    const auto* box = qobject_cast<QMessageBox*>(w);
    return box->textFormat() == Qt::RichText ? QTextDocumentFragment::fromHtml(box->text())
                                                   .toPlainText()
                                                   .replace(QChar::LineSeparator, QLatin1Char('\n'))
                                             : box->text();
}

// Types a name into a Qt file dialog and confirms it, as pressing Enter would.
void typeAndAccept(QWidget* w, const QString& name) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    QVERIFY(dialog);
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    edit->setText(name);
    // Through QDialog, where accept() is public; the dialog's own override still runs.
    static_cast<QDialog*>(dialog)->accept();
}

} // namespace

class RealDialogsTest : public QObject {
    Q_OBJECT

    QTemporaryDir settingsDir;
    QTemporaryDir files;

    // A window showing the split panel filled in for a new file of 5000 bytes in 1 KB parts.
    void fillSplitPanel(frmMain& window, const QString& source) {
        QVERIFY(writeFile(source, pattern(5000)));
        window.show();
        window.ShowPanel(QStringLiteral("1"));
        window.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(source);
        window.findChild<QLineEdit*>(QStringLiteral("Text5"))->setText(QStringLiteral("1"));
    }

private slots:
    void initTestCase() { redirectSettings(settingsDir); }
    void cleanup() { QTRY_VERIFY2(leftOverTopLevels().isEmpty(), qPrintable(leftOverTopLevels())); }

    // Message boxes ------------------------------------------------------------------------

    void questionBoxAnswersYesOrNo_data() {
        QTest::addColumn<QString>("press");
        QTest::addColumn<int>("expected");
        QTest::newRow("Yes") << "Yes" << int(MsgAnswer::Yes);
        QTest::newRow("No") << "No" << int(MsgAnswer::No);
        QTest::newRow("Escape") << "Escape" << int(MsgAnswer::No);
    }
    void questionBoxAnswersYesOrNo() {
        QFETCH(QString, press);
        QFETCH(int, expected);
        QtMessageBox box;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title;
        int buttons = 0;
        ModalScript script({[&](QWidget* w) {
            auto* m = qobject_cast<QMessageBox*>(w);
            icon = m->icon();
            title = m->windowTitle();
            buttons = static_cast<int>(m->buttons().size());
            if (press == QLatin1String("Escape"))
                QTest::keyClick(m, Qt::Key_Escape);
            else
                clickButton(m, press);
        }});
        const MsgAnswer answer = box.show("Are you sure you want to split this file?",
                                          MsgStyle::Question, "Tolvar Files Splitter");
        QVERIFY(!script.timedOut());
        QCOMPARE(int(answer), expected);
        QCOMPARE(icon, QMessageBox::Question);
        QCOMPARE(title, QStringLiteral("Tolvar Files Splitter"));
        QCOMPARE(buttons, 2);
    }

    void okBoxesShowTheirIconAndTitleAndPlainText_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("icon");
        QTest::newRow("critical") << 16 << int(QMessageBox::Critical);
        QTest::newRow("information") << 64 << int(QMessageBox::Information);
    }
    void okBoxesShowTheirIconAndTitleAndPlainText() {
        QFETCH(int, style);
        QFETCH(int, icon);
        QtMessageBox box;
        QString text;
        QString title;
        QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
        Qt::TextFormat format = Qt::AutoText;
        ModalScript script({[&](QWidget* w) {
            auto* m = qobject_cast<QMessageBox*>(w);
            text = m->text();
            title = m->windowTitle();
            shownIcon = m->icon();
            format = m->textFormat();
            QCOMPARE(m->buttons().size(), 1);
            clickButton(m, QStringLiteral("OK"));
        }});
        const MsgAnswer answer =
            box.show("cannot open '<b>x</b>'\r\nsecond line", static_cast<MsgStyle>(style),
                     "Tolvar Files Splitter - 53");
        QVERIFY(script.finished());
        QCOMPARE(answer, MsgAnswer::Ok);
        QCOMPARE(int(shownIcon), icon);
        QCOMPARE(title, QStringLiteral("Tolvar Files Splitter - 53"));
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(text, QStringLiteral("cannot open '<b>x</b>'\nsecond line"));
    }

    void windowTalksThroughTheRealBox() {
        FakeFileDialogs dialogs;
        frmMain window(WindowServices{nullptr, &dialogs, nullptr});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QStringList texts;
        QStringList titles;
        QStringList markup;
        QStringList notes;
        QList<bool> ownIcon;
        auto answerOk = [&](QWidget* w) {
            texts << boxText(w);
            titles << w->windowTitle();
            const auto* m = qobject_cast<QMessageBox*>(w);
            markup << (m->textFormat() == Qt::RichText ? m->text() : QString());
            notes << m->informativeText();
            ownIcon << (m->icon() == QMessageBox::NoIcon && !m->iconPixmap().isNull());
            QCOMPARE(w->parentWidget(), &window);
            clickButton(w, QStringLiteral("OK"));
        };
        ModalScript script({answerOk, answerOk, answerOk});
        window.findChild<QAction*>(QStringLiteral("menuAbout"))->trigger();
        window.findChild<QAction*>(QStringLiteral("menuHelp"))->trigger();
        window.ShowPanel(QStringLiteral("1"));
        window.findChild<QLineEdit*>(QStringLiteral("Text5"))->setText(QStringLiteral("-1"));
        window.findChild<QPushButton*>(QStringLiteral("Command2"))->click();
        QVERIFY(script.finished());
        QVERIFY(!script.timedOut());
        QCOMPARE(titles,
                 (QStringList{"About...", "Tolvar Files Splitter", "Tolvar Files Splitter"}));
        // The About lines are shown as lines.
        QVERIFY2(texts[0].split(QLatin1Char('\n')).size() == 3, qPrintable(markup[0]));
        QVERIFY(!texts[0].contains(QLatin1Char('\r')));
        QCOMPARE(texts[1], QStringLiteral("Please go to our web site: "
                                          "https://tolvar-files-splitter.example.org"));
        QCOMPARE(texts[2], QStringLiteral("Invalid size."));
        // The addresses are links, kept on one line; About adds the icon and the licence.
        const QString link =
            QStringLiteral("<nobr><a href=\"https://tolvar-files-splitter.example.org\">");
        QVERIFY2(markup[1].contains(link), qPrintable(markup[1]));
        QVERIFY(markup[0].contains(
            QStringLiteral("href=\"https://tolvar-files-splitter.example.org/\"")));
        QVERIFY(markup[2].isEmpty());
        QCOMPARE(ownIcon, (QList<bool>{true, false, false}));
        QVERIFY(notes[0].contains(QStringLiteral("MIT licence")));
    }

    void declinedSplitThroughTheRealBoxLeavesNoParts() {
        const QString source = files.filePath(QStringLiteral("declined.bin"));
        FakeFileDialogs dialogs;
        frmMain window(WindowServices{nullptr, &dialogs, nullptr});
        fillSplitPanel(window, source);
        QString asked;
        ModalScript script({[&](QWidget* w) {
            asked = boxText(w);
            clickButton(w, QStringLiteral("No"));
        }});
        window.findChild<QPushButton*>(QStringLiteral("Command2"))->click();
        QVERIFY(script.finished());
        QCOMPARE(asked, QStringLiteral("Are you sure you want to split this file?"));
        QCOMPARE(QDir(files.path()).entryList({"declined.*"}), QStringList{"declined.bin"});
    }

    // Return pressed by habit at every box of a split: Yes to the confirmation and to the
    // success message, but No to deleting the source, which the question names.
    void returnAtTheDeleteQuestionDeletesNothing() {
        const QString source = files.filePath(QStringLiteral("habit.bin"));
        FakeFileDialogs dialogs;
        frmMain window(WindowServices{nullptr, &dialogs, nullptr});
        fillSplitPanel(window, source);
        QStringList asked;
        auto pressReturn = [&](QWidget* w) {
            asked << boxText(w);
            QTest::keyClick(w, Qt::Key_Return);
        };
        ModalScript script({pressReturn, pressReturn, pressReturn});
        window.findChild<QPushButton*>(QStringLiteral("Command2"))->click();
        QVERIFY(script.finished());
        QCOMPARE(asked.size(), 3);
        QCOMPARE(asked[1],
                 QStringLiteral("Would you like to delete the original file?\n'%1'").arg(source));
        QCOMPARE(asked[2], QStringLiteral("Splitting done successfully."));
        QVERIFY(QFile::exists(source));
    }

    // However short the text, the box leaves room for its whole title.
    void aShortMessageKeepsItsTitleWhole() {
        QtMessageBox box;
        int width = 0;
        int titleWidth = 0;
        ModalScript script({[&](QWidget* w) {
            width = w->width();
            titleWidth = QFontMetrics(QApplication::font("QWorkspaceTitleBar"))
                             .horizontalAdvance(w->windowTitle());
            clickButton(w, QStringLiteral("OK"));
        }});
        box.show("Done.", MsgStyle::Information, "Tolvar Files Splitter - a long title here");
        QVERIFY(script.finished());
        QVERIFY2(width > titleWidth + 60,
                 qPrintable(QStringLiteral("%1 %2").arg(width).arg(titleWidth)));
    }

    // File dialogs -------------------------------------------------------------------------

    void openDialogListsEveryFileAndReturnsTheChoice() {
        QVERIFY(writeFile(files.filePath(QStringLiteral("README")), "no dot"));
        QVERIFY(writeFile(files.filePath(QStringLiteral("notes.txt")), "dot"));
        QStringList filters;
        QString title;
        QString folder;
        ModalScript script({[&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            filters = dialog->nameFilters();
            title = dialog->windowTitle();
            folder = dialog->directory().absolutePath();
            QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text(),
                     QString());
            // The folder is listed in the background; wait until the dotless name shows.
            auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
            QVERIFY(list);
            auto listed = [list](const QString& name) {
                const QAbstractItemModel* model = list->model();
                for (int row = 0; row < model->rowCount(list->rootIndex()); ++row)
                    if (model->index(row, 0, list->rootIndex()).data().toString() == name)
                        return true;
                return false;
            };
            QTRY_VERIFY(listed(QStringLiteral("README")));
            QVERIFY(listed(QStringLiteral("notes.txt")));
            typeAndAccept(w, QStringLiteral("README"));
        }});
        const QString chosen = Open::ShowOpenDialog(
            nullptr, QStringLiteral("All Files |*.*"),
            QStringLiteral("Choose a file to split - Tolvar Files Splitter"), files.path());
        QVERIFY(!script.timedOut());
        QCOMPARE(chosen, files.filePath(QStringLiteral("README")));
        QCOMPARE(filters, QStringList{"All Files (*)"});
        QCOMPARE(title, QStringLiteral("Choose a file to split - Tolvar Files Splitter"));
        QCOMPARE(folder, QDir(files.path()).absolutePath());
    }

    void cancelledDialogsReturnTheEmptyText() {
        ModalScript script({[](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); },
                            [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }});
        QCOMPARE(Open::ShowOpenDialog(nullptr, QStringLiteral("000 Files (*.000)|*.000"),
                                      QStringLiteral("open"), files.path()),
                 QString());
        QCOMPARE(Open::ShowSaveDialog(nullptr, QStringLiteral("All Files |*.*"),
                                      QStringLiteral("save"), files.path()),
                 QString());
        QVERIFY(script.finished());
    }

    void saveDialogAsksBeforeCreatingAndNoKeepsItOpen() {
        const QString wanted = files.filePath(QStringLiteral("new-parts"));
        QStringList questions;
        bool stillOpen = false;
        ModalScript script({
            [&](QWidget* w) { typeAndAccept(w, wanted); },
            [&](QWidget* w) {
                questions << boxText(w);
                clickButton(w, QStringLiteral("No"));
            },
            [&](QWidget* w) {
                // Back in the dialog after No.
                stillOpen = qobject_cast<QFileDialog*>(w) && w->isVisible();
                typeAndAccept(w, wanted);
            },
            [&](QWidget* w) {
                questions << boxText(w);
                clickButton(w, QStringLiteral("Yes"));
            },
        });
        const QString chosen = Open::ShowSaveDialog(nullptr, QStringLiteral("All Files |*.*"),
                                                    QStringLiteral("save"), files.path());
        QVERIFY(!script.timedOut());
        QVERIFY(stillOpen);
        QCOMPARE(chosen, wanted);
        QCOMPARE(questions.size(), 2);
        QVERIFY2(questions[0].contains(QLatin1String("does not exist")), qPrintable(questions[0]));
        QVERIFY(questions[0].contains(QLatin1String("create")));
        // Choosing a name creates nothing: the engine writes the files later.
        QVERIFY(!QFile::exists(wanted));
    }

    void saveDialogAsksBeforeReplacing() {
        const QString existing = files.filePath(QStringLiteral("old.bin"));
        QVERIFY(writeFile(existing, "old"));
        QString question;
        ModalScript script({
            [&](QWidget* w) { typeAndAccept(w, existing); },
            [&](QWidget* w) {
                question = boxText(w);
                clickButton(w, QStringLiteral("Yes"));
            },
        });
        const QString chosen = Open::ShowSaveDialog(nullptr, QStringLiteral("All Files |*.*"),
                                                    QStringLiteral("save"), files.path());
        QVERIFY(script.finished());
        QCOMPARE(chosen, existing);
        QVERIFY2(question.contains(QLatin1String("already exists")), qPrintable(question));
        QCOMPARE(readAll(existing), QByteArray("old"));
    }

    void pathsLongerThan254CharactersAreAccepted() {
        QString folder = files.path();
        for (char c : {'a', 'b', 'c'}) {
            folder += QLatin1Char('/') + QString(90, QLatin1Char(c));
            QVERIFY(QDir().mkpath(folder));
        }
        const QString longPath = folder + QStringLiteral("/source.bin");
        QVERIFY(longPath.size() > 254);
        QVERIFY(writeFile(longPath, "x"));
        ModalScript script({[&](QWidget* w) { typeAndAccept(w, longPath); },
                            [&](QWidget* w) { typeAndAccept(w, longPath + ".parts"); },
                            [&](QWidget* w) { clickButton(w, QStringLiteral("Yes")); }});
        QCOMPARE(Open::ShowOpenDialog(nullptr, QStringLiteral("All Files |*.*"),
                                      QStringLiteral("open"), files.path()),
                 longPath);
        QCOMPARE(Open::ShowSaveDialog(nullptr, QStringLiteral("All Files |*.*"),
                                      QStringLiteral("save"), files.path()),
                 longPath + ".parts");
        QVERIFY(script.finished());
    }

    void openDialogRefusesAFileThatDoesNotExist() {
        QStringList seen;
        ModalScript script({
            [&](QWidget* w) { typeAndAccept(w, files.filePath(QStringLiteral("nothing.bin"))); },
            [&](QWidget* w) {
                // Qt's own warning; confirming it returns to the dialog.
                seen << QString::fromLatin1(w->metaObject()->className());
                qobject_cast<QDialog*>(w)->accept();
            },
            [&](QWidget* w) {
                seen << QString::fromLatin1(w->metaObject()->className());
                qobject_cast<QDialog*>(w)->reject();
            },
        });
        const QString chosen = Open::ShowOpenDialog(nullptr, QStringLiteral("All Files |*.*"),
                                                    QStringLiteral("open"), files.path());
        QVERIFY(!script.timedOut());
        QCOMPARE(chosen, QString());
        QCOMPARE(seen, (QStringList{"QMessageBox", "QFileDialog"}));
    }
};

QTEST_MAIN(RealDialogsTest)
#include "real_dialogs_test.moc"
