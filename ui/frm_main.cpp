#include "frm_main.h"

#include "file_exists.h"
#include "operations.h"
#include "path_text.h"
#include "progress_presenter.h"
#include "qt_message_box.h"
#include "size_text.h"
#include "window_position.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <algorithm>
#include <cmath>
#include <sys/stat.h>

// Resources of a static library are not linked in unless something asks for them.
static void initIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace tolvar {

namespace {

// The layout, in twips as the window was designed.
constexpr int kClientWidth = 6015;
constexpr int kPanelLeft = 240;
constexpr int kPanelWidth = 5535;
constexpr int kPanelHeight = 2655;
constexpr int kPanelShownTop = 120;
constexpr int kPanelParkedTop = 3600;
// The client area below the menu bar at working height: the panel with the same margin
// above and below it. Parked panels lie below it.
constexpr int kWorkingClientHeight = kPanelShownTop + kPanelHeight + kPanelShownTop;
constexpr double kTwipsPerInch = 1440.0;

const QString kTitle = QStringLiteral("Tolvar Files Splitter");
const QString kAllFiles = QStringLiteral("All Files |*.*");
const QString kFirstParts = QStringLiteral("000 Files (*.000)|*.000");
const QString kChooseSplitSource = QStringLiteral("Choose a file to split - Tolvar Files Splitter");
const QString kChooseSplitTarget =
    QStringLiteral("Choose where to save the broken files - Tolvar Files Splitter");
const QString kChooseAssembleSource =
    QStringLiteral("Choose a file to assemble - Tolvar Files Splitter");
const QString kChooseAssembleTarget =
    QStringLiteral("Choose where to save the assembled file - Tolvar Files Splitter");

const char* const kWebSite = "https://tolvar-files-splitter.example.org/";

std::string aboutText() {
    return std::string("Tolvar Files Splitter v2.0 was designed by the Tolvar Files Splitter "
                       "team.\r\n") +
           kWebSite + "\r\nCopyright (C) 2026 the Tolvar Files Splitter team.";
}

std::string helpText() {
    std::string site(kWebSite);
    site.pop_back();
    return "Please go to our web site: " + site;
}

std::string toEngine(const QString& path) {
    return pathToBytes(path).toStdString();
}

// A chosen path becomes a name prefix: the engine appends the index or the name tail.
QString asPrefix(QString path) {
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('.')))
        path += QLatin1Char('.');
    return path;
}

int pixels(int twips, double scale) {
    return static_cast<int>(std::lround(twips * scale));
}

// Sizes round up so a control is never a fraction of a pixel short of what its caption needs.
int extent(int twips, double scale) {
    return static_cast<int>(std::ceil(twips * scale - 1e-9));
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
    if (!box) {
        ownBox = std::make_unique<QtMessageBox>(this);
        box = ownBox.get();
    }
    if (!dialogs) {
        ownDialogs = std::make_unique<QtFileDialogs>();
        dialogs = ownDialogs.get();
    }

    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kTitle);
    // A fixed-size tool: close button only, nothing to maximise or minimise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addFile(QStringLiteral(":/icons/tolvar-files-splitter-%1.png").arg(size),
                     QSize(size, size));
    setWindowIcon(icon);
    setAcceptDrops(true);

    buildControls();
    buildMenu();
    setTabOrder();
    Form_Load();
}

frmMain::~frmMain() = default;

MessageBox& frmMain::messageBox() {
    return *box;
}
FileDialogs& frmMain::fileDialogs() {
    return *dialogs;
}

