#include "desktop/FileDialogs.h"

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

bool DesktopFileOpener::edit(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

// ---------------------------------------------------------------------------------------------

namespace {

QString builtIn(int id) {
    return fromWindows1252(loadBuiltInUiText(UiText{id}));
}

} // namespace

SelectPageDialog::SelectPageDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SelectPage"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setMaxVisibleItems(20);
    Button2 = new QPushButton(this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setDefault(true);
    Button1 = new QPushButton(this);
    Button1->setObjectName(QStringLiteral("Button1"));
    connect(Button2, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);

    // The design's client area is 268 x 114; fonts decide the rest.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->addWidget(Label1);
    column->addWidget(ComboBox1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button2);
    buttons->addWidget(Button1);
    buttons->addStretch(1);
    column->addLayout(buttons);
    column->setSizeConstraint(QLayout::SetFixedSize);
    Label1->setFixedWidth(245);
    ComboBox1->setFixedWidth(245);

    setTexts(builtIn(42), builtIn(43), builtIn(44), builtIn(45));
}

void SelectPageDialog::setTexts(const QString& caption, const QString& question, const QString& ok,
                                const QString& cancel) {
    setWindowTitle(caption);
    Label1->setText(question);
    Button2->setText(ok);
    Button1->setText(cancel);
}

void SelectPageDialog::setNames(const QStringList& names) {
    ComboBox1->clear();
    ComboBox1->addItems(names);
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->clearEditText();
}

bool SelectPageDialog::preselect(const QString& name) {
    for (int i = 0; i < ComboBox1->count(); ++i) {
        if (ComboBox1->itemText(i).compare(name, Qt::CaseInsensitive) == 0) {
            ComboBox1->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

QString SelectPageDialog::entry() const {
    return ComboBox1->currentText();
}

void SelectPageDialog::setEntry(const QString& entry) {
    ComboBox1->setEditText(entry);
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

FilePropertiesDialog::FilePropertiesDialog(const QString& path, const QString& okText,
                                           QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("FileProperties"));
    const QFileInfo info(path);
    const QLocale locale;
    setWindowTitle(info.fileName().isEmpty() ? path : info.fileName());

    // No UI texts exist for these labels yet; they are German like the built-in texts.
    const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
    const auto add = [this](const QString& label, const QString& value) {
        labels_ << label;
        values_ << value;
    };
    add(QStringLiteral("Pfad"), QDir::toNativeSeparators(info.absoluteFilePath()));
    add(QStringLiteral("Größe"),
        QStringLiteral("%1 (%2 Bytes)")
            .arg(locale.formattedDataSize(info.size()), locale.toString(info.size())));
    add(QStringLiteral("Typ"), type.comment().isEmpty()
                                   ? type.name()
                                   : QStringLiteral("%1 (%2)").arg(type.comment(), type.name()));
    add(QStringLiteral("Rechte"),
        QStringLiteral("%1  %2:%3")
            .arg(permissionText(info.permissions()), info.owner(), info.group()));
    if (info.isSymLink())
        add(QStringLiteral("Verweis auf"), info.symLinkTarget());
    add(QStringLiteral("Erstellt"), timeText(info.birthTime()));
    add(QStringLiteral("Geändert"), timeText(info.lastModified()));
    add(QStringLiteral("Gelesen"), timeText(info.lastRead()));

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
    buttons->button(QDialogButtonBox::Ok)->setText(okText);
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
