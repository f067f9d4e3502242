#pragma once
// The settings tab's language choice: the box of the installed languages (built-in German first,
// a flag and a tip for each library whose texts are not all used) and its button, which opens the
// download dialog and then exports the translator's template or lists the libraries anew.

#include "desktop/PaneSupport.h"
#include "language/Languages.h"

#include <QWidget>

#include <filesystem>
#include <string>
#include <vector>

class QComboBox;
class QToolButton;

namespace pelotest::desktop {

class LanguageBox : public QWidget {
    Q_OBJECT

  public:
    explicit LanguageBox(const PaneContext& context, QWidget* parent = nullptr);

    // At start-up, under the load's lock: the languages offered, and the stored language made
    // one of them (one that is no longer offered becomes the built-in one, one that is offered
    // is named as its file is: the name may have been stored in another case, and file names
    // here are case-sensitive). Touches no widget.
    static std::vector<LanguageEntry>
    settleStoredLanguage(const std::vector<std::filesystem::path>& folders, std::string& stored);
    // Fills the box with languages and selects chosen.
    void showLanguages(std::vector<LanguageEntry> languages, const std::string& chosen);

    void applyTexts();
    // The entries of the box, in its order (entry 0: built-in German).
    const std::vector<LanguageEntry>& languageList() const { return languages_; }
    // The box and its button, disabled until the first language is applied.
    void enableChoice();
    // The box's entry index was chosen: switches the language when it is another one.
    void chooseLanguage(int index);
    // The button: the download dialog; afterwards the export (when asked for) and the rescan
    // (when a library was saved).
    void openLanguageDialog();
    // The translator's template into a folder the user chooses; false when it was not written.
    bool exportLanguage();
    // Lists the libraries anew after a download (the texts on screen stay as they are).
    void rescanLanguages();
    QComboBox* box() const { return box_; }

  signals:
    // Another language is the current one: every text of the window is to be set again.
    void languageChanged();

  private:
    // Fills the box from a fresh discovery and selects the current language, chosen.
    void discover(const std::string& chosen);
    void fill(const std::string& chosen);
    // The tips of the entries whose libraries have texts that are not used, in the current
    // language, and the box's tip.
    void showTips();
    // The box's tip is the chosen entry's: a translator sees why some texts stay German.
    void showChosenTip();

    PaneContext context_;
    std::vector<LanguageEntry> languages_;
    QComboBox* box_ = nullptr;
    QToolButton* button_ = nullptr;
};

} // namespace pelotest::desktop