void frmMain::buildControls() {
    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    auto frame = [this](const char* name) {
        auto* f = new QFrame(client);
        f->setObjectName(QString::fromLatin1(name));
        f->setFrameShape(QFrame::StyledPanel);
        f->setFrameShadow(QFrame::Sunken);
        placements.push_back({f, kPanelLeft, kPanelParkedTop, kPanelWidth, kPanelHeight});
        return f;
    };
    auto label = [this](QFrame* parent, const char* name, const QString& text, int l, int t, int w,
                        int h) {
        auto* c = new QLabel(text, parent);
        c->setObjectName(QString::fromLatin1(name));
        c->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        placements.push_back({c, l, t, w, h});
        return c;
    };
    auto button = [this](QFrame* parent, const char* name, const QString& text, int l, int t, int w,
                         int h) {
        auto* c = new QPushButton(text, parent);
        c->setObjectName(QString::fromLatin1(name));
        placements.push_back({c, l, t, w, h});
        return c;
    };
    auto textBox = [this](QFrame* parent, const char* name, bool readOnly, int l, int t, int w,
                          int h) {
        auto* c = new QLineEdit(parent);
        c->setObjectName(QString::fromLatin1(name));
        c->setReadOnly(readOnly);
        placements.push_back({c, l, t, w, h});
        return c;
    };

    Frame1 = frame("Frame1");
    Frame2 = frame("Frame2");
    Frame3 = frame("Frame3");
    Frame4 = frame("Frame4");
    Frame5 = frame("Frame5");

    Label5 = label(Frame5, "Label5", QStringLiteral("Welcome, what do you want to do?"), 360, 480,
                   2775, 255);
    Command10 = button(Frame5, "Command10", QStringLiteral("Split a File"), 360, 1200, 2295, 615);
    Command9 = button(Frame5, "Command9", QStringLiteral("Assemble Files"), 2880, 1200, 2295, 615);

    Label3 = label(Frame3, "Label3",
                   QStringLiteral("Choose the method you want to use to split the file:"), 360, 480,
                   3855, 255);
    Command4 = button(Frame3, "Command4", QStringLiteral("By Size"), 360, 1200, 2295, 615);
    Command5 = button(Frame3, "Command5", QStringLiteral("By Number of Broken Files"), 2880, 1200,
                      2295, 615);

    Label1 =
        label(Frame1, "Label1", QStringLiteral("Choose a file to split:"), 240, 240, 1575, 255);
    Text1 = textBox(Frame1, "Text1", true, 240, 480, 4695, 285);
    Command1 = button(Frame1, "Command1", QStringLiteral("..."), 5040, 495, 255, 255);
    Label8 = label(Frame1, "Label8", QStringLiteral("Choose where to save the broken files:"), 240,
                   910, 3015, 255);
    Text6 = textBox(Frame1, "Text6", true, 240, 1150, 4695, 285);
    Command11 = button(Frame1, "Command11", QStringLiteral("..."), 5040, 1165, 255, 255);
    Label2 = label(Frame1, "Label2", QStringLiteral("Write the size for each broken file:"), 240,
                   1580, 2535, 285);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Text5 = textBox(Frame1, "Text5", false, 2880, 1580, 1095, 285);
    Combo1 = new QComboBox(Frame1);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(false);
    placements.push_back({Combo1, 4080, 1565, 855, 315});
    Command2 = button(Frame1, "Command2", QStringLiteral("Split File"), 240, 2040, 5055, 375);

    Label7 =
        label(Frame4, "Label7", QStringLiteral("Choose a file to split:"), 240, 240, 1695, 255);
    Text3 = textBox(Frame4, "Text3", true, 240, 480, 4695, 285);
    Command8 = button(Frame4, "Command8", QStringLiteral("..."), 5040, 495, 255, 255);
    Label9 = label(Frame4, "Label9", QStringLiteral("Choose where to save the broken files:"), 240,
                   910, 3135, 255);
    Text7 = textBox(Frame4, "Text7", true, 240, 1150, 4695, 285);
    Command12 = button(Frame4, "Command12", QStringLiteral("..."), 5040, 1165, 255, 255);
    Label6 = label(Frame4, "Label6", QStringLiteral("Choose the number of broken files:"), 240,
                   1580, 2655, 285);
    Label6->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Text4 = textBox(Frame4, "Text4", true, 3000, 1580, 1935, 285);
    Text4->setText(QStringLiteral("2"));
    VScroll1 = new QScrollBar(Qt::Vertical, Frame4);
    VScroll1->setObjectName(QStringLiteral("VScroll1"));
    VScroll1->setRange(2, 50);
    VScroll1->setValue(2);
    VScroll1->setSingleStep(1);
    VScroll1->setPageStep(1);
    // The number grows upwards, as in a spin box: the top of the bar is 50, dragging the
    // thumb up raises the number, and so do the up arrow and the Up and Page Up keys. A
    // scroll bar's own arrows and keys step towards its top by subtracting, so each step
    // is mirrored before it takes effect.
    VScroll1->setInvertedAppearance(true);
    connect(VScroll1, &QScrollBar::actionTriggered, this, [this](int action) {
        // The value is still the old one here; the position is what the action would make it.
        const int from = VScroll1->value();
        switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
            VScroll1->setSliderPosition(from - VScroll1->singleStep());
            break;
        case QAbstractSlider::SliderSingleStepSub:
            VScroll1->setSliderPosition(from + VScroll1->singleStep());
            break;
        case QAbstractSlider::SliderPageStepAdd:
            VScroll1->setSliderPosition(from - VScroll1->pageStep());
            break;
        case QAbstractSlider::SliderPageStepSub:
            VScroll1->setSliderPosition(from + VScroll1->pageStep());
            break;
        default:
            break;
        }
    });
    VScroll1->setFocusPolicy(Qt::StrongFocus);
    placements.push_back({VScroll1, 5040, 1595, 255, 255});
    Command7 = button(Frame4, "Command7", QStringLiteral("Split File"), 240, 2040, 5055, 375);

    Label4 =
        label(Frame2, "Label4", QStringLiteral("Choose a file to assemble:"), 240, 360, 2055, 255);
    Text2 = textBox(Frame2, "Text2", true, 240, 600, 4695, 285);
    Command6 = button(Frame2, "Command6", QStringLiteral("..."), 5040, 615, 255, 255);
    Label10 = label(Frame2, "Label10", QStringLiteral("Choose where to save the assembled file:"),
                    240, 1140, 3015, 255);
    Text8 = textBox(Frame2, "Text8", true, 240, 1380, 4695, 285);
    Command13 = button(Frame2, "Command13", QStringLiteral("..."), 5040, 1395, 255, 255);
    Command3 = button(Frame2, "Command3", QStringLiteral("Assemble Files"), 240, 1920, 5055, 495);

    connect(Command1, &QPushButton::clicked, this, &frmMain::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmMain::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &frmMain::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &frmMain::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &frmMain::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &frmMain::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &frmMain::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &frmMain::Command8_Click);
    connect(Command9, &QPushButton::clicked, this, &frmMain::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &frmMain::Command10_Click);
    connect(Command11, &QPushButton::clicked, this, &frmMain::Command11_Click);
    connect(Command12, &QPushButton::clicked, this, &frmMain::Command12_Click);
    connect(Command13, &QPushButton::clicked, this, &frmMain::Command13_Click);
    // valueChanged fires for every step and, with tracking on, while the thumb is dragged.
    connect(VScroll1, &QScrollBar::valueChanged, this, &frmMain::VScroll1_Change);

    for (QWidget* child : client->findChildren<QWidget*>()) {
        // Drops belong to the window, which knows which box a file goes to; a line edit
        // would otherwise take the dropped path as text.
        child->setAcceptDrops(false);
        // Menu shortcuts must win over the line edits' own (Ctrl+A is select-all there).
        child->installEventFilter(this);
    }
}

