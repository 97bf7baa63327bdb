#include "check_dialog.h"

#include "assembly_checks.h"
#include "join_plan.h"
#include "part_set.h"
#include "path_parts.h"
#include "path_text.h"
#include "progress_presenter.h"
#include "qt_text.h"
#include "repair.h"
#include "set_check.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tolvar {

namespace {

QIcon conditionIcon(const QStyle* style, PartCondition condition) {
    switch (condition) {
    case PartCondition::Good:
        return style->standardIcon(QStyle::SP_DialogApplyButton);
    case PartCondition::Damaged:
        return style->standardIcon(QStyle::SP_MessageBoxWarning);
    case PartCondition::Missing:
        return style->standardIcon(QStyle::SP_MessageBoxCritical);
    case PartCondition::Foreign:
        return style->standardIcon(QStyle::SP_MessageBoxQuestion);
    }
    return {};
}

std::string notAPartOfAnySet(const std::string& path) {
    return Message(MessageId::NotAPartOfAnySet, {escapedForDisplay(path)});
}

QString shown(const std::string& bytes) {
    return QString::fromStdString(escapedForDisplay(bytes));
}

} // namespace

CheckDialog::CheckDialog(const QString& chosen, MessageBox& messageBox, FileSystem& fileSystem,
                         QWidget* owner, int progressDelay)
    : QDialog(owner), chosenPath(pathToBytes(chosen).toStdString()), box(messageBox),
      fs(fileSystem), delay(progressDelay) {
    setObjectName(QStringLiteral("CheckDialog"));
    setWindowTitle(T_("Check Broken Files - Tolvar Files Splitter"));
    heading = new QLabel(this);
    heading->setObjectName(QStringLiteral("heading"));
    heading->setTextFormat(Qt::PlainText);
    heading->setWordWrap(true);
    files = new QTreeWidget(this);
    files->setObjectName(QStringLiteral("files"));
    files->setColumnCount(2);
    files->setHeaderLabels({T_("File"), T_("Condition")});
    files->setRootIsDecorated(false);
    files->setSelectionMode(QAbstractItemView::NoSelection);
    files->header()->setStretchLastSection(true);
    files->setAccessibleName(T_("Files of the set"));
    verdict = new QLabel(this);
    verdict->setObjectName(QStringLiteral("verdict"));
    verdict->setTextFormat(Qt::PlainText);
    verdict->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(this);
    repairer = buttons->addButton(T_("Repair"), QDialogButtonBox::ActionRole);
    repairer->setObjectName(QStringLiteral("repair"));
    QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
    close->setDefault(true);
    connect(repairer, &QPushButton::clicked, this, &CheckDialog::repair);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(files, 1);
    layout->addWidget(verdict);
    layout->addWidget(buttons);
    // Room for a dozen files and a long name without scrolling sideways.
    const QFontMetrics metrics = fontMetrics();
    resize(metrics.horizontalAdvance(QLatin1Char('x')) * 80, metrics.height() * 24);
}

bool CheckDialog::runCheck() {
    if (!partBaseName(chosenPath, {})) {
        box.refuse(notAPartOfAnySet(chosenPath));
        return false;
    }
    const JoinPlan plan = [&] {
        ProgressPresenter progress(parentWidget(), ProgressPresenter::Direction::Reading, delay,
                                   T_("Checking %1").arg(shown(fileNameOf(chosenPath))));
        return planJoin(fs, {chosenPath, {}, PlanFor::Check}, &progress);
    }();
    if (plan.outcome == JoinOutcome::Failed) {
        showFailureReport(box, *plan.failure);
        return false;
    }
    if (plan.outcome == JoinOutcome::Cancelled)
        return false;
    // Without checksums the set is judged as joining judges it, which needs a set to judge.
    if (!plan.verdict.contentsChecked && (!plan.set || !plan.set->countIsValid())) {
        box.refuse(notAPartOfAnySet(chosenPath));
        return false;
    }
    fill(plan.verdict);
    return true;
}

void CheckDialog::fill(const SetVerdict& check) {
    heading->setText(check.checksumPath.empty() || !check.contentsChecked
                         ? T_("The set of '%1':").arg(shown(chosenPath))
                         : T_("Checked against '%1':").arg(shown(check.checksumPath)));
    files->clear();
    for (const PartVerdict& v : check.verdicts) {
        auto* row = new QTreeWidgetItem(files);
        row->setText(0, shown(fileNameOf(v.path)));
        row->setToolTip(0, shown(v.path));
        row->setText(1, QString::fromStdString(describeInCheck(check, v)));
        row->setIcon(1, conditionIcon(style(), v.condition));
        row->setData(1, Qt::UserRole, static_cast<int>(v.condition));
    }
    files->resizeColumnToContents(0);
    verdict->setText(QString::fromStdString(verdictInWords(check)));
    // Read out with the dialog's name when it opens, as its description.
    setAccessibleDescription(verdict->text());
    repairer->setEnabled(check.repairable);
    repairer->setDefault(check.repairable);
}

void CheckDialog::repair() {
    Result<RepairReport> repaired = [&] {
        ProgressPresenter progress(this, ProgressPresenter::Direction::Writing, delay,
                                   T_("Repairing %1").arg(shown(fileNameOf(chosenPath))));
        return RepairSet(chosenPath, fs, &progress);
    }();
    if (!repaired) {
        showFailureReport(box, repaired.failure());
        return;
    }
    const RepairReport& report = repaired.value();
    switch (report.outcome) {
    case RepairReport::Outcome::Repaired: {
        std::vector<std::string> names;
        for (const std::string& path : report.rebuilt)
            names.push_back(escapedForDisplay(fileNameOf(path)));
        box.inform(Message(MessageId::Rebuilt, {quotedList(names)}));
        break;
    }
    case RepairReport::Outcome::Whole:
        box.inform(Message(MessageId::NothingNeededRebuilding));
        break;
    case RepairReport::Outcome::BeyondRepair:
        box.refuse(Message(MessageId::NothingRebuilt));
        break;
    case RepairReport::Outcome::Refused:
        box.refuse(report.message);
        break;
    case RepairReport::Outcome::Cancelled:
        return;
    }
    runCheck();
}

} // namespace tolvar
