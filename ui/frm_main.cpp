#include "frm_main.h"

#include "assembly_checks.h"
#include "check_dialog.h"
#include "file_exists.h"
#include "in_place_join.h"
#include "operations.h"
#include "panels/assemble_panel.h"
#include "panels/split_by_number_panel.h"
#include "panels/split_by_size_panel.h"
#include "panels/split_method_panel.h"
#include "panels/welcome_panel.h"
#include "part_header.h"
#include "part_set.h"
#include "path_text.h"
#include "progress_presenter.h"
#include "qt_message_box.h"
#include "qt_text.h"
#include "read_only_box_accessible.h"
#include "settings.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMoveEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <string_view>

// Resources of a static library are not linked in unless something asks for them.
static void initIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace tolvar {

namespace {

// The window's layout, in twips as it was designed; the panels lay out their own controls.
constexpr int kClientWidth = 6015;
constexpr int kPanelLeft = 240;
constexpr int kPanelWidth = 5535;
constexpr int kPanelShownTop = 120;
constexpr int kPanelParkedTop = 3600 + kOptionRowsHeight + kSizeForRowsHeight;
// The client area below the menu bar at working height: the panel with the same margin
// above and below it. Parked panels lie below it.
constexpr int kWorkingClientHeight = kPanelShownTop + kPanelHeight + kPanelShownTop;
constexpr double kTwipsPerInch = 1440.0;

const char* const kWebSite = "https://tolvar-files-splitter.example.org/";

std::string aboutText() {
    return std::string(_("Tolvar Files Splitter v2.0 was designed by the Tolvar Files Splitter "
                         "team.")) +
           "\r\n" + kWebSite + "\r\n" + _("Copyright (C) 2026 the Tolvar Files Splitter team.");
}

// Under the About text in the real box.
const char* const kLicence = N_("Free software under the MIT licence: you may use, copy, change "
                                "and share it. It comes with no warranty.");

std::string helpText() {
    std::string site(kWebSite);
    site.pop_back();
    return _("Please go to our web site: ") + site;
}

// Counts the operations under way for as long as one runs, whichever way it ends.
class OperationGuard {
public:
    explicit OperationGuard(int& counter) : count(counter) { ++count; }
    ~OperationGuard() { --count; }
    OperationGuard(const OperationGuard&) = delete;
    OperationGuard& operator=(const OperationGuard&) = delete;

private:
    int& count;
};

std::string toEngine(const QString& path) {
    return pathToBytes(path).toStdString();
}

// What a progress dialog's title says: "Splitting movie.mkv".
QString job(const char* doing, const QString& path) {
    return T_(doing) + QLatin1Char(' ') + QFileInfo(path).fileName();
}

} // namespace

void prepareDisplayScaling() {
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::RoundPreferFloor);
}

frmMain::frmMain(const WindowServices& services, QWidget* parent)
    : QMainWindow(parent), box(services.box), dialogs(services.dialogs),
      fileSystem(services.fileSystem ? services.fileSystem : &defaultFileSystem()) {
    initIconResources();
    // Before any box is made: interfaces are made, and kept, on first demand.
    installReadOnlyBoxAccessibility();
    if (!box) {
        ownBox = std::make_unique<QtMessageBox>(this);
        box = ownBox.get();
    }
    if (!dialogs) {
        ownDialogs = std::make_unique<QtFileDialogs>();
        dialogs = ownDialogs.get();
    }

    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tolvar Files Splitter"));
    // A fixed-size tool: close button only, nothing to maximise or minimise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/tolvar-files-splitter-%1.png").arg(size),
                     QSize(size, size));
    setWindowIcon(icon);
    setAcceptDrops(true);

    createPanels();
    createMenu();
    setTabOrder();
    Form_Load();
}

frmMain::~frmMain() = default;

