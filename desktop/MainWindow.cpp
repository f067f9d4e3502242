#include "desktop/MainWindow.h"

#include "desktop/LanguageSupport.h"
#include "desktop/Text.h"
#include "desktop/WebDialog.h"
#include "pages/Routes.h"
#include "state/PersistentState.h"
#include "state/ProfileFile.h"
#include "state/TextCase.h"
#include "state/VariableSort.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace pelotest::desktop {
namespace {

namespace fs = std::filesystem;

// How long closing waits for requests still being handled, and then for the state.
constexpr std::chrono::seconds kStopDeadline{5};
constexpr std::chrono::seconds kLockGrace{1};

// The design width of the tree pane, also its smallest.
constexpr int kMinTreeWidth = 345;
constexpr QSize kDefaultSize{780, 560};
// The tooltip of a notification icon holds at most this many characters.
constexpr int kTrayTipLength = 63;

// Status texts and captions of the server control.
enum : int { kStarten = 37, kStoppen = 38, kBereit = 40, kAktiv = 41 };
// Texts of the language choice and its export.
enum : int { kSprachpfad = 128, kSpracheLaden = 124, kStandard = 123 };

// Why the server could not listen, from the error code its start reported (the message is in
// the user's locale, so its words cannot be compared).
BindFailure bindFailureOf(const std::error_code& code) {
    if (code == std::errc::address_in_use)
        return BindFailure::InUse;
    if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted)
        return BindFailure::Privileged;
    return BindFailure::Other;
}

// The address a browser on this machine uses for the server.
QString serverAddress(const std::string& bindAddress, int port) {
    QString host = QString::fromStdString(bindAddress);
    if (bindAddress == "127.0.0.1" || bindAddress == "0.0.0.0" || bindAddress == "::" ||
        bindAddress == "::1")
        host = QStringLiteral("localhost");
    else if (host.contains(':'))
        host = '[' + host + ']';
    return QStringLiteral("http://%1:%2/").arg(host).arg(port);
}

// The names of the files in a folder (every entry that is not a folder), in the order of a
// listing: case ignored, as the file browser lists them.
std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError))
            names.push_back(it->path().filename().string());
    }
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return compareIgnoreCase(a, b) < 0;
    });
    return names;
}

