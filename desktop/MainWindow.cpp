#include "desktop/MainWindow.h"

#include "desktop/EventTreePane.h"
#include "desktop/LanguageBox.h"
#include "desktop/LanguageSupport.h"
#include "desktop/RequestLogPane.h"
#include "desktop/SettingsTab.h"
#include "desktop/Text.h"
#include "desktop/VariablesPane.h"
#include "desktop/WebDialog.h"
#include "state/PersistentState.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMoveEvent>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <iostream>
#include <system_error>

namespace pelotest::desktop {
namespace {

// How long closing waits for the state once the server has stopped (a request that did not end
// may hold it), and how long a save while the program goes on may wait for it.
constexpr std::chrono::seconds kStopDeadline{5};
constexpr std::chrono::seconds kLockGrace{1};
constexpr std::chrono::hours kWaitForTheState{24};

constexpr QSize kDefaultSize{780, 560};
// The variables pane's least width: the name column and room for a value beside it.
constexpr int kVariablesMinWidth = 260;

} // namespace

MainWindow::MainWindow(AppState& state, MainWindowOptions options, QWidget* parent)
    : QMainWindow(parent), state_(state), commands_(state), host_(*this, this),
      server_(std::make_unique<ServerController>(state, host_, options.server)),
      startInTray_(options.startInTray), settingsFileNamed_(options.settingsFileNamed),
      treeWidth_(EventTreePane::kDesignWidth) {
    if (options.dialogs) {
        dialogs_ = options.dialogs;
    } else {
        ownDialogs_ = std::make_unique<QtDialogs>(state_, this);
        dialogs_ = ownDialogs_.get();
    }
    if (options.opener) {
        opener_ = options.opener;
    } else {
        ownOpener_ = std::make_unique<DesktopFileOpener>();
        opener_ = ownOpener_.get();
    }
    trayAvailable_ = options.trayAvailable.value_or(QSystemTrayIcon::isSystemTrayAvailable());
    setObjectName(QStringLiteral("MainWindow"));
    buildWindow();
    settingsTab_->setAutostartCommand(
        {options.program.empty() ? std::string("pelotest") : options.program, "--settings",
         state_.settingsPath.string()});
    buildTray();
    connectPanes();
    applyTexts();
    resize(kDefaultSize);
    bounds_ = QRect(pos(), size());
}

MainWindow::~MainWindow() = default;

// ---------------------------------------------------------------------------------------------
// The window's parts.

void MainWindow::buildWindow() {
    const PaneContext context{state_, commands_, *dialogs_, *opener_, host_, images_, serverUrl_};
    treePane_ = new EventTreePane(context);
    variablesPane_ = new VariablesPane(context);
    logPane_ = new RequestLogPane(context);
    settingsTab_ = new SettingsTab(context);

    tabs_ = named(new QTabWidget, "Tabs");
    tabs_->addTab(buildGeneralTab(), images_.icon(ImageList::kTabGeneral), QString());
    tabs_->addTab(logPane_, images_.icon(ImageList::kTabLog), QString());
    // The settings scroll in a window too small for them (a small screen, 200 %, a large
    // font) instead of setting the window's least height: every text keeps its lines.
    auto* settingsScroll = named(new QScrollArea, "SettingsScroll");
    settingsScroll->setWidget(settingsTab_);
    settingsScroll->setWidgetResizable(true);
    settingsScroll->setFrameShape(QFrame::NoFrame);
    tabs_->addTab(settingsScroll, images_.icon(ImageList::kTabSettings), QString());
    setCentralWidget(tabs_);

    helpButton_ = named(new QToolButton, "HelpButton");
    helpButton_->setIcon(ImageList::button(QStringLiteral("infosm")));
    helpButton_->setAutoRaise(true);
    nameByToolTip(helpButton_);
    tabs_->setCornerWidget(helpButton_, Qt::TopRightCorner);
    connect(helpButton_, &QToolButton::clicked, this, &MainWindow::showHelp);
    // The window's keys work wherever the focus is, also inside a list: a shortcut is offered
    // the key before the focused control.
    const auto shortcut = [this](const QKeySequence& keys, auto slot) {
        auto* key = new QShortcut(keys, this);
        key->setContext(Qt::WindowShortcut);
        connect(key, &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::Key_F1), &MainWindow::showHelp);
    shortcut(QKeySequence(Qt::Key_F5), &MainWindow::toggleServerByUser);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), &MainWindow::quitFromTray);
    const auto switchTab = [this](int step) {
        tabs_->setCurrentIndex((tabs_->currentIndex() + step + tabs_->count()) % tabs_->count());
    };
    for (const QKeySequence& next :
         {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)})
        shortcut(next, [switchTab] { switchTab(1); });
    for (const QKeySequence& previous :
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
          QKeySequence(Qt::CTRL | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::Key_PageUp)})
        shortcut(previous, [switchTab] { switchTab(-1); });

    statusText_ = named(new QLabel, "StatusText");
    serverLink_ = named(new QLabel, "ServerLink");
    serverLink_->setTextFormat(Qt::RichText);
    serverLink_->setOpenExternalLinks(true);
    // A link for the pointer only: as a Tab stop it took the focus out of sight while the
    // server was stopped (no link shown); the address opens from the tree's menu by keyboard.
    serverLink_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    serverLink_->setFocusPolicy(Qt::NoFocus);
    liveStatus_ = named(new QLabel, "LiveStatus");
    liveStatus_->hide();
    statusBar()->addWidget(statusText_, 1);
    statusBar()->addPermanentWidget(liveStatus_);
    statusBar()->addPermanentWidget(serverLink_);
}