void frmMain::createPanels() {
    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    Frame1 = new SplitBySizePanel(*this, client);
    Frame2 = new AssemblePanel(*this, client);
    Frame3 = new SplitMethodPanel(client);
    Frame4 = new SplitByNumberPanel(*this, client);
    Frame5 = new WelcomePanel(client);

    panelRows = {
        {"5", Frame5, Frame5->Command10, nullptr, {Frame5->Command10, Frame5->Command9}},
        {"3", Frame3, Frame3->Command4, nullptr, {Frame3->Command4, Frame3->Command5}},
        {"1",
         Frame1,
         Frame1->Text1,
         Frame1->Text1,
         {Frame1->Text1, Frame1->Command1, Frame1->Text6, Frame1->Command11, Frame1->Text5,
          Frame1->Combo1, Frame1->Combo2, Frame1->Check1, Frame1->Spin1, Frame1->joinScriptBox(),
          Frame1->Command2}},
        {"4",
         Frame4,
         Frame4->Text3,
         Frame4->Text3,
         {Frame4->Text3, Frame4->Command8, Frame4->Text7, Frame4->Command12, Frame4->Text4,
          Frame4->VScroll1, Frame4->Check2, Frame4->Spin2, Frame4->joinScriptBox(),
          Frame4->Command7}},
        {"2",
         Frame2,
         Frame2->Text2,
         Frame2->Text2,
         {Frame2->Text2, Frame2->Command6, Frame2->Text8, Frame2->Command13, Frame2->Command3}},
    };

    connect(Frame5->Command10, &QPushButton::clicked, this, &frmMain::Command10_Click);
    connect(Frame5->Command9, &QPushButton::clicked, this, &frmMain::Command9_Click);
    connect(Frame3->Command4, &QPushButton::clicked, this, &frmMain::Command4_Click);
    connect(Frame3->Command5, &QPushButton::clicked, this, &frmMain::Command5_Click);
    // Escape steps back the way the user came, with the focus on the button that led on.
    auto back = [this](const char* panel, QPushButton* button) {
        return [this, panel, button] {
            ShowPanel(QString::fromLatin1(panel));
            button->setFocus();
        };
    };
    connect(Frame1, &Panel::backRequested, this, back("3", Frame3->Command4));
    connect(Frame4, &Panel::backRequested, this, back("3", Frame3->Command5));
    connect(Frame3, &Panel::backRequested, this, back("5", Frame5->Command10));
    connect(Frame2, &Panel::backRequested, this, back("5", Frame5->Command9));
    // One choice of a checksum file for both ways of splitting.
    connect(Frame1, &SplitPanel::checksumsChosen, Frame4, &SplitPanel::setWriteChecksums);
    connect(Frame4, &SplitPanel::checksumsChosen, Frame1, &SplitPanel::setWriteChecksums);
    connect(Frame1, &SplitPanel::joinScriptChosen, Frame4, &SplitPanel::setWriteJoinScript);
    connect(Frame4, &SplitPanel::joinScriptChosen, Frame1, &SplitPanel::setWriteJoinScript);

    for (QWidget* child : client->findChildren<QWidget*>()) {
        // Drops belong to the window, which knows which box a file goes to; a line edit
        // would otherwise take the dropped path as text.
        child->setAcceptDrops(false);
        // Menu shortcuts must win over the line edits' own (Ctrl+A is select-all there).
        child->installEventFilter(this);
    }
}

