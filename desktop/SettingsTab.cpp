#include "desktop/SettingsTab.h"

#include "desktop/Autostart.h"
#include "desktop/LanguageSupport.h"
#include "desktop/Text.h"
#include "desktop/WebDialog.h"
#include "state/PersistentState.h"
#include "state/ProfileFile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace pelotest::desktop {
namespace {

QSpinBox* numberField(const char* name, int minimum, int maximum) {
    auto* field = named(new QSpinBox, name);
    field->setRange(minimum, maximum);
    field->setAccelerated(true);
    return field;
}

QToolButton* pictureButton(const char* name, const QIcon& picture) {
    auto* button = named(new QToolButton, name);
    button->setIcon(picture);
    return button;
}

} // namespace

SettingsTab::SettingsTab(const PaneContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
    setObjectName(QStringLiteral("SettingsTab"));
    auto* column = new QVBoxLayout(this);
    column->addWidget(buildTemplatesGroup());
    column->addWidget(buildStaticPagesGroup());
    column->addWidget(buildGeneralGroup());
    column->addStretch(1);
    bindSettings();
}

// Templates: folder (with variables) and virtual folder.
QGroupBox* SettingsTab::buildTemplatesGroup() {
    templatesGroup_ = named(new QGroupBox, "TemplatesGroup");
    templateFolderLabel_ = named(new QLabel, "TemplateFolderLabel");
    templateFolderField_ = named(new QLineEdit, "TemplateFolderField");
    templateFolderButton_ =
        pictureButton("TemplateFolderButton", ImageList::button(QStringLiteral("btn1")));
    templateFolderMissing_ =
        named(templateFolderField_->addAction(style()->standardIcon(QStyle::SP_MessageBoxWarning),
                                              QLineEdit::TrailingPosition),
              "TemplateFolderFieldMissing");
    templateFolderMissing_->setVisible(false);
    virtualFolderLabel_ = named(new QLabel, "VirtualFolderLabel");
    virtualFolderField_ = named(new QLineEdit, "VirtualFolderField");
    templateFolderLabel_->setBuddy(templateFolderField_);
    virtualFolderLabel_->setBuddy(virtualFolderField_);
    auto* grid = new QGridLayout(templatesGroup_);
    grid->addWidget(templateFolderLabel_, 0, 0, 1, 2);
    grid->addWidget(templateFolderField_, 1, 0);
    grid->addWidget(templateFolderButton_, 1, 1);
    grid->addWidget(virtualFolderLabel_, 2, 0, 1, 2);
    grid->addWidget(virtualFolderField_, 3, 0);
    grid->setColumnStretch(0, 1);
    return templatesGroup_;
}

// Static pages: start folder, start page "?" parameters.
QGroupBox* SettingsTab::buildStaticPagesGroup() {
    staticPagesGroup_ = named(new QGroupBox, "StaticPagesGroup");
    staticFolderLabel_ = named(new QLabel, "StaticFolderLabel");
    staticFolderField_ = named(new QLineEdit, "StaticFolderField");
    staticFolderButton_ =
        pictureButton("StaticFolderButton", ImageList::button(QStringLiteral("btn1")));
    staticFolderMissing_ =
        named(staticFolderField_->addAction(style()->standardIcon(QStyle::SP_MessageBoxWarning),
                                            QLineEdit::TrailingPosition),
              "StaticFolderFieldMissing");
    staticFolderMissing_->setVisible(false);
    startPageLabel_ = named(new QLabel, "StartPageLabel");
    startPageBox_ = named(new QComboBox, "StartPageBox");
    startPageBox_->setEditable(true);
    startPageBox_->setInsertPolicy(QComboBox::NoInsert);
    startPageBox_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    startPageBox_->setMinimumContentsLength(12);
    auto* questionMark = named(new QLabel(QStringLiteral("?")), "StartParametersQuestionMark");
    startParametersLabel_ = named(new QLabel, "StartParametersLabel");
    startParametersField_ = named(new QLineEdit, "StartParametersField");
    staticFolderLabel_->setBuddy(staticFolderField_);
    startPageLabel_->setBuddy(startPageBox_);
    startParametersLabel_->setBuddy(startParametersField_);
    auto* grid = new QGridLayout(staticPagesGroup_);
    grid->addWidget(staticFolderLabel_, 0, 0, 1, 4);
    auto* folder = new QHBoxLayout;
    folder->addWidget(staticFolderField_, 1);
    folder->addWidget(staticFolderButton_);
    grid->addLayout(folder, 1, 0, 1, 4);
    grid->addWidget(startPageLabel_, 2, 0);
    grid->addWidget(startParametersLabel_, 2, 2, 1, 2);
    grid->addWidget(startPageBox_, 3, 0);
    grid->addWidget(questionMark, 3, 1);
    grid->addWidget(startParametersField_, 3, 2, 1, 2);
    grid->setColumnStretch(0, 2);
    grid->setColumnStretch(2, 3);
    return staticPagesGroup_;
}

