#pragma once
// Every modal question the desktop asks goes through Dialogs: message boxes, input boxes and the
// folder chooser. The window uses QtDialogs; tests hand it a scripted implementation that
// answers without a person.

#include "language/UiTexts.h"
#include "state/AppState.h"

#include <QFlags>
#include <QString>
#include <Qt>

#include <optional>
#include <string>

class QDialog;
class QUrl;
class QWidget;

namespace pelotest::desktop {

// The frame of every dialog of the program: a title, the system menu and a close button, no
// minimise and no maximise, and no resizing where the platform honours the hint.
inline constexpr Qt::WindowFlags kFixedDialogFlags =
    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowCloseButtonHint;

// The kinds of message box: the first three have one button OK; the two confirmations have Yes
// and No, and differ in the button that Enter presses: Yes, or No for a question whose Yes
// destroys something (replacing a file).
enum class MessageKind { Warning, Error, Information, Confirmation, ConfirmationNoByDefault };

class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // Shows text; true for OK or Yes.
    virtual bool message(MessageKind kind, const QString& text) = 0;
    // An input box with caption, prompt and a pre-filled value; nullopt when cancelled.
    virtual std::optional<QString> input(const QString& caption, const QString& prompt,
                                         const QString& preset) = 0;
    // A folder chooser (folders only) with title as its instruction; the initial folder is
    // preselected when it exists. nullopt when cancelled.
    virtual std::optional<QString> chooseFolder(const QString& title, const QString& initial) = 0;
    // A dialog of the window's own (template selection, file properties), filled in by the
    // caller and shown modally; true when it was accepted.
    virtual bool showModal(QDialog& dialog);
    // The captions and button texts of the message boxes (UI texts 112 to 119) come from the
    // library languageDll instead of the current language; nullopt returns to the current one.
    // The shared LanguageDll stays untouched, so pages served meanwhile keep their language.
    virtual void setMessageLanguage(std::optional<std::string> languageDll) { (void)languageDll; }
    // Opens an address (a web page, a folder) in the desktop's default application; false when
    // the desktop started none.
    virtual bool openUrl(const QUrl& url);
};

// The real dialogs: QMessageBox, QInputDialog and QFileDialog, modal to parent, with the
// captions and button texts of UI texts 112 to 119 in the current language.
class QtDialogs : public Dialogs {
  public:
    QtDialogs(const AppState& state, QWidget* parent) : state_(state), parent_(parent) {}

    bool message(MessageKind kind, const QString& text) override;
    std::optional<QString> input(const QString& caption, const QString& prompt,
                                 const QString& preset) override;
    std::optional<QString> chooseFolder(const QString& title, const QString& initial) override;
    void setMessageLanguage(std::optional<std::string> languageDll) override {
        language_ = std::move(languageDll);
    }

  private:
    QString text(UiText id) const;

    const AppState& state_;
    QWidget* parent_;
    std::optional<std::string> language_;
};

} // namespace pelotest::desktop
