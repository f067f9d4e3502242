#pragma once
// The main window: it owns the HTTP server, shows the state (tree and variables, log, settings),
// starts and stops the server from its button or the notification menu, hides to the
// notification area when minimised, and loads the state at start and writes it back at close.

#include "desktop/Dialogs.h"
#include "desktop/FileDialogs.h"
#include "desktop/Pictures.h"
#include "desktop/QtHost.h"
#include "desktop/StateModels.h"
#include "desktop/Text.h"
#include "language/Languages.h"
#include "server/HttpServer.h"
#include "state/AppState.h"
#include "state/PersistentState.h"

#include <QMainWindow>
#include <QRect>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSpinBox;
class QSplitter;
class QSystemTrayIcon;
class QTableView;
class QTabWidget;
class QToolButton;
class QTreeView;

namespace pelotest::desktop {

struct MainWindowOptions {
    // Who answers message boxes, input boxes and folder choosers (null: the real dialogs).
    Dialogs* dialogs = nullptr;
    // Whether the desktop has a notification area (unset: ask Qt).
    std::optional<bool> trayAvailable;
    // Opens files in the desktop's editor (null: the desktop's own association).
    FileOpener* opener = nullptr;
};

class MainWindow : public QMainWindow, private HostWindow {
    Q_OBJECT

  public:
    // state.settingsPath and state.languageFolders are set; nothing is loaded yet.
    explicit MainWindow(AppState& state, MainWindowOptions options = {}, QWidget* parent = nullptr);
    // Stops a server that is still running (without saving: that is shutdown()'s work).
    ~MainWindow() override;

    // Start-up: loads the state into the window, shows it as it was left and starts the server
    // when it ran at the last exit.
    void start();
    // Closing ("Beenden", the window's close button, SIGTERM, the session ending): writes the
    // state and stops the server, once; emits finished(). False when the file was not written.
    bool shutdown();
    // Writes the state while the program goes on (the session asks before logging out).
    bool saveNow();
    bool saved() const { return saved_; }

    // The start/stop button was toggled; its down state is the wanted server state.
    void toolButton1Click();
    // The notification menu.
    void anzeigen1Click();
    void aktiv1Click();
    void beenden1Click();
    void hideToTray();
    void restoreFromTray();
    // Another program was started on the same settings file.
    void bringToFront();

    // Languages. The entries of the language box, in its order (entry 0: built-in German).
    const std::vector<LanguageEntry>& languageList() const { return languages_; }
    // Puts the current language on the message boxes and, unless dialogsOnly, on the window.
    void applyLanguage(bool dialogsOnly);
    // The language box's entry index was chosen: switches the language when it is another one.
    void comboBox2Select(int index);
    // The language button: the download dialog; afterwards the export (when asked for) and the
    // rescan (when a library was saved).
    void speedButton3Click();
    // The translator's template into a folder the user chooses; false when it was not written.
    bool exportLanguage();
    // Lists the libraries anew after a download (the texts on screen stay as they are).
    void rescanLanguages();
    // F1 and the help button: the help dialog.
    void showHelp();

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

    // The events/templates tree (on the selected node).
    void popupMenu2Popup();
    void zuordnen1Click();
    void bearbeiten1Click();
    void lschen2Click();
    void alleausklappen1Click();
    void allezuklappen1Click();
    // The variables list (on the selected row).
    void bearbeiten2Click();
    void lschen1Click();
    void checkBox1Click(bool checked);
    void listView1ColumnClick(int column);
    // The log (on the selected row).
    void popupMenu3Popup();
    void bearbeiten3Click();
    void eigenschaften1Click();
    void listView2DblClick();
    void lschen3Click();

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
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // HostWindow
    void applyPlacement(const WindowPlacement& stored) override;
    WindowPlacement placement() const override;
    void showStatus(const std::string& text) override;
    std::optional<std::string> askValue(const std::string& caption, const std::string& prompt,
                                        const std::string& preset) override;

    void buildWindow();
    QWidget* buildGeneralTab();
    QWidget* buildLogTab();
    QWidget* buildSettingsTab();
    void buildTray();
    void bindSettings();
    void applyTexts();
    void fillControls();
    void setStatusText(const QString& text);
    void showServerState(bool running);
    void reportStartFailure(BindFailure why, int port, const QString& detail);
    template <class Change>
    void updateSettings(Change change);

    void speedButton1Click();
    void speedButton2Click();
    void edit2Change();
    void comboBox1Change();
    void settingsChangedByRequest();
    // Fills the language box from a fresh discovery and selects the current language.
    void discoverLanguageBox();