// A list of rows with columns: grid lines, whole rows selected one at a time, no editing in
// place, rows of one height (so that 100,000 of them lay out at once).
QTableView* reportList(const char* name) {
    auto* view = new QTableView;
    view->setObjectName(QString::fromLatin1(name));
    view->setShowGrid(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    return view;
}

// A UI text whose line-break markers are shown as line breaks.
QString withLineBreaks(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

bool isRegularFile(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

template <class T>
T* named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QSpinBox* numberField(const char* name, int minimum, int maximum) {
    auto* field = named(new QSpinBox, name);
    field->setRange(minimum, maximum);
    field->setAccelerated(true);
    return field;
}

} // namespace

MainWindow::MainWindow(AppState& state, MainWindowOptions options, QWidget* parent)
    : QMainWindow(parent), state_(state), uiLock_(state), host_(*this, this) {
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
    setObjectName(QStringLiteral("Main"));
    buildWindow();
    buildTray();
    bindSettings();
    connect(&host_, &QtHost::settingsChangedQueued, this, &MainWindow::settingsChangedByRequest);
    buildViews();
    applyTexts();
    resize(kDefaultSize);
    bounds_ = QRect(pos(), size());
}

MainWindow::~MainWindow() {
    if (server_)
        server_->stop();
}

// ---------------------------------------------------------------------------------------------
// The window's parts.

void MainWindow::buildWindow() {
    PageControl1 = named(new QTabWidget, "PageControl1");
    PageControl1->addTab(buildGeneralTab(), images_.icon(ImageList::kTabGeneral), QString());
    PageControl1->addTab(buildLogTab(), images_.icon(ImageList::kTabLog), QString());
    PageControl1->addTab(buildSettingsTab(), images_.icon(ImageList::kTabSettings), QString());
    setCentralWidget(PageControl1);

    HelpButton = named(new QToolButton, "HelpButton");
    HelpButton->setIcon(ImageList::button(QStringLiteral("infosm")));
    HelpButton->setAutoRaise(true);
    PageControl1->setCornerWidget(HelpButton, Qt::TopRightCorner);
    connect(HelpButton, &QToolButton::clicked, this, &MainWindow::showHelp);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    help->setContext(Qt::WindowShortcut);
    connect(help, &QShortcut::activated, this, &MainWindow::showHelp);

    StatusPanel1 = named(new QLabel, "StatusPanel1");
    StatusPanel2 = named(new QLabel, "StatusPanel2");
    StatusPanel2->setTextFormat(Qt::RichText);
    StatusPanel2->setOpenExternalLinks(true);
    StatusPanel2->setTextInteractionFlags(Qt::TextBrowserInteraction);
    statusBar()->addWidget(StatusPanel1, 1);
    statusBar()->addPermanentWidget(StatusPanel2);
}

QWidget* MainWindow::buildGeneralTab() {
    auto* page = named(new QWidget, "TabSheet1");
    GroupBox1 = named(new QGroupBox, "GroupBox1");
    GroupBox1->setMinimumWidth(kMinTreeWidth);
    TreeView1 = named(new QTreeView, "TreeView1");
    (new QVBoxLayout(GroupBox1))->addWidget(TreeView1);
    GroupBox2 = named(new QGroupBox, "GroupBox2");
    ListView1 = reportList("ListView1");
    auto* variables = new QVBoxLayout(GroupBox2);
    variables->addWidget(ListView1);

    Splitter1 = named(new QSplitter(Qt::Horizontal), "Splitter1");
    Splitter1->addWidget(GroupBox1);
    Splitter1->addWidget(GroupBox2);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    connect(Splitter1, &QSplitter::splitterMoved, this,
            [this] { treeWidth_ = Splitter1->sizes().value(0, treeWidth_); });
    (new QVBoxLayout(page))->addWidget(Splitter1);
    return page;
}

QWidget* MainWindow::buildLogTab() {
    auto* page = named(new QWidget, "TabSheet2");
    ListView2 = reportList("ListView2");
    (new QVBoxLayout(page))->addWidget(ListView2);
    return page;
}

QWidget* MainWindow::buildSettingsTab() {
    auto* page = named(new QWidget, "TabSheet3");
    auto* column = new QVBoxLayout(page);

    // Templates: folder (with variables) and virtual folder.
    GroupBox3 = named(new QGroupBox, "GroupBox3");
    {
        Label1 = named(new QLabel, "Label1");
        Edit1 = named(new QLineEdit, "Edit1");
        SpeedButton1 = named(new QToolButton, "SpeedButton1");
        SpeedButton1->setIcon(ImageList::button(QStringLiteral("btn1")));
        Label2 = named(new QLabel, "Label2");
        Edit3 = named(new QLineEdit, "Edit3");
        Label1->setBuddy(Edit1);
        Label2->setBuddy(Edit3);
        auto* grid = new QGridLayout(GroupBox3);
        grid->addWidget(Label1, 0, 0, 1, 2);
        grid->addWidget(Edit1, 1, 0);
        grid->addWidget(SpeedButton1, 1, 1);
        grid->addWidget(Label2, 2, 0, 1, 2);
        grid->addWidget(Edit3, 3, 0);
        grid->setColumnStretch(0, 1);
    }
    column->addWidget(GroupBox3);

    // Static pages: start folder, start page "?" parameters.
    GroupBox4 = named(new QGroupBox, "GroupBox4");
    {
        Label3 = named(new QLabel, "Label3");
        Edit2 = named(new QLineEdit, "Edit2");
        SpeedButton2 = named(new QToolButton, "SpeedButton2");
        SpeedButton2->setIcon(ImageList::button(QStringLiteral("btn1")));
        Label4 = named(new QLabel, "Label4");
        ComboBox1 = named(new QComboBox, "ComboBox1");
        ComboBox1->setEditable(true);
        ComboBox1->setInsertPolicy(QComboBox::NoInsert);
        ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        ComboBox1->setMinimumContentsLength(12);
        Label5 = named(new QLabel(QStringLiteral("?")), "Label5");
        Label6 = named(new QLabel, "Label6");
        Edit4 = named(new QLineEdit, "Edit4");
        Label3->setBuddy(Edit2);
        Label4->setBuddy(ComboBox1);
        Label6->setBuddy(Edit4);
        auto* grid = new QGridLayout(GroupBox4);
        grid->addWidget(Label3, 0, 0, 1, 4);
        auto* folder = new QHBoxLayout;
        folder->addWidget(Edit2, 1);
        folder->addWidget(SpeedButton2);
        grid->addLayout(folder, 1, 0, 1, 4);
        grid->addWidget(Label4, 2, 0);
        grid->addWidget(Label6, 2, 2, 1, 2);
        grid->addWidget(ComboBox1, 3, 0);
        grid->addWidget(Label5, 3, 1);
        grid->addWidget(Edit4, 3, 2, 1, 2);
        grid->setColumnStretch(0, 2);
        grid->setColumnStretch(2, 3);
    }
    column->addWidget(GroupBox4);

    // General: port and server button, language, switches and numbers.
    GroupBox5 = named(new QGroupBox, "GroupBox5");
    {
        Label7 = named(new QLabel, "Label7");
        SpinEdit1 = numberField("SpinEdit1", 1, 65535);
        ToolButton1 = named(new QToolButton, "ToolButton1");
        ToolButton1->setCheckable(true);
        ToolButton1->setIcon(images_.icon(ImageList::kStart));
        ToolButton1->setAutoRaise(false);
        Label8 = named(new QLabel, "Label8");
        // The language box and its button stay disabled until the first language is applied.
        ComboBox2 = named(new QComboBox, "ComboBox2");
        ComboBox2->setEnabled(false);
        ComboBox2->setIconSize(QSize(16, 16));
        Label8->setEnabled(false);
        connect(ComboBox2, &QComboBox::activated, this, &MainWindow::comboBox2Select);
        SpeedButton3 = named(new QToolButton, "SpeedButton3");
        SpeedButton3->setIcon(ImageList::button(QStringLiteral("infobt")));
        SpeedButton3->setEnabled(false);
        connect(SpeedButton3, &QToolButton::clicked, this, &MainWindow::speedButton3Click);
        CheckBox1 = named(new QCheckBox, "CheckBox1");
        CheckBox2 = named(new QCheckBox, "CheckBox2");
        CheckBox3 = named(new QCheckBox, "CheckBox3");
        Label9 = named(new QLabel, "Label9");
        SpinEdit2 = numberField("SpinEdit2", 2, 9999);
        Label10 = named(new QLabel, "Label10");
        SpinEdit3 = numberField("SpinEdit3", 2, 9999);
        Label11 = named(new QLabel, "Label11");
        Label11->setWordWrap(true);
        Label11->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        Label11->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        Label7->setBuddy(SpinEdit1);
        Label8->setBuddy(ComboBox2);
        Label9->setBuddy(SpinEdit2);
        Label10->setBuddy(SpinEdit3);

        auto* grid = new QGridLayout(GroupBox5);
        grid->addWidget(Label7, 0, 0);
        auto* port = new QHBoxLayout;
        port->addWidget(SpinEdit1);
        port->addWidget(ToolButton1);
        port->addStretch(1);
        grid->addLayout(port, 0, 1);
        grid->addWidget(Label8, 0, 2);
        auto* language = new QHBoxLayout;
        language->addWidget(ComboBox2, 1);
        language->addWidget(SpeedButton3);
        grid->addLayout(language, 0, 3);
        grid->addWidget(CheckBox1, 1, 0, 1, 2);
        grid->addWidget(Label9, 1, 2);
        grid->addWidget(SpinEdit2, 1, 3, Qt::AlignLeft);
        grid->addWidget(CheckBox2, 2, 0, 1, 2);
        grid->addWidget(CheckBox3, 3, 0, 1, 2);
        grid->addWidget(Label10, 3, 2);
        grid->addWidget(SpinEdit3, 3, 3, Qt::AlignLeft);
        grid->addWidget(Label11, 4, 0, 1, 4);
        grid->setColumnStretch(1, 1);
        grid->setColumnStretch(3, 1);
    }
    column->addWidget(GroupBox5);
    column->addStretch(1);
    return page;
}

void MainWindow::buildTray() {
    trayMenu_ = named(new QMenu(this), "PopupMenu4");
    Anzeigen1 = trayMenu_->addAction(images_.icon(ImageList::kShow), QString());
    Anzeigen1->setObjectName(QStringLiteral("Anzeigen1"));
    Aktiv1 = trayMenu_->addAction(images_.icon(ImageList::kStart), QString());
    Aktiv1->setObjectName(QStringLiteral("Aktiv1"));
    trayMenu_->addSeparator();
    Beenden1 = trayMenu_->addAction(images_.icon(ImageList::kQuit), QString());
    Beenden1->setObjectName(QStringLiteral("Beenden1"));
    connect(Anzeigen1, &QAction::triggered, this, &MainWindow::anzeigen1Click);
    connect(Aktiv1, &QAction::triggered, this, &MainWindow::aktiv1Click);
    connect(Beenden1, &QAction::triggered, this, &MainWindow::beenden1Click);

    if (!trayAvailable_)
        return;
    tray_ = new QSystemTrayIcon(images_.icon(ImageList::kTrayStopped), this);
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    anzeigen1Click();
            });
}

