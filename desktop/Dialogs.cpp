#include "desktop/Dialogs.h"

#include "desktop/Text.h"
#include "language/UiTexts.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace pelotest::desktop {
namespace {

// From this many characters on, a value is edited in a box of several lines.
constexpr qsizetype kLongValue = 60;

} // namespace

bool Dialogs::showModal(QDialog& dialog) {
    return dialog.exec() == QDialog::Accepted;
}

bool Dialogs::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

QString QtDialogs::text(UiText id) const {
    if (language_)
        return withLineBreaks(fromWindows1252(loadUiText(state_.languageFolders, *language_, id)));
    return uiText(state_, id);
}

bool QtDialogs::message(MessageKind kind, const QString& shown) {
    QMessageBox box(parent_);
    box.setWindowFlags(kFixedDialogFlags);
    // Plain text, never markup: a message may carry names from outside (a file's, the program
    // that holds the port), which must show as they are.
    box.setTextFormat(Qt::PlainText);
    box.setText(shown);
    switch (kind) {
    case MessageKind::Warning:
        box.setIcon(QMessageBox::Warning);
        box.setWindowTitle(text(UiText::MessageWarning));
        break;
    case MessageKind::Error:
        box.setIcon(QMessageBox::Critical);
        box.setWindowTitle(text(UiText::MessageError));
        break;
    case MessageKind::Information:
        box.setIcon(QMessageBox::Information);
        box.setWindowTitle(text(UiText::MessageInformation));
        break;
    case MessageKind::Confirmation:
    case MessageKind::ConfirmationNoByDefault:
        box.setIcon(QMessageBox::Question);
        box.setWindowTitle(text(UiText::MessageConfirmation));
        break;
    }
    QPushButton* accept = nullptr;
    if (kind == MessageKind::Confirmation || kind == MessageKind::ConfirmationNoByDefault) {
        accept = box.addButton(text(UiText::MessageYes), QMessageBox::YesRole);
        QPushButton* refuse = box.addButton(text(UiText::MessageNo), QMessageBox::NoRole);
        box.setDefaultButton(kind == MessageKind::Confirmation ? accept : refuse);
        box.setEscapeButton(refuse);
    } else {
        accept = box.addButton(text(UiText::MessageOk), QMessageBox::AcceptRole);
        box.setEscapeButton(accept);
    }
    box.exec();
    return box.clickedButton() == accept;
}

std::optional<QString> QtDialogs::input(const QString& caption, const QString& prompt,
                                        const QString& preset) {
    QInputDialog dialog(parent_);
    dialog.setWindowFlags(kFixedDialogFlags);
    dialog.setWindowTitle(caption);
    // A long or multi-line value gets a box of several lines, wide enough to read it.
    if (preset.size() > kLongValue || preset.contains(QLatin1Char('\n'))) {
        dialog.setOption(QInputDialog::UsePlainTextEditForTextInput);
        dialog.resize(480, 280);
    }
    dialog.setLabelText(prompt);
    dialog.setTextValue(preset);
    dialog.setOkButtonText(text(UiText::MessageOk));
    dialog.setCancelButtonText(text(UiText::MessageCancel));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

std::optional<QString> QtDialogs::chooseFolder(const QString& title, const QString& initial) {
    // A folder that does not exist is no starting point; the dialog then opens where it likes.
    const QString start = !initial.isEmpty() && QDir(initial).exists() ? initial : QString();
    // The program's own chooser: it picks a folder and makes none (read-only, no "new folder").
    QFileDialog dialog(parent_, title, start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog |
                      QFileDialog::ReadOnly);
    if (auto* newFolder = dialog.findChild<QWidget*>(QStringLiteral("newFolderButton")))
        newFolder->hide();
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().front());
}

} // namespace pelotest::desktop
