#include "desktop/LanguageBox.h"

#include "desktop/LanguageSupport.h"
#include "desktop/PaneSupport.h"
#include "desktop/Text.h"
#include "desktop/WebDialog.h"

#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QToolButton>
#include <QUrl>

#include <utility>

namespace pelotest::desktop {

LanguageBox::LanguageBox(const PaneContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
    box_ = named(new QComboBox, "LanguageBox");
    box_->setIconSize(QSize(16, 16));
    button_ = named(new QToolButton, "LanguageButton");
    button_->setIcon(ImageList::button(QStringLiteral("infobt")));
    // A picture button: a screen reader says what its tip says.
    nameByToolTip(button_);
    box_->setEnabled(false);
    button_->setEnabled(false);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(box_, 1);
    row->addWidget(button_);
    setFocusProxy(box_);
    connect(box_, &QComboBox::activated, this, &LanguageBox::chooseLanguage);
    connect(box_, &QComboBox::currentIndexChanged, this, &LanguageBox::showChosenTip);
    connect(button_, &QToolButton::clicked, this, &LanguageBox::openLanguageDialog);
}

std::vector<LanguageEntry>
LanguageBox::settleStoredLanguage(const std::vector<std::filesystem::path>& folders,
                                  std::string& stored) {
    std::vector<LanguageEntry> languages = discoverLanguages(folders, stored);
    const auto offered = findLanguage(languages, stored);
    const std::string name = offered ? languages[*offered].fileName : std::string();
    if (name != stored) {
        stored = name;
        languages = discoverLanguages(folders, stored);
    }
    return languages;
}

void LanguageBox::showLanguages(std::vector<LanguageEntry> languages, const std::string& chosen) {
    languages_ = std::move(languages);
    fill(chosen);
}

void LanguageBox::fill(const std::string& chosen) {
    // Filled, not chosen: only the user's choice switches the language.
    const QSignalBlocker quiet(box_);
    box_->clear();
    for (const LanguageEntry& entry : languages_)
        box_->addItem(flagIcon(entry.flag), fromWindows1252(entry.displayName),
                      fromPathBytes(entry.fileName));
    box_->setCurrentIndex(static_cast<int>(findLanguage(languages_, chosen).value_or(0)));
    showChosenTip();
}

void LanguageBox::discover(const std::string& chosen) {
    languages_ = discoverLanguages(context_.state.languageFolders, chosen);
    fill(chosen);
}

void LanguageBox::applyTexts() {
    if (box_->count() > 0)
        box_->setItemText(0, uiText(context_.state, UiText::BuiltInLanguageName));
    button_->setToolTip(uiText(context_.state, UiText::LanguageDownloadCaption));
    showTips();
}

void LanguageBox::showTips() {
    for (std::size_t i = 0; i < languages_.size(); ++i) {
        const std::vector<int>& notUsed = languages_[i].textsNotUsed;
        const QVariant tip =
            notUsed.empty()
                ? QVariant()
                : QVariant(wrappedTip(uiTextWith(context_.state, UiText::LanguageTextsNotUsed,
                                                 QString::fromStdString(textIdList(notUsed)))));
        box_->setItemData(static_cast<int>(i), tip, Qt::ToolTipRole);
    }
    showChosenTip();
}

void LanguageBox::showChosenTip() {
    box_->setToolTip(box_->currentData(Qt::ToolTipRole).toString());
}

void LanguageBox::enableChoice() {
    box_->setEnabled(true);
    button_->setEnabled(true);
}

void LanguageBox::chooseLanguage(int index) {
    if (!box_->isEnabled() || index < 0 || index >= static_cast<int>(languages_.size()))
        return;
    if (context_.commands.chooseLanguage(languages_[static_cast<std::size_t>(index)].fileName))
        emit languageChanged();
}

void LanguageBox::rescanLanguages() {
    box_->setEnabled(false);
    const std::string chosen = context_.commands.settings().languageDll;
    // The libraries are read without the lock; a language that is gone falls back to the
    // built-in one.
    discover(chosen);
    if (!findLanguage(languages_, chosen))
        context_.commands.changeSettings([](Settings& s) { s.languageDll.clear(); });
    showTips();
    box_->setEnabled(true);
}

void LanguageBox::openLanguageDialog() {
    bool exportWanted = false;
    bool downloaded = false;
    exportWanted =
        WebDialog::run(context_.state, context_.dialogs, WebDialog::Mode::Language,
                       downloadHost(context_.commands), this, &downloaded) == QDialog::Accepted;
    // A failed export skips the rescan, as any error ends the work there.
    if (exportWanted && !exportLanguage())
        return;
    if (downloaded)
        rescanLanguages();
}

bool LanguageBox::exportLanguage() {
    const Settings settings = context_.commands.settings();
    const auto chosen =
        context_.dialogs.chooseFolder(uiText(context_.state, UiText::ExportLanguageFolderPrompt),
                                      fromPathBytes(settings.lastLangugeResPath));
    if (!chosen)
        return true;
    std::string folder = toPathBytes(*chosen);
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    // Kept at once, also in the file: the next export starts there even if the program ends
    // without saving.
    context_.commands.rememberExportFolder(folder);
    const auto failure =
        writeLanguageExport(folder, languageExportFiles(context_.state.languageFolders,
                                                        settings.languageDll, languages_));
    if (failure) {
        context_.dialogs.message(MessageKind::Error,
                                 fromPathBytes(folder) + fromWindows1252(*failure));
        return false;
    }
    context_.dialogs.openUrl(QUrl::fromLocalFile(fromPathBytes(folder)));
    return true;
}

} // namespace pelotest::desktop
