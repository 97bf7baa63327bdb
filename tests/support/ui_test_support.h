#pragma once

// Shared pieces of the window's tests: a lenient scripted message box, file dialogs that
// record what the window asked, a watcher that answers real modal widgets, and small helpers.

#include "files.h"
#include "frm_main.h"
#include "message_box.h"
#include "open.h"
#include "scripted_message_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolvar::uitest {

using testing::ShownMessage;

// Refusals and reports may come unscripted; a test that scripts a whole conversation checks
// problems() for unexpected questions, boxes and wrongly kinded answers.
class FakeMessageBox : public testing::ScriptedMessageBox {
public:
    FakeMessageBox()
        : ScriptedMessageBox({}, [](const std::string& what) { qWarning("%s", what.c_str()); }) {}
};

struct DialogCall {
    bool save;
    QString filter;
    QString title;
    QString folder;
    QWidget* owner;
};

// Returns scripted paths in order (the empty text when the script is used up, as a cancel).
class FakeFileDialogs : public FileDialogs {
public:
    std::vector<DialogCall> calls;
    std::deque<QString> results;

    QString choose(DialogKind kind, QWidget* owner, const QString& filter, const QString& title,
                   const QString& initialFolder) override {
        calls.push_back({kind == DialogKind::Save, filter, title, initialFolder, owner});
        if (results.empty())
            return {};
        QString r = results.front();
        results.pop_front();
        return r;
    }
};

// The top-level widgets still there, by class and object name: none once a case has closed
// its window and answered its boxes. qtbase's own dialog tests end each case with this check;
// a box left open would meet the next case's script, a widget left over would leak.
inline QString leftOverTopLevels() {
    QStringList names;
    for (const QWidget* widget : QApplication::topLevelWidgets())
        names << QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ') +
                     widget->objectName();
    return names.join(QStringLiteral(", "));
}

// Polls for modal widgets and hands each new one to the next step of a script. A widget
// still open when the deadline passes is closed, so a broken test fails instead of hanging.
class ModalScript {
public:
    using Step = std::function<void(QWidget*)>;

    explicit ModalScript(std::vector<Step> script, int timeoutMs = 10000)
        : steps(std::move(script)), deadline(timeoutMs) {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
        timer.start();
    }
    ~ModalScript() { timer.stop(); }

    bool finished() const { return next == steps.size(); }
    bool timedOut() const { return expired; }
    // Class names of the modal widgets met, in order.
    QStringList seen;

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (deadline.hasExpired()) {
            expired = true;
            if (modal)
                modal->close();
            return;
        }
        if (!modal || modal == last || !modal->isVisible() || finished())
            return;
        last = modal;
        seen << QString::fromLatin1(modal->metaObject()->className());
        const Step step = steps[next++];
        // Run the step after this poll returns: it may open a nested modal loop itself.
        QTimer::singleShot(0, modal, [step, p = QPointer<QWidget>(modal)] {
            if (p)
                step(p);
        });
    }

    std::vector<Step> steps;
    std::size_t next = 0;
    QDeadlineTimer deadline;
    QTimer timer;
    QPointer<QWidget> last;
    bool expired = false;
};

// Records every top-level widget that is shown while it exists, however briefly.
class ShownWindows : public QObject {
public:
    ShownWindows() { qApp->installEventFilter(this); }
    ~ShownWindows() override { qApp->removeEventFilter(this); }
    ShownWindows(const ShownWindows&) = delete;
    ShownWindows& operator=(const ShownWindows&) = delete;

    QStringList classes;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow())
            classes << QString::fromLatin1(watched->metaObject()->className());
        return false;
    }
};

// Clicks the button of a box whose text is exactly that.
inline void clickButton(QWidget* box, const QString& text) {
    for (QAbstractButton* b : box->findChildren<QAbstractButton*>()) {
        if (b->text().remove(QLatin1Char('&')) == text) {
            b->click();
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no button %1").arg(text)));
}

// Settings go to a fresh folder for each test object, never to the user's configuration.
inline void redirectSettings(const QTemporaryDir& dir) {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
}

inline QString settingsFile(const QTemporaryDir& dir) {
    return dir.path() + QStringLiteral("/Tolvar Files Splitter.ini");
}

template <class T> T* child(const QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control named %s", name);
    return found;
}

// Whole files through the shared helpers, named as QFile names them; "<missing>" for a file
// that cannot be read, so a comparison fails showing why.
inline QByteArray readAll(const QString& path) {
    try {
        return QByteArray::fromStdString(testing::readFile(QFile::encodeName(path).toStdString()));
    } catch (const std::runtime_error&) {
        return QByteArray("<missing>");
    }
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    try {
        testing::writeFile(QFile::encodeName(path).toStdString(), bytes.toStdString());
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

// Deterministic bytes that differ from part to part, so a misplaced part shows.
inline QByteArray pattern(qsizetype size, unsigned seed = 7) {
    QByteArray bytes(size, Qt::Uninitialized);
    unsigned x = seed;
    for (qsizetype i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(x >> 16);
    }
    return bytes;
}

} // namespace tolvar::uitest