// General: port and server button, language, switches and numbers.
QGroupBox* SettingsTab::buildGeneralGroup() {
    generalGroup_ = named(new QGroupBox, "GeneralGroup");
    portLabel_ = named(new QLabel, "PortLabel");
    portField_ = numberField("PortField", 1, 65535);
    startStopButton_ = pictureButton("StartStopButton", context_.images.icon(ImageList::kStart));
    startStopButton_->setCheckable(true);
    startStopButton_->setAutoRaise(false);
    languageLabel_ = named(new QLabel, "LanguageLabel");
    languageBox_ = named(new QComboBox, "LanguageBox");
    languageBox_->setIconSize(QSize(16, 16));
    languageButton_ = pictureButton("LanguageButton", ImageList::button(QStringLiteral("infobt")));
    for (QWidget* control :
         {static_cast<QWidget*>(languageLabel_), static_cast<QWidget*>(languageBox_),
          static_cast<QWidget*>(languageButton_)})
        control->setEnabled(false);
    autoSortBox_ = named(new QCheckBox, "AutoSortBox");
    saveLogBox_ = named(new QCheckBox, "SaveLogBox");
    remoteEditorBox_ = named(new QCheckBox, "RemoteEditorBox");
    logLimitLabel_ = named(new QLabel, "LogLimitLabel");
    logLimitField_ = numberField("LogLimitField", 2, 9999);
    reloadTimeLabel_ = named(new QLabel, "ReloadTimeLabel");
    reloadTimeField_ = numberField("ReloadTimeField", 2, 9999);
    remoteEditorHint_ = named(new QLabel, "RemoteEditorHint");
    remoteEditorHint_->setWordWrap(true);
    remoteEditorHint_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    remoteEditorHint_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    liveReloadBox_ = named(new QCheckBox, "LiveReloadBox");
    autostartBox_ = named(new QCheckBox, "AutostartBox");
    portLabel_->setBuddy(portField_);
    languageLabel_->setBuddy(languageBox_);
    logLimitLabel_->setBuddy(logLimitField_);
    reloadTimeLabel_->setBuddy(reloadTimeField_);

    auto* grid = new QGridLayout(generalGroup_);
    grid->addWidget(portLabel_, 0, 0);
    auto* port = new QHBoxLayout;
    port->addWidget(portField_);
    port->addWidget(startStopButton_);
    port->addStretch(1);
    grid->addLayout(port, 0, 1);
    grid->addWidget(languageLabel_, 0, 2);
    auto* language = new QHBoxLayout;
    language->addWidget(languageBox_, 1);
    language->addWidget(languageButton_);
    grid->addLayout(language, 0, 3);
    grid->addWidget(autoSortBox_, 1, 0, 1, 2);
    grid->addWidget(logLimitLabel_, 1, 2);
    grid->addWidget(logLimitField_, 1, 3, Qt::AlignLeft);
    grid->addWidget(saveLogBox_, 2, 0, 1, 2);
    grid->addWidget(autostartBox_, 2, 2, 1, 2);
    grid->addWidget(remoteEditorBox_, 3, 0, 1, 2);
    grid->addWidget(reloadTimeLabel_, 3, 2);
    grid->addWidget(reloadTimeField_, 3, 3, Qt::AlignLeft);
    grid->addWidget(remoteEditorHint_, 4, 0, 1, 4);
    grid->addWidget(liveReloadBox_, 5, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    return generalGroup_;
}

void SettingsTab::applyTexts() {
    const AppState& state = context_.state;
    const auto text = [&state](UiText id) { return uiText(state, id); };
    templatesGroup_->setTitle(text(UiText::GroupTemplates));
    templateFolderLabel_->setText(text(UiText::TemplateFolderLabel));
    virtualFolderLabel_->setText(text(UiText::VirtualFolderLabel));
    staticPagesGroup_->setTitle(text(UiText::GroupStaticPages));
    staticFolderLabel_->setText(text(UiText::StartFolderLabel));
    startPageLabel_->setText(text(UiText::StartPageLabel));
    startParametersLabel_->setText(text(UiText::StartParametersLabel));
    generalGroup_->setTitle(text(UiText::GroupGeneral));
    portLabel_->setText(text(UiText::HttpPortLabel));
    autoSortBox_->setText(text(UiText::AutoSortVariables));
    logLimitLabel_->setText(text(UiText::LogLimitLabel));
    saveLogBox_->setText(text(UiText::SaveLogOption));
    remoteEditorBox_->setText(text(UiText::RemoteEditorOption));
    reloadTimeLabel_->setText(text(UiText::ReloadTimeLabel));
    remoteEditorHint_->setText(text(UiText::RemoteEditorHint));
    liveReloadBox_->setText(text(UiText::LiveReloadOption));
    // Held on by --live-reload: the box says why it cannot be switched off in this run.
    liveReloadHeldTip_ = text(UiText::LiveReloadForThisRun);
    liveReloadBox_->setToolTip(liveReloadBox_->isEnabled() ? QString() : liveReloadHeldTip_);
    autostartBox_->setText(text(UiText::StartWithSessionOption));
    languageLabel_->setText(text(UiText::ChooseLanguage));
    if (languageBox_->count() > 0)
        languageBox_->setItemText(0, text(UiText::BuiltInLanguageName));
    startStopButton_->setToolTip(
        text(startStopButton_->isChecked() ? UiText::ServerStop : UiText::ServerStart));
    templateFolderButton_->setToolTip(text(UiText::ChooseTemplateFolder));
    staticFolderButton_->setToolTip(text(UiText::ChooseStaticFolder));
    languageButton_->setToolTip(text(UiText::LanguageDownloadCaption));
    showLanguageTips();
}

// A folder field's tip is the absolute folder the server uses (a relative folder is taken from
// the working folder), and a warning picture marks a folder that does not exist. A folder with
// variables is only known once a request expands it: it gets neither.
void SettingsTab::markFolder(QLineEdit* field, QAction* missing) {
    // Runs while the settings are shown, under the caller's lock, too: it reads no state.
    const QString folder = field->text();
    if (folder.isEmpty() || folder.contains(fromWindows1252(folderVariableStart_))) {
        field->setToolTip(QString());
        missing->setVisible(false);
        return;
    }
    const QString absolute = absolutePath(folder);
    field->setToolTip(absolute);
    missing->setToolTip(absolute);
    missing->setVisible(!QFileInfo(absolute).isDir());
}

// ---------------------------------------------------------------------------------------------
// The binding to Settings.

template <class Change>
void SettingsTab::updateSettings(Change change) {
    if (filling_)
        return;
    const StateLock lock(context_.state.mutex);
    change(context_.state.settings);
}

void SettingsTab::bindSettings() {
    connect(templateFolderField_, &QLineEdit::textChanged, this,
            [this] { markFolder(templateFolderField_, templateFolderMissing_); });
    connect(staticFolderField_, &QLineEdit::textChanged, this,
            [this] { markFolder(staticFolderField_, staticFolderMissing_); });
    connect(templateFolderField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        updateSettings([&](Settings& s) { s.dynamicPath = toPathBytes(text); });
    });
    connect(virtualFolderField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        updateSettings([&](Settings& s) { s.virtualPath = toWindows1252(text); });
    });
    connect(staticFolderField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        updateSettings([&](Settings& s) { s.staticPath = toPathBytes(text); });
        offerStartPages();
    });
    for (QLineEdit* folder : {templateFolderField_, staticFolderField_})
        connect(folder, &QLineEdit::textChanged, this, &SettingsTab::foldersEdited);
    connect(startPageBox_, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        updateSettings([&](Settings& s) { s.staticSite = toPathBytes(text); });
        enableRemoteEditor();
    });
    connect(startParametersField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        updateSettings([&](Settings& s) { s.staticParameter = toWindows1252(text); });
    });
    connect(portField_, &QSpinBox::valueChanged, this,
            [this](int value) { updateSettings([&](Settings& s) { s.port = value; }); });
    connect(logLimitField_, &QSpinBox::valueChanged, this,
            [this](int value) { updateSettings([&](Settings& s) { s.maxLog = value; }); });
    connect(reloadTimeField_, &QSpinBox::valueChanged, this, [this](int value) {
        updateSettings([&](Settings& s) { s.remoteEditReload = value; });
    });
    connect(autoSortBox_, &QCheckBox::toggled, this,
            [this](bool on) { updateSettings([&](Settings& s) { s.variablesAutoSort = on; }); });
    connect(saveLogBox_, &QCheckBox::toggled, this,
            [this](bool on) { updateSettings([&](Settings& s) { s.saveLog = on; }); });
    connect(remoteEditorBox_, &QCheckBox::toggled, this,
            [this](bool on) { updateSettings([&](Settings& s) { s.remoteEdit = on; }); });
    connect(liveReloadBox_, &QCheckBox::toggled, this, [this](bool on) {
        if (filling_)
            return;
        updateSettings([&](Settings& s) { s.liveReload = on; });
        emit liveReloadSwitched(on);
    });
    connect(autostartBox_, &QCheckBox::clicked, this, &SettingsTab::switchAutostart);
    connect(autoSortBox_, &QCheckBox::clicked, this, &SettingsTab::autoSortClicked);
    connect(startStopButton_, &QToolButton::clicked, this, &SettingsTab::startStopClicked);
    connect(templateFolderButton_, &QToolButton::clicked, this, &SettingsTab::chooseTemplateFolder);
    connect(staticFolderButton_, &QToolButton::clicked, this, &SettingsTab::chooseStaticFolder);
    connect(languageBox_, &QComboBox::activated, this, &SettingsTab::chooseLanguage);
    connect(languageBox_, &QComboBox::currentIndexChanged, this,
            &SettingsTab::showChosenLanguageTip);
    connect(languageButton_, &QToolButton::clicked, this, &SettingsTab::openLanguageDialog);
}

