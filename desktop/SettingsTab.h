#pragma once
// The settings tab, bound to Settings (what is typed is what the next request uses): the
// templates and static folders with their choosers, the start page and its parameters, the port
// with the server's start/stop button, the language box with its download and export, the
// switches and numbers, and the remote editor's controls, which follow whether a start page is
// set.

#include "desktop/PaneSupport.h"
#include "language/Languages.h"

#include <QWidget>

#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QToolButton;

namespace pelotest::desktop {

class SettingsTab : public QWidget {
    Q_OBJECT

  public:
    explicit SettingsTab(const PaneContext& context, QWidget* parent = nullptr);

    void applyTexts();
    // The controls show settings (the state's, read by a caller that holds the state lock).
    void showSettings(const Settings& settings);
    // The start page and its parameters were set from the browser.
    void followRequestSettings();
    // The variables page switches auto-sort from the browser too.
    void followAutoSortSetting();

    // Whether live reload is on for this run (the box shows the key, or --live-reload).
    bool liveReloadOn() const;
    // The program and arguments the desktop session's autostart entry runs (without --tray).
    void setAutostartCommand(std::vector<std::string> command);

    // The server's start/stop button: its down state is the wanted server state.
    bool serverWanted() const;
    void setServerWanted(bool on);
    // The button's picture and tip, and the port, which can change only while the server stops.
    void showServerState(bool running);

    // Languages. The entries of the language box, in its order (entry 0: built-in German).
    const std::vector<LanguageEntry>& languageList() const { return languages_; }
    // At start-up, given the stored language of the settings (the caller holds the state lock):
    // fills the language box; a stored language that is no longer offered falls back to the
    // built-in one, and one that is offered is named as its file is (the name may have been
    // stored in another case, and file names here are case-sensitive).
    void adoptStoredLanguage(std::string& stored);
    // The language box and its button, disabled until the first language is applied.
    void enableLanguageChoice();
    // The language box's entry index was chosen: switches the language when it is another one.
    void chooseLanguage(int index);
    // The language button: the download dialog; afterwards the export (when asked for) and the
    // rescan (when a library was saved).
    void openLanguageDialog();
    // The translator's template into a folder the user chooses; false when it was not written.
    bool exportLanguage();
    // Lists the libraries anew after a download (the texts on screen stay as they are).
    void rescanLanguages();

  signals:
    void startStopClicked();
    void autoSortClicked(bool on);
    // The user switched live reload (the setting is written already).
    void liveReloadSwitched(bool on);
    // Another language is the current one: every text of the window is to be set again.
    void languageChanged();
    // The templates or the static folder was edited (the settings hold the new one).
    void foldersEdited();

  private:
    QGroupBox* buildTemplatesGroup();
    QGroupBox* buildStaticPagesGroup();
    QGroupBox* buildGeneralGroup();
    void bindSettings();
    template <class Change>
    void updateSettings(Change change);
    void offerStartPages();
    void enableRemoteEditor();
    void chooseTemplateFolder();
    void markFolder(QLineEdit* field, QAction* missing);
    void chooseStaticFolder();
    // The desktop session box was clicked: writes or removes the entry, then shows whether it
    // is there.
    void switchAutostart(bool on);
    // Fills the language box from a fresh discovery and selects the current language, chosen.
    void discoverLanguageBox(const std::string& chosen);
    // The tips of the language box's entries whose libraries have texts that are not used, in
    // the current language (looked up here: call without the state lock), and the box's tip.
    void showLanguageTips();
    // The box's tip is the chosen entry's: a translator sees why some texts stay German.
    void showChosenLanguageTip();

    PaneContext context_;
    bool filling_ = false; // controls are being filled from the state: do not write back
    // What starts a variable in a folder (set when the settings are loaded, never changed after).
    std::string folderVariableStart_;
    std::vector<LanguageEntry> languages_;
    std::vector<std::string> autostartCommand_{"pelotest"};

    QGroupBox* templatesGroup_ = nullptr;
    QLabel* templateFolderLabel_ = nullptr;
    QLineEdit* templateFolderField_ = nullptr;
    QToolButton* templateFolderButton_ = nullptr;
    QAction* templateFolderMissing_ = nullptr; // the warning picture of a missing folder
    QLabel* virtualFolderLabel_ = nullptr;
    QLineEdit* virtualFolderField_ = nullptr;

    QGroupBox* staticPagesGroup_ = nullptr;
    QLabel* staticFolderLabel_ = nullptr;
    QLineEdit* staticFolderField_ = nullptr;
    QToolButton* staticFolderButton_ = nullptr;
    QAction* staticFolderMissing_ = nullptr;
    QLabel* startPageLabel_ = nullptr;
    QComboBox* startPageBox_ = nullptr;
    QLabel* startParametersLabel_ = nullptr;
    QLineEdit* startParametersField_ = nullptr;

    QGroupBox* generalGroup_ = nullptr;
    QLabel* portLabel_ = nullptr;
    QSpinBox* portField_ = nullptr;
    QToolButton* startStopButton_ = nullptr;
    QLabel* languageLabel_ = nullptr;
    QComboBox* languageBox_ = nullptr;
    QToolButton* languageButton_ = nullptr;
    QCheckBox* autoSortBox_ = nullptr;
    QCheckBox* saveLogBox_ = nullptr;
    QCheckBox* remoteEditorBox_ = nullptr;
    QLabel* logLimitLabel_ = nullptr;
    QSpinBox* logLimitField_ = nullptr;
    QLabel* reloadTimeLabel_ = nullptr;
    QSpinBox* reloadTimeField_ = nullptr;
    QLabel* remoteEditorHint_ = nullptr;
    QCheckBox* liveReloadBox_ = nullptr;
    QString liveReloadHeldTip_;             // the box's tip while --live-reload holds it on
    QString folderMissingTip_;              // the warning picture's tip, %1 the folder
    QLabel* startParametersMark_ = nullptr; // the "?" between start page and parameters
    QCheckBox* autostartBox_ = nullptr;
};

} // namespace pelotest::desktop
