#include "desktop/FileDialogs.h"

#include "desktop/Dialogs.h"
#include "desktop/Text.h"
#include "language/UiTexts.h"

#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeDatabase>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace pelotest::desktop {

DesktopFileOpener::DesktopFileOpener(OpenUrl openUrl)
    : openUrl_(openUrl ? std::move(openUrl)
                       : OpenUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); })) {}

bool DesktopFileOpener::edit(const QString& path) {
    return openUrl_(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

// ---------------------------------------------------------------------------------------------

namespace {

QString builtIn(UiText id) {
    return withLineBreaks(fromWindows1252(loadBuiltInUiText(id)));
}

} // namespace

SelectPageDialog::SelectPageDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SelectPage"));
    setWindowFlags(kFixedDialogFlags);
    question_ = new QLabel(this);
    question_->setObjectName(QStringLiteral("SelectPageQuestion"));
    question_->setWordWrap(true);
    names_ = new QComboBox(this);
    names_->setObjectName(QStringLiteral("SelectPageNames"));
    names_->setEditable(true);
    names_->setInsertPolicy(QComboBox::NoInsert);
    names_->setMaxVisibleItems(20);
    okButton_ = new QPushButton(this);
    okButton_->setObjectName(QStringLiteral("SelectPageOk"));
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(this);
    cancelButton_->setObjectName(QStringLiteral("SelectPageCancel"));
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

    // The design's client area is 268 x 114; fonts decide the rest.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->addWidget(question_);
    column->addWidget(names_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);
    buttons->addStretch(1);
    column->addLayout(buttons);
    column->setSizeConstraint(QLayout::SetFixedSize);
    question_->setFixedWidth(245);
    names_->setFixedWidth(245);

    setTexts(builtIn(UiText::SelectTemplateCaption), builtIn(UiText::SelectTemplatePrompt),
             builtIn(UiText::SelectTemplateOk), builtIn(UiText::SelectTemplateCancel));
}

void SelectPageDialog::setTexts(const QString& caption, const QString& question, const QString& ok,
                                const QString& cancel) {
    setWindowTitle(caption);
    question_->setText(question);
    okButton_->setText(ok);
    cancelButton_->setText(cancel);
}

void SelectPageDialog::setNames(const QStringList& names) {
    names_->clear();
    names_->addItems(names);
    names_->setCurrentIndex(-1);
    names_->clearEditText();
}

bool SelectPageDialog::preselect(const QString& name) {
    for (int i = 0; i < names_->count(); ++i) {
        if (names_->itemText(i).compare(name, Qt::CaseInsensitive) == 0) {
            names_->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

QString SelectPageDialog::entry() const {
    return names_->currentText();
}

void SelectPageDialog::setEntry(const QString& entry) {
    names_->setEditText(entry);
}

// ---------------------------------------------------------------------------------------------

namespace {

QString permissionText(QFile::Permissions p) {
    QString text;
    const std::pair<QFile::Permission, char> bits[] = {
        {QFile::ReadOwner, 'r'}, {QFile::WriteOwner, 'w'}, {QFile::ExeOwner, 'x'},
        {QFile::ReadGroup, 'r'}, {QFile::WriteGroup, 'w'}, {QFile::ExeGroup, 'x'},
        {QFile::ReadOther, 'r'}, {QFile::WriteOther, 'w'}, {QFile::ExeOther, 'x'}};
    for (const auto& [bit, letter] : bits)
        text += (p & bit) ? QLatin1Char(letter) : QLatin1Char('-');
    return text;
}

QString timeText(const QDateTime& time) {
    return time.isValid() ? QLocale().toString(time, QLocale::LongFormat) : QStringLiteral("-");
}

} // namespace

FilePropertiesDialog::FilePropertiesDialog(const QString& path,
                                           const std::function<QString(UiText)>& text,
                                           QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("FileProperties"));
    setWindowFlags(kFixedDialogFlags);
    const QFileInfo info(path);
    const QLocale locale;
    setWindowTitle(info.fileName().isEmpty() ? path : info.fileName());

    const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
    const auto add = [this](const QString& label, const QString& value) {
        labels_ << label;
        values_ << value;
    };
    add(text(UiText::PropertiesPath), QDir::toNativeSeparators(info.absoluteFilePath()));
    add(text(UiText::PropertiesSize),
        text(UiText::PropertiesSizeBytes)
            .arg(locale.formattedDataSize(info.size()), locale.toString(info.size())));
    add(text(UiText::PropertiesType),
        type.comment().isEmpty() ? type.name()
                                 : QStringLiteral("%1 (%2)").arg(type.comment(), type.name()));
    add(text(UiText::PropertiesPermissions),
        QStringLiteral("%1  %2:%3")
            .arg(permissionText(info.permissions()), info.owner(), info.group()));
    if (info.isSymLink())
        add(text(UiText::PropertiesLinkTarget), info.symLinkTarget());
    add(text(UiText::PropertiesCreated), timeText(info.birthTime()));
    add(text(UiText::PropertiesModified), timeText(info.lastModified()));
    add(text(UiText::PropertiesRead), timeText(info.lastRead()));

    auto* form = new QFormLayout;
    for (int i = 0; i < labels_.size(); ++i) {
        // Selectable, so that the path can be copied.
        auto* value = new QLineEdit(values_[i]);
        value->setReadOnly(true);
        value->setFrame(false);
        value->setMinimumWidth(360);
        value->setCursorPosition(0);
        form->addRow(labels_[i] + QLatin1Char(':'), value);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    buttons->button(QDialogButtonBox::Ok)->setText(text(UiText::MessageOk));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addWidget(buttons);
}

QString FilePropertiesDialog::field(const QString& label) const {
    const qsizetype at = labels_.indexOf(label);
    return at < 0 ? QString() : values_[at];
}

} // namespace pelotest::desktop
