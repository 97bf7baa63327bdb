#include "progress_presenter.h"

#include "path_text.h"

#include <QCoreApplication>
#include <QLocale>
#include <QProgressDialog>

namespace tolvar {

namespace {

constexpr int kSteps = 1000;

int stepFor(const Progress& progress) {
    if (progress.bytesTotal == 0)
        return kSteps;
    const auto done = std::min(progress.bytesDone, progress.bytesTotal);
    // Per mille, computed in 64 bits: a byte count of several gigabytes overflows an int.
    return static_cast<int>(done * kSteps / progress.bytesTotal);
}

} // namespace

ProgressPresenter::ProgressPresenter(QWidget* owner, Direction direction, int delayMilliseconds)
    : ownerWidget(owner), kind(direction), delay(delayMilliseconds) {}

ProgressPresenter::~ProgressPresenter() = default;

QString ProgressPresenter::describe(const Progress& progress, Direction direction) {
    const QLocale locale;
    const QString action = direction == Direction::Writing
                               ? QCoreApplication::translate("tolvar", "Writing broken file")
                               : QCoreApplication::translate("tolvar", "Reading broken file");
    const QString path = pathFromBytes(QByteArray::fromStdString(progress.partPath));
    return QStringLiteral("%1 %2 of %3:\n%4\n%5 of %6")
        .arg(action)
        .arg(progress.partIndex + 1)
        .arg(progress.partCount)
        .arg(path)
        .arg(locale.formattedDataSize(static_cast<qint64>(progress.bytesDone)))
        .arg(locale.formattedDataSize(static_cast<qint64>(progress.bytesTotal)));
}

void ProgressPresenter::showDialog() {
    dialog = std::make_unique<QProgressDialog>(ownerWidget);
    dialog->setWindowTitle(QStringLiteral("Tolvar Files Splitter"));
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setRange(0, kSteps);
    dialog->setMinimumDuration(0);
    // The dialog stays until the copy ends; its own timers must not hide or reset it.
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumWidth(420);
    QObject::connect(dialog.get(), &QProgressDialog::canceled, [this] { cancelled = true; });
    dialog->show();
    shown = true;
}

bool ProgressPresenter::onProgress(const Progress& progress) {
    if (cancelled)
        return false;
    const bool finished = progress.bytesTotal > 0 && progress.bytesDone >= progress.bytesTotal;

    // Timed from the first report, which comes just before the first byte is copied: the
    // time the user took over the confirmation question does not count.
    if (!clock.isValid())
        clock.start();
    if (!dialog && !finished && clock.elapsed() >= delay)
        showDialog();

    if (dialog) {
        dialog->setLabelText(describe(progress, kind));
        dialog->setValue(stepFor(progress));
        QCoreApplication::processEvents();
        // The Cancel button and a close by Escape both end up here.
        if (dialog->wasCanceled())
            cancelled = true;
        if (finished || cancelled) {
            // The engine's closing question (or its clean-up) comes next; the dialog must not
            // stay behind.
            dialog->hide();
            dialog.reset();
        }
    } else {
        // Keep painting, but leave clicks and keys queued: without the modal dialog they
        // would reach the window in the middle of the operation.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    return !cancelled;
}

} // namespace tolvar