// Every label, caption and menu text of the window, in the current language.
void MainWindow::applyTexts() {
    const auto text = [this](int id) { return uiText(state_, id); };
    setWindowTitle(text(1));
    host_.setCaption(toWindows1252(windowTitle()));
    if (tray_)
        tray_->setToolTip(windowTitle().left(kTrayTipLength));
    PageControl1->setTabText(0, text(2));
    PageControl1->setTabText(1, text(3));
    PageControl1->setTabText(2, text(4));
    GroupBox1->setTitle(text(5));
    GroupBox2->setTitle(text(6));
    GroupBox3->setTitle(text(14));
    Label1->setText(text(15));
    Label2->setText(text(16));
    GroupBox4->setTitle(text(17));
    Label3->setText(text(18));
    Label4->setText(text(19));
    Label6->setText(text(20));
    GroupBox5->setTitle(text(21));
    Label7->setText(text(22));
    CheckBox1->setText(text(23));
    Label9->setText(text(24));
    CheckBox2->setText(text(25));
    CheckBox3->setText(text(26));
    Label10->setText(text(27));
    Label11->setText(text(28));
    Label8->setText(text(122));
    variablesModel_->setHeaders(text(7), text(8));
    logModel_->setHeaders(text(11), text(12), text(13));
    Bearbeiten1->setText(text(29));
    Zuordnen1->setText(text(31));
    Lschen2->setText(text(30));
    Alleausklappen1->setText(text(32));
    Allezuklappen1->setText(text(33));
    Bearbeiten2->setText(text(29));
    Lschen1->setText(text(30));
    Bearbeiten3->setText(text(29));
    Eigenschaften1->setText(text(34));
    Lschen3->setText(text(35));
    if (ComboBox2->count() > 0)
        ComboBox2->setItemText(0, text(kStandard));
    Anzeigen1->setText(text(36));
    Beenden1->setText(text(39));
    const bool running = ToolButton1->isChecked();
    Aktiv1->setText(text(running ? kStoppen : kStarten));
    ToolButton1->setToolTip(Aktiv1->text());
}

// ---------------------------------------------------------------------------------------------
// The settings tab, bound to Settings: what is typed is what the next request uses.

template <class Change>
void MainWindow::updateSettings(Change change) {
    if (filling_)
        return;
    std::lock_guard lock(state_.mutex);
    change(state_.settings);
}

void MainWindow::bindSettings() {
    connect(Edit1, &QLineEdit::textChanged, this, [this](const QString& text) {
        updateSettings([&](Settings& s) { s.dynamicPath = toPathBytes(text); });
    });
    connect(Edit3, &QLineEdit::textChanged, this, [this](const QString& text) {
        updateSettings([&](Settings& s) { s.virtualPath = toWindows1252(text); });
    });
    connect(Edit2, &QLineEdit::textChanged, this, [this](const QString& text) {
        updateSettings([&](Settings& s) { s.staticPath = toPathBytes(text); });
        edit2Change();
    });
    connect(ComboBox1, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        updateSettings([&](Settings& s) { s.staticSite = toPathBytes(text); });
        comboBox1Change();
    });
    connect(Edit4, &QLineEdit::textChanged, this, [this](const QString& text) {
        updateSettings([&](Settings& s) { s.staticParameter = toWindows1252(text); });
    });
    connect(SpinEdit1, &QSpinBox::valueChanged, this,
            [this](int value) { updateSettings([&](Settings& s) { s.port = value; }); });
    connect(SpinEdit2, &QSpinBox::valueChanged, this,
            [this](int value) { updateSettings([&](Settings& s) { s.maxLog = value; }); });
    connect(SpinEdit3, &QSpinBox::valueChanged, this, [this](int value) {
        updateSettings([&](Settings& s) { s.remoteEditReload = value; });
    });
    connect(CheckBox1, &QCheckBox::toggled, this,
            [this](bool on) { updateSettings([&](Settings& s) { s.variablesAutoSort = on; }); });
    connect(CheckBox2, &QCheckBox::toggled, this,
            [this](bool on) { updateSettings([&](Settings& s) { s.saveLog = on; }); });
    connect(CheckBox3, &QCheckBox::toggled, this,
            [this](bool on) { updateSettings([&](Settings& s) { s.remoteEdit = on; }); });
    connect(ToolButton1, &QToolButton::clicked, this, &MainWindow::toolButton1Click);
    connect(SpeedButton1, &QToolButton::clicked, this, &MainWindow::speedButton1Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &MainWindow::speedButton2Click);
}

// The controls show the settings (the caller holds the state lock or no server runs).
void MainWindow::fillControls() {
    const Settings& s = state_.settings;
    filling_ = true;
    Edit1->setText(fromPathBytes(s.dynamicPath));
    Edit3->setText(fromWindows1252(s.virtualPath));
    Edit2->setText(fromPathBytes(s.staticPath)); // refills the start pages
    ComboBox1->setEditText(fromPathBytes(s.staticSite));
    Edit4->setText(fromWindows1252(s.staticParameter));
    CheckBox1->setChecked(s.variablesAutoSort);
    CheckBox3->setChecked(s.remoteEdit);
    CheckBox2->setChecked(s.saveLog);
    SpinEdit1->setValue(s.port);
    SpinEdit2->setValue(s.maxLog);
    SpinEdit3->setValue(s.remoteEditReload);
    filling_ = false;
    comboBox1Change();
}

