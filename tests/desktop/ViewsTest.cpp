// The three views of the main window on the offscreen platform, against a real server and real
// requests: the events/templates tree with the selection dialog, the variables list, the log,
// and all three while requests change them from other threads.

#include "DesktopFixture.h"
#include "desktop/MainWindow.h"
#include "support/HttpTestClient.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QTableView>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

namespace pelotest::test {
namespace {

using desktop::ImageList;
using desktop::MainWindow;
using desktop::MessageKind;

// A UI text as a message box shows it: %1 filled, line-break markers as line breaks.
QString shown(int id, const QString& arg = {}) {
    return builtInText(id)
        .replace(QLatin1String("%1"), arg)
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

// A window on its own settings file, templates folder (tpl/) and static folder (site/), with its
// server running on a free port.
struct Fixture : DesktopFixture {
    std::uint16_t port = 0;

    QString templates() const { return path(QStringLiteral("tpl")); }

    explicit Fixture(const QByteArray& extra = {}, bool serve = true) {
        QDir(dir.path()).mkdir(QStringLiteral("tpl"));
        QDir(dir.path()).mkdir(QStringLiteral("site"));
        QDir(templates()).mkdir(QStringLiteral("folder"));
        writeFile(templates() + QStringLiteral("/index.htm"),
                  "<title>Start</title>\r\n<a href=\"x?PELO_EVENT=Login\">\r\n");
        writeFile(templates() + QStringLiteral("/Menu.htm"), "<a href=\"?PELO_EVENT=Logout\">\r\n");
        writeFile(templates() + QStringLiteral("/b.htm"), "b\r\n");
        writeFile(path(QStringLiteral("site/page.htm")), "<title>Seite</title>\r\n");
        port = static_cast<std::uint16_t>(freePort());
        const QByteArray settings =
            QStringLiteral("[Settings]\nPort=%1\nDynamicPath=%2\nStaticPath=%3\nVirtualPath=app\n")
                .arg(port)
                .arg(templates(), path(QStringLiteral("site")))
                .toUtf8() +
            extra;
        state.languageFolders = {PELOTEST_LANGUAGE_LIBRARIES};
        start(settings);
        if (serve)
            child<QToolButton>("StartStopButton")->click();
    }

    QTreeView* tree() const { return child<QTreeView>("EventTree"); }
    QTableView* variables() const { return child<QTableView>("VariablesList"); }
    QTableView* log() const { return child<QTableView>("LogList"); }

    int get(const std::string& target) const { return httpGet(port, target).status; }

    // The texts of the tree in tree order, one level of indentation per depth.
    QStringList treeLines() const {
        QStringList lines;
        const auto* model = tree()->model();
        std::vector<std::pair<QModelIndex, int>> pending{};
        for (int row = model->rowCount() - 1; row >= 0; --row)
            pending.emplace_back(model->index(row, 0), 0);
        while (!pending.empty()) {
            const auto [index, depth] = pending.back();
            pending.pop_back();
            lines << QString(depth, QLatin1Char('\t')) + index.data().toString();
            for (int row = model->rowCount(index) - 1; row >= 0; --row)
                pending.emplace_back(model->index(row, 0, index), depth + 1);
        }
        return lines;
    }
    QModelIndex node(const QString& shownText) const {
        const auto found =
            tree()->model()->match(tree()->model()->index(0, 0), Qt::DisplayRole, shownText, 1,
                                   Qt::MatchExactly | Qt::MatchRecursive);
        return found.value(0);
    }
    void selectNode(const QString& shownText) const {
        const QModelIndex index = node(shownText);
        if (!index.isValid())
            qFatal("no node %s", qPrintable(shownText));
        tree()->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    }

    QStringList column(QTableView* view, int col) const {
        QStringList values;
        for (int row = 0; row < view->model()->rowCount(); ++row)
            values << view->model()->index(row, col).data().toString();
        return values;
    }
    void selectRow(QTableView* view, int row) const {
        view->selectionModel()->setCurrentIndex(view->model()->index(row, 0),
                                                QItemSelectionModel::ClearAndSelect |
                                                    QItemSelectionModel::Rows);
    }
    void selectVariable(const QString& name) const {
        const int row = column(variables(), 0).indexOf(name);
        if (row < 0)
            qFatal("no variable %s", qPrintable(name));
        selectRow(variables(), row);
    }
    QString value(const std::string& name) {
        std::lock_guard lock(state.mutex);
        const auto row = state.variables.find(name);
        return row ? QString::fromLatin1(state.variables[*row].value) : QStringLiteral("<none>");
    }
    // The views have taken every notification of the requests so far.
    void settle() const { QTest::qWait(30); }
};

} // namespace

class ViewsTest : public QObject {
    Q_OBJECT

  private slots:
    void requestsGrowTheTreeExpanded();
    void assignmentRules_data();
    void assignmentRules();
    void selectionDialogSpeaksTheCurrentLanguage();
    void templatesFolderWithAVariableAsksForThisTimeOnly();
    void editTemplateOfNode_data();
    void editTemplateOfNode();
    void filesGoToTheDesktopAsAbsoluteAddresses();
    void filesTheDesktopCannotOpenAreReported_data();
    void filesTheDesktopCannotOpenAreReported();
    void deletingNodes();
    void treeMenuFollowsSelection();

    void uncheckingAutoSortClearsMarksKeepingOrder();
    void sortingByColumns();
    void editingFromMenuDoubleClickAndEnter();
    void editFindsItsVariableAfterRequestsMovedOrRemovedIt_data();
    void editFindsItsVariableAfterRequestsMovedOrRemovedIt();
    void deletingAVariableAsksNothing();

    void logLimit();
    void logRowsOpenAndReport_data();
    void logRowsOpenAndReport();
    void clearingTheLog();

    void fitOntoScreen_data();
    void fitOntoScreen();
    void windowOpensOnTheScreenAndKeepsWhereItWas();

    void requestsWhileTheViewsAreUsed();
    void listsShowOneMomentBetweenSyncs();
    void syncsRepaintOnlyWhatChanged_data();
    void syncsRepaintOnlyWhatChanged();
    void closingRepaintsTheViewsWhileSaving();

    void utf8SiteRoundTripsThroughServerWindowAndPage();

    void keyboard_data();
    void keyboard();

    void missingFoldersAreMarked_data();
    void missingFoldersAreMarked();