// The tree beside the variables; the user sets the tree's width.
QWidget* MainWindow::buildGeneralTab() {
    auto* page = named(new QWidget, "GeneralTab");
    generalSplitter_ = named(new QSplitter(Qt::Horizontal), "GeneralSplitter");
    generalSplitter_->addWidget(treePane_);
    generalSplitter_->addWidget(variablesPane_);
    generalSplitter_->setChildrenCollapsible(false);
    // In a narrow window the tree gives way before the values are squeezed to nothing.
    variablesPane_->setMinimumWidth(kVariablesMinWidth);
    generalSplitter_->setStretchFactor(0, 0);
    generalSplitter_->setStretchFactor(1, 1);
    connect(generalSplitter_, &QSplitter::splitterMoved, this,
            [this] { treeWidth_ = generalSplitter_->sizes().value(0, treeWidth_); });
    firstRunHintBox_ = named(new QFrame, "FirstRunHintBox");
    firstRunHintBox_->setFrameShape(QFrame::StyledPanel);
    firstRunHint_ = named(new QLabel, "FirstRunHint");
    firstRunHint_->setTextFormat(Qt::PlainText);
    firstRunHint_->setWordWrap(true);
    firstRunHint_->setMargin(4);
    closeHintButton_ = named(new QToolButton, "CloseFirstRunHint");
    closeHintButton_->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    closeHintButton_->setAutoRaise(true);
    nameByToolTip(closeHintButton_);
    connect(closeHintButton_, &QToolButton::clicked, this, [this] {
        hintDone_ = true;
        showFirstRunHint();
    });
    auto* hintLayout = new QHBoxLayout(firstRunHintBox_);
    hintLayout->setContentsMargins(4, 4, 4, 4);
    hintLayout->addWidget(firstRunHint_, 1);
    hintLayout->addWidget(closeHintButton_, 0, Qt::AlignTop);
    firstRunHintBox_->hide();
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(firstRunHintBox_);
    layout->addWidget(generalSplitter_);
    return page;
}