// The start page and its parameters were set from the browser.
void MainWindow::settingsChangedByRequest() {
    std::string site, parameter;
    {
        std::lock_guard lock(state_.mutex);
        site = state_.settings.staticSite;
        parameter = state_.settings.staticParameter;
    }
    filling_ = true;
    ComboBox1->setEditText(fromPathBytes(site));
    Edit4->setText(fromWindows1252(parameter));
    filling_ = false;
    comboBox1Change();
}

// The start pages offered are the files of the static folder; the start page's text stays.
void MainWindow::edit2Change() {
    std::string folder = toPathBytes(Edit2->text());
    std::replace(folder.begin(), folder.end(), '\\', '/');
    if (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const QString site = ComboBox1->currentText();
    const bool wasFilling = filling_;
    filling_ = true; // the list changes, the start page does not
    ComboBox1->clear();
    if (!folder.empty())
        for (const std::string& name : filesIn(folder))
            ComboBox1->addItem(fromPathBytes(name));
    ComboBox1->setEditText(site);
    filling_ = wasFilling;
}

// The remote editor needs a start page: its controls follow whether one is set.
void MainWindow::comboBox1Change() {
    const bool enabled = !ComboBox1->currentText().isEmpty();
    CheckBox3->setEnabled(enabled);
    Label10->setEnabled(enabled);
    SpinEdit3->setEnabled(enabled);
    Label11->setEnabled(enabled);
}

void MainWindow::speedButton1Click() {
    ExpandedFolder expanded;
    {
        std::lock_guard lock(state_.mutex);
        expanded = expandFolderVariables(state_, host_, coreTexts(state_),
                                         state_.settings.dynamicPath, false);
    }
    const auto chosen = dialogs_->chooseFolder(uiText(state_, 102), fromPathBytes(expanded.folder));
    if (!chosen)
        return;
    Edit1->setText(*chosen);
    if (expanded.found)
        dialogs_->message(MessageKind::Warning, uiText(state_, 103));
}

void MainWindow::speedButton2Click() {
    const auto chosen = dialogs_->chooseFolder(uiText(state_, 101), Edit2->text());
    if (chosen)
        Edit2->setText(*chosen);
}

void MainWindow::showHelp() {
    emit helpRequested();
    WebDialog dialog(state_, *dialogs_, WebDialog::Mode::Help, downloadHost(state_), this);
    dialog.exec();
    // Links of the help page may save a library or ask for the export; closing the help dialog
    // starts neither the export nor the rescan.
}

// ---------------------------------------------------------------------------------------------
// Languages.

void MainWindow::discoverLanguageBox() {
    languages_ = discoverLanguages(state_.languageFolders, state_.settings.languageDll);
    const bool wasFilling = filling_;
    filling_ = true;
    ComboBox2->clear();
    for (const LanguageEntry& entry : languages_)
        ComboBox2->addItem(flagIcon(entry.flag), fromWindows1252(entry.displayName),
                           fromPathBytes(entry.fileName));
    ComboBox2->setCurrentIndex(
        static_cast<int>(findLanguage(languages_, state_.settings.languageDll).value_or(0)));
    filling_ = wasFilling;
}

void MainWindow::applyLanguage(bool dialogsOnly) {
    // The message boxes read their eight texts from the current language when they open.
    dialogs_->setMessageLanguage(std::nullopt);
    if (!dialogsOnly) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        PageControl1->setEnabled(false);
        setStatusText(uiText(state_, kSpracheLaden));
        applyTexts();
        QApplication::restoreOverrideCursor();
    }
    setStatusText(uiText(state_, ToolButton1->isChecked() ? kAktiv : kBereit));
    PageControl1->setEnabled(true);
    if (!ComboBox2->isEnabled()) {
        ComboBox2->setEnabled(true);
        Label8->setEnabled(true);
        SpeedButton3->setEnabled(true);
    }
}

void MainWindow::comboBox2Select(int index) {
    if (!ComboBox2->isEnabled() || index < 0 || index >= static_cast<int>(languages_.size()))
        return;
    const std::string& chosen = languages_[static_cast<std::size_t>(index)].fileName;
    {
        std::lock_guard lock(state_.mutex);
        if (chosen == state_.settings.languageDll)
            return;
        state_.settings.languageDll = chosen;
    }
    applyLanguage(false);
}

void MainWindow::rescanLanguages() {
    ComboBox2->setEnabled(false);
    discoverLanguageBox();
    if (!findLanguage(languages_, state_.settings.languageDll)) {
        std::lock_guard lock(state_.mutex);
        state_.settings.languageDll.clear();
    }
    ComboBox2->setEnabled(true);
}

void MainWindow::speedButton3Click() {
    bool exportWanted = false;
    bool downloaded = false;
    {
        WebDialog dialog(state_, *dialogs_, WebDialog::Mode::Language, downloadHost(state_), this);
        exportWanted = dialog.exec() == QDialog::Accepted;
        downloaded = dialog.languagePackageDownloaded();
    }
    // A failed export skips the rescan, as any error ends the work there.
    if (exportWanted && !exportLanguage())
        return;
    if (downloaded)
        rescanLanguages();
}

bool MainWindow::exportLanguage() {
    const std::string stored = state_.settings.lastLangugeResPath;
    const auto chosen = dialogs_->chooseFolder(uiText(state_, kSprachpfad), fromPathBytes(stored));
    if (!chosen)
        return true;
    std::string folder = toPathBytes(*chosen);
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    {
        // Kept at once, also in the file: the next export starts there even if the program
        // ends without saving.
        std::lock_guard lock(state_.mutex);
        state_.settings.lastLangugeResPath = folder;
        state_.profile.writeString("Settings", "LastLangugeResPath", folder);
        // A failure (or a read-only settings file) only loses the remembered folder.
        (void)writeSettingsKey(state_, "Settings", "LastLangugeResPath", folder);
    }

    std::string languageDll;
    {
        std::lock_guard lock(state_.mutex);
        languageDll = state_.settings.languageDll;
    }
    const auto failure = writeLanguageExport(
        folder, languageExportFiles(state_.languageFolders, languageDll, languages_));
    if (failure) {
        dialogs_->message(MessageKind::Error, fromPathBytes(folder) + fromWindows1252(*failure));
        return false;
    }
    dialogs_->openUrl(QUrl::fromLocalFile(fromPathBytes(folder)));
    return true;
}

