#pragma once

#include "progress.h"
#include "transfer_rate.h"

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <memory>

class QFontMetrics;
class QLabel;
class QObject;
class QProgressDialog;
class QWidget;

namespace tolvar {

// Shows a long split or assembly in a modal progress dialog with a Cancel button, and keeps
// the window painted while the engine works on the user-interface thread.
// Before the delay has passed only paint and timer events are handled (clicks wait); once
// the dialog is up it is application-modal, so no input reaches the window behind it and
// nothing can be started twice.
class ProgressPresenter : public ProgressObserver {
public:
    enum class Direction { Writing, Reading };

    // owner: the window the dialog belongs to and is centred over; delayMilliseconds: copies
    // that finish sooner never show the dialog (0 shows it at the first report). The time
    // runs from the first report, so questions asked before the copy do not count. job says
    // what is done ("Splitting movie.mkv") in the dialog's title and in the end's notice.
    ProgressPresenter(QWidget* owner, Direction direction, int delayMilliseconds,
                      const QString& job = {});
    ~ProgressPresenter() override;

    // Updates the dialog; false once the user has pressed Cancel, which asks the engine to
    // stop. Hides the dialog when the last byte is done, before the engine's closing question.
    bool onProgress(const Progress& progress) override;
    // Shows the notice in the dialog's text, when the dialog is up, until the next report.
    void onNotice(const std::string& text) override;

    // Whether the dialog has been shown during this operation.
    bool wasShown() const { return shown; }

    // A job that took at least afterMilliseconds and ends while none of the program's windows
    // is active is announced with announce (the owner's window and the job); by default after
    // ten seconds, through announceJobEnd.
    using EndNotice = std::function<void(QWidget* window, const QString& job)>;
    void setEndNotice(int afterMilliseconds, EndNotice announce);

    // The dialog's title for a job: "Splitting movie.mkv - Tolvar Files Splitter".
    static QString titleFor(const QString& job);

    // The text the dialog shows for a report: part and path, bytes done of total, and the
    // rate with the time left once the rate has settled. Given metrics, the path is elided
    // in the middle to fit pathWidth pixels.
    static QString describe(const Progress& progress, Direction direction, const TransferRate& rate,
                            const QFontMetrics* metrics = nullptr, int pathWidth = 0);

private:
    void showDialog();
    void placeOverOwner();

    QWidget* ownerWidget;
    Direction kind;
    int delay;
    QString jobName;
    int announceAfter = 10000;
    EndNotice announceEnd;
    QElapsedTimer clock;
    TransferRate rate;
    bool checkingPass = false; // the last progress was of a check, not a copy
    std::unique_ptr<QProgressDialog> dialog;
    QLabel* label = nullptr;
    // Puts the dialog back over the window whenever either of them moves or changes size.
    std::unique_ptr<QObject> keeper;
    bool shown = false;
    bool cancelled = false;
    bool endAnnounced = false;
};

} // namespace tolvar