void MainWindow::buildTray() {
    trayMenu_ = named(new QMenu(this), "TrayMenu");
    showAction_ =
        named(trayMenu_->addAction(images_.icon(ImageList::kShow), QString()), "ShowWindow");
    startStopAction_ =
        named(trayMenu_->addAction(images_.icon(ImageList::kStart), QString()), "TrayStartStop");
    trayMenu_->addSeparator();
    quitAction_ = named(trayMenu_->addAction(images_.icon(ImageList::kQuit), QString()), "Quit");
    connect(showAction_, &QAction::triggered, this, &MainWindow::showFromTray);
    connect(startStopAction_, &QAction::triggered, this, &MainWindow::toggleServerByUser);
    connect(quitAction_, &QAction::triggered, this, &MainWindow::quitFromTray);

    if (!trayAvailable_)
        return;
    tray_ = new QSystemTrayIcon(images_.icon(ImageList::kTrayStopped), this);
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    showFromTray();
            });
}

// Requests change the state on their own threads; the host's queued notifications bring the
// panes up to date.
void MainWindow::connectPanes() {
    connect(&host_, &QtHost::settingsChangedQueued, settingsTab_,
            &SettingsTab::followRequestSettings);
    connect(&host_, &QtHost::treeChangedQueued, treePane_, &EventTreePane::followRequests);
    connect(&host_, &QtHost::variablesChangedQueued, variablesPane_,
            &VariablesPane::followRequests);
    connect(&host_, &QtHost::variablesChangedQueued, settingsTab_,
            &SettingsTab::followAutoSortSetting);
    connect(&host_, &QtHost::logChangedQueued, logPane_, &RequestLogPane::followRequests);
    connect(logPane_, &RequestLogPane::rowCountChanged, this, [this](int shown, int total) {
        logRowsShown_ = shown;
        logRowsHeld_ = total;
        showLogTabText();
    });
    connect(this, &MainWindow::rootImageChanged, treePane_, &EventTreePane::setRootImage);
    connect(&host_, &QtHost::liveStreamsChangedQueued, this, &MainWindow::showLiveStatus);
    connect(settingsTab_, &SettingsTab::startStopClicked, this, &MainWindow::toggleServerByUser);
    // Every request asks whether live reload is on: switched on, the next page carries the
    // script; switched off, the open pages stop listening at once.
    connect(settingsTab_, &SettingsTab::liveReloadSwitched, this, [this](bool on) {
        if (!on)
            server_->switchLiveReloadOff();
        showLiveStatus();
    });
    connect(settingsTab_, &SettingsTab::autoSortClicked, variablesPane_,
            &VariablesPane::autoSortSwitched);
    connect(settingsTab_, &SettingsTab::languageChanged, this, [this] { applyLanguage(false); });
    connect(settingsTab_, &SettingsTab::foldersEdited, this, &MainWindow::showFirstRunHint);
    connect(&host_, &QtHost::treeChangedQueued, this, &MainWindow::showFirstRunHint);
    connect(treePane_, &EventTreePane::nodeRemoved, this, &MainWindow::showFirstRunHint);
    connect(&host_, &QtHost::settingsChangedQueued, this, &MainWindow::showFirstRunHint);
    // A request the server answered (every page, found or not, leaves a log row): the user has
    // found the way, the hint has done its work.
    // Rows loaded from the settings file carry no time; a row of this run is a request.
    connect(&host_, &QtHost::logChangedQueued, this, [this] {
        if (hintDone_)
            return;
        hintDone_ = commands_.requestLogged();
        if (hintDone_)
            showFirstRunHint();
    });
}

// While nothing is set up (no folder chosen, or no event in the tree yet), the general tab says
// what to do first instead of showing two empty lists.
void MainWindow::showFirstRunHint() {
    firstRunHintBox_->setVisible(!commands_.setUp() && !hintDone_);
}