void frmMain::buildMenu() {
    menu = menuBar()->addMenu(QStringLiteral("Menu"));
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
    menuSplit = item("menuSplit", QStringLiteral("Split File"), QKeySequence(Qt::CTRL | Qt::Key_S));
    menuAssemble =
        item("menuAssemble", QStringLiteral("Assemble Files"), QKeySequence(Qt::CTRL | Qt::Key_A));
    menu->addSeparator()->setObjectName(QStringLiteral("line"));
    menuHelp = item("menuHelp", QStringLiteral("Help and Support"), QKeySequence(Qt::Key_F1));
    menuAbout = item("menuAbout", QStringLiteral("About"), QKeySequence());
    menu->addSeparator()->setObjectName(QStringLiteral("line2"));
    menuExit = item("menuExit", QStringLiteral("Exit"), QKeySequence(Qt::CTRL | Qt::Key_Q));

    connect(menuSplit, &QAction::triggered, this, &frmMain::menuSplit_Click);
    connect(menuAssemble, &QAction::triggered, this, &frmMain::menuAssemble_Click);
    connect(menuHelp, &QAction::triggered, this, &frmMain::menuHelp_Click);
    connect(menuAbout, &QAction::triggered, this, &frmMain::menuAbout_Click);
    connect(menuExit, &QAction::triggered, this, &frmMain::menuExit_Click);
}

