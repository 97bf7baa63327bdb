#include "progress_presenter.h"

#include "desktop_notice.h"
#include "operations.h"
#include "path_text.h"
#include "qt_text.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QProgressDialog>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <functional>

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

// Calls back on the events that can take the dialog away from its place over the window.
class PlacementKeeper : public QObject {
public:
    PlacementKeeper(QWidget* window, QWidget* dialog, std::function<void()> place)
        : window(window), dialog(dialog), place(std::move(place)) {
        window->installEventFilter(this);
        dialog->installEventFilter(this);
    }
    ~PlacementKeeper() override {
        window->removeEventFilter(this);
        dialog->removeEventFilter(this);
    }
    PlacementKeeper(const PlacementKeeper&) = delete;
    PlacementKeeper& operator=(const PlacementKeeper&) = delete;

    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        // The dialog's own moves are left alone: the user may drag it aside.
        if ((watched == window && (type == QEvent::Move || type == QEvent::Resize)) ||
            (watched == dialog && (type == QEvent::Show || type == QEvent::Resize)))
            place();
        return false;
    }

private:
    QWidget* window;
    QWidget* dialog;
    std::function<void()> place;
};

} // namespace

ProgressPresenter::ProgressPresenter(QWidget* owner, Direction direction, int delayMilliseconds,
                                     const QString& job)
    : ownerWidget(owner), kind(direction), delay(delayMilliseconds), jobName(job),
      announceEnd(announceJobEnd) {}

void ProgressPresenter::setEndNotice(int afterMilliseconds, EndNotice announce) {
    announceAfter = afterMilliseconds;
    announceEnd = std::move(announce);
}

QString ProgressPresenter::titleFor(const QString& job) {
    const QString product = QStringLiteral("Tolvar Files Splitter");
    return job.isEmpty() ? product : job + QStringLiteral(" - ") + product;
}

ProgressPresenter::~ProgressPresenter() {
    // The keeper watches the dialog; it goes first.
    keeper.reset();
}

QString ProgressPresenter::describe(const Progress& progress, Direction direction,
                                    const TransferRate& rate, const QFontMetrics* metrics,
                                    int pathWidth) {
    // A check counts the broken files alone; the recovery files are read after them.
    const QString action = progress.checking ? (progress.recoveryFile ? T_("Checking recovery file")
                                                                      : T_("Checking broken file"))
                           : progress.movingInPlace          ? T_("Moving broken file")
                           : direction == Direction::Writing ? T_("Writing broken file")
                                                             : T_("Reading broken file");
    QString path = pathFromBytes(QByteArray::fromStdString(progress.partPath));
    if (metrics && pathWidth > 0)
        path = metrics->elidedText(path, Qt::ElideMiddle, pathWidth);
    const std::optional<double> speed = rate.bytesPerSecond();
    const std::optional<double> left = rate.secondsLeft(progress.bytesTotal);
    const QString pace =
        speed && left
            ? T_("%1/s, about %2 left")
                  .arg(formatByteCount(static_cast<std::uint64_t>(*speed)), formatTimeLeft(*left))
            : T_("Estimating the time left...");
    // Recovery files are not counted with the broken files: only their number is shown.
    const QString which = progress.recoveryFile ? QString::number(progress.partIndex + 1)
                          : progress.movingInPlace
                              ? T_("%1 of %2 (%3 still to move)")
                                    .arg(progress.partIndex + 1)
                                    .arg(progress.partCount)
                                    .arg(progress.partCount - progress.partIndex - 1)
                              : T_("%1 of %2").arg(progress.partIndex + 1).arg(progress.partCount);
    return T_("%1 %2:\n%3\n%4 of %5\n%6")
        .arg(action, which, path, formatByteCount(progress.bytesDone),
             formatByteCount(progress.bytesTotal), pace);
}

