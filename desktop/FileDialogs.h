#pragma once
// Files the window opens for the user: the editor the desktop registers for a file's type, the
// selection of a template for an event, and the properties of a logged file.

#include "language/UiTexts.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;

namespace pelotest::desktop {

// Opens a file in the desktop's editor for its type without waiting for it; tests replace it.
class FileOpener {
  public:
    virtual ~FileOpener() = default;
    // False when the desktop has no program for the file.
    virtual bool edit(const QString& path) = 0;
};

// QDesktopServices: the application the desktop associates with the file's type. The file goes
// to the desktop as an absolute file:// address: a relative path in an address (file:tpl/a.htm)
// is one that desktops such as GNOME's refuse to open.
class DesktopFileOpener : public FileOpener {
  public:
    // Hands an address to the desktop; false when it cannot open it. Tests replace it.
    using OpenUrl = std::function<bool(const QUrl&)>;
    explicit DesktopFileOpener(OpenUrl openUrl = {});
    bool edit(const QString& path) override;

  private:
    OpenUrl openUrl_;
};

// The small dialog that offers the files of the templates folder for one event node. It labels
// itself from the built-in texts; the assign command puts the current language's texts on it.
class SelectPageDialog : public QDialog {
    Q_OBJECT

  public:
    explicit SelectPageDialog(QWidget* parent = nullptr);

    void setTexts(const QString& caption, const QString& question, const QString& ok,
                  const QString& cancel);
    // The names offered, in the order given; the entry starts empty.
    void setNames(const QStringList& names);
    // Selects the offered name equal to name ignoring case; false (nothing selected) when none is.
    bool preselect(const QString& name);
    // What the user chose or typed.
    QString entry() const;
    void setEntry(const QString& entry);

    QLabel* question() const { return question_; }
    QComboBox* names() const { return names_; }
    QPushButton* okButton() const { return okButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }

  private:
    QLabel* question_;
    QComboBox* names_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
};

// Path, size, type, permissions and times of a file (or of what stands at the path), read when
// the dialog is made.
class FilePropertiesDialog : public QDialog {
    Q_OBJECT

  public:
    // okText: the button that closes it, in the current language.
    // text gives the UI texts of the labels and the button in the current language.
    FilePropertiesDialog(const QString& path, const std::function<QString(UiText)>& text,
                         QWidget* parent = nullptr);
    // The shown value of a field by its German label ("Pfad", "Größe", "Typ", "Rechte",
    // "Geändert", ...), empty when the dialog has no such field.
    QString field(const QString& label) const;

  private:
    QStringList labels_;
    QStringList values_;
};

} // namespace pelotest::desktop
