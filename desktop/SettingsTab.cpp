#include "desktop/SettingsTab.h"

#include "desktop/Autostart.h"
#include "desktop/LanguageBox.h"
#include "desktop/Text.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
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
    nameByToolTip(button);
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
    startParametersMark_ = questionMark;
    nameByToolTip(questionMark);
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
    languageLabel_->setEnabled(false);
    languageBox_ = named(new LanguageBox(context_), "LanguageChoice");
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
    languageLabel_->setBuddy(languageBox_->box());
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
    grid->addWidget(languageBox_, 0, 3);
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
    startStopButton_->setToolTip(
        text(startStopButton_->isChecked() ? UiText::ServerStop : UiText::ServerStart));
    templateFolderButton_->setToolTip(text(UiText::ChooseTemplateFolder));
    staticFolderButton_->setToolTip(text(UiText::ChooseStaticFolder));
    startParametersMark_->setToolTip(text(UiText::StartParametersTip));
    folderMissingTip_ = text(UiText::FolderDoesNotExist);
    markFolder(templateFolderField_, templateFolderMissing_);
    markFolder(staticFolderField_, staticFolderMissing_);
    // Alt+letter reaches every field and box of the tab, in the order a reader meets them.
    assignMnemonics({templateFolderLabel_, virtualFolderLabel_, staticFolderLabel_, startPageLabel_,
                     startParametersLabel_, portLabel_, languageLabel_, autoSortBox_,
                     logLimitLabel_, saveLogBox_, autostartBox_, remoteEditorBox_, reloadTimeLabel_,
                     liveReloadBox_});
    languageBox_->applyTexts();
}

// A folder field's tip is the absolute folder the server uses (a relative folder is taken from
// the working folder), and a warning picture marks a folder that does not exist. A folder with
// variables is only known once a request expands it: it gets neither.
void SettingsTab::markFolder(QLineEdit* field, QAction* missing) {
    const QString folder = field->text();
    if (folder.isEmpty() || folder.contains(fromWindows1252(folderVariableStart_))) {
        field->setToolTip(QString());
        missing->setVisible(false);
        return;
    }
    const QString absolute = absolutePath(folder);
    field->setToolTip(absolute);
    missing->setToolTip(folderMissingTip_.isEmpty() ? absolute : folderMissingTip_.arg(absolute));
    missing->setVisible(!QFileInfo(absolute).isDir());
}

// ---------------------------------------------------------------------------------------------
// The binding to Settings.

template <class Change>
void SettingsTab::updateSettings(Change change) {
    context_.commands.changeSettings(change);
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
        updateSettings([&](Settings& s) { s.liveReload = on; });
        emit liveReloadSwitched(on);
    });
    connect(autostartBox_, &QCheckBox::clicked, this, &SettingsTab::switchAutostart);
    connect(autoSortBox_, &QCheckBox::clicked, this, &SettingsTab::autoSortClicked);
    connect(startStopButton_, &QToolButton::clicked, this, &SettingsTab::startStopClicked);
    connect(templateFolderButton_, &QToolButton::clicked, this, &SettingsTab::chooseTemplateFolder);
    connect(staticFolderButton_, &QToolButton::clicked, this, &SettingsTab::chooseStaticFolder);
    connect(languageBox_, &LanguageBox::languageChanged, this, &SettingsTab::languageChanged);
}

