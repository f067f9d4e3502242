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

// UI texts of the message boxes.
enum : int {
    kOk = 112,
    kCancel = 113,
    kYes = 114,
    kNo = 115,
    kWarning = 116,
    kError = 117,
    kInformation = 118,
    kConfirmation = 119,
};

} // namespace

bool Dialogs::showModal(QDialog& dialog) {
    return dialog.exec() == QDialog::Accepted;
}

void Dialogs::openUrl(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

QString QtDialogs::text(int id) const {
    if (language_)
        return fromWindows1252(loadUiText(state_.languageFolders, *language_, UiText{id}));
    return uiText(state_, id);
}

bool QtDialogs::message(MessageKind kind, const QString& shown) {
    QMessageBox box(parent_);
    box.setText(shown);
    switch (kind) {
    case MessageKind::Warning:
        box.setIcon(QMessageBox::Warning);
        box.setWindowTitle(text(kWarning));
        break;
    case MessageKind::Error:
        box.setIcon(QMessageBox::Critical);
        box.setWindowTitle(text(kError));
        break;
    case MessageKind::Information:
        box.setIcon(QMessageBox::Information);
        box.setWindowTitle(text(kInformation));
        break;
    case MessageKind::Confirmation:
    case MessageKind::ConfirmationNoByDefault:
        box.setIcon(QMessageBox::Question);
        box.setWindowTitle(text(kConfirmation));
        break;
    }
    QPushButton* accept = nullptr;
    if (kind == MessageKind::Confirmation || kind == MessageKind::ConfirmationNoByDefault) {
        accept = box.addButton(text(kYes), QMessageBox::YesRole);
        QPushButton* refuse = box.addButton(text(kNo), QMessageBox::NoRole);
        box.setDefaultButton(kind == MessageKind::Confirmation ? accept : refuse);
        box.setEscapeButton(refuse);
    } else {
        accept = box.addButton(text(kOk), QMessageBox::AcceptRole);
        box.setEscapeButton(accept);
    }
    box.exec();
    return box.clickedButton() == accept;
}

std::optional<QString> QtDialogs::input(const QString& caption, const QString& prompt,
                                        const QString& preset) {
    QInputDialog dialog(parent_);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(prompt);
    dialog.setTextValue(preset);
    dialog.setOkButtonText(text(kOk));
    dialog.setCancelButtonText(text(kCancel));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

std::optional<QString> QtDialogs::chooseFolder(const QString& title, const QString& initial) {
    // A folder that does not exist is no starting point; the dialog then opens where it likes.
    const QString start = !initial.isEmpty() && QDir(initial).exists() ? initial : QString();
    const QString chosen =
        QFileDialog::getExistingDirectory(parent_, title, start, QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(chosen);
}

} // namespace pelotest::desktop
