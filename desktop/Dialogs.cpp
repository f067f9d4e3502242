#include "desktop/Dialogs.h"

#include "desktop/Text.h"

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

bool QtDialogs::message(MessageKind kind, const QString& text) {
    QMessageBox box(parent_);
    box.setText(text);
    switch (kind) {
    case MessageKind::Warning:
        box.setIcon(QMessageBox::Warning);
        box.setWindowTitle(uiText(state_, kWarning));
        break;
    case MessageKind::Error:
        box.setIcon(QMessageBox::Critical);
        box.setWindowTitle(uiText(state_, kError));
        break;
    case MessageKind::Information:
        box.setIcon(QMessageBox::Information);
        box.setWindowTitle(uiText(state_, kInformation));
        break;
    case MessageKind::Confirmation:
        box.setIcon(QMessageBox::Question);
        box.setWindowTitle(uiText(state_, kConfirmation));
        break;
    }
    QPushButton* accept = nullptr;
    if (kind == MessageKind::Confirmation) {
        accept = box.addButton(uiText(state_, kYes), QMessageBox::YesRole);
        box.setDefaultButton(accept);
        box.setEscapeButton(box.addButton(uiText(state_, kNo), QMessageBox::NoRole));
    } else {
        accept = box.addButton(uiText(state_, kOk), QMessageBox::AcceptRole);
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
    dialog.setOkButtonText(uiText(state_, kOk));
    dialog.setCancelButtonText(uiText(state_, kCancel));
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