void SettingsTab::showSettings(const Settings& s) {
    folderVariableStart_ = s.varBefore;
    filling_ = true;
    templateFolderField_->setText(fromPathBytes(s.dynamicPath));
    virtualFolderField_->setText(fromWindows1252(s.virtualPath));
    staticFolderField_->setText(fromPathBytes(s.staticPath)); // refills the start pages
    startPageBox_->setEditText(fromPathBytes(s.staticSite));
    startParametersField_->setText(fromWindows1252(s.staticParameter));
    autoSortBox_->setChecked(s.variablesAutoSort);
    remoteEditorBox_->setChecked(s.remoteEdit);
    saveLogBox_->setChecked(s.saveLog);
    portField_->setValue(s.port);
    logLimitField_->setValue(s.maxLog);
    reloadTimeField_->setValue(s.remoteEditReload);
    // --live-reload holds live reload on for this run and never changes the key: the box shows
    // it on and cannot be switched, so that nothing the user clicks is silently not stored.
    const bool heldOn = context_.state.runOverrides.liveReload;
    liveReloadBox_->setChecked(s.liveReload || heldOn);
    liveReloadBox_->setEnabled(!heldOn);
    // The tip's text was taken with the others: the texts are not looked up under the lock.
    liveReloadBox_->setToolTip(heldOn ? liveReloadHeldTip_ : QString());
    autostartBox_->setChecked(autostartEntryExists());
    filling_ = false;
    enableRemoteEditor();
}