void ProgressPresenter::showDialog() {
    dialog = std::make_unique<QProgressDialog>(ownerWidget);
    dialog->setObjectName(QStringLiteral("progress"));
    dialog->setWindowTitle(titleFor(jobName));
    auto* bar = new QProgressBar(dialog.get());
    bar->setObjectName(QStringLiteral("progressBar"));
    bar->setAccessibleName(jobName.isEmpty() ? T_("Progress") : T_("Progress of %1").arg(jobName));
    // The percentage is drawn in the highlight's text colour over the filled part: a dark
    // blue under white keeps it legible (above 6:1) where the style's light blue did not.
    QPalette colours = bar->palette();
    colours.setColor(QPalette::Highlight, QColor(0x1f, 0x4f, 0x8f));
    colours.setColor(QPalette::HighlightedText, Qt::white);
    bar->setPalette(colours);
    dialog->setBar(bar);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setRange(0, kSteps);
    dialog->setMinimumDuration(0);
    // The dialog stays until the copy ends; its own timers must not hide or reset it.
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    label = new QLabel(dialog.get());
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    dialog->setLabel(label);
    // A fixed width: the dialog would otherwise grow and shrink with every path and figure,
    // and drift from its place over the window. Every report has the same four lines.
    // Wide enough too for the title beside the title bar's buttons, so the window manager does
    // not cut the file's name short (up to two thirds of the screen for a long name).
    const QFontMetrics titleFont(QApplication::font("QWorkspaceTitleBar"));
    int width = std::max(420, label->fontMetrics().averageCharWidth() * 64);
    const int titleWidth = titleFont.horizontalAdvance(dialog->windowTitle()) +
                           6 * titleFont.height() +
                           dialog->style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const QScreen* screen = ownerWidget->window()->screen();
    const int widest = screen ? screen->availableGeometry().width() * 2 / 3 : titleWidth;
    width = std::max(width, std::min(titleWidth, widest));
    dialog->setFixedWidth(width);
    QObject::connect(dialog.get(), &QProgressDialog::canceled, [this] { cancelled = true; });
    keeper = std::make_unique<PlacementKeeper>(ownerWidget->window(), dialog.get(),
                                               [this] { placeOverOwner(); });
    shown = true;
}

void ProgressPresenter::placeOverOwner() {
    const QWidget* window = ownerWidget->window();
    const QRect windowFrame = window->frameGeometry();
    // Before the dialog is on screen its frame is not known yet; the window manager gives
    // it about the same frame as the window.
    QRect frame = dialog->frameGeometry();
    if (!dialog->isVisible()) {
        const QRect inner = window->geometry();
        frame.setSize(dialog->size().grownBy(
            QMargins(inner.left() - windowFrame.left(), inner.top() - windowFrame.top(),
                     windowFrame.right() - inner.right(), windowFrame.bottom() - inner.bottom())));
    }
    frame.moveCenter(windowFrame.center());
    // A window partly off the screen must not take the dialog's title bar with it.
    if (const QScreen* screen = window->screen()) {
        const QRect room = screen->availableGeometry();
        frame.moveRight(std::min(frame.right(), room.right()));
        frame.moveBottom(std::min(frame.bottom(), room.bottom()));
        frame.moveLeft(std::max(frame.left(), room.left()));
        frame.moveTop(std::max(frame.top(), room.top()));
    }
    // A window's position is that of its frame.
    if (dialog->pos() != frame.topLeft())
        dialog->move(frame.topLeft());
}

void ProgressPresenter::onNotice(const std::string& text) {
    if (!dialog)
        return;
    dialog->setLabelText(QString::fromStdString(text));
    QCoreApplication::processEvents();
}

bool ProgressPresenter::onProgress(const Progress& progress) {
    if (cancelled)
        return false;
    const bool finished = progress.bytesTotal > 0 && progress.bytesDone >= progress.bytesTotal;

    // Timed from the first report, which comes just before the first byte is copied: the
    // time the user took over the confirmation question does not count.
    if (!clock.isValid())
        clock.start();
    // A join checks the set, then copies it: the copy's pace is its own.
    if (progress.checking != checkingPass) {
        checkingPass = progress.checking;
        rate = TransferRate{};
    }
    rate.add(clock.elapsed(), progress.bytesDone);
    // The user went elsewhere during a long job: its end, and the question that follows it,
    // would otherwise wait unseen.
    if (finished && !endAnnounced && announceEnd && clock.elapsed() >= announceAfter &&
        QApplication::activeWindow() == nullptr) {
        endAnnounced = true;
        announceEnd(ownerWidget->window(), jobName.isEmpty() ? titleFor(jobName) : jobName);
    }
    const bool showNow = !dialog && !finished && clock.elapsed() >= delay;
    if (showNow)
        showDialog();

    if (dialog) {
        const QFontMetrics metrics = label->fontMetrics();
        const int pathWidth = dialog->width() - 4 * metrics.averageCharWidth();
        dialog->setLabelText(describe(progress, kind, rate, &metrics, pathWidth));
        if (showNow) {
            // Placed once its text gives it its height, then shown where it belongs.
            // A fixed size also tells the window manager there is nothing to resize.
            dialog->adjustSize();
            dialog->setFixedSize(dialog->size());
            placeOverOwner();
            dialog->show();
        }
        dialog->setValue(stepFor(progress));
        QCoreApplication::processEvents();
        // The Cancel button and a close by Escape both end up here.
        if (dialog->wasCanceled())
            cancelled = true;
        if (finished || cancelled) {
            // The engine's closing question (or its clean-up) comes next; the dialog must not
            // stay behind.
            keeper.reset();
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