// ---------------------------------------------------------------------------------------------
// The three views: events/templates tree, variables list, log. Requests change the data on
// their own threads; their queued notifications bring the views up to date, and every command
// finds its node or row again under the lock when it acts, because a request may have moved or
// removed it while a box was open.

void MainWindow::buildViews() {
    // Tree
    treeModel_ = new TreeModel(state_, uiLock_, images_, this);
    TreeView1->setModel(treeModel_);
    TreeView1->setHeaderHidden(true);
    TreeView1->setUniformRowHeights(true);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    TreeView1->setContextMenuPolicy(Qt::CustomContextMenu);
    TreeView1->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    TreeView1->header()->setStretchLastSection(false);
    PopupMenu2 = named(new QMenu(this), "PopupMenu2");
    Bearbeiten1 = PopupMenu2->addAction(QString());
    Bearbeiten1->setObjectName(QStringLiteral("Bearbeiten1"));
    Zuordnen1 = PopupMenu2->addAction(QString());
    Zuordnen1->setObjectName(QStringLiteral("Zuordnen1"));
    PopupMenu2->addSeparator();
    Lschen2 = PopupMenu2->addAction(QString());
    Lschen2->setObjectName(QStringLiteral("Lschen2"));
    PopupMenu2->addSeparator();
    Alleausklappen1 = PopupMenu2->addAction(QString());
    Alleausklappen1->setObjectName(QStringLiteral("Alleausklappen1"));
    Allezuklappen1 = PopupMenu2->addAction(QString());
    Allezuklappen1->setObjectName(QStringLiteral("Allezuklappen1"));
    connect(PopupMenu2, &QMenu::aboutToShow, this, &MainWindow::popupMenu2Popup);
    connect(Bearbeiten1, &QAction::triggered, this, &MainWindow::bearbeiten1Click);
    connect(Zuordnen1, &QAction::triggered, this, &MainWindow::zuordnen1Click);
    connect(Lschen2, &QAction::triggered, this, &MainWindow::lschen2Click);
    connect(Alleausklappen1, &QAction::triggered, this, &MainWindow::alleausklappen1Click);
    connect(Allezuklappen1, &QAction::triggered, this, &MainWindow::allezuklappen1Click);
    connect(TreeView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        PopupMenu2->popup(TreeView1->viewport()->mapToGlobal(at));
    });
    connect(TreeView1->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        // Another node is the selected one.
        std::lock_guard lock(uiLock_);
        state_.treeChanged = true;
    });
    connect(this, &MainWindow::rootImageChanged, treeModel_, &TreeModel::setRootImage);
    connect(&host_, &QtHost::treeChangedQueued, this, &MainWindow::treeChangedByRequest);

    // Variables
    variablesModel_ = new VariablesModel(state_, uiLock_, images_, this);
    ListView1->setModel(variablesModel_);
    ListView1->horizontalHeader()->setSectionsClickable(true);
    ListView1->setColumnWidth(0, host_.variableColumnWidth());
    ListView1->installEventFilter(this);
    PopupMenu1 = named(new QMenu(this), "PopupMenu1");
    Bearbeiten2 = PopupMenu1->addAction(QString());
    Bearbeiten2->setObjectName(QStringLiteral("Bearbeiten2"));
    PopupMenu1->addSeparator();
    Lschen1 = PopupMenu1->addAction(QString());
    Lschen1->setObjectName(QStringLiteral("Lschen1"));
    connect(Bearbeiten2, &QAction::triggered, this, &MainWindow::bearbeiten2Click);
    connect(Lschen1, &QAction::triggered, this, &MainWindow::lschen1Click);
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        PopupMenu1->popup(ListView1->viewport()->mapToGlobal(at));
    });
    connect(ListView1, &QAbstractItemView::doubleClicked, this, &MainWindow::bearbeiten2Click);
    connect(ListView1->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &MainWindow::listView1ColumnClick);
    connect(ListView1->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int section, int, int width) {
                if (section == 0)
                    host_.setVariableColumnWidth(width);
            });
    connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::rememberSelectedVariable);
    connect(CheckBox1, &QCheckBox::clicked, this, &MainWindow::checkBox1Click);
    connect(&host_, &QtHost::variablesChangedQueued, this, &MainWindow::variablesChangedByRequest);

    // Log
    logModel_ = new LogModel(state_, uiLock_, images_, this);
    ListView2->setModel(logModel_);
    ListView2->setColumnWidth(0, 180);
    ListView2->setColumnWidth(1, 140);
    PopupMenu3 = named(new QMenu(this), "PopupMenu3");
    Bearbeiten3 = PopupMenu3->addAction(QString());
    Bearbeiten3->setObjectName(QStringLiteral("Bearbeiten3"));
    Eigenschaften1 = PopupMenu3->addAction(QString());
    Eigenschaften1->setObjectName(QStringLiteral("Eigenschaften1"));
    PopupMenu3->addSeparator();
    Lschen3 = PopupMenu3->addAction(QString());
    Lschen3->setObjectName(QStringLiteral("Lschen3"));
    connect(PopupMenu3, &QMenu::aboutToShow, this, &MainWindow::popupMenu3Popup);
    connect(Bearbeiten3, &QAction::triggered, this, &MainWindow::bearbeiten3Click);
    connect(Eigenschaften1, &QAction::triggered, this, &MainWindow::eigenschaften1Click);
    connect(Lschen3, &QAction::triggered, this, &MainWindow::lschen3Click);
    connect(ListView2, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        PopupMenu3->popup(ListView2->viewport()->mapToGlobal(at));
    });
    connect(ListView2, &QAbstractItemView::doubleClicked, this, &MainWindow::listView2DblClick);
    connect(ListView2->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        std::lock_guard lock(uiLock_);
        state_.logChanged = true;
    });
    connect(&host_, &QtHost::logChangedQueued, this, &MainWindow::logChangedByRequest);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListView1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            bearbeiten2Click(); // does nothing without a selected row
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

QString MainWindow::formatText(int id, const QString& arg) const {
    return withLineBreaks(uiText(state_, id).replace(QLatin1String("%1"), arg));
}

