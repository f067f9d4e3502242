#pragma once
// The main window: it owns the HTTP server and the panes that show the state (the tree and the
// variables on the general tab, the log, the settings), starts and stops the server from the
// settings tab's button or the notification menu, hides to the notification area when
// minimised, and loads the state at start and writes it back at close.

#include "desktop/Dialogs.h"
#include "desktop/FileDialogs.h"
#include "desktop/Pictures.h"
#include "desktop/QtHost.h"
#include "desktop/ServerController.h"
#include "desktop/StateCommands.h"
#include "desktop/StateModels.h"
#include "desktop/Text.h"
#include "language/Languages.h"
#include "state/AppState.h"

#include <QMainWindow>
#include <QRect>

#include <memory>
#include <optional>
#include <string>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QSplitter;
class QSystemTrayIcon;
class QTabWidget;
class QToolButton;

namespace pelotest::desktop {

class EventTreePane;
class RequestLogPane;
class SettingsTab;
class VariablesPane;

struct MainWindowOptions {
    // Who answers message boxes, input boxes and folder choosers (null: the real dialogs).
    Dialogs* dialogs = nullptr;
    // Whether the desktop has a notification area (unset: ask Qt).
    std::optional<bool> trayAvailable;
    // Opens files in the desktop's editor (null: the desktop's own association).
    FileOpener* opener = nullptr;
    // --tray: start hidden in the notification area with the server running.
    bool startInTray = false;
    // The program the desktop session's autostart entry runs (empty: pelotest from the PATH).
    std::string program;
    // The settings file was named on the command line: the title names it, so that two windows
    // on two files can be told apart.
    bool settingsFileNamed = false;
    // The server's route table, stop limit and end of the process (tests set their own).
    ServerController::Options server;
};

// Bounds stored in the settings moved and shrunk onto a screen's available area (all of it shown,
// at the screen's scale): a file written on a larger screen, or by hand, never opens the window
// off the screen or with its status line cut off.
QRect fitOntoScreen(QRect stored, QRect available);

class MainWindow : public QMainWindow, private HostWindow {
    Q_OBJECT

  public:
    // state.settingsPath and state.languageFolders are set; nothing is loaded yet.
    explicit MainWindow(AppState& state, MainWindowOptions options = {}, QWidget* parent = nullptr);
    // A server that is still running is stopped by its controller (without saving: that is
    // shutdown()'s work).
    ~MainWindow() override;

    // Start-up: loads the state into the window, shows it as it was left and starts the server
    // when it ran at the last exit.
    void start();
    // Closing ("Beenden", the window's close button, SIGTERM, the session ending): stops the
    // server and writes the state, once; emits finished(). False when the file was not written.
    // When a request does not end within the stop's limit, the state is written if that request
    // does not hold it, and the process ends there (the request still uses what the window would
    // destroy).
    bool shutdown();
    // Writes the state while the program goes on (the session asks before logging out).
    bool saveNow();
    bool saved() const { return saved_; }

    // Starts or stops the server (the settings tab's button, the notification menu, F5).
    void toggleServerByUser();
    // The notification menu.
    void quitFromTray();
    void hideToTray();
    void showFromTray();
    // Another program was started on the same settings file.
    void bringToFront();

    // Puts the current language on the message boxes and, unless dialogsOnly, on the window.
    void applyLanguage(bool dialogsOnly);
    // F1 and the help button: the help dialog.
    void showHelp();

    SettingsTab& settingsTab() const { return *settingsTab_; }
    bool hiddenToTray() const { return hiddenToTray_; }
    bool trayAvailable() const { return trayAvailable_; }
    bool serverRunning() const;
    std::uint16_t serverPort() const;
    // The picture of the tree's root node: 1 while the server runs, else 0.
    int rootImageIndex() const { return rootImage_; }
    const ImageList& images() const { return images_; }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    QMenu* trayMenu() const { return trayMenu_; }
    QtHost& host() { return host_; }

  signals:
    // The state is written and the server stopped: the program can end.
    void finished();
    void rootImageChanged(int index);
    // F1 or the help button.
    void helpRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    // The window where and as the file left it (the load's placement, shown after the load).
    void applyPlacement(const WindowPlacement& stored);
    // HostWindow
    WindowPlacement placement() const override;
    void showStatus(const std::string& text) override;
    // Called by the folder expansion, which holds the state lock; the box is open without it.
    std::optional<std::string> askValue(const std::string& caption, const std::string& prompt,
                                        const std::string& preset) override REQUIRES(state_.mutex);

    void buildWindow();
    QWidget* buildGeneralTab();
    void buildTray();
    void connectPanes();
    void applyTexts();
    void setStatusText(const QString& text);
    void showServerState();
    // Starts or stops the server; a failed start is reported.
    void switchServer(bool on);
    void showTrayTip();
    void showFirstRunHint() EXCLUDES(state_.mutex);
    void showLogTabText();
    void reportStartFailure(const ServerController::StartFailure& failure);
    // The status line's live reload part: shown while live reload is on, with the browsers
    // listening.
    void showLiveStatus();

    AppState& state_;
    StateCommands commands_;
    std::unique_ptr<Dialogs> ownDialogs_;
    Dialogs* dialogs_;
    std::unique_ptr<FileOpener> ownOpener_;
    FileOpener* opener_;
    QtHost host_;
    ImageList images_;
    // After the host: destroyed first, so that no request thread is left with a host that is gone.
    std::unique_ptr<ServerController> server_;
    bool trayAvailable_;

    bool hiddenToTray_ = false;
    const bool startInTray_;
    const bool settingsFileNamed_;
    // Started by --tray: ServerActive as the file had it, kept until the user starts or stops
    // the server, and the stored window state, kept until the window is first shown.
    std::optional<bool> storedServerActive_;
    std::optional<std::string> storedWindowState_;
    bool restoreMaximized_ = false;
    bool shutDown_ = false;
    bool saved_ = false;
    int rootImage_ = ImageList::kRootStopped;
    QRect bounds_; // at the last resize in the normal state
    int treeWidth_;
    bool treeWidthPending_ = true;

    QTabWidget* tabs_ = nullptr;
    QSplitter* generalSplitter_ = nullptr;
    QLabel* firstRunHint_ = nullptr;    // shown while nothing is set up
    QFrame* firstRunHintBox_ = nullptr; // the hint with its close button
    QToolButton* closeHintButton_ = nullptr;
    // The hint has done its work once the server has answered a request, or the user closed it.
    bool hintDone_ = false;
    int logRowsShown_ = 0;
    int logRowsHeld_ = 0;
    EventTreePane* treePane_ = nullptr;
    VariablesPane* variablesPane_ = nullptr;
    RequestLogPane* logPane_ = nullptr;
    SettingsTab* settingsTab_ = nullptr;
    QToolButton* helpButton_ = nullptr;
    QLabel* statusText_ = nullptr;
    QLabel* serverLink_ = nullptr; // the server's address as a link
    QLabel* liveStatus_ = nullptr; // live reload and the browsers listening
    QString serverUrl_;            // the running server's address, empty when stopped

    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QAction* showAction_ = nullptr;
    QAction* startStopAction_ = nullptr;
    QAction* quitAction_ = nullptr;
};

} // namespace pelotest::desktop