// Every label, caption and menu text of the window, in the current language.
void MainWindow::applyTexts() {
    const auto text = [this](UiText id) { return uiText(state_, id); };
    followLanguageInQtTexts(state_);
    // The pages' caption is the program's name alone; the window names a settings file of the
    // user's choice, and its status line's tip says where the settings are, whichever file.
    const QString settingsFile = QDir::toNativeSeparators(
        QFile::decodeName(QByteArray::fromStdString(state_.settingsPath.string())));
    host_.setCaption(toWindows1252(text(UiText::WindowTitle)));
    setWindowTitle(settingsFileNamed_ ? text(UiText::WindowTitle) + QStringLiteral(" \u2013 ") +
                                            QFileInfo(settingsFile).fileName()
                                      : text(UiText::WindowTitle));
    statusText_->setToolTip(text(UiText::SettingsFileTip).arg(settingsFile));
    showTrayTip();
    helpButton_->setToolTip(text(UiText::InfoCaption) + QStringLiteral(" (F1)"));
    tabs_->setTabText(0, text(UiText::TabGeneral));
    showLogTabText();
    tabs_->setTabText(2, text(UiText::TabSettings));
    firstRunHint_->setText(text(UiText::FirstRunHint));
    closeHintButton_->setToolTip(text(UiText::EditorClose));
    treePane_->applyTexts();
    variablesPane_->applyTexts();
    logPane_->applyTexts();
    settingsTab_->applyTexts();
    showAction_->setText(text(UiText::MenuShow));
    quitAction_->setText(text(UiText::MenuQuit));
    startStopAction_->setText(text(server_->running() ? UiText::ServerStop : UiText::ServerStart));
    showLiveStatus();
}

// The log's tab names the rows it holds, and those the filter shows when it hides some.
void MainWindow::showLogTabText() {
    QString count = QString::number(logRowsHeld_);
    if (logRowsShown_ != logRowsHeld_)
        count = QString::number(logRowsShown_) + QLatin1Char('/') + count;
    tabs_->setTabText(1, uiText(state_, UiText::TabLog) + QStringLiteral(" (") + count +
                             QLatin1Char(')'));
}

void MainWindow::showHelp() {
    emit helpRequested();
    WebDialog::run(state_, *dialogs_, WebDialog::Mode::Help, downloadHost(commands_), this);
    // Links of the help page may save a library or ask for the export; closing the help dialog
    // starts neither the export nor the rescan.
}

void MainWindow::applyLanguage(bool dialogsOnly) {
    // The message boxes read their eight texts from the current language when they open.
    dialogs_->setMessageLanguage(std::nullopt);
    if (!dialogsOnly) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        tabs_->setEnabled(false);
        setStatusText(uiText(state_, UiText::LoadLanguage));
        applyTexts();
        QApplication::restoreOverrideCursor();
    }
    setStatusText(uiText(state_, server_->running() ? UiText::StatusActive : UiText::StatusReady));
    tabs_->setEnabled(true);
    settingsTab_->enableLanguageChoice();
}

// ---------------------------------------------------------------------------------------------
// The notification area.

void MainWindow::hideToTray() {
    if (!trayAvailable_ || !tray_) {
        showMinimized();
        return;
    }
    restoreMaximized_ = restoreMaximized_ || (windowState() & Qt::WindowMaximized);
    hide();
    tray_->show();
    hiddenToTray_ = true;
}

void MainWindow::showFromTray() {
    if (tray_)
        tray_->hide();
    hiddenToTray_ = false;
    storedWindowState_.reset();
    if (restoreMaximized_)
        showMaximized();
    else
        showNormal();
    restoreMaximized_ = false;
    raise();
    activateWindow();
}

void MainWindow::quitFromTray() {
    close();
}

void MainWindow::bringToFront() {
    if (hiddenToTray_ || isMinimized())
        showFromTray();
    else
        show();
    raise();
    activateWindow();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    if (isMinimized() && trayAvailable_ && !hiddenToTray_) {
        restoreMaximized_ = change->oldState() & Qt::WindowMaximized;
        // Hiding while the window system is still minimising it would be undone; do it next.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && !hiddenToTray_)
                hideToTray();
        });
    }
}

