// What a screen reader is told about the window, read through Qt's accessibility interfaces:
// the same names, states and relations the desktop's accessibility bridge passes on, without
// a D-Bus session or an accessibility bus. Also the progress dialog's words and colours, and
// the notice at the end of a long job.
#include "progress_presenter.h"
#include "ui_test_support.h"

#include <QAccessible>
#include <QProgressBar>
#include <QProgressDialog>
#include <cmath>
#include <memory>

using namespace tolvar;
using namespace tolvar::uitest;

namespace {

// "Command1 (PushButton)": where a finding is, for the failure message.
QString describe(QAccessibleInterface* node) {
    const QObject* object = node->object();
    return QStringLiteral("%1 (role %2)")
        .arg(object ? object->objectName() : QStringLiteral("?"))
        .arg(static_cast<int>(node->role()));
}

// Every problem a screen reader would meet below node among what is on screen: a control that
// takes the focus without a name (or named only "..."), a read-only box announced as
// editable, a box no label names.
void findProblems(QAccessibleInterface* node, QStringList& problems) {
    const QAccessible::State state = node->state();
    if (state.invisible)
        return;
    const QString name = node->text(QAccessible::Name).trimmed();
    if (state.focusable && (name.isEmpty() || name == QLatin1String("...")))
        problems << describe(node) + QStringLiteral(": no name");
    if (auto* box = qobject_cast<QLineEdit*>(node->object())) {
        if (box->isReadOnly() && (!state.readOnly || state.editable))
            problems << describe(node) + QStringLiteral(": read-only but announced editable");
        if (node->relations(QAccessible::Label).isEmpty())
            problems << describe(node) + QStringLiteral(": no label");
    }
    for (int i = 0; i < node->childCount(); ++i)
        if (QAccessibleInterface* child = node->child(i))
            findProblems(child, problems);
}

QStringList problemsOf(QWidget* widget) {
    QStringList problems;
    findProblems(QAccessible::queryAccessibleInterface(widget), problems);
    return problems;
}

// WCAG's contrast ratio of two colours.
double contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QProgressDialog* openProgressDialog() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QProgressDialog*>(top); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

    QTemporaryDir settingsDir;
    FakeMessageBox box;
    FakeFileDialogs dialogs;
    std::unique_ptr<frmMain> window;

private slots:
    void initTestCase() { redirectSettings(settingsDir); }
    void init() { window = std::make_unique<frmMain>(WindowServices{&box, &dialogs, nullptr}); }
    void cleanup() { window.reset(); }

    void everyFocusableControlOfEveryPanelIsNamed() {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        for (int panel = 1; panel <= 5; ++panel) {
            window->ShowPanel(QString::number(panel));
            const QStringList problems = problemsOf(window.get());
            QVERIFY2(problems.isEmpty(), qPrintable(QStringLiteral("panel %1: %2")
                                                        .arg(panel)
                                                        .arg(problems.join(QStringLiteral("; ")))));
        }
        // The words are those the user reads beside the control.
        auto name = [this](const char* control) {
            return QAccessible::queryAccessibleInterface(child<QWidget>(*window, control))
                ->text(QAccessible::Name);
        };
        window->ShowPanel(QStringLiteral("4"));
        QCOMPARE(name("Text3"), QStringLiteral("Choose a file to split"));
        QCOMPARE(name("Command12"), QStringLiteral("Choose where to save the broken files"));
        QCOMPARE(name("VScroll1"), QStringLiteral("Choose the number of broken files"));
    }

    // The dialog says what it does in its title, names its bar, and its percentage stands out
    // from both the filled and the empty part of the bar.
    void progressDialogIsNamedAndLegible() {
        ProgressPresenter progress(window.get(), ProgressPresenter::Direction::Writing, 0,
                                   QStringLiteral("Splitting movie.mkv"));
        QVERIFY(progress.onProgress({100, 1000, 0, 3, "/tmp/movie.000"}));
        QProgressDialog* dialog = openProgressDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(),
                 QStringLiteral("Splitting movie.mkv - Tolvar Files Splitter"));
        const QStringList problems = problemsOf(dialog);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
        auto* bar = dialog->findChild<QProgressBar*>();
        QVERIFY(bar);
        QVERIFY(!QAccessible::queryAccessibleInterface(bar)->text(QAccessible::Name).isEmpty());
        const QPalette& colours = bar->palette();
        QVERIFY(contrast(colours.color(QPalette::HighlightedText),
                         colours.color(QPalette::Highlight)) >= 4.5);
        QVERIFY(contrast(colours.color(QPalette::Text), colours.color(QPalette::Base)) >= 4.5);
        QVERIFY(progress.onProgress({1000, 1000, 2, 3, "/tmp/movie.002"}));
        QVERIFY(!openProgressDialog());
    }

    // A long job ending while the user is in another program is announced once; one the user
    // watched, or a short one, is not.
    void theEndOfALongJobIsAnnouncedOnlyWhenTheUserIsElsewhere() {
        auto run = [this](int after, bool watching) {
            if (watching) {
                window->show();
                QApplication::setActiveWindow(window.get());
                if (!QTest::qWaitForWindowActive(window.get()))
                    qFatal("the window did not become active");
            }
            QStringList announced;
            // No dialog: it would be the active window itself.
            ProgressPresenter progress(window.get(), ProgressPresenter::Direction::Writing,
                                       60 * 60 * 1000, QStringLiteral("Splitting movie.mkv"));
            progress.setEndNotice(after, [&announced, this](QWidget* owner, const QString& job) {
                QCOMPARE(owner, window.get());
                announced << job;
            });
            progress.onProgress({0, 1000, 0, 1, "/tmp/movie.000"});
            progress.onProgress({1000, 1000, 0, 1, "/tmp/movie.000"});
            progress.onProgress({1000, 1000, 0, 1, "/tmp/movie.000"});
            return announced;
        };
        QCOMPARE(run(0, false), QStringList{QStringLiteral("Splitting movie.mkv")});
        QCOMPARE(run(60 * 60 * 1000, false), QStringList());
        QCOMPARE(run(0, true), QStringList());
    }
};

QTEST_MAIN(AccessibilityTest)
#include "accessibility_test.moc"