void frmMain::setTabOrder() {
    // The keyboard order over the whole window; hidden (parked) panels drop out of it.
    const QWidget* order[] = {Command10, Command9, Command4,  Command5,  Command12, Text1,
                              Command1,  Text6,    Command11, Text5,     Combo1,    Command2,
                              Text3,     Command8, Text7,     Text4,     VScroll1,  Command7,
                              Text2,     Command6, Text8,     Command13, Command3};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
}

double frmMain::requiredScale() const {
    const QFontMetrics metrics(font());
    const double screenScale = 1.0 / screenTwipsPerPixelX();
    double needed = screenScale;
    auto need = [&needed](double pixelsWanted, int twips) {
        needed = std::max(needed, pixelsWanted / twips);
    };

    for (const Placement& p : placements) {
        if (auto* l = qobject_cast<QLabel*>(p.widget)) {
            need(metrics.horizontalAdvance(l->text()) + 2, p.width);
            need(metrics.height(), p.height);
        } else if (auto* b = qobject_cast<QPushButton*>(p.widget)) {
            // What the style keeps around a button's caption, measured on a sample size.
            QStyleOptionButton option;
            option.initFrom(b);
            option.rect = QRect(0, 0, 400, 200);
            option.text = b->text();
            const QRect inner =
                b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b);
            need(metrics.horizontalAdvance(b->text()) + (400 - inner.width()) + 2, p.width);
            need(metrics.height() + (200 - inner.height()), p.height);
        } else if (auto* e = qobject_cast<QLineEdit*>(p.widget)) {
            need(e->minimumSizeHint().height(), p.height);
        } else if (auto* c = qobject_cast<QComboBox*>(p.widget)) {
            QStyleOptionComboBox option;
            option.initFrom(c);
            option.rect = QRect(0, 0, 400, 200);
            const QRect field = c->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                           QStyle::SC_ComboBoxEditField, c);
            int widest = 0;
            for (int i = 0; i < c->count(); ++i)
                widest = std::max(widest, metrics.horizontalAdvance(c->itemText(i)));
            need(widest + (400 - field.width()) + 4, p.width);
            need(metrics.height() + (200 - field.height()), p.height);
        }
    }
    return needed;
}

void frmMain::applyLayout() {
    scale = requiredScale();
    for (const Placement& p : placements)
        p.widget->setGeometry(pixels(p.left, scale), pixels(p.top, scale), extent(p.width, scale),
                              extent(p.height, scale));
    client->setFixedSize(extent(kClientWidth, scale), extent(kWorkingClientHeight, scale));
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
    Combo1->addItem(QStringLiteral("KB"));
    Combo1->addItem(QStringLiteral("MB"));
    Combo1->setCurrentIndex(0);
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
    const StoredPosition stored =
        loadPosition(static_cast<float>(defaultTop), static_cast<float>(defaultLeft));

    // Pixel coordinates must fit an int; a stored value beyond that is as good as no value.
    auto toPixels = [](float twips, double tpp, double fallback) {
        const double px = std::round(static_cast<double>(twips) / tpp);
        const double limit = 1 << 24;
        return static_cast<int>(std::fabs(px) < limit ? px : std::round(fallback / tpp));
    };
    move(toPixels(stored.left, tppX, defaultLeft), toPixels(stored.top, tppY, defaultTop));

    ShowPanel(QStringLiteral("5"));
}

void frmMain::saveWindowPosition() {
    const QPoint at = pos();
    savePosition(static_cast<float>(at.y() * screenTwipsPerPixelY()),
                 static_cast<float>(at.x() * screenTwipsPerPixelX()));
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
    QFrame* const frames[] = {Frame1, Frame2, Frame3, Frame4, Frame5};
    for (QFrame* f : frames) {
        f->move(f->x(), pixels(kPanelParkedTop, scale));
        // Parked panels also leave the keyboard order, so Tab never lands on a control
        // nobody can see.
        f->setVisible(false);
    }
    static const QString numbers[] = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                      QStringLiteral("4"), QStringLiteral("5")};
    for (int i = 0; i < 5; ++i) {
        if (panel == numbers[i]) {
            frames[i]->move(frames[i]->x(), pixels(kPanelShownTop, scale));
            frames[i]->setVisible(true);
        }
    }
}