// ---------------------------------------------------------------------------------------------
// Placement, start and close.

QRect fitOntoScreen(QRect stored, QRect available) {
    if (available.isEmpty())
        return stored;
    const int width = std::min(stored.width(), available.width());
    const int height = std::min(stored.height(), available.height());
    const int left = std::clamp(stored.left(), available.left(), available.right() + 1 - width);
    const int top = std::clamp(stored.top(), available.top(), available.bottom() + 1 - height);
    return QRect(left, top, width, height);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (isVisible() && windowState() == Qt::WindowNoState)
        bounds_ = QRect(pos(), size());
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    // Where the user moved it is what the file keeps.
    if (isVisible() && windowState() == Qt::WindowNoState)
        bounds_ = QRect(pos(), size());
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The tree pane gets its width once the splitter knows its own.
    if (treeWidthPending_) {
        treeWidthPending_ = false;
        const int total = std::max(generalSplitter_->width(), treeWidth_ + 100);
        generalSplitter_->setSizes({treeWidth_, total - treeWidth_});
    }
}

void MainWindow::applyPlacement(const WindowPlacement& stored) {
    tabs_->setCurrentIndex(std::clamp(stored.pageIndex, 0, tabs_->count() - 1));
    QRect bounds(pos(), size());
    if (stored.left)
        bounds.moveLeft(*stored.left);
    if (stored.top)
        bounds.moveTop(*stored.top);
    if (stored.width.value_or(0) > 0)
        bounds.setWidth(*stored.width);
    if (stored.height.value_or(0) > 0)
        bounds.setHeight(*stored.height);
    const QScreen* screen = QGuiApplication::screenAt(bounds.center());
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        // The bounds are the inside of the window; its frame (title bar, borders) must fit on
        // the screen too. Known once it was shown; before, the style's title bar and borders.
        QMargins frame(frameGeometry().left() - geometry().left(),
                       geometry().top() - frameGeometry().top(),
                       frameGeometry().right() - geometry().right(),
                       frameGeometry().bottom() - geometry().bottom());
        if (frame.isNull()) {
            const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
            frame = QMargins(border, style()->pixelMetric(QStyle::PM_TitleBarHeight) + border,
                             border, border);
        }
        bounds = fitOntoScreen(bounds, screen->availableGeometry().marginsRemoved(frame));
    }
    move(bounds.topLeft());
    resize(bounds.size());
    bounds_ = QRect(pos(), size());
    if (stored.treeWidth)
        treeWidth_ = std::max(*stored.treeWidth, static_cast<int>(EventTreePane::kLeastWidth));

    if (startInTray_) {
        // Started with the desktop session: out of sight until the user asks for the window,
        // which then comes back as it was left.
        storedWindowState_ = stored.windowState;
        restoreMaximized_ = stored.windowState == "maximized";
        hideToTray();
    } else if (stored.windowState == "maximized") {
        showMaximized();
    } else if (stored.windowState == "minimized") {
        if (trayAvailable_)
            hideToTray();
        else
            showMinimized();
    } else {
        show();
    }
}

WindowPlacement MainWindow::placement() const {
    WindowPlacement p;
    p.left = bounds_.x();
    p.top = bounds_.y();
    p.width = bounds_.width();
    p.height = bounds_.height();
    p.treeWidth = treeWidthPending_ ? treeWidth_ : generalSplitter_->sizes().value(0, treeWidth_);
    p.pageIndex = tabs_->currentIndex();
    if ((windowState() & Qt::WindowMaximized) || (hiddenToTray_ && restoreMaximized_))
        p.windowState = "maximized";
    else if (hiddenToTray_)
        p.windowState = "minimized";
    else
        p.windowState = "normal";
    if (storedWindowState_)
        p.windowState = *storedWindowState_;
    return p;
}