    void firstRunHint_data();
    void firstRunHint();
    void filtersKeepTheKeyboard_data();
    void filtersKeepTheKeyboard();
    void pagesOpenInTheBrowser_data();
    void pagesOpenInTheBrowser();
    void logTimeAndQueryColumns_data();
    void logTimeAndQueryColumns();
};

// ---------------------------------------------------------------------------------------------
// Tree

void ViewsTest::requestsGrowTheTreeExpanded() {
    Fixture f("[Tree]\nNode0=index.htm\n");
    QCOMPARE(f.treeLines(), QStringList{QStringLiteral("index.htm")});
    QVERIFY(sameIcon(f.node("index.htm").data(Qt::DecorationRole).value<QIcon>(),
                     f.window->images().icon(ImageList::kRootRunning)));
    QCOMPARE(f.get("/app/"), 200); // the entry template learns Login
    QTRY_COMPARE(f.treeLines(), (QStringList{"index.htm", "\tLogin"}));
    QVERIFY(f.tree()->isExpanded(f.node("index.htm")));
    QVERIFY(sameIcon(f.node("Login").data(Qt::DecorationRole).value<QIcon>(),
                     f.window->images().icon(ImageList::kEventNode)));

    // Stopping the server turns the root's picture.
    f.child<QToolButton>("StartStopButton")->click();
    QVERIFY(sameIcon(f.node("index.htm").data(Qt::DecorationRole).value<QIcon>(),
                     f.window->images().icon(ImageList::kRootStopped)));
}

void ViewsTest::assignmentRules_data() {
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("preselected");
    QTest::addColumn<QString>("entry"); // null: cancelled
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<int>("image");
    const QStringList untouched{"index.htm", "\tLogin", "\tmenu.htm (Menu)"};
    QTest::newRow("unassigned gets the entry")
        << "Login"
        << ""
        << "menu.htm" << QStringList{"index.htm", "\tmenu.htm (Login)", "\tmenu.htm (Menu)"}
        << int(ImageList::kTemplateNode);
    QTest::newRow("unassigned, empty entry: unchanged")
        << "Login"
        << ""
        << "" << untouched << int(ImageList::kEventNode);
    QTest::newRow("assigned, empty entry: unassigned")
        << "menu.htm (Menu)"
        << "Menu.htm"
        << "" << QStringList{"index.htm", "\tLogin", "\tMenu"} << int(ImageList::kEventNode);
    QTest::newRow("assigned, another template")
        << "menu.htm (Menu)"
        << "Menu.htm"
        << "b.htm" << QStringList{"index.htm", "\tLogin", "\tb.htm (Menu)"}
        << int(ImageList::kTemplateNode);
    QTest::newRow("root takes the entry")
        << "index.htm"
        << "index.htm"
        << "b.htm" << QStringList{"b.htm", "\tLogin", "\tmenu.htm (Menu)"}
        << int(ImageList::kRootStopped);
    QTest::newRow("root takes an empty entry")
        << "index.htm"
        << "index.htm"
        << "" << QStringList{"", "\tLogin", "\tmenu.htm (Menu)"} << int(ImageList::kRootStopped);
    QTest::newRow("cancelled") << "menu.htm (Menu)"
                               << "Menu.htm" << QString() << untouched
                               << int(ImageList::kTemplateNode);
}

void ViewsTest::assignmentRules() {
    QFETCH(QString, node);
    QFETCH(QString, preselected);
    QFETCH(QString, entry);
    QFETCH(QStringList, tree);
    QFETCH(int, image);
    Fixture f("[Tree]\nNode0=index.htm\nNode1=#Login\nNode2=#menu.htm (Menu)\n", false);
    QStringList offered;
    QString preset = QStringLiteral("<not shown>");
    f.dialogs.modal = [&](QDialog& dialog) {
        auto* names = dialog.findChild<QComboBox*>(QStringLiteral("SelectPageNames"));
        for (int i = 0; i < names->count(); ++i)
            offered << names->itemText(i);
        preset = names->currentText();
        if (entry.isNull())
            return false;
        names->setEditText(entry);
        return true;
    };
    f.selectNode(node);
    f.trigger("AssignTemplate");

    // The files of the folder (not the folder in it), the template of the node preselected
    // whatever its case.
    QCOMPARE(offered, (QStringList{"b.htm", "index.htm", "Menu.htm"}));
    QCOMPARE(preset, preselected);
    QCOMPARE(f.treeLines(), tree);
    const QModelIndex changed = f.tree()->selectionModel()->currentIndex();
    QVERIFY(
        sameIcon(changed.data(Qt::DecorationRole).value<QIcon>(), f.window->images().icon(image)));
    std::lock_guard lock(f.state.mutex);
    QCOMPARE(f.state.treeChanged, true);
}

void ViewsTest::selectionDialogSpeaksTheCurrentLanguage() {
    // Made on its own, the dialog labels itself with the built-in texts 42 to 45.
    desktop::SelectPageDialog fresh;
    QCOMPARE(fresh.windowTitle(), builtInText(42));
    QCOMPARE(fresh.question()->text(), builtInText(43));
    QCOMPARE(fresh.okButton()->text(), builtInText(44));

    Fixture f("LanguageDll=lang_full.dll\n[Tree]\nNode0=index.htm\n", false);
    QStringList seen;
    f.dialogs.modal = [&](QDialog& dialog) {
        auto& page = static_cast<desktop::SelectPageDialog&>(dialog);
        seen << page.windowTitle() << page.question()->text() << page.okButton()->text()
             << page.cancelButton()->text();
        return false;
    };
    f.selectNode(QStringLiteral("index.htm"));
    f.trigger("AssignTemplate");
    const auto english = [](int id) { return QStringLiteral("EN %1: ").arg(id); };
    QCOMPARE(seen.size(), 4);
    QVERIFY2(seen[0].startsWith(english(120)), qPrintable(seen[0]));
    QVERIFY2(seen[1].startsWith(english(121)), qPrintable(seen[1]));
    QVERIFY2(seen[2].startsWith(english(112)), qPrintable(seen[2]));
    QVERIFY2(seen[3].startsWith(english(113)), qPrintable(seen[3]));
}

void ViewsTest::templatesFolderWithAVariableAsksForThisTimeOnly() {
    Fixture f("[Tree]\nNode0=index.htm\n[Variables]\nTest=tpl\n", false);
    QDir(f.dir.path()).mkdir(QStringLiteral("other"));
    writeFile(f.path(QStringLiteral("other/x.htm")));
    f.child<QLineEdit>("TemplateFolderField")->setText(f.dir.path() + QStringLiteral("//(Test)"));
    f.dialogs.inputs.push_back(QStringLiteral("other"));
    QStringList offered;
    f.dialogs.modal = [&](QDialog& dialog) {
        auto* names = dialog.findChild<QComboBox*>(QStringLiteral("SelectPageNames"));
        for (int i = 0; i < names->count(); ++i)
            offered << names->itemText(i);
        return false;
    };
    f.selectNode(QStringLiteral("index.htm"));
    f.trigger("AssignTemplate");
    QCOMPARE(f.dialogs.captions, std::vector<QString>{builtInText(98)});
    QCOMPARE(
        f.dialogs.prompts,
        std::vector<QString>{builtInText(99).replace(QLatin1String("%1"), QLatin1String("Test")) +
                             QStringLiteral("|tpl")});
    QCOMPARE(offered, QStringList{QStringLiteral("x.htm")});
    QCOMPARE(f.value("Test"), QStringLiteral("tpl"));
}

void ViewsTest::editTemplateOfNode_data() {
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("file"); // relative to the templates folder
    QTest::addColumn<bool>("opens");
    QTest::newRow("root") << "index.htm"
                          << "/index.htm" << true;
    QTest::newRow("assigned") << "Menu.htm (Menu)"
                              << "/Menu.htm" << true;
    QTest::newRow("unassigned: the folder") << "Login"
                                            << "/" << false;
    QTest::newRow("template missing") << "gone.htm (Gone)"
                                      << "/gone.htm" << false;
}

void ViewsTest::editTemplateOfNode() {
    QFETCH(QString, node);
    QFETCH(QString, file);
    QFETCH(bool, opens);
    Fixture f(
        "[Tree]\nNode0=index.htm\nNode1=#Login\nNode2=#Menu.htm (Menu)\nNode3=#gone.htm (Gone)\n",
        false);
    f.selectNode(node);
    f.trigger("EditTemplate");
    const QString path = f.templates() + file;
    if (opens) {
        QCOMPARE(f.opener.opened, std::vector<QString>{path});
        QVERIFY(f.dialogs.messages.empty());
    } else {
        QVERIFY(f.opener.opened.empty());
        QCOMPARE(f.dialogs.messages.size(), std::size_t(1));
        QCOMPARE(f.dialogs.messages[0].kind, MessageKind::Error);
        QCOMPARE(f.dialogs.messages[0].text, shown(97, path));
    }
}

void ViewsTest::filesGoToTheDesktopAsAbsoluteAddresses() {
    QTemporaryDir dir;
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    std::vector<QUrl> handed;
    desktop::DesktopFileOpener opener([&](const QUrl& url) {
        handed.push_back(url);
        return false;
    });
    QVERIFY(!opener.edit(QStringLiteral("tpl/item.htm"))); // the desktop's answer comes back
    QDir::setCurrent(before);
    const QUrl expected = QUrl::fromLocalFile(QDir(dir.path()).filePath("tpl/item.htm"));
    QCOMPARE(handed, std::vector<QUrl>{expected});
    QVERIFY(handed[0].toString().startsWith(QLatin1String("file:///")));
}

void ViewsTest::filesTheDesktopCannotOpenAreReported_data() {
    QTest::addColumn<QString>("action"); // on the tree's root node or the log's only row
    QTest::addColumn<QString>("file");
    QTest::newRow("tree: edit") << "EditTemplate"
                                << "tpl/index.htm";
    QTest::newRow("log: edit") << "EditLoggedFile"
                               << "site/page.htm";
    QTest::newRow("log: double click") << "double click"
                                       << "site/page.htm";
}

void ViewsTest::filesTheDesktopCannotOpenAreReported() {
    QFETCH(QString, action);
    QFETCH(QString, file);
    Fixture f("[Tree]\nNode0=index.htm\n");
    f.opener.desktopOpens = false;
    QCOMPARE(f.get("/page.htm"), 200);
    QTRY_COMPARE(f.log()->model()->rowCount(), 1);
    f.selectNode(QStringLiteral("index.htm"));
    f.selectRow(f.log(), 0);
    if (action == QLatin1String("double click"))
        emit f.log()->doubleClicked(f.log()->model()->index(0, 0));
    else
        f.trigger(action.toLatin1().constData());
    const QString path = f.path(file);
    QCOMPARE(f.opener.opened, std::vector<QString>{path});
    QCOMPARE(f.dialogs.messages.size(), std::size_t(1));
    QCOMPARE(f.dialogs.messages[0].kind, MessageKind::Error);
    QCOMPARE(f.dialogs.messages[0].text, shown(uiTextId(UiText::FileNotOpened), path));
}

void ViewsTest::deletingNodes() {
    Fixture f("[Tree]\nNode0=index.htm\nNode1=#Login\nNode2=##menu.htm (Menu)\nNode3=#Logout\n",
              false);
    f.selectNode(QStringLiteral("Login"));
    f.dialogs.confirmations = {false, true};
    f.trigger("DeleteNode"); // No
    QCOMPARE(f.treeLines().size(), 4);
    QCOMPARE(f.dialogs.messages.back().text, shown(100, QStringLiteral("Login")));
    f.trigger("DeleteNode"); // Yes: with its child
    QCOMPARE(f.treeLines(), (QStringList{"index.htm", "\tLogout"}));

    f.selectNode(QStringLiteral("index.htm"));
    f.trigger("DeleteNode");
    QCOMPARE(f.tree()->model()->rowCount(), 0);
    {
        std::lock_guard lock(f.state.mutex);
        QVERIFY(f.state.tree.empty());
        QVERIFY(f.state.treeChanged);
    }
    f.trigger("ExpandAll");  // nothing to expand, nothing breaks
    f.trigger("DeleteNode"); // nothing selected: no question
    QCOMPARE(f.dialogs.messages.size(), std::size_t(3));

    // The emptied tree takes a new entry template from the browser.
    f.child<QToolButton>("StartStopButton")->click();
    QCOMPARE(f.get("/$int/SetTemplate.html?TEMPLATE=b.htm"), 200);
    QTRY_COMPARE(f.treeLines(), QStringList{QStringLiteral("b.htm")});
}

void ViewsTest::treeMenuFollowsSelection() {
    Fixture f("[Tree]\nNode0=index.htm\nNode1=#Login\n", false);
    auto* menu = f.child<QMenu>("TreeMenu");
    const auto enabled = [&](const char* name) { return f.child<QAction>(name)->isEnabled(); };
    emit menu->aboutToShow();
    QVERIFY(!enabled("EditTemplate") && !enabled("AssignTemplate"));
    QVERIFY(enabled("DeleteNode") && enabled("ExpandAll") && enabled("CollapseAll"));
    f.selectNode(QStringLiteral("Login"));
    emit menu->aboutToShow();
    QVERIFY(enabled("EditTemplate") && enabled("AssignTemplate"));
    f.trigger("CollapseAll");
    QVERIFY(!f.tree()->isExpanded(f.node("index.htm")));
    f.trigger("ExpandAll");
    QVERIFY(f.tree()->isExpanded(f.node("index.htm")));
}

// ---------------------------------------------------------------------------------------------
// Variables

void ViewsTest::uncheckingAutoSortClearsMarksKeepingOrder() {
    Fixture f("[Variables]\nAlpha=1\nBeta=2\nGamma=3\n");
    QCOMPARE(f.get("/x.htm?Beta=b&Delta=d"), 404);
    QTRY_COMPARE(f.column(f.variables(), 0), (QStringList{"Beta", "Delta", "Alpha", "Gamma"}));
    const auto images = [&] {
        std::vector<qint64> keys;
        for (int row = 0; row < 4; ++row)
            keys.push_back(f.variables()
                               ->model()
                               ->index(row, 0)
                               .data(Qt::DecorationRole)
                               .value<QIcon>()
                               .cacheKey());
        return keys;
    };
    const auto image = [&](int i) { return f.window->images().icon(i).cacheKey(); };
    QCOMPARE(images(),
             (std::vector<qint64>{image(ImageList::kMarkPassed), image(ImageList::kMarkUsed),
                                  image(ImageList::kMarkPlain), image(ImageList::kMarkPlain)}));

    f.child<QCheckBox>("AutoSortBox")->click();
    QCOMPARE(images(), std::vector<qint64>(4, image(ImageList::kMarkPlain)));
    QCOMPARE(f.column(f.variables(), 0), (QStringList{"Beta", "Delta", "Alpha", "Gamma"}));
    std::lock_guard lock(f.state.mutex);
    QVERIFY(!f.state.settings.variablesAutoSort);
    QVERIFY(f.state.variablesChanged);
}

void ViewsTest::sortingByColumns() {
    Fixture f("[Variables]\nc=beta\na=Alpha\nb=gamma\nd=BETA\n", false);
    QHeaderView* header = f.variables()->horizontalHeader();
    QCOMPARE(f.variables()->model()->headerData(0, Qt::Horizontal).toString(), builtInText(7));
    QCOMPARE(f.variables()->model()->headerData(1, Qt::Horizontal).toString(), builtInText(8));
    f.selectVariable(QStringLiteral("b"));
    emit header->sectionClicked(1);
    // beta and BETA compare equal and keep their order.
    QCOMPARE(f.column(f.variables(), 1), (QStringList{"Alpha", "beta", "BETA", "gamma"}));
    emit header->sectionClicked(1);
    QCOMPARE(f.column(f.variables(), 1), (QStringList{"gamma", "beta", "BETA", "Alpha"}));
    emit header->sectionClicked(0);
    QCOMPARE(f.column(f.variables(), 0), (QStringList{"a", "b", "c", "d"}));
    // The selection stayed on its variable.
    QCOMPARE(f.variables()->selectionModel()->selectedRows().value(0).row(), 1);
    std::lock_guard lock(f.state.mutex);
    QVERIFY(f.state.variablesChanged);
}

void ViewsTest::editingFromMenuDoubleClickAndEnter() {
    Fixture f("[Variables]\nKunde=4711\nOrt=Bonn\n", false);
    // Enter without a selected row does nothing.
    QTest::keyClick(f.variables(), Qt::Key_Return);
    f.trigger("EditVariable");
    QVERIFY(f.dialogs.prompts.empty());

    f.selectVariable(QStringLiteral("Ort"));
    f.dialogs.inputs = {QStringLiteral("K\u00f6ln"), QString(), QStringLiteral("Berlin")};
    QTest::keyClick(f.variables(), Qt::Key_Return);
    QCOMPARE(f.dialogs.captions.back(), QStringLiteral("Ort"));
    QCOMPARE(f.dialogs.prompts.back(), builtInText(46) + QStringLiteral("|Bonn"));
    QCOMPARE(f.value("Ort"), QStringLiteral("K\xf6ln")); // Windows-1252 bytes
    emit f.variables()->doubleClicked(f.variables()->model()->index(1, 1));
    QCOMPARE(f.dialogs.prompts.back(), builtInText(46) + QStringLiteral("|K\u00f6ln"));
    QCOMPARE(f.value("Ort"), QStringLiteral("K\xf6ln")); // cancelled
    f.trigger("EditVariable");
    QCOMPARE(f.value("Ort"), QStringLiteral("Berlin"));
    QCOMPARE(f.column(f.variables(), 1), (QStringList{"4711", "Berlin"}));
    QCOMPARE(f.dialogs.prompts.size(), std::size_t(3));
}

void ViewsTest::editFindsItsVariableAfterRequestsMovedOrRemovedIt_data() {
    QTest::addColumn<QString>("request"); // sent while the input box is open
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("values");
    QTest::newRow("moved") << "/x.htm?C=c2&New=n"
                           << "typed" << QStringList{"C", "New", "A", "B"}
                           << QStringList{"c2", "n", "1", "typed"};
    QTest::newRow("removed") << "/$int/VarList.html?DELETE=B"
                             << "typed" << QStringList{"A", "C", "B"}
                             << QStringList{"1", "3", "typed"};
    QTest::newRow("changed, box given back unchanged")
        << "/x.htm?B=fromRequest"
        << "2" << QStringList{"B", "A", "C"} << QStringList{"fromRequest", "1", "3"};
}

void ViewsTest::editFindsItsVariableAfterRequestsMovedOrRemovedIt() {
    QFETCH(QString, request);
    QFETCH(QString, answer);
    QFETCH(QStringList, names);
    QFETCH(QStringList, values);
    Fixture f("[Variables]\nA=1\nB=2\nC=3\n");
    f.selectVariable(QStringLiteral("B"));
    f.dialogs.inputs = {answer};
    f.dialogs.whileOpen = [&] {
        f.get(request.toStdString());
        f.settle(); // the list follows the request while the box is open
    };
    f.trigger("EditVariable");
    f.dialogs.whileOpen = nullptr;
    f.settle();
    QCOMPARE(f.column(f.variables(), 0), names);
    QCOMPARE(f.column(f.variables(), 1), values);
    // The selection follows B (gone: no selection).
    const QModelIndexList selected = f.variables()->selectionModel()->selectedRows();
    if (request.contains(QLatin1String("DELETE")))
        QVERIFY(selected.isEmpty());
    else
        QCOMPARE(selected.value(0).data().toString(), QStringLiteral("B"));
}

void ViewsTest::deletingAVariableAsksNothing() {
    Fixture f("[Variables]\nA=1\nB=2\n", false);
    f.trigger("DeleteVariable"); // nothing selected
    QCOMPARE(f.column(f.variables(), 0), (QStringList{"A", "B"}));
    f.selectVariable(QStringLiteral("A"));
    f.trigger("DeleteVariable");
    QCOMPARE(f.column(f.variables(), 0), QStringList{QStringLiteral("B")});
    QVERIFY(f.dialogs.messages.empty());
}

// ---------------------------------------------------------------------------------------------
// Log

void ViewsTest::logLimit() {
    Fixture f("MaxLog=2\n");
    for (int i = 0; i < 3; ++i)
        QCOMPARE(f.get("/page.htm?n=" + std::to_string(i)), 200);
    QTRY_COMPARE(f.log()->model()->rowCount(), 2);

    // Ten rows, then the limit lowered to five in the settings tab: the next request leaves ten.
    f.child<QSpinBox>("LogLimitField")->setValue(100);
    for (int i = 0; i < 8; ++i)
        QCOMPARE(f.get("/page.htm"), 200);
    QTRY_COMPARE(f.log()->model()->rowCount(), 10);
    f.selectRow(f.log(), 3);
    f.child<QSpinBox>("LogLimitField")->setValue(5);
    QCOMPARE(f.get("/missing.htm"), 404);
    f.settle();
    QCOMPARE(f.log()->model()->rowCount(), 10);
    QCOMPARE(f.log()->model()->index(0, 0).data().toString(), QStringLiteral("missing.htm"));
    QCOMPARE(f.log()->model()->index(1, 2).data().toString(), QStringLiteral("Seite"));
    // The selection stays on its entry, one row further down.
    QCOMPARE(f.log()->selectionModel()->selectedRows().value(0).row(), 4);
    QCOMPARE(f.log()->model()->headerData(2, Qt::Horizontal).toString(), builtInText(13));
}

void ViewsTest::logRowsOpenAndReport_data() {
    QTest::addColumn<QString>("request");
    QTest::addColumn<bool>("deleteFile");
    QTest::addColumn<QString>("action"); // "double click", "EditLoggedFile", "LoggedFileProperties"
    QTest::addColumn<int>("message");    // 0: none
    QTest::addColumn<QString>("opened"); // relative path handed to the editor, or ""
    QTest::addColumn<bool>("properties");
    QTest::newRow("double click, file there")
        << "/page.htm" << false << "double click" << 0 << "site/page.htm" << false;
    QTest::newRow("double click, file deleted")
        << "/page.htm" << true << "double click" << 105 << "" << false;
    QTest::newRow("double click, no template")
        << "/app/?PELO_EVENT=Nobody" << false << "double click" << 106 << "" << false;
    QTest::newRow("properties") << "/page.htm" << false << "LoggedFileProperties" << 0 << ""
                                << true;
    QTest::newRow("edit") << "/page.htm" << false << "EditLoggedFile" << 0 << "site/page.htm"
                          << false;
}

void ViewsTest::logRowsOpenAndReport() {
    QFETCH(QString, request);
    QFETCH(bool, deleteFile);
    QFETCH(QString, action);
    QFETCH(int, message);
    QFETCH(QString, opened);
    QFETCH(bool, properties);
    Fixture f;
    QVERIFY(f.get(request.toStdString()) == 200);
    QTRY_COMPARE(f.log()->model()->rowCount(), 1);
    const QString page = f.path(QStringLiteral("site/page.htm"));
    if (deleteFile)
        QVERIFY(QFile::remove(page));

    // Without a selection nothing happens, and the menu offers only "Log Löschen".
    emit f.log()->doubleClicked(QModelIndex());
    f.trigger("LoggedFileProperties");
    emit f.child<QMenu>("LogMenu")->aboutToShow();
    QVERIFY(!f.child<QAction>("EditLoggedFile")->isEnabled());
    QVERIFY(!f.child<QAction>("LoggedFileProperties")->isEnabled());
    QVERIFY(f.child<QAction>("ClearLog")->isEnabled());
    QVERIFY(f.dialogs.messages.empty() && f.dialogs.modalTitles.empty());

    f.selectRow(f.log(), 0);
    emit f.child<QMenu>("LogMenu")->aboutToShow();
    QCOMPARE(f.child<QAction>("EditLoggedFile")->isEnabled(),
             !deleteFile && request == "/page.htm");
    QVERIFY(f.child<QAction>("LoggedFileProperties")->isEnabled());

    QString pathShown;
    f.dialogs.modal = [&](QDialog& dialog) {
        pathShown =
            static_cast<desktop::FilePropertiesDialog&>(dialog).field(QStringLiteral("Pfad"));
        return true;
    };
    if (action == QLatin1String("double click"))
        emit f.log()->doubleClicked(f.log()->model()->index(0, 1));
    else
        f.trigger(qPrintable(action));

    QCOMPARE(f.opener.opened,
             opened.isEmpty() ? std::vector<QString>{} : std::vector<QString>{f.path(opened)});
    QCOMPARE(!f.dialogs.modalTitles.empty(), properties);
    if (properties)
        QCOMPARE(pathShown, page);
    if (message == 0) {
        QVERIFY(f.dialogs.messages.empty());
    } else {
        QCOMPARE(f.dialogs.messages.size(), std::size_t(1));
        QCOMPARE(f.dialogs.messages[0].kind,
                 message == 105 ? MessageKind::Warning : MessageKind::Information);
        QCOMPARE(f.dialogs.messages[0].text,
                 shown(message, message == 105 ? page : QStringLiteral("Nobody")));
    }
}

void ViewsTest::clearingTheLog() {
    Fixture f;
    for (int i = 0; i < 3; ++i)
        QCOMPARE(f.get("/page.htm"), 200);
    QTRY_COMPARE(f.log()->model()->rowCount(), 3);
    {
        std::lock_guard lock(f.state.mutex);
        f.state.logChanged = false;
    }
    f.dialogs.confirmations = {false, true};
    f.trigger("ClearLog");
    QCOMPARE(f.dialogs.messages.back().text, shown(104));
    QCOMPARE(f.log()->model()->rowCount(), 3);
    {
        std::lock_guard lock(f.state.mutex);
        QCOMPARE(f.state.log.size(), std::size_t(3));
        QVERIFY(!f.state.logChanged);
    }
    f.trigger("ClearLog");
    QCOMPARE(f.log()->model()->rowCount(), 0);
    std::lock_guard lock(f.state.mutex);
    QCOMPARE(f.state.log.size(), std::size_t(0));
    QVERIFY(f.state.logChanged);
}

// ---------------------------------------------------------------------------------------------
// All three at once

// ---------------------------------------------------------------------------------------------
// Placement

void ViewsTest::fitOntoScreen_data() {
    QTest::addColumn<QRect>("stored");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("shown");
    const QRect screen(0, 0, 1400, 900);
    QTest::newRow("fits") << QRect(100, 100, 800, 600) << screen << QRect(100, 100, 800, 600);
    QTest::newRow("beyond the right and bottom")
        << QRect(3000, 2000, 1000, 700) << screen << QRect(400, 200, 1000, 700);
    QTest::newRow("above and left of it")
        << QRect(-500, -300, 400, 300) << QRect(0, 30, 1400, 870) << QRect(0, 30, 400, 300);
    QTest::newRow("larger (scale 2)")
        << QRect(10, 10, 1000, 700) << QRect(0, 0, 700, 450) << QRect(0, 0, 700, 450);
    QTest::newRow("second screen")
        << QRect(1500, 100, 800, 600) << QRect(1400, 0, 1920, 1080) << QRect(1500, 100, 800, 600);
    QTest::newRow("partly off the second screen")
        << QRect(3000, 900, 800, 600) << QRect(1400, 0, 1920, 1080) << QRect(2520, 480, 800, 600);
}

void ViewsTest::fitOntoScreen() {
    QFETCH(QRect, stored);
    QFETCH(QRect, available);
    QFETCH(QRect, shown);
    QCOMPARE(desktop::fitOntoScreen(stored, available), shown);
}

void ViewsTest::windowOpensOnTheScreenAndKeepsWhereItWas() {
    Fixture f("Left=3000\nTop=2000\nWidth=5000\nHeight=700\n", false);
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    WindowPlacement p = f.window->host().placement();
    const QRect stored(p.left.value_or(-1), p.top.value_or(-1), p.width.value_or(0),
                       p.height.value_or(0));
    QVERIFY2(available.contains(stored), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                        .arg(stored.left())
                                                        .arg(stored.top())
                                                        .arg(stored.width())
                                                        .arg(stored.height())));
    QCOMPARE(stored.width(), available.width());
    // Moved by the user: the file keeps where it really was.
    f.window->move(available.left() + 20, available.top() + 10);
    p = f.window->host().placement();
    QCOMPARE(QPoint(p.left.value_or(-1), p.top.value_or(-1)), f.window->pos());
}

void ViewsTest::requestsWhileTheViewsAreUsed() {
    Fixture f("VariablesAutoSort=0\nMaxLog=50\n[Tree]\nNode0=index.htm\nNode1=#Menu.htm (Menu)\n"
              "[Variables]\nKeep=0\n");
    constexpr int kThreads = 4;
    constexpr int kRequests = 150;
    // The requests go on until the window has been through this many rounds as well: a fast
    // server must not finish before the user's actions have overlapped with it.
    constexpr int kRounds = 10;
    std::atomic<int> failures{0};
    std::atomic<int> rounds{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t) {
        clients.emplace_back([&, t] {
            for (int i = 0; i < kRequests || (rounds < kRounds && i < 100 * kRequests); ++i) {
                const std::string id = std::to_string(t) + "_" + std::to_string(i);
                const std::string targets[] = {
                    "/app/?v" + id + "=" + id,          // template, new variable
                    "/app/?PELO_EVENT=Menu&Keep=" + id, // learns Logout under Menu
                    "/page.htm?w" + id + "=1",          // static page, log row
                    "/$int/VarList.html?DELETE=v" + std::to_string(t) + "_" + std::to_string(i / 2),
                };
                const int status = httpGet(f.port, targets[i % 4]).status;
                if (status != 200)
                    ++failures;
            }
        });
    }
    std::thread watcher([&] {
        for (auto& client : clients)
            client.join();
        done = true;
    });

    // Meanwhile the user sorts, edits, deletes, assigns and clears, with boxes open while
    // requests go on.
    f.dialogs.whileOpen = [] { QTest::qWait(2); };
    f.dialogs.modal = [](QDialog& dialog) {
        static_cast<desktop::SelectPageDialog&>(dialog).setEntry(QStringLiteral("b.htm"));
        return true;
    };
    int round = 0;
    while (!done) {
        QCoreApplication::processEvents();
        emit f.variables()->horizontalHeader()->sectionClicked(round % 2);
        f.selectVariable(QStringLiteral("Keep"));
        f.dialogs.inputs = {QStringLiteral("user%1").arg(round)};
        f.trigger("EditVariable");
        if (const int rows = f.variables()->model()->rowCount(); rows > 3) {
            // The last row, unless sorting put the edited variable there.
            const bool keepIsLast = f.column(f.variables(), 0).value(rows - 1) == "Keep";
            f.selectRow(f.variables(), keepIsLast ? rows - 2 : rows - 1);
            f.trigger("DeleteVariable");
        }
        if (f.node(QStringLiteral("Logout")).isValid()) {
            f.selectNode(QStringLiteral("Logout"));
            f.trigger(round % 2 ? "AssignTemplate" : "DeleteNode");
        }
        if (f.log()->model()->rowCount() > 0) {
            f.selectRow(f.log(), 0);
            emit f.child<QMenu>("LogMenu")->aboutToShow();
        }
        if (round % 7 == 0)
            f.trigger("ClearLog");
        rounds = ++round;
    }
    watcher.join();
    f.dialogs.whileOpen = nullptr;
    f.settle();
    QCOMPARE(failures.load(), 0);
    QVERIFY(round > 5);

    // The views show the state as it is (read apart from the views: they take the lock).
    QStringList names;
    std::size_t logRows = 0;
    int nodes = 0;
    {
        std::lock_guard lock(f.state.mutex);
        for (const Variable& variable : f.state.variables.rows())
            names << QString::fromStdString(variable.name);
        logRows = f.state.log.size();
        f.state.tree.forEach([&](TreeNode&, int) { ++nodes; });
    }
    QCOMPARE(f.column(f.variables(), 0), names);
    QCOMPARE(f.log()->model()->rowCount(), int(logRows));
    QCOMPARE(f.treeLines().size(), nodes);
    QVERIFY(f.value("Keep").startsWith(QLatin1String("user")) ||
            f.value("Keep").contains(QLatin1Char('_')));
}

void ViewsTest::syncsRepaintOnlyWhatChanged_data() {
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("request"); // empty: a change notification alone
    QTest::addColumn<QString>("view");
    QTest::addColumn<QStringList>("repainted"); // the first column of each row repainted
    const QByteArray four = "[Variables]\nA=1\nB=2\nC=3\nD=4\n";
    const QByteArray off = "VariablesAutoSort=0\n" + four;
    QTest::newRow("a value set in place") << off << "/x.htm?C=neu"
                                          << "variables" << QStringList{"C"};
    QTest::newRow("a row added at the bottom") << off << "/x.htm?E=5"
                                               << "variables" << QStringList{};
    QTest::newRow("the first row marked") << four << "/x.htm?A=1"
                                          << "variables" << QStringList{"A"};
    QTest::newRow("nothing changed") << four << ""
                                     << "variables" << QStringList{};
    QTest::newRow("an event learnt") << QByteArray("[Tree]\nNode0=index.htm\n") << "/app/"
                                     << "tree" << QStringList{};
}

// A filter looks at every row a sync repaints again, and so does a screen reader: a request
// that changes one row repaints that row, not the list.
void ViewsTest::syncsRepaintOnlyWhatChanged() {
    QFETCH(QByteArray, settings);
    QFETCH(QString, request);
    QFETCH(QString, view);
    QFETCH(QStringList, repainted);
    Fixture f(settings);
    f.settle();
    QAbstractItemModel* model =
        view == QLatin1String("tree")
            ? f.tree()->model()
            : qobject_cast<QSortFilterProxyModel*>(f.variables()->model())->sourceModel();
    QStringList rows;
    connect(model, &QAbstractItemModel::dataChanged, this,
            [&](const QModelIndex& top, const QModelIndex& bottom) {
                for (int row = top.row(); row <= bottom.row(); ++row)
                    rows << model->index(row, 0, top.parent()).data().toString();
            });
    if (request.isEmpty())
        f.window->host().variablesChanged();
    else
        f.get(request.toStdString());
    f.settle();
    QCOMPARE(rows, repainted);
}

void ViewsTest::listsShowOneMomentBetweenSyncs() {
    // One client adds v<k> with the event E<k> and deletes v<k-20>: at every moment the variables
    // are a run of consecutive numbers upwards, the log's events one downwards (newest first).
    // Between two notifications the views read every row while the requests go on; each read
    // must show one such run, no name twice and none left out.
    Fixture f("VariablesAutoSort=0\nMaxLog=30\n");
    constexpr int kKept = 20;
    std::atomic<bool> stop{false};
    std::thread client([&] {
        for (int k = 0; !stop && k < 100000; ++k) {
            const std::string n = std::to_string(k);
            httpGet(f.port, "/app/?PELO_EVENT=E" + n + "&v" + n + "=1");
            if (k >= kKept)
                httpGet(f.port, "/$int/VarList.html?DELETE=v" + std::to_string(k - kKept));
        }
    });
    struct Shown {
        QTableView* view;
        int column;
        QLatin1Char prefix;
        int step;
    };
    const Shown lists[] = {{f.variables(), 0, QLatin1Char('v'), 1},
                           {f.log(), 1, QLatin1Char('E'), -1}};
    int reads = 0;
    QStringList broken;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1500 && broken.size() < 5) {
        QCoreApplication::processEvents(); // the notifications: the views sync
        for (const Shown& list : lists) {
            std::vector<int> numbers;
            const QStringList names = f.column(list.view, list.column);
            for (const QString& name : names)
                if (name.startsWith(list.prefix))
                    numbers.push_back(name.mid(1).toInt());
            for (std::size_t i = 1; i < numbers.size(); ++i) {
                if (numbers[i] != numbers[i - 1] + list.step) {
                    broken << names.join(QLatin1Char(' '));
                    break;
                }
            }
            reads += numbers.size() > 1;
        }
    }
    stop = true;
    client.join();
    QVERIFY2(broken.isEmpty(), qPrintable(broken.join(QLatin1Char('\n'))));
    QVERIFY(reads > 10);
}

