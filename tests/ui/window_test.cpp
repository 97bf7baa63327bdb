// The window driven through its real widgets, with the message box and the file dialogs
// replaced by scripted fakes: layout, panels, navigation, keyboard, saved position, About and
// Help, and every handler of the three working panels.
#include "destinations.h"
#include "operations.h"
#include "panels/split_options.h"
#include "ui_test_support.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QWheelEvent>
#include <memory>

using namespace tolvar;
using namespace tolvar::uitest;

namespace {

const std::string kProduct = "Tolvar Files Splitter";

QString frameName(int n) {
    return QStringLiteral("Frame%1").arg(n);
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir settingsDir;
    QTemporaryDir files;
    FakeMessageBox box;
    FakeFileDialogs dialogs;
    std::unique_ptr<frmMain> window;

    void fresh() {
        box = FakeMessageBox();
        dialogs = FakeFileDialogs();
        window = std::make_unique<frmMain>(WindowServices{&box, &dialogs, nullptr});
    }
    void showActive() {
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    template <class T> T* c(const char* name) { return child<T>(*window, name); }
    QLineEdit* text(int n) {
        return window->findChild<QLineEdit*>(QStringLiteral("Text%1").arg(n));
    }
    QPushButton* command(int n) {
        return window->findChild<QPushButton*>(QStringLiteral("Command%1").arg(n));
    }
    QString source(const char* name, qsizetype size) {
        const QString path = files.filePath(QString::fromLatin1(name));
        if (!writeFile(path, pattern(size)))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void initTestCase() {
        QVERIFY(settingsDir.isValid());
        redirectSettings(settingsDir);
    }
    void init() {
        QFile::remove(settingsFile(settingsDir));
        QLocale::setDefault(QLocale::c());
        fresh();
    }
    void cleanup() { window.reset(); }

    // Window and layout --------------------------------------------------------------------

    void startsOnTheWelcomePanelWithItsControls() {
        QCOMPARE(window->windowTitle(), QStringLiteral("Tolvar Files Splitter"));
        QCOMPARE(window->panelInView(), QStringLiteral("5"));
        auto* combo = c<QComboBox>("Combo1");
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QStringLiteral("KB"));
        QCOMPARE(combo->itemText(1), QStringLiteral("MB"));
        QCOMPARE(combo->currentText(), QStringLiteral("KB"));
        QVERIFY(!combo->isEditable());
        QCOMPARE(text(4)->text(), QStringLiteral("2"));
        auto* bar = c<QScrollBar>("VScroll1");
        QCOMPARE(bar->minimum(), 2);
        QCOMPARE(bar->maximum(), 50);
        QCOMPARE(bar->value(), 2);
        for (int n : {1, 2, 3, 4, 6, 7, 8})
            QVERIFY2(text(n)->isReadOnly(), qPrintable(QStringLiteral("Text%1").arg(n)));
        QVERIFY(!text(5)->isReadOnly());
        for (int n : {1, 2, 3, 5, 6, 7, 8})
            QVERIFY(text(n)->text().isEmpty());
        for (int n = 1; n <= 13; ++n)
            QVERIFY2(command(n), qPrintable(QStringLiteral("Command%1").arg(n)));
        for (int n = 1; n <= 10; ++n)
            QVERIFY(window->findChild<QLabel*>(QStringLiteral("Label%1").arg(n)));
    }

    void windowHasFixedSizeAndNoMinimiseOrMaximise() {
        showActive();
        QCOMPARE(window->minimumSize(), window->maximumSize());
        const Qt::WindowFlags flags = window->windowFlags();
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!window->windowIcon().isNull());
        const QList<QSize> sizes = window->windowIcon().availableSizes();
        for (int s : {16, 24, 32, 48})
            QVERIFY2(sizes.contains(QSize(s, s)), qPrintable(QString::number(s)));
    }

    void menuHasItemsInOrderWithShortcuts() {
        auto* menu = c<QMenu>("menu");
        QCOMPARE(withoutMnemonic(menu->title()), QStringLiteral("Menu"));
        QCOMPARE(window->menuBar()->actions().size(), 1);
        const QList<QAction*> items = menu->actions();
        QCOMPARE(items.size(), 8);
        const QStringList names{"menuSplit", "menuAssemble", "menuCheck", "line",
                                "menuHelp",  "menuAbout",    "line2",     "menuExit"};
        const QStringList captions{"Split File",
                                   "Assemble Files",
                                   "Check Broken Files...",
                                   "",
                                   "Help and Support",
                                   "About",
                                   "",
                                   "Exit"};
        const QList<QKeySequence> keys{
            QKeySequence("Ctrl+S"), QKeySequence("Ctrl+A"), QKeySequence("Ctrl+Shift+C"),
            QKeySequence(),         QKeySequence("F1"),     QKeySequence(),
            QKeySequence(),         QKeySequence("Ctrl+Q")};
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(items[i]->objectName(), names[i]);
            QCOMPARE(items[i]->isSeparator(), captions[i].isEmpty());
            if (!items[i]->isSeparator())
                QCOMPARE(withoutMnemonic(items[i]->text()), captions[i]);
            QCOMPARE(items[i]->shortcut(), keys[i]);
        }
    }