void MainWindow::showStatus(const std::string& text) {
    setStatusText(fromWindows1252(text));
}

std::optional<std::string> MainWindow::askValue(const std::string& caption,
                                                const std::string& prompt,
                                                const std::string& preset) {
    // Asked in the middle of a folder's expansion, which holds the state lock: requests and the
    // views go on while the box is open.
    std::optional<QString> answer;
    runUnlocked(state_.mutex, [&] {
        answer = dialogs_->input(fromWindows1252(caption), fromWindows1252(prompt),
                                 fromWindows1252(preset));
    });
    if (!answer)
        return std::nullopt;
    return toWindows1252(*answer);
}

void MainWindow::start() {
    // Takes the state lock itself, briefly: the file is read with the state free. The language is
    // settled under that lock before any status text is looked up; the window shows what was
    // loaded once the lock is free again.
    std::vector<LanguageEntry> languages;
    const std::string treeError = pelotest::loadState(
        state_, host_, coreTexts(state_), [&languages](AppState& loaded) REQUIRES(loaded.mutex) {
            languages = LanguageBox::settleStoredLanguage(loaded.languageFolders,
                                                          loaded.settings.languageDll);
        });
    const Settings loaded = commands_.settings();
    settingsTab_->showLanguages(std::move(languages), loaded.languageDll);
    applyLanguage(false);
    // The settings are read by now: the controls show them before the window appears.
    settingsTab_->showSettings(loaded);
    if (const auto placement = host_.takeLoadedPlacement())
        applyPlacement(*placement);
    bool runServer = loaded.serverActive;
    if (startInTray_) {
        storedServerActive_ = runServer;
        runServer = true;
    }
    treePane_->showLoadedTree();
    showFirstRunHint();
    variablesPane_->followRequests();
    logPane_->followRequests();
    logPane_->showStoredColumns();
    if (runServer)
        switchServer(true);
    else
        showServerState();
    if (!treeError.empty())
        dialogs_->message(MessageKind::Error, fromWindows1252(treeError));
}

bool MainWindow::saveNow() {
    // The file is read and written with the state free; the status line says what happens.
    setStatusText(uiText(state_, UiText::StatusSavingSettings));
    saved_ = commands_.save(placement(), storedServerActive_.value_or(server_->running()),
                            kWaitForTheState);
    setStatusText(QString());
    return saved_;
}

bool MainWindow::shutdown() {
    if (shutDown_)
        return saved_;
    shutDown_ = true;
    const bool wasRunning = server_->running() || server_->requestLeftRunning();
    // No request may change the state after it has been written: the server stops taking them
    // first (the window goes on painting meanwhile, but no longer follows the requests).
    host_.stopNotifying();
    server_->stop();
    const bool requestRunning = server_->requestLeftRunning();
    // A request that did not end may hold the state: then it is not saved, and the file keeps
    // what the last save wrote. One that does not hold it leaves a consistent state (every
    // change of a request happens under the lock).
    std::string failure;
    saved_ = commands_.save(placement(), storedServerActive_.value_or(wasRunning),
                            requestRunning ? kLockGrace : kStopDeadline, &failure);
    if (!saved_)
        std::cerr << "pelotest: cannot write the settings file " << state_.settingsPath.string()
                  << ": " << failure << "\n";
    if (requestRunning) {
        std::cerr << "pelotest: a request was still running when the program closed; "
                  << (saved_ ? "the state is saved without it" : "the state was not saved") << "\n";
        // Its thread still uses the state, the host and this window's server: nothing of them
        // may be destroyed, so the program ends here.
        server_->endProcess(saved_ ? 0 : 1);
    }
    if (tray_)
        tray_->hide();
    emit finished();
    return saved_;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    shutdown();
    event->accept();
}

} // namespace pelotest::desktop