void ViewsTest::closingRepaintsTheViewsWhileSaving() {
    // Saving shows status texts, which repaint the window and so the lists; they read the state
    // the save holds.
    Fixture f("[Variables]\nKunde=4711\n");
    QCOMPARE(f.get("/page.htm?Ort=Bonn"), 200);
    QTRY_COMPARE(f.variables()->model()->rowCount(), 2);
    f.variables()->viewport()->update(); // due for painting when the status text repaints
    f.window->close();
    QVERIFY(f.window->saved());
    QFile file(f.path(QStringLiteral("pelotest.ini")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("Ort=Bonn"));
}

// ---------------------------------------------------------------------------------------------
// Text of a UTF-8 site

// A UTF-8 site's title and variable show as their characters in the window, a value typed in the
// window reaches the template as UTF-8, and the variables page lists it as character references.
void ViewsTest::utf8SiteRoundTripsThroughServerWindowAndPage() {
    Fixture f("[Tree]\nNode0=index.htm\n[Const]\nSiteEncoding=utf-8\n");
    writeFile(f.templates() + QStringLiteral("/index.htm"),
              "<title>\xC3\x9C"
              "bersicht \xE2\x80\x93 Gr\xC3\xB6\xC3\x9F"
              "en</title>\r\n"
              "[/(Wort)]\r\n");
    const HttpResult first = httpGet(f.port, "/app/?Wort=%E6%97%A5");
    QCOMPARE(first.status, 200);
    QVERIFY2(first.body.find("[\xE6\x97\xA5]") != std::string::npos, first.body.c_str());
    QTRY_COMPARE(f.log()->model()->rowCount(), 1);
    QCOMPARE(f.column(f.log(), 2),
             QStringList{QStringLiteral("\u00dcbersicht \u2013 Gr\u00f6\u00dfen")});
    QTRY_COMPARE(f.column(f.variables(), 1), QStringList{QStringLiteral("\u65e5")});

    f.selectVariable(QStringLiteral("Wort"));
    f.dialogs.inputs = {QStringLiteral("\u65e5\u672c\u8a9e")};
    f.trigger("EditVariable");
    QCOMPARE(f.column(f.variables(), 1), QStringList{QStringLiteral("\u65e5\u672c\u8a9e")});
    QVERIFY(httpGet(f.port, "/app/").body.find("[\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E]") !=
            std::string::npos);
    QVERIFY(httpGet(f.port, "/$int/VarList.html?INT=true").body.find("&#26085;&#26412;&#35486;") !=
            std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Keyboard

void ViewsTest::keyboard_data() {
    QTest::addColumn<QString>("focus"); // the control that has the focus
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("outcome"); // "focus left", "tab N", "menu NAME", "variables A|B",
                                          // "tree A|B", "server stopped", "closed"
    const int none = Qt::NoModifier;
    const int ctrl = Qt::ControlModifier;
    QTest::newRow("Tab leaves the variables")
        << "VariablesList" << int(Qt::Key_Tab) << none << "focus left";
    QTest::newRow("Tab leaves the log") << "LogList" << int(Qt::Key_Tab) << none << "focus left";
    QTest::newRow("Ctrl+Tab in the variables")
        << "VariablesList" << int(Qt::Key_Tab) << ctrl << "tab 1";
    QTest::newRow("Ctrl+PgDn in the variables")
        << "VariablesList" << int(Qt::Key_PageDown) << ctrl << "tab 1";
    QTest::newRow("Ctrl+PgUp in the tree") << "EventTree" << int(Qt::Key_PageUp) << ctrl << "tab 2";
    QTest::newRow("Ctrl+PgDn in the log") << "LogList" << int(Qt::Key_PageDown) << ctrl << "tab 2";
    QTest::newRow("Shift+F10 in the variables")
        << "VariablesList" << int(Qt::Key_F10) << int(Qt::ShiftModifier) << "menu VariablesMenu";
    QTest::newRow("menu key in the tree")
        << "EventTree" << int(Qt::Key_Menu) << none << "menu TreeMenu";
    QTest::newRow("menu key in the log")
        << "LogList" << int(Qt::Key_Menu) << none << "menu LogMenu";
    QTest::newRow("Delete in the variables")
        << "VariablesList" << int(Qt::Key_Delete) << none << "variables Ort";
    QTest::newRow("Delete in the tree")
        << "EventTree" << int(Qt::Key_Delete) << none << "tree index.htm";
    QTest::newRow("F5 in the variables")
        << "VariablesList" << int(Qt::Key_F5) << none << "server stopped";
    QTest::newRow("Ctrl+Q in the tree") << "EventTree" << int(Qt::Key_Q) << ctrl << "closed";
}

// Whether the fixture's server answers (a stopped one refuses the connection).
bool serving(const Fixture& f) {
    try {
        return f.get("/page.htm") == 200;
    } catch (const std::exception&) {
        return false;
    }
}

void ViewsTest::keyboard() {
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, outcome);
    Fixture f("[Tree]\nNode0=index.htm\nNode1=#Login\n[Variables]\nKunde=4711\nOrt=Bonn\n");
    QCOMPARE(f.get("/page.htm"), 200);
    QTRY_COMPARE(f.log()->model()->rowCount(), 1);
    f.window->show();
    f.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    auto* view = f.child<QAbstractItemView>(focus.toLatin1().constData());
    f.child<QTabWidget>("Tabs")->setCurrentIndex(view == f.log() ? 1 : 0);
    view->setFocus();
    view->setCurrentIndex(view->model()->index(0, 0));
    if (view == f.tree())
        f.selectNode(QStringLiteral("Login"));
    QVERIFY(view->hasFocus());

    QTest::keyClick(view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    const QString what = outcome.section(QLatin1Char(' '), 0, 0);
    const QString detail = outcome.section(QLatin1Char(' '), 1);
    if (what == QLatin1String("focus")) {
        QVERIFY(!view->hasFocus());
    } else if (what == QLatin1String("tab")) {
        QCOMPARE(f.child<QTabWidget>("Tabs")->currentIndex(), detail.toInt());
    } else if (what == QLatin1String("menu")) {
        auto* menu = f.child<QMenu>(detail.toLatin1().constData());
        QTRY_VERIFY(menu->isVisible());
        menu->hide();
    } else if (what == QLatin1String("variables")) {
        QCOMPARE(f.column(f.variables(), 0), detail.split(QLatin1Char('|')));
    } else if (what == QLatin1String("tree")) {
        QCOMPARE(f.treeLines(), detail.split(QLatin1Char('|')));
    } else if (what == QLatin1String("server")) {
        QVERIFY(!serving(f));
    } else {
        QVERIFY(!f.window->isVisible());
        QVERIFY(f.window->saved());
        QVERIFY(!serving(f));
    }
}

// ---------------------------------------------------------------------------------------------
// Folders of the settings tab

void ViewsTest::missingFoldersAreMarked_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("folder"); // relative to the test's folder, the working folder
    QTest::addColumn<bool>("marked");
    QTest::addColumn<bool>("tip"); // the tip names the absolute folder
    QTest::newRow("templates there") << "TemplateFolderField"
                                     << "tpl" << false << true;
    QTest::newRow("templates missing") << "TemplateFolderField"
                                       << "gone" << true << true;
    QTest::newRow("templates with a variable") << "TemplateFolderField"
                                               << "/(Test)/tpl" << false << false;
    QTest::newRow("static missing") << "StaticFolderField"
                                    << "gone/site" << true << true;
    QTest::newRow("static a file") << "StaticFolderField"
                                   << "pelotest.ini" << true << true;
    QTest::newRow("static empty") << "StaticFolderField"
                                  << "" << false << false;
}

void ViewsTest::missingFoldersAreMarked() {
    QFETCH(QString, field);
    QFETCH(QString, folder);
    QFETCH(bool, marked);
    QFETCH(bool, tip);
    Fixture f({}, false);
    const QString before = QDir::currentPath();
    QDir::setCurrent(f.dir.path());
    auto* edit = f.child<QLineEdit>(field.toLatin1().constData());
    edit->setText(folder);
    const QString absolute = QDir::toNativeSeparators(f.path(folder));
    QCOMPARE(
        f.child<QAction>((field + QStringLiteral("Missing")).toLatin1().constData())->isVisible(),
        marked);
    QCOMPARE(edit->toolTip(), tip ? absolute : QString());
    QDir::setCurrent(before);
}

// ---------------------------------------------------------------------------------------------
// Comforts: the first-run hint, the filters, the browser, the log's extra columns

void ViewsTest::firstRunHint_data() {
    QTest::addColumn<QByteArray>("tree");
    QTest::addColumn<bool>("folders");    // false: the user empties both folder fields
    QTest::addColumn<QString>("request"); // or the node the user deletes
    QTest::addColumn<bool>("hint");
    const QByteArray entry = "[Tree]\nNode0=index.htm\n", events = entry + "Node1=#Login\n";
    const auto row = [](const char* name, const QByteArray& tree, bool folders, const char* request,
                        bool hint) { QTest::newRow(name) << tree << folders << request << hint; };
    row("nothing set up", {}, false, "", true);
    row("events, no folders", events, false, "", true);
    row("folders, no event yet", entry, true, "", true);
    row("an event learnt", entry, true, "/app/", false);
    row("folders and events", events, true, "", false);
    row("the only event deleted", events, true, "Login", true);
}

void ViewsTest::firstRunHint() {
    QFETCH(QByteArray, tree);
    QFETCH(bool, folders);
    QFETCH(QString, request);
    QFETCH(bool, hint);
    Fixture f(tree);
    f.settle(); // the notifications of loading are taken
    for (const char* field : {"TemplateFolderField", "StaticFolderField"})
        if (!folders)
            f.child<QLineEdit>(field)->clear();
    if (request.startsWith(QLatin1Char('/'))) {
        QCOMPARE(f.get(request.toStdString()), 200);
    } else if (!request.isEmpty()) {
        f.selectNode(request);
        f.trigger("DeleteNode");
    }
    auto* label = f.child<QLabel>("FirstRunHint");
    QTRY_COMPARE(!label->isHidden(), hint);
    QCOMPARE(label->text(), shown(153));
}

void ViewsTest::filtersKeepTheKeyboard_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("key"); // 0: none
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("outcome"); // "rows A|B" (shown), "variables A|B" (all),
                                          // "clipboard X", "focus left"
    const auto row = [](const char* name, const char* list, const char* filter, int key,
                        int modifiers, const char* outcome) {
        QTest::newRow(name) << list << filter << key << modifiers << outcome;
    };
    row("variables filtered", "VariablesList", "D", 0, 0, "rows Kunde|Land");
    row("Delete through the filter", "VariablesList", "d", Qt::Key_Delete, 0,
        "variables Kunde|Ort");
    row("Ctrl+C through the filter", "VariablesList", "d", Qt::Key_C, Qt::ControlModifier,
        "clipboard DE");
    row("Tab leaves the filtered variables", "VariablesList", "d", Qt::Key_Tab, 0, "focus left");
    row("log filtered by title", "LogList", "seite", 0, 0, "rows page.htm");
    row("Tab leaves the filtered log", "LogList", "seite", Qt::Key_Tab, 0, "focus left");
}

void ViewsTest::filtersKeepTheKeyboard() {
    QFETCH(QString, list);
    QFETCH(QString, filter);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, outcome);
    Fixture f("[Tree]\nNode0=index.htm\n[Variables]\nKunde=4711\nOrt=Bonn\nLand=DE\n");
    QCOMPARE(f.get("/page.htm"), 200);
    QCOMPARE(f.get("/app/"), 200);
    QTRY_COMPARE(f.log()->model()->rowCount(), 2);
    f.window->show();
    f.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    auto* view = f.child<QTableView>(list.toLatin1().constData());
    const bool variables = view == f.variables();
    f.child<QTabWidget>("Tabs")->setCurrentIndex(variables ? 0 : 1);
    auto* field = f.child<QLineEdit>(variables ? "VariablesFilter" : "LogFilter");
    QCOMPARE(field->placeholderText(), shown(154));
    field->setText(filter);
    view->setFocus();
    f.selectRow(view, view->model()->rowCount() - 1);
    if (key != 0)
        QTest::keyClick(view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    const QString what = outcome.section(QLatin1Char(' '), 0, 0);
    const QString detail = outcome.section(QLatin1Char(' '), 1);
    if (what == QLatin1String("variables"))
        field->clear();
    if (what == QLatin1String("clipboard"))
        QCOMPARE(QGuiApplication::clipboard()->text(), detail);
    else if (what == QLatin1String("focus"))
        QVERIFY(!view->hasFocus());
    else
        QCOMPARE(f.column(view, 0), detail.split(QLatin1Char('|')));
}

void ViewsTest::pagesOpenInTheBrowser_data() {
    QTest::addColumn<QString>("list");    // "tree" or "log"
    QTest::addColumn<QString>("request"); // made first; the log's row
    QTest::addColumn<QString>("select");  // the tree's node
    QTest::addColumn<bool>("serving");
    QTest::addColumn<QString>("opened"); // the address after the server's, "" for none
    const auto row = [](const char* name, const char* list, const char* request, const char* select,
                        bool serving, const char* opened) {
        QTest::newRow(name) << list << request << select << serving << opened;
    };
    row("entry template", "tree", "", "index.htm", true, "app/");
    row("event", "tree", "", "Login", true, "app/?PELO_EVENT=Login");
    row("assigned event", "tree", "", "menu.htm (Men\u00FC)", true, "app/?PELO_EVENT=Men%FC");
    row("server stopped", "tree", "", "Login", false, "");
    row("log row: the request as made", "log", "/app/?PELO_EVENT=Login&x=a%20b", "", true,
        "app/?PELO_EVENT=Login&x=a%20b");
    row("log row of an assignment: its event's page, not the assignment again", "log",
        "/$int/SetTemplate.html?EVENT=Login&TEMPLATE=b.htm", "", true, "app/?PELO_EVENT=Login");
    row("log row loaded: its event", "log", "", "", true, "app/?PELO_EVENT=Show");
}

void ViewsTest::pagesOpenInTheBrowser() {
    QFETCH(QString, list);
    QFETCH(QString, request);
    QFETCH(QString, select);
    QFETCH(bool, serving);
    QFETCH(QString, opened);
    Fixture f("[Tree]\nNode0=index.htm\nNode1=#Login\nNode2=#menu.htm (Men\xFC)\n");
    const bool tree = list == QLatin1String("tree");
    if (!request.isEmpty())
        QCOMPARE(f.get(request.toStdString()), 200);
    if (!tree && request.isEmpty()) {
        // A row as the settings file gives it back: no request, only its event.
        std::lock_guard lock(f.state.mutex);
        f.state.log.appendLoaded(LogEntry{3, "b.htm", "Show", "B", ""}, 100);
    }
    if (!serving)
        f.child<QToolButton>("StartStopButton")->click();
    if (tree) {
        f.selectNode(select);
    } else {
        f.window->host().logChanged();
        QTRY_VERIFY(f.log()->model()->rowCount() > 0);
        f.selectRow(f.log(), 0);
    }
    const char* name = tree ? "OpenTreeInBrowser" : "OpenLogInBrowser";
    emit f.child<QMenu>(tree ? "TreeMenu" : "LogMenu")->aboutToShow();
    QCOMPARE(f.action(name)->text(), shown(155));
    QCOMPARE(f.action(name)->isEnabled(), !opened.isEmpty());
    f.trigger(name);
    std::vector<QUrl> expected;
    if (!opened.isEmpty())
        expected.push_back(QUrl::fromEncoded(
            QStringLiteral("http://localhost:%1/%2").arg(f.port).arg(opened).toLatin1()));
    QCOMPARE(f.dialogs.opened, expected);
}

void ViewsTest::logTimeAndQueryColumns_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("text");
    QTest::addColumn<QString>("shown"); // a pattern
    QTest::newRow("time") << "ShowTimeColumn" << 3 << 156
                          << R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}$)";
    QTest::newRow("query") << "ShowQueryColumn" << 4 << 157 << "^PELO_EVENT=Login&x=a b c$";
}