void frmMain::createMenu() {
    menu = menuBar()->addMenu(T_("&Menu"));
    menu->setObjectName(QStringLiteral("menu"));
    auto item = [this](const char* name, const QString& caption, const QKeySequence& keys) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        if (!keys.isEmpty())
            action->setShortcut(keys);
        // Active whichever control has the focus, including a read-only line edit.
        action->setShortcutContext(Qt::WindowShortcut);
        return action;
    };
    menuSplit = item("menuSplit", T_("&Split File"), QKeySequence(Qt::CTRL | Qt::Key_S));
    menuAssemble = item("menuAssemble", T_("&Assemble Files"), QKeySequence(Qt::CTRL | Qt::Key_A));
    // Ctrl+Shift+C: bound to nothing by Qt's line edits, lists or the desktop's standard keys.
    menuCheck = item("menuCheck", T_("&Check Broken Files..."),
                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    menu->addSeparator()->setObjectName(QStringLiteral("line"));
    menuHelp = item("menuHelp", T_("&Help and Support"), QKeySequence(Qt::Key_F1));
    menuAbout = item("menuAbout", T_("A&bout"), QKeySequence());
    menu->addSeparator()->setObjectName(QStringLiteral("line2"));
    menuExit = item("menuExit", T_("E&xit"), QKeySequence(Qt::CTRL | Qt::Key_Q));

    // F10 opens the menu, as on other desktop programs; Qt's menu bar only answers Alt.
    auto* openMenu = new QAction(this);
    openMenu->setObjectName(QStringLiteral("openMenu"));
    openMenu->setShortcut(QKeySequence(Qt::Key_F10));
    openMenu->setShortcutContext(Qt::WindowShortcut);
    addAction(openMenu);
    connect(openMenu, &QAction::triggered, this, [this] {
        menuBar()->setActiveAction(menu->menuAction());
        if (!menu->actions().isEmpty())
            menu->setActiveAction(menu->actions().first());
    });

    connect(menuSplit, &QAction::triggered, this, &frmMain::menuSplit_Click);
    connect(menuAssemble, &QAction::triggered, this, &frmMain::menuAssemble_Click);
    connect(menuCheck, &QAction::triggered, this, &frmMain::menuCheck_Click);
    connect(menuHelp, &QAction::triggered, this, &frmMain::menuHelp_Click);
    connect(menuAbout, &QAction::triggered, this, &frmMain::menuAbout_Click);
    connect(menuExit, &QAction::triggered, this, &frmMain::menuExit_Click);
}