bool SettingsTab::liveReloadOn() const {
    return liveReloadBox_->isChecked();
}

void SettingsTab::setAutostartCommand(std::vector<std::string> command) {
    autostartCommand_ = std::move(command);
}

void SettingsTab::switchAutostart(bool on) {
    const auto failure = on ? writeAutostartEntry(autostartCommand_) : removeAutostartEntry();
    if (failure)
        context_.dialogs.message(MessageKind::Error, fromPathBytes(*failure));
    autostartBox_->setChecked(autostartEntryExists());
}

void SettingsTab::followRequestSettings() {
    std::string site, parameter;
    {
        const StateLock lock(context_.state.mutex);
        site = context_.state.settings.staticSite;
        parameter = context_.state.settings.staticParameter;
    }
    filling_ = true;
    startPageBox_->setEditText(fromPathBytes(site));
    startParametersField_->setText(fromWindows1252(parameter));
    filling_ = false;
    enableRemoteEditor();
}

void SettingsTab::followAutoSortSetting() {
    bool autoSort = true;
    {
        const StateLock lock(context_.state.mutex);
        autoSort = context_.state.settings.variablesAutoSort;
    }
    if (autoSortBox_->isChecked() != autoSort) {
        filling_ = true;
        autoSortBox_->setChecked(autoSort);
        filling_ = false;
    }
}