QString frmMain::panelInView() const {
    const QFrame* const frames[] = {Frame1, Frame2, Frame3, Frame4, Frame5};
    for (int i = 0; i < 5; ++i)
        if (!frames[i]->isHidden() && frames[i]->y() == pixels(kPanelShownTop, scale))
            return QString::number(i + 1);
    return QStringLiteral("0");
}

QString frmMain::initialFolder() const {
    return QCoreApplication::applicationDirPath();
}

void frmMain::reportFailure(const Failure& failure) {
    showFailureReport(messageBox(), failure);
}

// Navigation ------------------------------------------------------------------------------

void frmMain::Command10_Click() {
    ShowPanel(QStringLiteral("3"));
    Command4->setFocus();
}

void frmMain::Command9_Click() {
    ShowPanel(QStringLiteral("2"));
    Text2->setFocus();
}

void frmMain::Command4_Click() {
    ShowPanel(QStringLiteral("1"));
    Text1->setFocus();
}

void frmMain::Command5_Click() {
    ShowPanel(QStringLiteral("4"));
    Text3->setFocus();
}

void frmMain::menuSplit_Click() {
    Command10_Click();
}
void frmMain::menuAssemble_Click() {
    Command9_Click();
}

void frmMain::menuExit_Click() {
    saveWindowPosition();
    // Closing the last window ends the program; the close handler saves once more.
    close();
}

void frmMain::menuAbout_Click() {
    messageBox().show(aboutText(), MsgStyle::Information, "About...");
}