    void everyCaptionFitsItsControl() {
        // Whatever the font, the layout grows so that no caption is clipped.
        const QFont original = QApplication::font();
        const int normalWidth = window->width();
        for (int pointSize : {0, 14}) {
            if (pointSize) {
                QFont big = QApplication::font();
                big.setPointSize(pointSize);
                QApplication::setFont(big);
                fresh();
            }
            showActive();
            const QFontMetrics metrics(window->font());
            for (QLabel* label : window->findChildren<QLabel*>()) {
                if (!label->objectName().startsWith(QLatin1String("Label")))
                    continue;
                QVERIFY2(metrics.horizontalAdvance(withoutMnemonic(label->text())) <=
                             label->contentsRect().width(),
                         qPrintable(label->objectName()));
                QVERIFY2(metrics.height() <= label->height(), qPrintable(label->objectName()));
            }
            for (QPushButton* button : window->findChildren<QPushButton*>()) {
                QStyleOptionButton option;
                option.initFrom(button);
                option.text = button->text();
                const QRect room =
                    button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
                QVERIFY2(metrics.horizontalAdvance(withoutMnemonic(button->text())) <= room.width(),
                         qPrintable(button->objectName()));
                QVERIFY2(metrics.height() <= room.height(), qPrintable(button->objectName()));
            }
            auto* combo = c<QComboBox>("Combo1");
            QStyleOptionComboBox option;
            option.initFrom(combo);
            const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                               QStyle::SC_ComboBoxEditField, combo);
            QVERIFY(metrics.horizontalAdvance(QStringLiteral("MB")) <= field.width());
            QVERIFY(metrics.horizontalAdvance(QStringLiteral("KB")) <= field.width());
            for (int n = 1; n <= 8; ++n)
                QVERIFY(text(n)->minimumSizeHint().height() <= text(n)->height());
        }
        QVERIFY(window->width() > normalWidth);
        QApplication::setFont(original);
    }

    void layoutKeepsProportionsAndNothingOverlaps() {
        showActive();
        const double s = window->layoutScale();
        // Never smaller than the design at the screen's own resolution.
        QVERIFY(s >= 1.0 / window->screenTwipsPerPixelX() - 1e-9);
        auto near = [s](int px, int twips) { return std::abs(px - twips * s) <= 1.0; };
        // A few controls checked against their designed twips.
        auto* t1 = text(1);
        QVERIFY(near(t1->x(), 240) && near(t1->y(), 480) && near(t1->width(), 4695));
        auto* c2 = command(2);
        // The rows of where the parts go and of checksum and recovery choices lie between the
        // size and the button.
        QVERIFY(near(c2->x(), 240) &&
                near(c2->y(), 2040 + kOptionRowsHeight + kSizeForRowsHeight) &&
                near(c2->width(), 5055));
        auto* bar = c<QScrollBar>("VScroll1");
        QVERIFY(near(bar->width(), 255) && near(bar->height(), 255));
        QVERIFY(near(window->centralWidget()->width(), 6015));

        for (int f = 1; f <= 5; ++f) {
            auto* frame = window->findChild<QFrame*>(frameName(f));
            QVERIFY(near(frame->x(), 240) && near(frame->width(), 5535) &&
                    near(frame->height(), 2655 + kOptionRowsHeight + kSizeForRowsHeight));
            const QList<QWidget*> controls =
                frame->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
            QVERIFY(!controls.isEmpty());
            const QFontMetrics metrics(window->font());
            for (QWidget* a : controls) {
                QVERIFY2(frame->rect().contains(a->geometry()), qPrintable(a->objectName()));
                // A label's box may reach into the control below it, as designed; what
                // matters is that its line of text does not.
                auto inked = [&metrics](QWidget* w) {
                    QRect area = w->geometry();
                    if (qobject_cast<QLabel*>(w))
                        area.setHeight(metrics.height());
                    return area;
                };
                for (QWidget* b : controls)
                    QVERIFY2(a == b || !inked(a).intersects(inked(b)),
                             qPrintable(a->objectName() + " overlaps " + b->objectName()));
            }
        }
        // The panel in view lies wholly inside the client area.
        auto* shown = window->findChild<QFrame*>(frameName(5));
        QVERIFY(window->centralWidget()->rect().contains(shown->geometry()));
    }

    void labelsLineUpWithTheControlsTheyDescribe() {
        showActive();
        const QFontMetrics metrics(window->font());
        // Where a label's line of text is drawn within its box.
        auto inked = [&metrics](const QLabel* label) {
            return QStyle::alignedRect(Qt::LeftToRight, label->alignment(),
                                       QSize(label->width(), metrics.height()), label->geometry());
        };
        // Beside its box: on the box's middle line.
        for (auto [label, box] : {std::pair{"Label2", "Text5"}, std::pair{"Label6", "Text4"}}) {
            const int off =
                inked(c<QLabel>(label)).center().y() - c<QLineEdit>(box)->geometry().center().y();
            QVERIFY2(std::abs(off) <= 1, label);
        }
        // Above its box: nearer to it than to the box above the label.
        for (auto [label, box, previous] :
             {std::tuple{"Label8", "Text6", "Text1"}, std::tuple{"Label9", "Text7", "Text3"},
              std::tuple{"Label10", "Text8", "Text2"}}) {
            const QRect text = inked(c<QLabel>(label));
            const int toOwn = c<QLineEdit>(box)->y() - text.bottom();
            const int toPrevious = text.top() - c<QLineEdit>(previous)->geometry().bottom();
            QVERIFY2(toOwn > 0 && toOwn < toPrevious, label);
        }
    }

    // Panels and navigation ----------------------------------------------------------------

    void showPanelBringsExactlyOnePanelIntoView_data() {
        QTest::addColumn<QString>("panel");
        QTest::addColumn<int>("expected");
        QTest::newRow("1") << "1" << 1;
        QTest::newRow("2") << "2" << 2;
        QTest::newRow("3") << "3" << 3;
        QTest::newRow("4") << "4" << 4;
        QTest::newRow("5") << "5" << 5;
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("6") << "6" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("padded") << " 1" << 0;
        QTest::newRow("two digits") << "01" << 0;
    }
    void showPanelBringsExactlyOnePanelIntoView() {
        QFETCH(QString, panel);
        QFETCH(int, expected);
        showActive();
        window->ShowPanel(panel);
        QCOMPARE(window->panelInView(), QString::number(expected));
        const int clientHeight = window->centralWidget()->height();
        for (int f = 1; f <= 5; ++f) {
            auto* frame = window->findChild<QFrame*>(frameName(f));
            QVERIFY(frame->isEnabled());
            if (f == expected) {
                QVERIFY(frame->isVisible());
                QVERIFY(frame->geometry().bottom() < clientHeight);
            } else {
                // Parked below the client area.
                QVERIFY2(frame->y() >= clientHeight, qPrintable(frameName(f)));
                QVERIFY(!frame->isVisible());
            }
        }
    }

    void navigationButtonsMovePanelAndFocus() {
        showActive();
        QTest::mouseClick(command(10), Qt::LeftButton);
        QCOMPARE(window->panelInView(), QStringLiteral("3"));
        QCOMPARE(QApplication::focusWidget(), command(4));
        QTest::mouseClick(command(4), Qt::LeftButton);
        QCOMPARE(window->panelInView(), QStringLiteral("1"));
        QCOMPARE(QApplication::focusWidget(), text(1));

        window->menuSplit_Click();
        QTest::mouseClick(command(5), Qt::LeftButton);
        QCOMPARE(window->panelInView(), QStringLiteral("4"));
        QCOMPARE(QApplication::focusWidget(), text(3));

        fresh();
        showActive();
        QTest::mouseClick(command(9), Qt::LeftButton);
        QCOMPARE(window->panelInView(), QStringLiteral("2"));
        QCOMPARE(QApplication::focusWidget(), text(2));
    }

    void ctrlSFromTheAssemblePanelOpensTheMethodChoice() {
        showActive();
        QTest::mouseClick(command(9), Qt::LeftButton);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(window->panelInView(), QStringLiteral("3"));
        QCOMPARE(QApplication::focusWidget(), command(4));
    }

    void ctrlAWinsOverSelectAllInEveryTextBox_data() {
        QTest::addColumn<int>("boxNumber");
        QTest::newRow("Text2") << 2;
        QTest::newRow("Text1") << 1;
        QTest::newRow("Text5") << 5;
    }
    void ctrlAWinsOverSelectAllInEveryTextBox() {
        QFETCH(int, boxNumber);
        const int n = boxNumber;
        showActive();
        window->ShowPanel(n == 2 ? QStringLiteral("2") : QStringLiteral("1"));
        text(n)->setText(QStringLiteral("some text"));
        text(n)->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), text(n));
        QSignalSpy assemble(c<QAction>("menuAssemble"), &QAction::triggered);
        QTest::keyClick(text(n), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(assemble.count(), 1);
        QCOMPARE(window->panelInView(), QStringLiteral("2"));
        QCOMPARE(QApplication::focusWidget(), text(2));
        // The key did not select the box's text on its way, nor change it.
        QCOMPARE(text(n)->text(), QStringLiteral("some text"));
        QVERIFY(!text(n)->hasSelectedText());
    }

    void otherShortcutsWorkFromAnEditableBox() {
        showActive();
        window->ShowPanel(QStringLiteral("1"));
        text(5)->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), text(5));
        QTest::keyClick(text(5), Qt::Key_F1);
        QCOMPARE(box.shown().size(), std::size_t{1});
        QCOMPARE(box.shown()[0].text, std::string("Please go to our web site: "
                                                  "https://tolvar-files-splitter.example.org"));
        text(5)->setFocus();
        QTest::keyClick(text(5), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(window->panelInView(), QStringLiteral("3"));
        QVERIFY(text(5)->text().isEmpty());
    }

    void tabOrderFollowsTheDesign() {
        showActive();
        auto walk = [](QWidget* start, int steps) {
            QStringList names;
            start->setFocus();
            for (int i = 0; i < steps; ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                names << QApplication::focusWidget()->objectName();
            }
            return names;
        };
        window->ShowPanel(QStringLiteral("1"));
        QCOMPARE(walk(text(1), 11),
                 (QStringList{"Command1", "Text6", "Command11", "Text5", "Combo1", "Combo2",
                              "Check1", "Spin1", "Check3", "Command2", "Text1"}));
        window->ShowPanel(QStringLiteral("4"));
        // Each "..." right after its box, as on the other panels.
        QCOMPARE(walk(text(3), 10),
                 (QStringList{"Command8", "Text7", "Command12", "Text4", "VScroll1", "Check2",
                              "Spin2", "Check4", "Command7", "Text3"}));
        window->ShowPanel(QStringLiteral("2"));
        QCOMPARE(walk(text(2), 5),
                 (QStringList{"Command6", "Text8", "Command13", "Command3", "Text2"}));
        window->ShowPanel(QStringLiteral("5"));
        QCOMPARE(walk(command(10), 2), (QStringList{"Command9", "Command10"}));
    }

    void movingBetweenPanelsKeepsEveryValue() {
        showActive();
        dialogs.results = {QStringLiteral("/data/film.avi"), QStringLiteral("/out/film")};
        window->ShowPanel(QStringLiteral("1"));
        QTest::mouseClick(command(1), Qt::LeftButton);
        QTest::mouseClick(command(11), Qt::LeftButton);
        QTest::keyClicks(text(5), QStringLiteral("700"));
        c<QComboBox>("Combo1")->setCurrentIndex(1);
        c<QScrollBar>("VScroll1")->setValue(9);

        QTest::keyClick(text(5), Qt::Key_S, Qt::ControlModifier);
        QTest::mouseClick(command(4), Qt::LeftButton);
        QTest::keyClick(text(1), Qt::Key_A, Qt::ControlModifier);
        window->menuSplit_Click();
        QTest::mouseClick(command(4), Qt::LeftButton);

        QCOMPARE(text(1)->text(), QStringLiteral("/data/film.avi"));
        QCOMPARE(text(6)->text(), QStringLiteral("/out/film."));
        QCOMPARE(text(5)->text(), QStringLiteral("700"));
        QCOMPARE(c<QComboBox>("Combo1")->currentText(), QStringLiteral("MB"));
        QCOMPARE(text(4)->text(), QStringLiteral("9"));
        QVERIFY(box.shown().empty());
    }

    // Saved position -----------------------------------------------------------------------

    void firstStartCentresTheWindow() {
        showActive();
        const QRect screen = window->screen()->geometry();
        const QSize outer = window->frameGeometry().size();
        // Within the few pixels of the frame, which is not known before the window is shown.
        QVERIFY(std::abs(window->x() + outer.width() / 2 - screen.center().x()) <= 6);
        QVERIFY(std::abs(window->y() + outer.height() / 2 - screen.center().y()) <= 6);
    }

    void storedPositionOnTheScreenIsAppliedAsItIs() {
        window.reset();
        {
            QSettings s(settingsFile(settingsDir), QSettings::IniFormat);
            s.setValue("Settings/Top", "1500");
            s.setValue("Settings/Left", "3000");
        }
        fresh();
        const double tpp = window->screenTwipsPerPixelX();
        QCOMPARE(window->pos(), QPoint(qRound(3000 / tpp), qRound(1500 / tpp)));
    }

    void storedPositionOffTheScreenIsBroughtBackWhole() {
        window.reset();
        {
            QSettings s(settingsFile(settingsDir), QSettings::IniFormat);
            s.setValue("Settings/Top", "30000");
            s.setValue("Settings/Left", "60000");
        }
        fresh();
        showActive();
        QVERIFY2(window->screen()->availableGeometry().contains(window->frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(window->frameGeometry().x())
                                .arg(window->frameGeometry().y())
                                .arg(window->frameGeometry().width())
                                .arg(window->frameGeometry().height())));
    }

    void storedTextThatIsNoNumberFallsBackToTheDefault() {
        const QPoint centred = window->pos();
        window.reset();
        {
            QSettings s(settingsFile(settingsDir), QSettings::IniFormat);
            s.setValue("Settings/Top", "high");
            s.setValue("Settings/Left", "1500");
        }
        fresh();
        const double tpp = window->screenTwipsPerPixelX();
        QCOMPARE(window->pos(), QPoint(qRound(1500 / tpp), centred.y()));
    }

    void closingAndExitBothSaveThePosition_data() {
        QTest::addColumn<bool>("byExit");
        QTest::newRow("title bar") << false;
        QTest::newRow("Exit") << true;
    }
    void closingAndExitBothSaveThePosition() {
        QFETCH(bool, byExit);
        showActive();
        window->move(40, 60);
        QTRY_COMPARE(window->pos(), QPoint(40, 60));
        if (byExit)
            QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
        else
            window->close();
        QVERIFY(!window->isVisible());
        QVERIFY(box.shown().empty());

        QSettings s(settingsFile(settingsDir), QSettings::IniFormat);
        const double tpp = window->screenTwipsPerPixelX();
        QCOMPARE(s.value("Settings/Top").toString(), QString::number(qRound(60 * tpp)));
        QCOMPARE(s.value("Settings/Left").toString(), QString::number(qRound(40 * tpp)));

        // The next start comes back to the same place.
        fresh();
        QCOMPARE(window->pos(), QPoint(40, 60));
    }

    // About and Help -----------------------------------------------------------------------

    void aboutAndHelpShowTheirMessagesAndChangeNothing() {
        showActive();
        window->ShowPanel(QStringLiteral("4"));
        c<QAction>("menuAbout")->trigger();
        QTest::keyClick(window.get(), Qt::Key_F1);
        QCOMPARE(box.shown().size(), std::size_t{2});
        const ShownMessage& about = box.shown()[0];
        QCOMPARE(about.title, std::string("About..."));
        QCOMPARE(about.style, MsgStyle::Information);
        const QStringList lines = QString::fromStdString(about.text).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("Tolvar Files Splitter v2.0 was designed by the Tolvar "
                                          "Files Splitter team."));
        QCOMPARE(lines[1], QStringLiteral("https://tolvar-files-splitter.example.org/"));
        QVERIFY(lines[2].startsWith(QLatin1String("Copyright")));
        QVERIFY(lines[2].contains(QLatin1String("the Tolvar Files Splitter team")));
        QVERIFY(!about.text.ends_with('\n') && !about.text.ends_with('\r'));
        // No bare line feeds: every break is CR LF.
        QCOMPARE(QString::fromStdString(about.text).count(QLatin1Char('\n')), 2);

        const ShownMessage& help = box.shown()[1];
        QCOMPARE(help.title, kProduct);
        QCOMPARE(help.style, MsgStyle::Information);
        QCOMPARE(
            help.text,
            std::string("Please go to our web site: https://tolvar-files-splitter.example.org"));
        QCOMPARE(window->panelInView(), QStringLiteral("4"));
    }

    // Split by size -------------------------------------------------------------------------

    void splitSourceAndPrefixComeFromTheDialogs() {
        dialogs.results = {QStringLiteral("/a/file.bin"), QString(), QStringLiteral("/b/parts"),
                           QStringLiteral("/b/parts."), QString()};
        window->ShowPanel(QStringLiteral("1"));
        command(1)->click();
        QCOMPARE(text(1)->text(), QStringLiteral("/a/file.bin"));
        command(1)->click();
        QCOMPARE(text(1)->text(), QString());
        command(11)->click();
        QCOMPARE(text(6)->text(), QStringLiteral("/b/parts."));
        command(11)->click();
        QCOMPARE(text(6)->text(), QStringLiteral("/b/parts."));
        command(11)->click();
        QCOMPARE(text(6)->text(), QString());

        QCOMPARE(dialogs.calls.size(), std::size_t{5});
        const DialogCall& open = dialogs.calls[0];
        QVERIFY(!open.save);
        QCOMPARE(open.filter, QStringLiteral("All Files |*.*"));
        QCOMPARE(open.title, QStringLiteral("Choose a file to split - Tolvar Files Splitter"));
        QCOMPARE(open.folder, QCoreApplication::applicationDirPath());
        QCOMPARE(open.owner, window.get());
        const DialogCall& save = dialogs.calls[2];
        QVERIFY(save.save);
        QCOMPARE(save.filter, QStringLiteral("All Files |*.*"));
        QCOMPARE(save.title,
                 QStringLiteral("Choose where to save the broken files - Tolvar Files Splitter"));
        QCOMPARE(save.folder, QCoreApplication::applicationDirPath());
        QVERIFY(box.shown().empty());
    }

    void splitBySizeOnAFreshWindowReportsTheEmptySize() {
        window->ShowPanel(QStringLiteral("1"));
        QTest::mouseClick(command(2), Qt::LeftButton);
        QCOMPARE(box.shown().size(), std::size_t{1});
        QCOMPARE(box.shown()[0].style, MsgStyle::Critical);
        QCOMPARE(box.shown()[0].title, std::string("Tolvar Files Splitter - 13"));
        QVERIFY(box.shown()[0].text.starts_with("Invalid number"));
        QVERIFY(text(5)->text().isEmpty());
    }

    void sizeNotAboveZeroIsRefusedAndKept_data() {
        QTest::addColumn<QString>("size");
        QTest::newRow("0") << "0";
        QTest::newRow("-5") << "-5";
        QTest::newRow("0.0") << "0.0";
    }
    void sizeNotAboveZeroIsRefusedAndKept() {
        QFETCH(QString, size);
        // Even with no source chosen the size comes first.
        text(5)->setText(size);
        command(2)->click();
        QCOMPARE(box.shown().size(), std::size_t{1});
        QCOMPARE(box.shown()[0].text, std::string("Invalid size."));
        QCOMPARE(box.shown()[0].style, MsgStyle::Critical);
        QCOMPARE(box.shown()[0].title, kProduct);
        QCOMPARE(text(5)->text(), size);
    }

    void badSizeIsAFailureReportAndEmptiesTheBox_data() {
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<int>("number");
        QTest::newRow("letters") << "abc"
                                 << "KB" << 13;
        QTest::newRow("grouping") << "1,000"
                                  << "KB" << 13;
        QTest::newRow("3000000000 KB") << "3000000000"
                                       << "KB" << 6;
        QTest::newRow("2147483647.5 KB") << "2147483647.5"
                                         << "KB" << 6;
        QTest::newRow("2097152 MB") << "2097152"
                                    << "MB" << 6;
    }
    void badSizeIsAFailureReportAndEmptiesTheBox() {
        QFETCH(QString, size);
        QFETCH(QString, unit);
        QFETCH(int, number);
        text(1)->setText(source("big.bin", 4096));
        text(5)->setText(size);
        c<QComboBox>("Combo1")->setCurrentText(unit);
        command(2)->click();
        QCOMPARE(box.shown().size(), std::size_t{1});
        QCOMPARE(box.shown()[0].style, MsgStyle::Critical);
        QCOMPARE(box.shown()[0].title, "Tolvar Files Splitter - " + std::to_string(number));
        QVERIFY(!box.shown()[0].text.empty());
        QVERIFY(text(5)->text().isEmpty());
    }

    void sizeThatReadsTwoWaysIsRefusedBeforeAnyQuestion() {
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        text(1)->setText(source("big.bin", 5 * 1024 * 1024));
        text(5)->setText(QStringLiteral("1.500"));
        box.reset({MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Ok});
        command(2)->click();
        QCOMPARE(box.texts(),
                 (std::vector<std::string>{"'1.500' could mean 1.5 or 1500: write 1,5 or 1500."}));
        QCOMPARE(box.shown()[0].style, MsgStyle::Critical);
        QVERIFY(!QFile::exists(files.filePath(QStringLiteral("big.000"))));
        QCOMPARE(text(5)->text(), QStringLiteral("1.500"));
    }

    void goodSizeWithoutSourceDoesNothing() {
        text(5)->setText(QStringLiteral("10"));
        command(2)->click();
        text(1)->setText(files.filePath(QStringLiteral("gone.bin")));
        command(2)->click();
        // A folder is no file either.
        text(1)->setText(files.path());
        command(2)->click();
        QVERIFY(box.shown().empty());
        QCOMPARE(text(5)->text(), QStringLiteral("10"));
    }

    void sizeReachesTheEngineRoundedHalfToEven_data() {
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<qint64>("partPayload");
        QTest::newRow("2.5 KB is 2 KB") << "2.5"
                                        << "KB"
                                        << "en_US" << qint64(2048);
        QTest::newRow("3.5 KB is 4 KB") << "3.5"
                                        << "KB"
                                        << "en_US" << qint64(4096);
        QTest::newRow("1.5 MB is 1536 KB") << "1.5"
                                           << "MB"
                                           << "en_US" << qint64(1536 * 1024);
        QTest::newRow("0.0005 MB is 1 KB") << "0.0005"
                                           << "MB"
                                           << "en_US" << qint64(1024);
        QTest::newRow("German comma") << " 2,5 "
                                      << "KB"
                                      << "de_DE" << qint64(2048);
        QTest::newRow("point in German") << "3.5"
                                         << "KB"
                                         << "de_DE" << qint64(4096);
    }
    void sizeReachesTheEngineRoundedHalfToEven() {
        QFETCH(QString, size);
        QFETCH(QString, unit);
        QFETCH(QString, locale);
        QFETCH(qint64, partPayload);
        QLocale::setDefault(QLocale(locale));
        const QString path = source("sized.bin", 3 * partPayload + 10);
        text(1)->setText(path);
        text(5)->setText(size);
        c<QComboBox>("Combo1")->setCurrentText(unit);
        box.reset({MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Ok});
        command(2)->click();
        QCOMPARE(box.problems(), std::size_t{0});
        QCOMPARE(box.texts(),
                 (std::vector<std::string>{"Are you sure you want to split this file?",
                                           messages::deleteSourceQuestion(path.toStdString()),
                                           "Splitting done successfully."}));
        QCOMPARE(box.shown()[2].style, MsgStyle::Information);
        QCOMPARE(box.shown()[2].title, kProduct);
        const QString first = files.filePath(QStringLiteral("sized.000"));
        QCOMPARE(QFileInfo(first).size(), 16 + partPayload);
        // Nothing in the panel changes after a split.
        QCOMPARE(text(1)->text(), path);
        QCOMPARE(text(5)->text(), size);
        for (const QString& part : QDir(files.path()).entryList({"sized.0*"}))
            QFile::remove(files.filePath(part));
    }

    void sizeBelowHalfAKilobyteStillReachesTheEngine() {
        text(1)->setText(source("small.bin", 100));
        text(5)->setText(QStringLiteral("0.4"));
        box.reset({MsgAnswer::No});
        command(2)->click();
        QCOMPARE(box.texts(),
                 (std::vector<std::string>{"Are you sure you want to split this file?"}));
        QCOMPARE(box.problems(), std::size_t{0});
    }

    void decliningTheSplitShowsNothingMore() {
        const QString path = source("keep.bin", 5000);
        text(1)->setText(path);
        text(5)->setText(QStringLiteral("1"));
        box.reset({MsgAnswer::No});
        command(2)->click();
        QCOMPARE(box.shown().size(), std::size_t{1});
        QVERIFY(!QFile::exists(files.filePath(QStringLiteral("keep.000"))));
        QCOMPARE(text(5)->text(), QStringLiteral("1"));
    }

    void existenceTestFailureIsReportedByTheSizePanel() {
        // A pattern in a folder whose name is too long: the search itself fails.
        const QString path =
            QStringLiteral("/tmp/") + QString(300, QLatin1Char('x')) + QStringLiteral("/*.bin");
        text(1)->setText(path);
        text(5)->setText(QStringLiteral("10"));
        command(2)->click();
        QCOMPARE(box.shown().size(), std::size_t{1});
        QCOMPARE(box.shown()[0].style, MsgStyle::Critical);
        QVERIFY(box.shown()[0].title.starts_with("Tolvar Files Splitter - "));
        QVERIFY(text(5)->text().isEmpty());
    }

    void fileExistsFollowsTheSearchRules() {
        const QString plain = source("plain.dat", 10);
        source(".hidden", 10);
        QVERIFY(window->FileExists(plain).value());
        QVERIFY(!window->FileExists(files.path()).value());
        QVERIFY(!window->FileExists(files.filePath(QStringLiteral(".hidden"))).value());
        QVERIFY(!window->FileExists(files.filePath(QStringLiteral("missing"))).value());
        QVERIFY(window->FileExists(files.filePath(QStringLiteral("*.*"))).value());
        QVERIFY(window->FileExists(files.filePath(QStringLiteral("pl?in.*"))).value());
        QVERIFY(!window->FileExists(files.filePath(QStringLiteral("*.none"))).value());
        QFile::setPermissions(plain, QFileDevice::ReadOwner);
        QVERIFY(window->FileExists(plain).value());
    }

    // Split by number -----------------------------------------------------------------------

    void scrollBarUpArrowRaisesTheNumberAndStopsAtTheEnds() {
        showActive();
        window->ShowPanel(QStringLiteral("4"));
        auto* bar = c<QScrollBar>("VScroll1");
        QStyleOptionSlider option;
        option.initFrom(bar);
        option.orientation = Qt::Vertical;
        option.minimum = bar->minimum();
        option.maximum = bar->maximum();
        option.sliderPosition = bar->sliderPosition();
        option.sliderValue = bar->value();
        option.singleStep = bar->singleStep();
        option.pageStep = bar->pageStep();
        option.upsideDown = bar->invertedAppearance();
        option.subControls = QStyle::SC_All;
        const QRect up = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                      QStyle::SC_ScrollBarSubLine, bar);
        const QRect down = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                        QStyle::SC_ScrollBarAddLine, bar);
        // The arrow drawn at the top raises the number.
        const QRect top = up.top() < down.top() ? up : down;
        const QRect bottom = up.top() < down.top() ? down : up;
        QTest::mouseClick(bar, Qt::LeftButton, {}, top.center());
        QCOMPARE(bar->value(), 3);
        QCOMPARE(text(4)->text(), QStringLiteral("3"));
        QTest::mouseClick(bar, Qt::LeftButton, {}, bottom.center());
        QTest::mouseClick(bar, Qt::LeftButton, {}, bottom.center());
        QCOMPARE(bar->value(), 2);
        QCOMPARE(text(4)->text(), QStringLiteral("2"));

        bar->setFocus();
        QTest::keyClick(bar, Qt::Key_Up);
        QCOMPARE(text(4)->text(), QStringLiteral("3"));
        QTest::keyClick(bar, Qt::Key_PageUp);
        QCOMPARE(text(4)->text(), QStringLiteral("4"));
        for (int i = 0; i < 60; ++i)
            QTest::keyClick(bar, Qt::Key_Up);
        QCOMPARE(bar->value(), 50);
        QCOMPARE(text(4)->text(), QStringLiteral("50"));
        QTest::keyClick(bar, Qt::Key_Down);
        QCOMPARE(text(4)->text(), QStringLiteral("49"));
        // Dragging the thumb reports every position on the way.
        bar->setSliderDown(true);
        bar->setSliderPosition(17);
        QCOMPARE(text(4)->text(), QStringLiteral("17"));
        bar->setSliderDown(false);
        QVERIFY(box.shown().empty());
    }

    // The wheel moves the number the way the arrows do: a notch up raises it.
    void wheelUpRaisesTheNumber() {
        showActive();
        window->ShowPanel(QStringLiteral("4"));
        auto* bar = c<QScrollBar>("VScroll1");
        auto turn = [bar](int notches) {
            const QPointF at = QRectF(bar->rect()).center();
            QWheelEvent wheel(at, bar->mapToGlobal(at), {}, {0, notches * 120}, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(bar, &wheel);
        };
        turn(3);
        QCOMPARE(text(4)->text(), QStringLiteral("5"));
        turn(-1);
        QCOMPARE(text(4)->text(), QStringLiteral("4"));
    }

    // The keyboard alone goes everywhere: Return on a focused navigation button, Escape back
    // to the panel before (the focus on the button that led on), F10 to the menu.
    void keyboardAloneMovesBetweenThePanels() {
        showActive();
        auto key = [](int k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(k), modifiers);
            return QApplication::focusWidget()->objectName();
        };
        QCOMPARE(QApplication::focusWidget(), command(10));
        QCOMPARE(key(Qt::Key_Return), QStringLiteral("Command4"));
        QCOMPARE(window->panelInView(), QStringLiteral("3"));
        QCOMPARE(key(Qt::Key_Return), QStringLiteral("Text1"));
        QCOMPARE(window->panelInView(), QStringLiteral("1"));
        QCOMPARE(key(Qt::Key_Escape), QStringLiteral("Command4"));
        QCOMPARE(window->panelInView(), QStringLiteral("3"));
        key(Qt::Key_Tab);
        QCOMPARE(key(Qt::Key_Enter, Qt::KeypadModifier), QStringLiteral("Text3"));
        QCOMPARE(window->panelInView(), QStringLiteral("4"));
        QCOMPARE(key(Qt::Key_Escape), QStringLiteral("Command5"));
        QCOMPARE(key(Qt::Key_Escape), QStringLiteral("Command10"));
        QCOMPARE(window->panelInView(), QStringLiteral("5"));
        key(Qt::Key_Tab);
        QCOMPARE(key(Qt::Key_Return), QStringLiteral("Text2"));
        QCOMPARE(key(Qt::Key_Escape), QStringLiteral("Command9"));
        QCOMPARE(window->panelInView(), QStringLiteral("5"));
        QVERIFY(box.shown().empty());

        key(Qt::Key_F10);
        QCOMPARE(window->menuBar()->activeAction(), c<QMenu>("menu")->menuAction());
        QTRY_VERIFY(c<QMenu>("menu")->isVisible());
        c<QMenu>("menu")->close();
    }

    // Each label's access key reaches its control; menu items and panel captions carry one
    // each, none twice on what is in view together.
    void accessKeysReachEveryControl() {
        showActive();
        for (int panel = 1; panel <= 5; ++panel) {
            window->ShowPanel(QString::number(panel));
            QList<QChar> used{QLatin1Char('m')}; // the menu's own
            for (QWidget* w : c<QWidget>(qPrintable(frameName(panel)))->findChildren<QWidget*>()) {
                QString caption;
                if (auto* label = qobject_cast<QLabel*>(w))
                    caption = label->buddy() ? label->text() : QString();
                else if (auto* button = qobject_cast<QAbstractButton*>(w))
                    caption = button->text() == QLatin1String("...") ? QString() : button->text();
                if (caption.isEmpty())
                    continue;
                const qsizetype at = caption.indexOf(QLatin1Char('&'));
                QVERIFY2(at >= 0, qPrintable(w->objectName()));
                const QChar letter = caption[at + 1].toLower();
                QVERIFY2(!used.contains(letter), qPrintable(w->objectName()));
                used << letter;
            }
        }
        window->ShowPanel(QStringLiteral("1"));
        command(2)->setFocus();
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), text(5));
        QTest::keyClick(window.get(), Qt::Key_F, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), text(1));

        QList<QChar> items;
        for (const QAction* item : c<QMenu>("menu")->actions()) {
            if (item->isSeparator())
                continue;
            const qsizetype at = item->text().indexOf(QLatin1Char('&'));
            QVERIFY2(at >= 0, qPrintable(item->objectName()));
            QVERIFY2(!items.contains(item->text()[at + 1].toLower()),
                     qPrintable(item->objectName()));
            items << item->text()[at + 1].toLower();
        }
    }

    // The check's shortcut is no key a line edit, a list or the desktop already uses.
    void checkShortcutCollidesWithNothing() {
        const QKeySequence check = c<QAction>("menuCheck")->shortcut();
        QVERIFY(!check.isEmpty());
        for (int k = QKeySequence::HelpContents; k <= QKeySequence::Cancel; ++k)
            QVERIFY2(!QKeySequence::keyBindings(QKeySequence::StandardKey(k)).contains(check),
                     qPrintable(QString::number(k)));
        for (const QAction* other : window->findChildren<QAction*>())
            QVERIFY(other == c<QAction>("menuCheck") || other->shortcut() != check);
        showActive();
        window->ShowPanel(QStringLiteral("1"));
        dialogs.results = {QString()};
        text(5)->setFocus();
        QTest::keyClick(text(5), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(dialogs.calls.size(), std::size_t{1});
    }

    // Return presses the panel's own button from any box of it, except on another button.
    void returnPressesThePanelsButton() {
        showActive();
        window->ShowPanel(QStringLiteral("1"));
        text(5)->setText(QStringLiteral("-1"));
        text(5)->setFocus();
        QTest::keyClick(text(5), Qt::Key_Return);
        QCOMPARE(box.texts(), std::vector<std::string>{"Invalid size."});
        dialogs.results.push_back(QStringLiteral("/chosen"));
        command(1)->setFocus();
        QTest::keyClick(command(1), Qt::Key_Return);
        QCOMPARE(text(1)->text(), QStringLiteral("/chosen"));
        QCOMPARE(box.texts().size(), std::size_t{1});
    }

    // One choice of a checksum file for both panels, kept in the settings file; recovery
    // files need it, so it cannot be cleared while there are any, and their cost is shown.
    void checksumChoiceIsSharedRememberedAndNeededByRecoveryFiles() {
        auto* size = c<QCheckBox>("Check1");
        auto* number = c<QCheckBox>("Check2");
        QVERIFY(size->isChecked() && number->isChecked());
        number->click();
        QVERIFY(!size->isChecked());
        window->close();
        QCOMPARE(QSettings(settingsFile(settingsDir), QSettings::IniFormat)
                     .value("Settings/Checksums")
                     .toString(),
                 QStringLiteral("false"));
        fresh();
        QVERIFY(!c<QCheckBox>("Check1")->isChecked());

        text(5)->setText(QStringLiteral("50"));
        c<QComboBox>("Combo1")->setCurrentText(QStringLiteral("MB"));
        c<QSpinBox>("Spin1")->setValue(2);
        QVERIFY(c<QCheckBox>("Check1")->isChecked() && !c<QCheckBox>("Check1")->isEnabled());
        QCOMPARE(c<QLabel>("Label12")->text(),
                 QStringLiteral("2 recovery files: any 2 lost or damaged broken\n"
                                "files can be rebuilt; 2 x 50.0 MB more."));
        c<QSpinBox>("Spin1")->setValue(0);
        QVERIFY(!c<QCheckBox>("Check1")->isChecked());
    }

    // Choosing where the parts go fills the size and the line of what the split makes (on how
    // many discs, and what it needs against the room where it goes); a size typed or a unit
    // picked by the user is "Custom"; the choice is remembered like the checksum box.
    void sizeForFillsTheSizeAndTheLineAndIsRemembered() {
        showActive();
        window->ShowPanel(QStringLiteral("1"));
        auto* where = c<QComboBox>("Combo2");
        // As a user's pick: the item becomes current, then the list says it was activated.
        const auto choose = [where](const char* name) {
            where->setCurrentIndex(where->findData(QString::fromLatin1(name)));
            emit where->activated(where->currentIndex());
        };
        QCOMPARE(where->currentData().toString(), QStringLiteral("custom"));
        QVERIFY(text(5)->text().isEmpty());
        QFile big(files.filePath(QStringLiteral("big.iso")));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(5'000'000'000));
        big.close();
        text(1)->setText(big.fileName());

        choose("dvd");
        QCOMPARE(text(5)->text(), QStringLiteral("1528581"));
        QCOMPARE(c<QComboBox>("Combo1")->currentText(), QStringLiteral("KB"));
        const QStringList lines = c<QLabel>("Label16")->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.value(0), QStringLiteral("4 broken files of 1.46 GB on 2 discs"));
        // The scratch folder's file system tells its room.
        QVERIFY2(lines.value(1).startsWith(QStringLiteral("4.66 GB needed, ")),
                 qPrintable(lines.value(1)));
        QVERIFY(lines.value(1).contains(QStringLiteral(" free in ")));

        choose("max");
        QCOMPARE(text(5)->text(), QString::number(kLargestPartKilobytes));
        QVERIFY(
            c<QLabel>("Label16")->text().startsWith(QStringLiteral("3 broken files of 2.00 GB\n")));

        QTest::keyClicks(text(5), QStringLiteral("0"));
        QCOMPARE(where->currentData().toString(), QStringLiteral("custom"));
        QCOMPARE(text(5)->text(), QString::number(kLargestPartKilobytes) + QLatin1Char('0'));

        choose("discord");
        QCOMPARE(text(5)->text(), QStringLiteral("10239"));
        window->close();
        QCOMPARE(QSettings(settingsFile(settingsDir), QSettings::IniFormat)
                     .value("Settings/SizeFor")
                     .toString(),
                 QStringLiteral("discord"));
        fresh();
        QCOMPARE(c<QComboBox>("Combo2")->currentData().toString(), QStringLiteral("discord"));
        QCOMPARE(text(5)->text(), QStringLiteral("10239"));
    }

    // The split-by-number panel says what its split makes and needs where that is known.
    void numberPanelSaysWhatTheSplitMakesAndNeeds() {
        text(3)->setText(source("movie.avi", 3000 * 1024));
        c<QScrollBar>("VScroll1")->setValue(3);
        const QStringList lines = c<QLabel>("Label17")->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.value(0), QStringLiteral("4 broken files of 1000 KB"));
        QVERIFY2(lines.value(1).contains(QStringLiteral(" needed, ")), qPrintable(lines.value(1)));
        text(3)->setText(QString());
        QVERIFY(c<QLabel>("Label17")->text().isEmpty());
    }

    // The cost line prices the split the inputs describe: 300 broken files of 1 KB make two
    // groups for 100 recovery files, so each holds two blocks; a split of 1000 is refused,
    // and its cost is not priced.
    void costLineFollowsTheSplitsPlan() {
        text(1)->setText(source("movie.avi", 299 * 1024 + 1));
        text(5)->setText(QStringLiteral("1"));
        c<QSpinBox>("Spin1")->setValue(100);
        QCOMPARE(c<QLabel>("Label12")->text(), recoveryCostText(100, 64 + 2 * 1024));
        text(1)->setText(source("long.avi", 999 * 1024));
        QCOMPARE(c<QLabel>("Label12")->text(), recoveryCostText(100, std::nullopt));
    }

    // The join script is off until chosen, one choice for both panels, kept in the settings
    // file; it checks the parts against the checksum file, which comes along, and a split
    // writes it beside the set.
    void joinScriptIsOffUntilChosenSharedRememberedAndWritten() {
        QVERIFY(!c<QCheckBox>("Check3")->isChecked() && !c<QCheckBox>("Check4")->isChecked());
        c<QCheckBox>("Check2")->click(); // no checksum file
        c<QCheckBox>("Check4")->click();
        QVERIFY(c<QCheckBox>("Check3")->isChecked());
        QVERIFY(c<QCheckBox>("Check1")->isChecked() && !c<QCheckBox>("Check1")->isEnabled());
        window->close();
        QCOMPARE(QSettings(settingsFile(settingsDir), QSettings::IniFormat)
                     .value("Settings/JoinScript")
                     .toString(),
                 QStringLiteral("true"));
        fresh();
        QVERIFY(c<QCheckBox>("Check3")->isChecked() && c<QCheckBox>("Check1")->isChecked());

        const QString movie = source("movie.avi", 5000);
        text(1)->setText(movie);
        text(5)->setText(QStringLiteral("2"));
        box.reset({MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Ok});
        command(2)->click();
        QCOMPARE(box.problems(), std::size_t{0});
        QVERIFY(QFileInfo::exists(files.filePath(QStringLiteral("movie.join.sh"))));
        QVERIFY(QFileInfo::exists(files.filePath(QStringLiteral("movie.tolvar"))));

        c<QCheckBox>("Check3")->click();
        QVERIFY(!c<QCheckBox>("Check4")->isChecked());
        QVERIFY2(!c<QCheckBox>("Check1")->isChecked(), "the user's own choice comes back");
    }

    void splitByNumberStopsSilentlyWithoutSource() {
        command(7)->click();
        text(3)->setText(files.filePath(QStringLiteral("absent.bin")));
        text(4)->setText(QStringLiteral("51"));
        command(7)->click();
        text(3)->setText(source("present.bin", 100));
        text(4)->setText(QString());
        command(7)->click();
        QVERIFY(box.shown().empty());
    }

    void numberOutsideTwoToFiftyIsRefused_data() {
        QTest::addColumn<QString>("number");
        QTest::newRow("1") << "1";
        QTest::newRow("51") << "51";
        QTest::newRow("0") << "0";
    }
    void numberOutsideTwoToFiftyIsRefused() {
        QFETCH(QString, number);
        text(3)->setText(source("n.bin", 1000));
        text(4)->setText(number);
        command(7)->click();
        QCOMPARE(box.shown().size(), std::size_t{1});
        QCOMPARE(box.shown()[0].text, std::string("Choose a number between 2 and 50."));
        QCOMPARE(box.shown()[0].style, MsgStyle::Critical);
        QCOMPARE(box.shown()[0].title, kProduct);
    }

    void numberReachesTheEngine_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("parts");
        // The rest of the division always gets a part of its own, if only a header.
        QTest::newRow("2, no rest") << 2 << 3;
        QTest::newRow("50") << 50 << 51;
        QTest::newRow("7 with a rest") << 7 << 8;
    }
    void numberReachesTheEngine() {
        QFETCH(int, value);
        QFETCH(int, parts);
        const QString path = source("count.bin", 1000);
        text(3)->setText(path);
        c<QScrollBar>("VScroll1")->setValue(value);
        box.reset({MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Ok});
        command(7)->click();
        QCOMPARE(box.problems(), std::size_t{0});
        QCOMPARE(box.shown().back().text, std::string("Splitting done successfully."));
        QCOMPARE(box.shown().back().style, MsgStyle::Information);
        const QStringList made = QDir(files.path()).entryList({"count.0*"});
        QCOMPARE(made.size(), parts);
        for (const QString& part : made)
            QFile::remove(files.filePath(part));
        QCOMPARE(text(4)->text(), QString::number(value));
        QCOMPARE(text(3)->text(), path);
    }

    void splitByNumberDialogs() {
        dialogs.results = {QStringLiteral("/x/y.iso"), QStringLiteral("/z/out"), QString()};
        command(8)->click();
        command(12)->click();
        QCOMPARE(text(3)->text(), QStringLiteral("/x/y.iso"));
        QCOMPARE(text(7)->text(), QStringLiteral("/z/out."));
        command(8)->click();
        QCOMPARE(text(3)->text(), QString());
        QCOMPARE(dialogs.calls[0].title,
                 QStringLiteral("Choose a file to split - Tolvar Files Splitter"));
        QCOMPARE(dialogs.calls[0].filter, QStringLiteral("All Files |*.*"));
        QVERIFY(dialogs.calls[1].save);
        QCOMPARE(dialogs.calls[1].title,
                 QStringLiteral("Choose where to save the broken files - Tolvar Files Splitter"));
    }

    // Assemble ------------------------------------------------------------------------------

    void assembleDialogs() {
        dialogs.results = {QStringLiteral("/p/film.000"), QStringLiteral("/q/film.avi"),
                           QStringLiteral("/q/ends."), QString()};
        command(6)->click();
        QCOMPARE(text(2)->text(), QStringLiteral("/p/film.000"));
        command(13)->click();
        QCOMPARE(text(8)->text(), QStringLiteral("/q/film.avi."));
        command(13)->click();
        QCOMPARE(text(8)->text(), QStringLiteral("/q/ends."));
        command(13)->click();
        QCOMPARE(text(8)->text(), QString());
        QVERIFY(!dialogs.calls[0].save);
        QCOMPARE(dialogs.calls[0].filter, QStringLiteral("000 Files (*.000)|*.000|All Files|*.*"));
        QCOMPARE(dialogs.calls[0].title,
                 QStringLiteral("Choose a file to assemble - Tolvar Files Splitter"));
        QVERIFY(dialogs.calls[1].save);
        QCOMPARE(dialogs.calls[1].filter, QStringLiteral("All Files |*.*"));
        QCOMPARE(dialogs.calls[1].title,
                 QStringLiteral("Choose where to save the assembled file - Tolvar Files Splitter"));
        QCOMPARE(dialogs.calls[3].folder, QCoreApplication::applicationDirPath());
    }

    void assembleOnAFreshWindowAsksThenReportsTheMissingFile() {
        box.reset({MsgAnswer::Yes, MsgAnswer::Ok});
        QTest::mouseClick(command(3), Qt::LeftButton);
        QCOMPARE(box.problems(), std::size_t{0});
        QCOMPARE(box.shown().size(), std::size_t{2});
        QCOMPARE(box.shown()[0].text,
                 std::string("Are you sure you want to assemble these files?"));
        QCOMPARE(box.shown()[1].style, MsgStyle::Critical);
        QVERIFY(box.shown()[1].title.starts_with("Tolvar Files Splitter - "));
        QVERIFY(text(2)->text().isEmpty() && text(8)->text().isEmpty());
    }

    void decliningTheAssemblyKeepsBothBoxes() {
        text(2)->setText(QStringLiteral("/p/film.000"));
        text(8)->setText(QStringLiteral("/q/out."));
        box.reset({MsgAnswer::No});
        command(3)->click();
        QCOMPARE(box.shown().size(), std::size_t{1});
        QCOMPARE(text(2)->text(), QStringLiteral("/p/film.000"));
        QCOMPARE(text(8)->text(), QStringLiteral("/q/out."));
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