void frmMain::setTabOrder() {
    // The keyboard order over the whole window, across the panels; hidden (parked) panels
    // drop out of it.
    std::vector<QWidget*> order;
    for (const PanelRow& row : panelRows)
        order.insert(order.end(), row.keyboardOrder.begin(), row.keyboardOrder.end());
    for (std::size_t i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void frmMain::applyLayout() {
    // One scale for the whole window, so the panels keep their proportions to each other.
    scale = 1.0 / screenTwipsPerPixelX();
    for (const PanelRow& row : panelRows)
        scale = std::max(scale, row.panel->requiredScale());
    for (const PanelRow& row : panelRows) {
        Panel* panel = row.panel;
        panel->setGeometry(pixelsAt(kPanelLeft, scale), pixelsAt(kPanelParkedTop, scale),
                           extentAt(kPanelWidth, scale), extentAt(kPanelHeight, scale));
        panel->applyScale(scale);
    }
    client->setFixedSize(extentAt(kClientWidth, scale), extentAt(kWorkingClientHeight, scale));
    // The window follows its client area and cannot be resized by the user.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
}

double frmMain::screenTwipsPerPixelX() const {
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    const double dpi = s ? s->logicalDotsPerInchX() : 96.0;
    return kTwipsPerInch / (dpi > 0 ? dpi : 96.0);
}

double frmMain::screenTwipsPerPixelY() const {
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    const double dpi = s ? s->logicalDotsPerInchY() : 96.0;
    return kTwipsPerInch / (dpi > 0 ? dpi : 96.0);
}

void frmMain::Form_Load() {
    // The unit list first: the layout measures its items.
    Frame1->Combo1->addItem(QStringLiteral("KB"));
    Frame1->Combo1->addItem(QStringLiteral("MB"));
    Frame1->Combo1->setCurrentIndex(0);
    applyLayout();

    const double tppX = screenTwipsPerPixelX();
    const double tppY = screenTwipsPerPixelY();
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect area = s ? s->geometry() : QRect(0, 0, 1024, 768);
    // Centre the window at the height it works at (its full designed height would put it
    // far above the middle of an ordinary screen).
    const QSize outer = sizeHint();
    const double defaultTop =
        area.y() * tppY +
        static_cast<double>(centredTwips(area.height() * tppY, outer.height() * tppY));
    const double defaultLeft =
        area.x() * tppX +
        static_cast<double>(centredTwips(area.width() * tppX, outer.width() * tppX));
    const StoredSettings stored =
        loadSettings(static_cast<float>(defaultTop), static_cast<float>(defaultLeft));
    Frame1->setWriteChecksums(stored.writeChecksums);
    Frame4->setWriteChecksums(stored.writeChecksums);
    Frame1->setWriteJoinScript(stored.writeJoinScript);
    Frame4->setWriteJoinScript(stored.writeJoinScript);
    Frame1->setSizeFor(stored.sizeFor);

    // Pixel coordinates must fit an int; a stored value beyond that is as good as no value.
    auto toPixels = [](float twips, double tpp, double fallback) {
        const double px = std::round(static_cast<double>(twips) / tpp);
        const double limit = 1 << 24;
        return static_cast<int>(std::fabs(px) < limit ? px : std::round(fallback / tpp));
    };
    move(toPixels(stored.left, tppX, defaultLeft), toPixels(stored.top, tppY, defaultTop));
    keepOnScreen();

    ShowPanel(QStringLiteral("5"));
}

void frmMain::keepOnScreen() {
    // A position saved on a larger screen, or on one no longer attached, is brought back onto
    // this one, title bar and all.
    const QScreen* target = QGuiApplication::screenAt(pos());
    if (!target)
        target = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!target)
        return;
    QRect outer = frameGeometry();
    // Before the window manager has framed the window, pos() is where the frame's corner will
    // go, and the title bar and borders will push the window down and right: a generous guess
    // of them, from the title font at this screen's scale, until the real frame is known.
    if (outer.size() == size()) {
        const int titleBar =
            std::max(style()->pixelMetric(QStyle::PM_TitleBarHeight),
                     QFontMetrics(QApplication::font("QWorkspaceTitleBar")).height() * 2);
        const int border = titleBar / 4;
        outer.setSize(size() + QSize(2 * border, titleBar + border));
    }
    const QPoint inside = clampedIntoScreen(outer, target->availableGeometry());
    if (inside != outer.topLeft())
        move(pos() + (inside - outer.topLeft()));
}

void frmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The size is final only now, and the frame the window system adds is known once it has
    // been mapped.
    if (!event->spontaneous()) {
        framing = true;
        keepOnScreen();
        QTimer::singleShot(0, this, [this] {
            // Framed already (or by no window manager at all): later moves are the user's.
            if (frameGeometry().size() != size())
                framing = false;
            keepOnScreen();
        });
    }
}

void frmMain::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    // The window manager framed the window some time after it was shown, and may have put it
    // where the guess did not: the real frame is brought inside the screen once.
    if (framing && frameGeometry().size() != size()) {
        framing = false;
        keepOnScreen();
    }
}

void frmMain::saveWindowPosition() {
    const QPoint at = pos();
    saveSettings({static_cast<float>(at.y() * screenTwipsPerPixelY()),
                  static_cast<float>(at.x() * screenTwipsPerPixelX()), Frame1->writeChecksums(),
                  Frame1->writeJoinScript(), Frame1->sizeFor()});
}

void frmMain::Form_Unload() {
    saveWindowPosition();
}