// The start pages offered are the files of the static folder; the start page's text stays.
void SettingsTab::offerStartPages() {
    std::string folder = toPathBytes(staticFolderField_->text());
    std::replace(folder.begin(), folder.end(), '\\', '/');
    if (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const QString site = startPageBox_->currentText();
    const bool wasFilling = filling_;
    filling_ = true; // the list changes, the start page does not
    startPageBox_->clear();
    if (!folder.empty())
        for (const std::string& name : filesIn(folder))
            startPageBox_->addItem(fromPathBytes(name));
    startPageBox_->setEditText(site);
    filling_ = wasFilling;
}

// The remote editor needs a start page: its controls follow whether one is set.
void SettingsTab::enableRemoteEditor() {
    const bool enabled = !startPageBox_->currentText().isEmpty();
    remoteEditorBox_->setEnabled(enabled);
    reloadTimeLabel_->setEnabled(enabled);
    reloadTimeField_->setEnabled(enabled);
    remoteEditorHint_->setEnabled(enabled);
}

void SettingsTab::chooseTemplateFolder() {
    AppState& state = context_.state;
    ExpandedFolder expanded;
    {
        const StateLock lock(state.mutex);
        expanded = expandFolderVariables(state, context_.host, coreTexts(state),
                                         state.settings.dynamicPath, false);
    }
    const auto chosen = context_.dialogs.chooseFolder(uiText(state, UiText::ChooseTemplateFolder),
                                                      fromPathBytes(expanded.folder));
    if (!chosen)
        return;
    templateFolderField_->setText(*chosen);
    if (expanded.found)
        context_.dialogs.message(MessageKind::Warning,
                                 uiText(state, UiText::PathVariablesReplaced));
}

void SettingsTab::chooseStaticFolder() {
    const auto chosen = context_.dialogs.chooseFolder(
        uiText(context_.state, UiText::ChooseStaticFolder), staticFolderField_->text());
    if (chosen)
        staticFolderField_->setText(*chosen);
}

// ---------------------------------------------------------------------------------------------
// The server's button.

bool SettingsTab::serverWanted() const {
    return startStopButton_->isChecked();
}

void SettingsTab::setServerWanted(bool on) {
    startStopButton_->setChecked(on);
}

void SettingsTab::showServerState(bool running) {
    startStopButton_->setIcon(context_.images.icon(running ? ImageList::kStop : ImageList::kStart));
    startStopButton_->setToolTip(
        uiText(context_.state, running ? UiText::ServerStop : UiText::ServerStart));
    portLabel_->setEnabled(!running);
    portField_->setEnabled(!running);
}

// ---------------------------------------------------------------------------------------------
// Languages.

void SettingsTab::discoverLanguageBox(const std::string& chosen) {
    const AppState& state = context_.state;
    languages_ = discoverLanguages(state.languageFolders, chosen);
    const bool wasFilling = filling_;
    filling_ = true;
    languageBox_->clear();
    for (const LanguageEntry& entry : languages_)
        languageBox_->addItem(flagIcon(entry.flag), fromWindows1252(entry.displayName),
                              fromPathBytes(entry.fileName));
    languageBox_->setCurrentIndex(static_cast<int>(findLanguage(languages_, chosen).value_or(0)));
    filling_ = wasFilling;
}

void SettingsTab::showLanguageTips() {
    for (std::size_t i = 0; i < languages_.size(); ++i) {
        const std::vector<int>& notUsed = languages_[i].textsNotUsed;
        const QVariant tip =
            notUsed.empty()
                ? QVariant()
                : QVariant(wrappedTip(uiTextWith(context_.state, UiText::LanguageTextsNotUsed,
                                                 QString::fromStdString(textIdList(notUsed)))));
        languageBox_->setItemData(static_cast<int>(i), tip, Qt::ToolTipRole);
    }
    showChosenLanguageTip();
}

void SettingsTab::showChosenLanguageTip() {
    languageBox_->setToolTip(languageBox_->currentData(Qt::ToolTipRole).toString());
}

void SettingsTab::adoptStoredLanguage(std::string& stored) {
    discoverLanguageBox(stored);
    const auto offered = findLanguage(languages_, stored);
    const std::string name = offered ? languages_[*offered].fileName : std::string();
    if (name != stored) {
        stored = name;
        discoverLanguageBox(stored);
    }
}

void SettingsTab::enableLanguageChoice() {
    languageBox_->setEnabled(true);
    languageLabel_->setEnabled(true);
    languageButton_->setEnabled(true);
}

void SettingsTab::chooseLanguage(int index) {
    if (!languageBox_->isEnabled() || index < 0 || index >= static_cast<int>(languages_.size()))
        return;
    const std::string& chosen = languages_[static_cast<std::size_t>(index)].fileName;
    {
        const StateLock lock(context_.state.mutex);
        if (chosen == context_.state.settings.languageDll)
            return;
        context_.state.settings.languageDll = chosen;
    }
    emit languageChanged();
}

void SettingsTab::rescanLanguages() {
    languageBox_->setEnabled(false);
    std::string chosen;
    {
        const StateLock lock(context_.state.mutex);
        chosen = context_.state.settings.languageDll;
    }
    // The libraries are read without the lock; a language that is gone falls back to the
    // built-in one.
    discoverLanguageBox(chosen);
    if (!findLanguage(languages_, chosen)) {
        const StateLock lock(context_.state.mutex);
        context_.state.settings.languageDll.clear();
    }
    showLanguageTips();
    languageBox_->setEnabled(true);
}

void SettingsTab::openLanguageDialog() {
    bool exportWanted = false;
    bool downloaded = false;
    {
        WebDialog dialog(context_.state, context_.dialogs, WebDialog::Mode::Language,
                         downloadHost(context_.state), this);
        exportWanted = dialog.exec() == QDialog::Accepted;
        downloaded = dialog.languagePackageDownloaded();
    }
    // A failed export skips the rescan, as any error ends the work there.
    if (exportWanted && !exportLanguage())
        return;
    if (downloaded)
        rescanLanguages();
}

bool SettingsTab::exportLanguage() {
    AppState& state = context_.state;
    std::string stored;
    {
        const StateLock lock(state.mutex);
        stored = state.settings.lastLangugeResPath;
    }
    const auto chosen = context_.dialogs.chooseFolder(
        uiText(state, UiText::ExportLanguageFolderPrompt), fromPathBytes(stored));
    if (!chosen)
        return true;
    std::string folder = toPathBytes(*chosen);
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    {
        // Kept at once, also in the file: the next export starts there even if the program
        // ends without saving.
        const StateLock lock(state.mutex);
        state.settings.lastLangugeResPath = folder;
        state.profile.writeString("Settings", "LastLangugeResPath", folder);
        // A failure (or a read-only settings file) only loses the remembered folder.
        (void)writeSettingsKey(state, "Settings", "LastLangugeResPath", folder);
    }

    std::string languageDll;
    {
        const StateLock lock(state.mutex);
        languageDll = state.settings.languageDll;
    }
    const auto failure = writeLanguageExport(
        folder, languageExportFiles(state.languageFolders, languageDll, languages_));
    if (failure) {
        context_.dialogs.message(MessageKind::Error,
                                 fromPathBytes(folder) + fromWindows1252(*failure));
        return false;
    }
    context_.dialogs.openUrl(QUrl::fromLocalFile(fromPathBytes(folder)));
    return true;
}

} // namespace pelotest::desktop