void frmMain::menuHelp_Click() {
    messageBox().inform(helpText());
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        for (const QAction* action : {menuSplit, menuAssemble, menuHelp, menuExit}) {
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

// Split by size -----------------------------------------------------------------------------

void frmMain::Command1_Click() {
    Text1->setText(fileDialogs().choose(DialogKind::Open, this, kAllFiles, kChooseSplitSource,
                                        initialFolder()));
}

void frmMain::Command11_Click() {
    Text6->setText(asPrefix(fileDialogs().choose(DialogKind::Save, this, kAllFiles,
                                                 kChooseSplitTarget, initialFolder())));
}

void frmMain::Command2_Click() {
    auto fail = [this](const Failure& failure) {
        reportFailure(failure);
        Text5->clear();
    };

    const QString typed = Text5->text();
    const std::optional<double> size = parseSizeText(typed, QLocale());
    if (!size) {
        fail(makeFailure(FailureKind::InvalidNumber,
                         typed.trimmed().isEmpty()
                             ? std::string("no size was written")
                             : "\"" + typed.toStdString() + "\" is not a size"));
        return;
    }
    if (*size <= 0) {
        messageBox().refuse("Invalid size.");
        return;
    }

    std::int32_t Filesize = 0;
    const QString unit = Combo1->currentText();
    if (unit == QLatin1String("KB") || unit == QLatin1String("MB")) {
        const Result<std::int32_t> kilobytes = wholeKilobytes(*size, unit == QLatin1String("MB"));
        if (!kilobytes) {
            fail(kilobytes.failure());
            return;
        }
        Filesize = kilobytes.value();
    }

    if (Text1->text().isEmpty())
        return;
    const Result<bool> exists = FileExists(Text1->text());
    if (!exists) {
        fail(exists.failure());
        return;
    }
    if (!exists.value())
        return;

    if (SplitFile(Text1->text(), Filesize))
        messageBox().inform("Splitting done successfully.");
}

// Split by number ---------------------------------------------------------------------------

void frmMain::Command8_Click() {
    Text3->setText(fileDialogs().choose(DialogKind::Open, this, kAllFiles, kChooseSplitSource,
                                        initialFolder()));
}

void frmMain::Command12_Click() {
    Text7->setText(asPrefix(fileDialogs().choose(DialogKind::Save, this, kAllFiles,
                                                 kChooseSplitTarget, initialFolder())));
}

void frmMain::VScroll1_Change(int value) {
    Text4->setText(QString::number(value));
}

void frmMain::Command7_Click() {
    if (Text3->text().isEmpty() || Text4->text().isEmpty())
        return;
    const Result<bool> exists = FileExists(Text3->text());
    if (!exists) {
        reportFailure(exists.failure());
        return;
    }
    if (!exists.value())
        return;

    const std::optional<double> number = parseCountText(Text4->text());
    if (!number) {
        reportFailure(
            makeFailure(FailureKind::InvalidNumber,
                        "\"" + Text4->text().toStdString() + "\" is not a number of broken files"));
        return;
    }
    if (*number <= 1 || *number > 50) {
        messageBox().refuse("Choose a number between 2 and 50.");
        return;
    }
    const auto Filenumber = static_cast<std::int32_t>(roundHalfEven(*number));
    if (SplitFile2(Text3->text(), Filenumber))
        messageBox().inform("Splitting done successfully.");
}

// Assemble ----------------------------------------------------------------------------------

void frmMain::Command6_Click() {
    Text2->setText(fileDialogs().choose(DialogKind::Open, this, kFirstParts, kChooseAssembleSource,
                                        initialFolder()));
}

void frmMain::Command13_Click() {
    Text8->setText(asPrefix(fileDialogs().choose(DialogKind::Save, this, kAllFiles,
                                                 kChooseAssembleTarget, initialFolder())));
}

void frmMain::Command3_Click() {
    if (AssembleFile(Text2->text())) {
        messageBox().inform("File assembled successfully.");
        Text2->clear();
        Text8->clear();
    }
}

// Operations --------------------------------------------------------------------------------

namespace {

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

} // namespace

bool frmMain::SplitFile(const QString& Filename, std::int32_t Filesize) {
    const OperationGuard running(operationsRunning);
    ProgressPresenter progress(this, ProgressPresenter::Direction::Writing, progressDelay);
    OperationContext context{messageBox(), *fileSystem, &progress};
    return tolvar::SplitFile(toEngine(Filename), Filesize, toEngine(Text6->text()),
                             toEngine(Text1->text()), context);
}

bool frmMain::SplitFile2(const QString& Filename, std::int32_t Filenumber) {
    const OperationGuard running(operationsRunning);
    ProgressPresenter progress(this, ProgressPresenter::Direction::Writing, progressDelay);
    OperationContext context{messageBox(), *fileSystem, &progress};
    return tolvar::SplitFile2(toEngine(Filename), Filenumber, toEngine(Text7->text()),
                              toEngine(Text3->text()), context);
}

bool frmMain::AssembleFile(const QString& Filename) {
    const OperationGuard running(operationsRunning);
    ProgressPresenter progress(this, ProgressPresenter::Direction::Reading, progressDelay);
    OperationContext context{messageBox(), *fileSystem, &progress};
    return tolvar::AssembleFile(toEngine(Filename), toEngine(Text8->text()), context);
}

Result<bool> frmMain::FileExists(const QString& strPath) {
    return tolvar::FileExists(toEngine(strPath), *fileSystem);
}

// Drag and drop -----------------------------------------------------------------------------

QLineEdit* frmMain::dropTarget() const {
    const QString panel = panelInView();
    if (panel == QLatin1String("1"))
        return Text1;
    if (panel == QLatin1String("4"))
        return Text3;
    if (panel == QLatin1String("2"))
        return Text2;
    return nullptr;
}

QString frmMain::droppedFile(const QMimeData* mime) const {
    if (!mime || !mime->hasUrls())
        return {};
    // The list itself, not QUrl: QUrl would turn bytes of a name that are not UTF-8 into
    // U+FFFD and the file could no longer be found.
    QList<QByteArray> entries;
    for (const QByteArray& line : mime->data(QStringLiteral("text/uri-list")).split('\n')) {
        const QByteArray entry = line.trimmed();
        if (!entry.isEmpty() && !entry.startsWith('#'))
            entries << entry;
    }
    if (entries.size() != 1)
        return {};
    const QByteArray file = localFileFromUri(entries.first());
    // The same rule as the open dialog: an existing file, not a folder.
    struct stat st {};
    if (file.isEmpty() || fileSystem->stat(file.toStdString(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return pathFromBytes(file);
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (dropTarget() && !droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void frmMain::dragMoveEvent(QDragMoveEvent* event) {
    if (dropTarget() && !droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void frmMain::dropEvent(QDropEvent* event) {
    QLineEdit* target = dropTarget();
    const QString path = droppedFile(event->mimeData());
    if (!target || path.isEmpty()) {
        event->ignore();
        return;
    }
    target->setText(path);
    event->acceptProposedAction();
}

} // namespace tolvar
