#include "desktop/PaneSupport.h"

#include "desktop/Text.h"
#include "server/RequestContext.h"
#include "state/TextCase.h"

#include <QAbstractButton>
#include <QAction>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QWidget>

#include <algorithm>
#include <filesystem>

namespace pelotest::desktop {

namespace fs = std::filesystem;

QTableView* reportList(const char* name) {
    auto* view = named(new QTableView, name);
    view->setShowGrid(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    return view;
}

QMenu* contextMenuOf(QAbstractItemView* view, const char* name) {
    auto* menu = named(new QMenu(view), name);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(
        view, &QWidget::customContextMenuRequested, menu,
        [view, menu](const QPoint& at) { menu->popup(view->viewport()->mapToGlobal(at)); });
    return menu;
}

namespace {

// Turns Shift+F10 and the menu key into the list's context menu request, at the current row
// (or the top left corner when no row is current), as a right click there would.
class ContextMenuKeys : public QObject {
  public:
    explicit ContextMenuKeys(QAbstractItemView* view) : QObject(view), view_(view) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != view_ || event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool menuKey = key->key() == Qt::Key_Menu ||
                             (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
        if (!menuKey)
            return false;
        const QModelIndex current = view_->currentIndex();
        const QPoint at = current.isValid() ? view_->visualRect(current).center() : QPoint(4, 4);
        emit view_->customContextMenuRequested(at);
        return true;
    }

  private:
    QAbstractItemView* view_;
};

} // namespace

void enableListKeyboard(QAbstractItemView* view, std::initializer_list<QAction*> actions) {
    view->setTabKeyNavigation(false);
    view->installEventFilter(new ContextMenuKeys(view));
    for (QAction* action : actions) {
        action->setShortcutContext(Qt::WidgetShortcut);
        view->addAction(action);
    }
}

RowFilter::RowFilter(StateTableModel* source, QObject* parent)
    : QSortFilterProxyModel(parent), source_(source) {
    setSourceModel(source);
    setDynamicSortFilter(false);
}

void RowFilter::setText(const QString& text) {
    text_ = text;
    pattern_ = QRegularExpression(QRegularExpression::escape(text),
                                  QRegularExpression::CaseInsensitiveOption);
    asciiText_.reset();
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; }))
        asciiText_ = text.toStdString();
    // Only a filter that hides rows looks at the rows again when they change (switched only when
    // that changes: switching it on lays the whole list out again).
    if (dynamicSortFilter() == text.isEmpty())
        setDynamicSortFilter(!text.isEmpty());
    // The rows are filtered anew as one change of the layout: a filter that leaves rows here and
    // there would otherwise announce each gap as rows removed, and the views pay for every
    // announcement with the whole list (a key could take seconds with 100,000 rows).
    invalidate();
}

bool RowFilter::filterAcceptsRow(int row, const QModelIndex& parent) const {
    if (text_.isEmpty())
        return true;
    if (asciiText_ && !parent.isValid())
        if (const std::optional<bool> shows = source_->rowShowsAscii(row, *asciiText_))
            return *shows;
    for (int column = 0; column < source_->columnCount(parent); ++column)
        if (source_->index(row, column, parent).data().toString().contains(pattern_))
            return true;
    return false;
}

QLineEdit* filterFieldFor(RowFilter* filter, const char* name) {
    auto* field = named(new QLineEdit, name);
    field->setClearButtonEnabled(true);
    QObject::connect(field, &QLineEdit::textChanged, filter, &RowFilter::setText);
    return field;
}

QUrl serverPageUrl(const PaneContext& context, std::string_view document, std::string_view query) {
    if (context.serverUrl.isEmpty())
        return {};
    QByteArray address = context.serverUrl.toUtf8();
    address.chop(1); // the server's address ends with the root's '/'
    // The path's bytes as the server decodes them again; '/' stays a separator.
    address +=
        QByteArray(document.data(), static_cast<qsizetype>(document.size())).toPercentEncoding("/");
    if (!query.empty())
        address += '?' + QByteArray(query.data(), static_cast<qsizetype>(query.size()));
    return QUrl::fromEncoded(address, QUrl::TolerantMode);
}

QUrl eventPageUrl(const PaneContext& context, std::string_view event) {
    std::string document = "/";
    std::string query;
    {
        const Settings settings = context.commands.settings();
        // The virtual folder as the server reads it.
        const std::string_view folder = virtualFolderOf(settings.virtualPath);
        // Ending in '/', so that the template's relative links stay inside the virtual folder.
        if (!folder.empty())
            document.append(folder).append(1, '/');
        std::replace(document.begin(), document.end(), '\\', '/');
        if (!event.empty())
            query = settings.event + '=' +
                    QByteArray(event.data(), static_cast<qsizetype>(event.size()))
                        .toPercentEncoding()
                        .toStdString();
    }
    return serverPageUrl(context, document, query);
}

namespace {

class ToolTipName : public QObject {
  public:
    explicit ToolTipName(QWidget* control) : QObject(control), control_(control) {
        control->installEventFilter(this);
        control->setAccessibleName(control->toolTip());
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == control_ && event->type() == QEvent::ToolTipChange)
            control_->setAccessibleName(control_->toolTip());
        return false;
    }

  private:
    QWidget* control_;
};

} // namespace

void nameByToolTip(QWidget* control) {
    new ToolTipName(control);
}

void assignMnemonics(std::initializer_list<QWidget*> controls) {
    QString taken;
    for (QWidget* control : controls) {
        auto* label = qobject_cast<QLabel*>(control);
        auto* button = qobject_cast<QAbstractButton*>(control);
        if (!label && !button)
            continue;
        // The UI texts are written for controls with keys already: "&&" shows one '&', and a
        // text that marks its own letter keeps it.
        QString marked = label ? label->text() : button->text();
        qsizetype candidate = -1;
        bool ownKey = false;
        for (qsizetype i = 0; i < marked.size(); ++i) {
            if (marked[i] == QLatin1Char('&')) {
                if (i + 1 < marked.size() && marked[i + 1] != QLatin1Char('&')) {
                    ownKey = true;
                    taken += marked[i + 1].toLower();
                    break;
                }
                ++i; // "&&"
                continue;
            }
            const QChar c = marked[i].toLower();
            if (candidate < 0 && c.isLetter() && !taken.contains(c))
                candidate = i;
        }
        if (ownKey || candidate < 0)
            continue;
        taken += marked[candidate].toLower();
        marked.insert(candidate, QLatin1Char('&'));
        if (label)
            label->setText(marked);
        else
            button->setText(marked);
    }
}

void openInBrowser(const PaneContext& context, const QUrl& url) {
    // A desktop without a browser (or one that refuses the address) leaves the user with the
    // address to open by hand.
    if (url.isValid() && !context.dialogs.openUrl(url))
        context.dialogs.message(
            MessageKind::Warning,
            uiTextWith(context.state, UiText::NoBrowserStarted, url.toDisplayString()));
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError))
            names.push_back(it->path().filename().string());
    }
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return compareIgnoreCase(a, b) < 0;
    });
    return names;
}

bool isRegularFile(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

void openInEditor(const PaneContext& context, const QString& path) {
    if (!context.opener.edit(path))
        context.dialogs.message(MessageKind::Error,
                                uiTextWith(context.state, UiText::FileNotOpened, path));
}

} // namespace pelotest::desktop