void ViewsTest::logTimeAndQueryColumns() {
    QFETCH(QString, action);
    QFETCH(int, column);
    QFETCH(int, text);
    QFETCH(QString, shown);
    Fixture f;
    QCOMPARE(f.get("/app/?PELO_EVENT=Login&x=a%20b+c"), 200);
    QTRY_COMPARE(f.log()->model()->rowCount(), 1);
    // Hidden at first, so the log looks as it always did; the headings' menu shows it.
    QVERIFY(f.log()->isColumnHidden(column));
    QCOMPARE(f.log()->model()->headerData(column, Qt::Horizontal).toString(), builtInText(text));
    QCOMPARE(f.action(action.toLatin1().constData())->text(), builtInText(text));
    f.trigger(action.toLatin1().constData());
    QVERIFY(!f.log()->isColumnHidden(column));
    const QString cell = f.log()->model()->index(0, column).data().toString();
    QVERIFY2(QRegularExpression(shown).match(cell).hasMatch(), qPrintable(cell));
    // The next run shows it again, and only it.
    QVERIFY(f.window->shutdown());
    f.start(QByteArray());
    QVERIFY(!f.log()->isColumnHidden(column));
    QVERIFY(f.log()->isColumnHidden(desktop::LogModel::kTimeColumn +
                                    desktop::LogModel::kQueryColumn - column));
}

} // namespace pelotest::test

QTEST_MAIN(pelotest::test::ViewsTest)

#include "ViewsTest.moc"