// The templates folder with its variables filled in, asking the user about each (the lock is
// let go while a box is open).
ExpandedFolder MainWindow::templatesFolder(int captionId, int promptId) {
    std::lock_guard lock(uiLock_);
    const std::string folder = state_.settings.dynamicPath;
    return expandFolderVariables(state_, host_, coreTexts(state_), folder, true, captionId,
                                 promptId);
}

// --- Tree

void MainWindow::syncTree() {
    for (const QPersistentModelIndex& parent : treeModel_->sync()) {
        // Every node that enters the tree shows expanded with all its descendants.
        if (parent.isValid()) {
            TreeView1->expandRecursively(parent);
        } else {
            for (int row = 0; row < treeModel_->rowCount(); ++row)
                TreeView1->expandRecursively(treeModel_->index(row, 0));
        }
    }
}

void MainWindow::treeChangedByRequest() {
    syncTree();
}

TreeNode* MainWindow::selectedNode() const {
    const QModelIndexList selected = TreeView1->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? nullptr : TreeModel::nodeOf(selected.front());
}

void MainWindow::popupMenu2Popup() {
    const bool selected = selectedNode() != nullptr;
    Bearbeiten1->setEnabled(selected);
    Zuordnen1->setEnabled(selected);
}

void MainWindow::zuordnen1Click() {
    TreeNode* node = selectedNode();
    if (!node)
        return;
    const ExpandedFolder folder = templatesFolder(98, 99);
    std::string text;
    bool entryNode = false;
    {
        std::lock_guard lock(uiLock_);
        if (!state_.tree.contains(node))
            return;
        text = node->text;
        entryNode = node == state_.tree.first();
    }

    SelectPageDialog dialog(this);
    dialog.setTexts(uiText(state_, 120), uiText(state_, 121), uiText(state_, 112),
                    uiText(state_, 113));
    QStringList names;
    if (!folder.folder.empty())
        for (const std::string& name : filesIn(folder.folder))
            names << fromPathBytes(name);
    dialog.setNames(names);
    if (const std::size_t separator = text.find(kAssignedSeparator); separator != std::string::npos)
        dialog.preselect(fromPathBytes(text.substr(0, separator)));
    else if (entryNode)
        dialog.preselect(fromPathBytes(text));
    if (!dialogs_->showModal(dialog))
        return;

    const std::string entry = toPathBytes(dialog.entry());
    {
        std::lock_guard lock(uiLock_);
        // The node as it is now: a request may have assigned it meanwhile; one that was removed
        // takes nothing.
        if (!state_.tree.contains(node))
            return;
        node->text = nodeTextForChoice(node->text, node == state_.tree.first(), entry);
        state_.treeChanged = true;
    }
    syncTree();
}

void MainWindow::bearbeiten1Click() {
    TreeNode* node = selectedNode();
    if (!node)
        return;
    const ExpandedFolder folder = templatesFolder(95, 96);
    std::string file;
    {
        std::lock_guard lock(uiLock_);
        if (!state_.tree.contains(node))
            return;
        if (node == state_.tree.first()) {
            file = node->text;
        } else if (const std::size_t separator = node->text.find(kAssignedSeparator);
                   separator != std::string::npos) {
            file = node->text.substr(0, separator);
        }
    }
    std::replace(file.begin(), file.end(), '\\', '/');
    const std::string path = folder.folder + "/" + file;
    if (!isRegularFile(path) || !opener_->edit(fromPathBytes(path)))
        dialogs_->message(MessageKind::Error, formatText(97, fromPathBytes(path)));
}

void MainWindow::lschen2Click() {
    TreeNode* node = selectedNode();
    if (!node)
        return;
    QString text;
    {
        std::lock_guard lock(uiLock_);
        if (!state_.tree.contains(node))
            return;
        text = nodeDisplayText(node->text, node == state_.tree.first());
    }
    if (!dialogs_->message(MessageKind::Confirmation, formatText(100, text)))
        return;
    std::lock_guard lock(uiLock_);
    if (treeModel_->removeNode(node))
        state_.treeChanged = true;
}

void MainWindow::alleausklappen1Click() {
    TreeView1->expandAll();
}

void MainWindow::allezuklappen1Click() {
    TreeView1->collapseAll();
}

// --- Variables

std::optional<std::string> MainWindow::selectedVariable() const {
    return selectedVariable_;
}

void MainWindow::rememberSelectedVariable() {
    const QModelIndexList rows = ListView1->selectionModel()->selectedRows();
    std::lock_guard lock(uiLock_);
    state_.variablesChanged = true; // another row is the selected one
    const auto row = rows.isEmpty() ? state_.variables.size() : std::size_t(rows.front().row());
    if (row < state_.variables.size())
        selectedVariable_ = state_.variables[row].name;
    else
        selectedVariable_.reset();
}

