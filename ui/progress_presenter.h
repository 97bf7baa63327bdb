#pragma once

#include "progress.h"

#include <QElapsedTimer>
#include <QString>
#include <memory>

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

    // owner: the window the dialog is centred on; delayMilliseconds: copies that finish sooner
    // never show the dialog (0 shows it at the first report). The time runs from the first
    // report, so questions asked before the copy do not count.
    ProgressPresenter(QWidget* owner, Direction direction, int delayMilliseconds);
    ~ProgressPresenter() override;

    // Updates the dialog; false once the user has pressed Cancel, which asks the engine to
    // stop. Hides the dialog when the last byte is done, before the engine's closing question.
    bool onProgress(const Progress& progress) override;

    // Whether the dialog has been shown during this operation.
    bool wasShown() const { return shown; }

    // The text the dialog shows for a report: part, path, bytes done of total.
    static QString describe(const Progress& progress, Direction direction);

private:
    void showDialog();

    QWidget* ownerWidget;
    Direction kind;
    int delay;
    QElapsedTimer clock;
    std::unique_ptr<QProgressDialog> dialog;
    bool shown = false;
    bool cancelled = false;
};

} // namespace tolvar