void SettingsTab::showSettings(const Settings& s) {
    folderVariableStart_ = s.varBefore;
    {
        // Shown, not typed: the controls' signals would only write the same values back.
        const QSignalBlocker blocked[] = {QSignalBlocker(templateFolderField_),
                                          QSignalBlocker(virtualFolderField_),
                                          QSignalBlocker(staticFolderField_),
                                          QSignalBlocker(startPageBox_),
                                          QSignalBlocker(startParametersField_),
                                          QSignalBlocker(autoSortBox_),
                                          QSignalBlocker(remoteEditorBox_),
                                          QSignalBlocker(saveLogBox_),
                                          QSignalBlocker(portField_),
                                          QSignalBlocker(logLimitField_),
                                          QSignalBlocker(reloadTimeField_),
                                          QSignalBlocker(liveReloadBox_),
                                          QSignalBlocker(autostartBox_)};
        templateFolderField_->setText(fromPathBytes(s.dynamicPath));
        virtualFolderField_->setText(fromWindows1252(s.virtualPath));
        staticFolderField_->setText(fromPathBytes(s.staticPath));
        offerStartPages();
        startPageBox_->setEditText(fromPathBytes(s.staticSite));
        startParametersField_->setText(fromWindows1252(s.staticParameter));
        autoSortBox_->setChecked(s.variablesAutoSort);
        remoteEditorBox_->setChecked(s.remoteEdit);
        saveLogBox_->setChecked(s.saveLog);
        portField_->setValue(s.port);
        logLimitField_->setValue(s.maxLog);
        reloadTimeField_->setValue(s.remoteEditReload);
        // --live-reload holds live reload on for this run and never changes the key: the box
        // shows it on and cannot be switched, so that nothing the user clicks is silently not
        // stored.
        const bool heldOn = context_.state.runOverrides.liveReload;
        liveReloadBox_->setChecked(s.liveReload || heldOn);
        liveReloadBox_->setEnabled(!heldOn);
        liveReloadBox_->setToolTip(heldOn ? liveReloadHeldTip_ : QString());
        autostartBox_->setChecked(autostartEntryExists());
    }
    markFolder(templateFolderField_, templateFolderMissing_);
    markFolder(staticFolderField_, staticFolderMissing_);
    enableRemoteEditor();
    emit foldersEdited();
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
    const Settings settings = context_.commands.settings();
    {
        const QSignalBlocker site(startPageBox_), parameter(startParametersField_);
        startPageBox_->setEditText(fromPathBytes(settings.staticSite));
        startParametersField_->setText(fromWindows1252(settings.staticParameter));
    }
    enableRemoteEditor();
}

void SettingsTab::followAutoSortSetting() {
    const bool autoSort = context_.commands.settings().variablesAutoSort;
    const QSignalBlocker quiet(autoSortBox_);
    autoSortBox_->setChecked(autoSort);
}

// The start pages offered are the files of the static folder; the start page's text stays.
void SettingsTab::offerStartPages() {
    std::string folder = toPathBytes(staticFolderField_->text());
    std::replace(folder.begin(), folder.end(), '\\', '/');
    if (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const QString site = startPageBox_->currentText();
    const QSignalBlocker quiet(startPageBox_); // the list changes, the start page does not
    startPageBox_->clear();
    if (!folder.empty())
        for (const std::string& name : filesIn(folder))
            startPageBox_->addItem(fromPathBytes(name));
    startPageBox_->setEditText(site);
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
    const ExpandedFolder expanded = context_.commands.templatesFolder(context_.host, false);
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
// The server's button and the language box.

void SettingsTab::showServerState(bool running, bool stopping) {
    startStopButton_->setChecked(running);
    startStopButton_->setEnabled(!stopping);
    startStopButton_->setIcon(context_.images.icon(running ? ImageList::kStop : ImageList::kStart));
    startStopButton_->setToolTip(
        uiText(context_.state, running ? UiText::ServerStop : UiText::ServerStart));
    portLabel_->setEnabled(!running && !stopping);
    portField_->setEnabled(!running && !stopping);
}

void SettingsTab::showLanguages(std::vector<LanguageEntry> languages, const std::string& chosen) {
    languageBox_->showLanguages(std::move(languages), chosen);
}

void SettingsTab::enableLanguageChoice() {
    languageLabel_->setEnabled(true);
    languageBox_->enableChoice();
}

void SettingsTab::chooseLanguage(int index) {
    languageBox_->chooseLanguage(index);
}

bool SettingsTab::exportLanguage() {
    return languageBox_->exportLanguage();
}

} // namespace pelotest::desktop