// Brings the list up to the table and keeps the selection on its variable, wherever the rows
// went; a variable that is gone leaves no row selected.
void MainWindow::syncVariables() {
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::lock_guard lock(uiLock_);
    const std::optional<std::string> wanted = selectedVariable_;
    variablesModel_->sync();
    const std::size_t row = wanted ? state_.variables.find(*wanted).value_or(kNone) : kNone;
    QItemSelectionModel* selection = ListView1->selectionModel();
    const QModelIndexList rows = selection->selectedRows();
    const int shown = rows.isEmpty() ? -1 : rows.front().row();
    if (row == kNone) {
        if (shown >= 0)
            selection->clearSelection();
        selectedVariable_.reset();
        return;
    }
    if (shown != static_cast<int>(row)) {
        const QModelIndex index = variablesModel_->index(static_cast<int>(row), 0);
        selection->setCurrentIndex(index,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    selectedVariable_ = state_.variables[row].name;
}

void MainWindow::variablesChangedByRequest() {
    syncVariables();
    // The variables page switches auto-sort from the browser too.
    bool autoSort = true;
    {
        std::lock_guard lock(uiLock_);
        autoSort = state_.settings.variablesAutoSort;
    }
    if (CheckBox1->isChecked() != autoSort) {
        filling_ = true;
        CheckBox1->setChecked(autoSort);
        filling_ = false;
    }
}

void MainWindow::bearbeiten2Click() {
    const std::optional<std::string> name = selectedVariable();
    if (!name)
        return;
    std::string value;
    {
        std::lock_guard lock(uiLock_);
        const auto row = state_.variables.find(*name);
        if (!row)
            return;
        value = state_.variables[*row].value;
    }
    const auto answer =
        dialogs_->input(fromWindows1252(*name), uiText(state_, 46), fromWindows1252(value));
    // Cancelled, or given back unchanged: nothing to store, and a value that a request set
    // while the box was open stays.
    if (!answer || toWindows1252(*answer) == value)
        return;
    {
        std::lock_guard lock(uiLock_);
        // Found again by name: requests move rows while the box is open. A variable that a
        // request removed meanwhile comes back with the value typed, at the end of the list.
        if (const auto row = state_.variables.find(*name))
            state_.variables.setValue(*row, toWindows1252(*answer));
        else
            state_.variables.add(*name, toWindows1252(*answer));
        state_.variablesChanged = true;
    }
    syncVariables();
}

void MainWindow::lschen1Click() {
    const std::optional<std::string> name = selectedVariable();
    if (!name)
        return;
    {
        std::lock_guard lock(uiLock_);
        if (const auto row = state_.variables.find(*name)) {
            state_.variables.remove(*row);
            state_.variablesChanged = true;
        }
    }
    syncVariables();
}

void MainWindow::checkBox1Click(bool checked) {
    // Off: no row keeps a mark. On: nothing changes until the next request.
    if (checked)
        return;
    {
        std::lock_guard lock(uiLock_);
        state_.variables.resetMarks();
        state_.variablesChanged = true;
    }
    syncVariables();
}

void MainWindow::listView1ColumnClick(int column) {
    {
        std::lock_guard lock(uiLock_);
        sortVariablesByColumn(state_, column == 0 ? VariableColumn::Name : VariableColumn::Value);
    }
    syncVariables();
    if (const QModelIndexList rows = ListView1->selectionModel()->selectedRows(); !rows.isEmpty())
        ListView1->scrollTo(rows.front());
}

// --- Log

void MainWindow::logChangedByRequest() {
    logModel_->sync();
}

std::optional<LogEntry> MainWindow::selectedLogEntry() {
    // Rows a request added since the last notification are announced first, so that the
    // selection stands on the entry the user chose.
    std::lock_guard lock(uiLock_);
    logModel_->sync();
    const QModelIndexList rows = ListView2->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    const auto row = static_cast<std::size_t>(rows.front().row());
    if (row >= state_.log.size())
        return std::nullopt;
    return state_.log.rows()[row];
}

void MainWindow::popupMenu3Popup() {
    const std::optional<LogEntry> entry = selectedLogEntry();
    Bearbeiten3->setEnabled(entry && isRegularFile(entry->filePath));
    Eigenschaften1->setEnabled(entry.has_value());
    Lschen3->setEnabled(true);
}

void MainWindow::bearbeiten3Click() {
    if (const std::optional<LogEntry> entry = selectedLogEntry())
        opener_->edit(fromPathBytes(entry->filePath));
}

void MainWindow::eigenschaften1Click() {
    const std::optional<LogEntry> entry = selectedLogEntry();
    if (!entry)
        return;
    const QString path = fromPathBytes(entry->filePath);
    if (isRegularFile(entry->filePath)) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        FilePropertiesDialog dialog(path, uiText(state_, 112), this);
        QApplication::restoreOverrideCursor();
        dialogs_->showModal(dialog);
    } else if (!entry->filePath.empty()) {
        dialogs_->message(MessageKind::Warning, formatText(105, path));
    } else {
        dialogs_->message(MessageKind::Information, formatText(106, fromWindows1252(entry->event)));
    }
}

void MainWindow::listView2DblClick() {
    const std::optional<LogEntry> entry = selectedLogEntry();
    if (!entry)
        return;
    if (isRegularFile(entry->filePath))
        bearbeiten3Click();
    else
        eigenschaften1Click();
}

void MainWindow::lschen3Click() {
    if (!dialogs_->message(MessageKind::Confirmation, withLineBreaks(uiText(state_, 104))))
        return;
    std::lock_guard lock(uiLock_);
    state_.log.clear();
    state_.logChanged = true;
    logModel_->sync();
}

// ---------------------------------------------------------------------------------------------
// Server control.

bool MainWindow::serverRunning() const {
    return server_ && server_->running();
}

std::uint16_t MainWindow::serverPort() const {
    return serverRunning() ? server_->port() : 0;
}

void MainWindow::setStatusText(const QString& text) {
    StatusPanel1->setText(text);
    if (StatusPanel1->isVisible())
        StatusPanel1->repaint();
}

// Everything that shows whether the server runs.
void MainWindow::showServerState(bool running) {
    const QIcon picture = images_.icon(running ? ImageList::kStop : ImageList::kStart);
    setStatusText(uiText(state_, running ? kAktiv : kBereit));
    ToolButton1->setIcon(picture);
    Aktiv1->setIcon(picture);
    Aktiv1->setText(uiText(state_, running ? kStoppen : kStarten));
    ToolButton1->setToolTip(Aktiv1->text());
    Label7->setEnabled(!running);
    SpinEdit1->setEnabled(!running);
    rootImage_ = running ? ImageList::kRootRunning : ImageList::kRootStopped;
    emit rootImageChanged(rootImage_);
    if (tray_)
        tray_->setIcon(images_.icon(running ? ImageList::kTrayRunning : ImageList::kTrayStopped));
}

void MainWindow::toolButton1Click() {
    const bool start = ToolButton1->isChecked();
    if (!start) {
        showServerState(false);
        if (server_)
            server_->stop();
        server_.reset();
        StatusPanel2->clear();
        return;
    }

    std::string address;
    int port = 0;
    {
        std::lock_guard lock(state_.mutex);
        address = state_.settings.bindAddress;
        port = state_.settings.port;
    }
    showServerState(true);
    QString failure;
    BindFailure why = BindFailure::Other;
    if (port < 1 || port > 65535) {
        failure = QStringLiteral("Port %1 (1 - 65535)").arg(port);
    } else {
        auto server = std::make_unique<HttpServer>(
            std::make_shared<RequestHandler>(state_, host_, routeRequest));
        try {
            server->start(address, static_cast<std::uint16_t>(port));
            server_ = std::move(server);
        } catch (const std::system_error& e) {
            failure = QString::fromLocal8Bit(e.what());
            why = bindFailureOf(e.code());
        } catch (const std::exception& e) {
            failure = QString::fromLocal8Bit(e.what());
        }
    }
    if (!failure.isEmpty()) {
        // Back to stopped, as if the button had not been pressed.
        ToolButton1->setChecked(false);
        showServerState(false);
        StatusPanel2->clear();
        reportStartFailure(why, port, failure);
        return;
    }
    const QString url = serverAddress(address, server_->port());
    StatusPanel2->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(url.toHtmlEscaped()));
}