void frmMain::closeEvent(QCloseEvent* event) {
    // The engine runs inside a click and keeps the window painted; a close request arriving
    // meanwhile would pull the window from under the operation and its closing question.
    if (operationsRunning > 0) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void frmMain::ShowPanel(const QString& panel) {
    for (const PanelRow& row : panelRows) {
        row.panel->move(row.panel->x(), pixelsAt(kPanelParkedTop, scale));
        // Parked panels also leave the keyboard order, so Tab never lands on a control
        // nobody can see.
        row.panel->setVisible(false);
    }
    for (const PanelRow& row : panelRows) {
        if (panel == QLatin1String(row.number)) {
            row.panel->move(row.panel->x(), pixelsAt(kPanelShownTop, scale));
            row.panel->setVisible(true);
        }
    }
}

const frmMain::PanelRow* frmMain::rowInView() const {
    for (const PanelRow& row : panelRows)
        if (!row.panel->isHidden() && row.panel->y() == pixelsAt(kPanelShownTop, scale))
            return &row;
    return nullptr;
}

QString frmMain::panelInView() const {
    const PanelRow* row = rowInView();
    return QString::fromLatin1(row ? row->number : "0");
}

void frmMain::moveToPanel(const char* number) {
    ShowPanel(QString::fromLatin1(number));
    for (const PanelRow& row : panelRows)
        if (std::string_view(row.number) == number)
            row.firstFocus->setFocus();
}

QString frmMain::initialFolder(const QString& chosenOnPanel) const {
    return dialogStartFolder(QCoreApplication::applicationDirPath(), chosenOnPanel);
}

// Navigation ------------------------------------------------------------------------------

void frmMain::Command10_Click() {
    moveToPanel("3");
}

void frmMain::Command9_Click() {
    moveToPanel("2");
}

void frmMain::Command4_Click() {
    moveToPanel("1");
}

void frmMain::Command5_Click() {
    moveToPanel("4");
}

void frmMain::menuSplit_Click() {
    Command10_Click();
}
void frmMain::menuAssemble_Click() {
    Command9_Click();
}

void frmMain::menuCheck_Click() {
    const QString chosen = fileDialogs().choose(
        DialogKind::Open, this, QString::fromLatin1(kAllFiles),
        T_("Choose a file of the set to check - Tolvar Files Splitter"), initialFolder(QString()));
    if (chosen.isEmpty())
        return;
    const OperationGuard running(operationsRunning);
    CheckDialog dialog(chosen, messageBox(), *fileSystem, this, progressDelay);
    if (dialog.runCheck())
        dialog.exec();
}

void frmMain::openFile(const QString& path) {
    const QString first = firstPartOf(path);
    const auto read = tolvar::readPartSet(*fileSystem, toEngine(path));
    if (first != path || (read && read.value())) {
        Command9_Click();
        Frame2->Text2->setText(first);
        return;
    }
    Command10_Click();
    Frame1->Text1->setText(path);
    Frame4->Text3->setText(path);
}

QString frmMain::firstPartOf(const QString& path) const {
    auto read = tolvar::readPartSet(*fileSystem, toEngine(path));
    if (!read || !read.value() || read.value()->chosen.header.PartIndex == 0)
        return path;
    return pathFromBytes(QByteArray::fromStdString(PartFileName(read.value()->base, 0)));
}

void frmMain::menuExit_Click() {
    saveWindowPosition();
    // Closing the last window ends the program; the close handler saves once more.
    close();
}

void frmMain::menuAbout_Click() {
    // The real box also shows the program's icon and its licence; a scripted one gets the
    // message alone.
    if (ownBox && box == ownBox.get())
        ownBox->showAbout(aboutText(), _("About..."), windowIcon().pixmap(64), T_(kLicence));
    else
        messageBox().show(aboutText(), MsgStyle::Information, _("About..."));
}

void frmMain::menuHelp_Click() {
    messageBox().inform(helpText());
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        for (const QAction* action : {menuSplit, menuAssemble, menuCheck, menuHelp, menuExit}) {
            if (action->shortcut() == pressed) {
                // Left unaccepted, the key goes to the window's shortcut instead of the
                // control's own binding.
                event->ignore();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// Operations --------------------------------------------------------------------------------

namespace {

// A file whose broken files fit beside it only if it is shortened as they are written: the
// window asks whether to split it that way (No the default) instead of failing on a full disk.
SplitOptions offeringInPlace(SplitOptions options) {
    options.whenOnlyInPlace = SplitOptions::WhenOnlyInPlace::Ask;
    return options;
}

} // namespace

bool frmMain::SplitFile(const QString& Filename, std::int32_t Filesize) {
    const OperationGuard running(operationsRunning);
    ProgressPresenter progress(this, ProgressPresenter::Direction::Writing, progressDelay,
                               job(N_("Splitting"), Filename));
    OperationContext context{messageBox(), *fileSystem, &progress};
    return tolvar::SplitFile(toEngine(Filename), Filesize, toEngine(Frame1->Text6->text()),
                             toEngine(Frame1->Text1->text()), context,
                             offeringInPlace(Frame1->chosenOptions()));
}

bool frmMain::SplitFile2(const QString& Filename, std::int32_t Filenumber) {
    const OperationGuard running(operationsRunning);
    ProgressPresenter progress(this, ProgressPresenter::Direction::Writing, progressDelay,
                               job(N_("Splitting"), Filename));
    OperationContext context{messageBox(), *fileSystem, &progress};
    return tolvar::SplitFile2(toEngine(Filename), Filenumber, toEngine(Frame4->Text7->text()),
                              toEngine(Frame4->Text3->text()), context,
                              offeringInPlace(Frame4->chosenOptions()));
}

Assembled frmMain::AssembleFile(const QString& Filename) {
    const OperationGuard running(operationsRunning);
    const std::string chosen = toEngine(Filename);
    const std::string prefix = toEngine(Frame2->Text8->text());
    OperationContext context{messageBox(), *fileSystem};
    // An in-place join of this set that was interrupted goes on where it stopped, even with
    // its first broken file already gone.
    if (inPlaceJoinWaits(*fileSystem, chosen)) {
        JoinPlan plan = planJoin(*fileSystem, {chosen, prefix, PlanFor::Join, PlanDepth::Headers});
        ProgressPresenter progress(this, ProgressPresenter::Direction::Reading, progressDelay,
                                   job(N_("Assembling"), Filename));
        context.progress = &progress;
        bool checked = false;
        const JoinEnd end = joinInPlace(plan, context, {{}, false, &checked});
        return {end == JoinEnd::Joined, checked};
    }
    AssemblyCheck check = prepareAssembly(chosen, prefix, context, [this, &Filename](bool writing) {
        return std::make_unique<ProgressPresenter>(
            this,
            writing ? ProgressPresenter::Direction::Writing : ProgressPresenter::Direction::Reading,
            progressDelay, job(writing ? N_("Repairing") : N_("Checking"), Filename));
    });
    if (!check.proceed)
        return {};
    // Where the rebuilt file fits only as its broken files go, the user may choose that way.
    const JoinRoom room = roomForJoin(*fileSystem, check.plan);
    const bool inPlace = room.fitsOnlyInPlace() && check.plan.set;
    if (inPlace && !messageBox().askDefaultNo(messages::inPlaceJoinQuestion(check.plan.output)))
        return {};
    ProgressPresenter progress(this, ProgressPresenter::Direction::Reading, progressDelay,
                               job(N_("Assembling"), Filename));
    context.progress = &progress;
    const JoinEnd end = inPlace ? joinInPlace(check.plan, context, {check.options, false})
                                : assemblePlanned(check.plan, context, check.options);
    return {end == JoinEnd::Joined, check.plan.verdict.contentsChecked};
}

Result<bool> frmMain::FileExists(const QString& strPath) {
    return tolvar::FileExists(toEngine(strPath), *fileSystem);
}

// Drag and drop -----------------------------------------------------------------------------

QLineEdit* frmMain::dropTarget() const {
    const PanelRow* row = rowInView();
    return row ? row->dropBox : nullptr;
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (dropTarget() && !droppedFile(event->mimeData(), *fileSystem).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void frmMain::dragMoveEvent(QDragMoveEvent* event) {
    if (dropTarget() && !droppedFile(event->mimeData(), *fileSystem).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void frmMain::dropEvent(QDropEvent* event) {
    QLineEdit* target = dropTarget();
    const QString path = droppedFile(event->mimeData(), *fileSystem);
    if (!target || path.isEmpty()) {
        event->ignore();
        return;
    }
    // A broken file stands for its set, whichever of them was dropped.
    target->setText(target == Frame2->Text2 ? firstPartOf(path) : path);
    event->acceptProposedAction();
}

} // namespace tolvar