    void buildViews();
    void treeChangedByRequest();
    void variablesChangedByRequest();
    void logChangedByRequest();
    void syncTree();
    void syncVariables();
    void rememberSelectedVariable();
    std::optional<std::string> selectedVariable() const;
    TreeNode* selectedNode() const;
    std::optional<LogEntry> selectedLogEntry();
    ExpandedFolder templatesFolder(int captionId, int promptId);
    QString formatText(int id, const QString& arg) const;

    AppState& state_;
    // The state lock as this thread takes it (the views read through it).
    UiStateLock uiLock_;
    std::unique_ptr<Dialogs> ownDialogs_;
    Dialogs* dialogs_;
    std::unique_ptr<FileOpener> ownOpener_;
    FileOpener* opener_;
    QtHost host_;
    ImageList images_;
    TreeModel* treeModel_ = nullptr;
    VariablesModel* variablesModel_ = nullptr;
    LogModel* logModel_ = nullptr;
    // The variable of the selected row, by name: requests move and remove rows.
    std::optional<std::string> selectedVariable_;
    std::unique_ptr<HttpServer> server_;
    bool trayAvailable_;

    bool hiddenToTray_ = false;
    bool restoreMaximized_ = false;
    bool filling_ = false; // controls are being filled from the state: do not write back
    bool shutDown_ = false;
    bool saved_ = false;
    int rootImage_ = ImageList::kRootStopped;
    QRect bounds_;        // at the last resize in the normal state
    int treeWidth_ = 345; // of the tree pane
    bool treeWidthPending_ = true;
    std::vector<LanguageEntry> languages_; // LanguageList

    // Controls, named as a reader of the window's description looks for them.
    QTabWidget* PageControl1 = nullptr;
    QSplitter* Splitter1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;  // Events/Templates
    QGroupBox* GroupBox2 = nullptr;  // Variablen
    QGroupBox* GroupBox3 = nullptr;  // Templates
    QGroupBox* GroupBox4 = nullptr;  // Statische Seiten
    QGroupBox* GroupBox5 = nullptr;  // Allgemeines
    QTreeView* TreeView1 = nullptr;  // events/templates tree
    QTableView* ListView1 = nullptr; // variables list
    QTableView* ListView2 = nullptr; // log list
    QMenu* PopupMenu1 = nullptr;     // variables list
    QAction* Bearbeiten2 = nullptr;
    QAction* Lschen1 = nullptr;
    QMenu* PopupMenu2 = nullptr; // tree
    QAction* Bearbeiten1 = nullptr;
    QAction* Zuordnen1 = nullptr;
    QAction* Lschen2 = nullptr;
    QAction* Alleausklappen1 = nullptr;
    QAction* Allezuklappen1 = nullptr;
    QMenu* PopupMenu3 = nullptr; // log list
    QAction* Bearbeiten3 = nullptr;
    QAction* Eigenschaften1 = nullptr;
    QAction* Lschen3 = nullptr;
    QLabel* Label1 = nullptr;   // templates folder
    QLineEdit* Edit1 = nullptr; // DynamicPath
    QToolButton* SpeedButton1 = nullptr;
    QLabel* Label2 = nullptr;   // virtual folder
    QLineEdit* Edit3 = nullptr; // VirtualPath
    QLabel* Label3 = nullptr;   // static folder
    QLineEdit* Edit2 = nullptr; // StaticPath
    QToolButton* SpeedButton2 = nullptr;
    QLabel* Label4 = nullptr;       // start page
    QComboBox* ComboBox1 = nullptr; // StaticSite
    QLabel* Label5 = nullptr;       // the "?" between page and parameters
    QLabel* Label6 = nullptr;       // parameters
    QLineEdit* Edit4 = nullptr;     // StaticParameter
    QLabel* Label7 = nullptr;       // HTTP-Port
    QSpinBox* SpinEdit1 = nullptr;  // Port
    QToolButton* ToolButton1 = nullptr;
    QLabel* Label8 = nullptr;       // language
    QComboBox* ComboBox2 = nullptr; // language box
    QToolButton* SpeedButton3 = nullptr;
    QCheckBox* CheckBox1 = nullptr; // VariablesAutoSort
    QCheckBox* CheckBox2 = nullptr; // SaveLog
    QCheckBox* CheckBox3 = nullptr; // RemoteEdit
    QLabel* Label9 = nullptr;       // Log-Begrenzung
    QSpinBox* SpinEdit2 = nullptr;  // MaxLog
    QLabel* Label10 = nullptr;      // Reloadzeit
    QSpinBox* SpinEdit3 = nullptr;  // RemoteEditReload
    QLabel* Label11 = nullptr;      // information on the remote editor
    QToolButton* HelpButton = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QLabel* StatusPanel2 = nullptr; // the server's address as a link

    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr; // PopupMenu4
    QAction* Anzeigen1 = nullptr;
    QAction* Aktiv1 = nullptr;
    QAction* Beenden1 = nullptr;
};

} // namespace pelotest::desktop
