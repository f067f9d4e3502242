#pragma once
// The settings tab, bound to Settings (what is typed is what the next request uses): the
// templates and static folders with their choosers, the start page and its parameters, the port
// with the server's start/stop button, the language box (desktop/LanguageBox), the switches and
// numbers, and the remote editor's controls, which follow whether a start page is set. It reads
// and changes the settings through the state commands, never under the state lock.

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
class LanguageBox;
}

namespace pelotest::desktop {

class SettingsTab : public QWidget {
    Q_OBJECT

  public:
    explicit SettingsTab(const PaneContext& context, QWidget* parent = nullptr);

    void applyTexts();
    // The controls show settings (a copy of the state's); nothing is written back.
    void showSettings(const Settings& settings);
    // The start page and its parameters were set from the browser.
    void followRequestSettings();
    // The variables page switches auto-sort from the browser too.
    void followAutoSortSetting();

    // Whether live reload is on for this run (the box shows the key, or --live-reload).
    bool liveReloadOn() const;
    // The program and arguments the desktop session's autostart entry runs (without --tray).
    void setAutostartCommand(std::vector<std::string> command);

    // The server's start/stop button shows whether the server runs (a click asks the window to
    // switch it: startStopClicked); the port can change only while the server is stopped, and
    // nothing can be switched while it stops.
    void showServerState(bool running, bool stopping = false);

    // Languages (the box is a class of its own).
    LanguageBox& languageBox() const { return *languageBox_; }
    // At start-up: the languages found and the current one.
    void showLanguages(std::vector<LanguageEntry> languages, const std::string& chosen);
    // The language box, its label and button, disabled until the first language is applied.
    void enableLanguageChoice();
    // The language box's entry index was chosen.
    void chooseLanguage(int index);
    // The translator's template into a folder the user chooses; false when it was not written.
    bool exportLanguage();

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
    PaneContext context_;
    // What starts a variable in a folder (set when the settings are loaded, never changed after).
    std::string folderVariableStart_;
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
    LanguageBox* languageBox_ = nullptr;
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