void MainWindow::reportStartFailure(BindFailure why, int port, const QString& detail) {
    dialogs_->message(MessageKind::Error, bindFailureText(why, port, detail));
}

void MainWindow::aktiv1Click() {
    ToolButton1->setChecked(!ToolButton1->isChecked());
    toolButton1Click();
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

void MainWindow::restoreFromTray() {
    if (tray_)
        tray_->hide();
    hiddenToTray_ = false;
    if (restoreMaximized_)
        showMaximized();
    else
        showNormal();
    restoreMaximized_ = false;
    raise();
    activateWindow();
}

void MainWindow::anzeigen1Click() {
    restoreFromTray();
}

void MainWindow::beenden1Click() {
    close();
}

void MainWindow::bringToFront() {
    if (hiddenToTray_ || isMinimized())
        restoreFromTray();
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

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (isVisible() && windowState() == Qt::WindowNoState)
        bounds_ = QRect(pos(), size());
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The tree pane gets its width once the splitter knows its own.
    if (treeWidthPending_) {
        treeWidthPending_ = false;
        const int total = std::max(Splitter1->width(), treeWidth_ + 100);
        Splitter1->setSizes({treeWidth_, total - treeWidth_});
    }
}

void MainWindow::applyPlacement(const WindowPlacement& stored) {
    // The settings are read by now: the controls show them before the window appears.
    fillControls();
    PageControl1->setCurrentIndex(std::clamp(stored.pageIndex, 0, PageControl1->count() - 1));
    QRect bounds(pos(), size());
    if (stored.hasLeft)
        bounds.moveLeft(stored.left);
    if (stored.hasTop)
        bounds.moveTop(stored.top);
    if (stored.hasWidth && stored.width > 0)
        bounds.setWidth(stored.width);
    if (stored.hasHeight && stored.height > 0)
        bounds.setHeight(stored.height);
    move(bounds.topLeft());
    resize(bounds.size());
    bounds_ = QRect(pos(), size());
    if (stored.hasTreeWidth)
        treeWidth_ = std::max(stored.treeWidth, kMinTreeWidth);

    if (stored.windowState == "maximized") {
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
    p.treeWidth = treeWidthPending_ ? treeWidth_ : Splitter1->sizes().value(0, treeWidth_);
    p.pageIndex = PageControl1->currentIndex();
    if ((windowState() & Qt::WindowMaximized) || (hiddenToTray_ && restoreMaximized_))
        p.windowState = "maximized";
    else if (hiddenToTray_)
        p.windowState = "minimized";
    else
        p.windowState = "normal";
    return p;
}

void MainWindow::showStatus(const std::string& text) {
    setStatusText(fromWindows1252(text));
}

std::optional<std::string> MainWindow::askValue(const std::string& caption,
                                                const std::string& prompt,
                                                const std::string& preset) {
    // Requests and the views go on while the box is open.
    const UiStateLock::Released open(uiLock_);
    const auto answer =
        dialogs_->input(fromWindows1252(caption), fromWindows1252(prompt), fromWindows1252(preset));
    if (!answer)
        return std::nullopt;
    return toWindows1252(*answer);
}

void MainWindow::start() {
    std::string treeError;
    bool runServer = false;
    {
        // No server runs yet; the lock keeps the rule that the state is read under it.
        std::lock_guard lock(uiLock_);
        treeError = pelotest::loadState(state_, host_, coreTexts(state_), [this](AppState&) {
            // A stored language that is no longer offered falls back to the built-in one. One
            // that is offered is named as its file is: the name may have been stored in another
            // case, and file names here are case-sensitive.
            discoverLanguageBox();
            const auto offered = findLanguage(languages_, state_.settings.languageDll);
            const std::string name = offered ? languages_[*offered].fileName : std::string();
            if (name != state_.settings.languageDll) {
                state_.settings.languageDll = name;
                discoverLanguageBox();
            }
            applyLanguage(false);
        });
        runServer = state_.settings.serverActive;
    }
    // The loaded tree shows expanded, as every addition does.
    treeModel_->reload();
    TreeView1->expandAll();
    variablesModel_->sync();
    logModel_->sync();
    if (runServer) {
        ToolButton1->setChecked(true);
        toolButton1Click();
    } else {
        showServerState(false);
    }
    if (!treeError.empty())
        dialogs_->message(MessageKind::Error, fromWindows1252(treeError));
}

bool MainWindow::saveNow() {
    // Through the window's own lock: the status texts of saving repaint the window, and the
    // views read the state while they paint.
    std::lock_guard lock(uiLock_);
    state_.settings.serverActive = ToolButton1->isChecked();
    saved_ = pelotest::saveState(state_, host_, coreTexts(state_));
    return saved_;
}

bool MainWindow::shutdown() {
    if (shutDown_)
        return saved_;
    shutDown_ = true;
    const bool wasRunning = ToolButton1->isChecked();
    // No request may change the state after it has been written: the server stops taking them
    // first. A request still running after the deadline keeps its server object alive.
    bool stopped = true;
    if (server_) {
        stopped = server_->stop(kStopDeadline);
        if (!stopped)
            (void)server_.release();
        server_.reset();
    }
    {
        std::unique_lock lock(uiLock_, std::defer_lock);
        if (lock.try_lock_for(stopped ? kStopDeadline : kLockGrace)) {
            state_.settings.serverActive = wasRunning;
            saved_ = pelotest::saveState(state_, host_, coreTexts(state_));
        } else {
            std::cerr << "pelotest: a request was still running when the program closed; the "
                         "state was not saved\n";
            saved_ = false;
        }
    }
    if (!saved_)
        std::cerr << "pelotest: cannot write the settings file " << state_.settingsPath.string()
                  << "\n";
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
