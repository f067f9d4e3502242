// How the window's views cope with large data: a settings file with 100,000 variables, a tree of
// 10,000 nodes and a full log is loaded into the main window, then the lists are scrolled,
// sorted and redrawn, and requests' changes are taken in; then the built-in pages that show the
// same data are asked for, the pages that list a folder of 10,000 files, and the pages of large
// files. Prints one line per step with the time it took on the user-interface thread (the window
// is frozen for that long) and the longest time the state lock was held meanwhile, by anyone
// (requests wait for that long). Runs on any Qt platform; bench/run does not run it:
//   QT_QPA_PLATFORM=offscreen build-release/bench/bench_views [VARIABLES NODES]

#include "desktop/MainWindow.h"
#include "pages/EditorPath.h"
#include "pages/Routes.h"
#include "server/Encoders.h"
#include "server/HttpServer.h"
#include "server/RequestHandler.h"
#include "server/RequestLogging.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

using pelotest::AppState;
using pelotest::desktop::MainWindow;

pelotest::LockHoldRecorder lockHolds;

void step(const char* what, const std::function<void()>& work) {
    lockHolds.takeLongest();
    QElapsedTimer timer;
    timer.start();
    work();
    QApplication::processEvents();
    const double took = timer.nsecsElapsed() / 1e6;
    std::printf("%-52s %9.1f ms   lock held at most %7.1f ms\n", what, took,
                lockHolds.takeLongest().count() / 1e6);
    std::fflush(stdout);
}

// A GET of a built-in page as the server hands it to its route table.
pelotest::HttpRequest pageRequest(std::string document, std::vector<std::string> params) {
    pelotest::HttpRequest request;
    request.method = "GET";
    request.document = std::move(document);
    request.params = std::move(params);
    request.headers = {{"Host", "localhost"}};
    return request;
}

// Scrolls a view through its rows in screenfuls and paints each (what a user dragging the
// scroll bar sees), returning how many pages were painted.
int scrollThrough(QAbstractItemView* view, int pages) {
    QScrollBar* bar = view->verticalScrollBar();
    const int stride = std::max(1, bar->maximum() / pages);
    int painted = 0;
    for (int at = 0; at <= bar->maximum(); at += stride, ++painted) {
        bar->setValue(at);
        view->viewport()->repaint();
    }
    return painted;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int variables = argc > 2 ? std::atoi(argv[1]) : 100'000;
    const int nodes = argc > 2 ? std::atoi(argv[2]) : 10'000;

    QTemporaryDir dir;
    const std::string settings = dir.filePath(QStringLiteral("bench.ini")).toStdString();
    {
        std::ofstream out(settings, std::ios::binary);
        out << "[Settings]\nSaveLog=1\nMaxLog=9999\nWidth=1000\nHeight=700\n[Tree]\nNode0=start."
               "htm\n";
        // Under the root, events that each found 99 more in their templates.
        int written = 1;
        for (int parent = 0; written < nodes; ++parent) {
            out << "Node" << written++ << "=#Event" << parent << "\n";
            for (int child = 0; child < 99 && written < nodes; ++child)
                out << "Node" << written++ << "=##page" << child << ".htm (Event" << parent << "_"
                    << child << ")\n";
        }
        out << "[Log]\n";
        for (int i = 0; i < 9999; ++i)
            out << "Line" << i << "=3;page" << i << ".htm;Event" << i << ";Seite " << i
                << ";/srv/tpl/page" << i << ".htm\n";
        out << "[Variables]\n";
        for (int i = 0; i < variables; ++i)
            out << "Var" << (i * 7919LL) % variables << "=Wert " << (i * 104729LL) % 1000003
                << "\n";
    }

    AppState state;
    state.settingsPath = settings;
    state.mutex.recordHoldsIn(&lockHolds);
    std::printf("%d variables, %d tree nodes, 9999 log rows\n", variables, nodes);
    std::printf("%-52s %9s      %s\n", "step", "time", "longest hold of the state lock");
    MainWindow* window = nullptr;
    step("start: load the file, fill and show the views", [&] {
        window = new MainWindow(state);
        window->start();
        window->show();
    });
    auto* tree = window->findChild<QTreeView*>(QStringLiteral("TreeView1"));
    auto* list = window->findChild<QTableView*>(QStringLiteral("ListView1"));
    auto* log = window->findChild<QTableView*>(QStringLiteral("ListView2"));
    auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("PageControl1"));

    step("variables: scroll through, 50 pages painted", [&] { scrollThrough(list, 50); });
    step("variables: sort by name (header click)",
         [&] { emit list->horizontalHeader()->sectionClicked(0); });
    step("variables: sort by name again (reversed)",
         [&] { emit list->horizontalHeader()->sectionClicked(0); });
    step("variables: sort by value", [&] { emit list->horizontalHeader()->sectionClicked(1); });
    step("variables: scroll through after sorting", [&] { scrollThrough(list, 50); });
    {
        // What 1,000 requests change (the core's work, not timed here) ...
        std::lock_guard lock(state.mutex);
        for (int i = 0; i < 1000; ++i)
            state.variables.applyParameters({{"Var" + std::to_string(i * 97), "neu"}}, true);
    }
    // ... and the list taking it in with the selection kept on its variable.
    list->selectRow(5000);
    step("variables: update after 1,000 requests' changes", [&] {
        window->host().variablesChanged();
        QApplication::processEvents();
        list->viewport()->repaint();
    });
    // The tree's menu commands, as the user picks them.
    auto* collapseAll = window->findChild<QAction*>(QStringLiteral("Allezuklappen1"));
    auto* expandAll = window->findChild<QAction*>(QStringLiteral("Alleausklappen1"));
    step("tree: collapse all", [&] {
        collapseAll->trigger();
        tree->viewport()->repaint();
    });
    step("tree: expand all", [&] {
        expandAll->trigger();
        tree->viewport()->repaint();
    });
    step("tree: scroll through, 50 pages painted", [&] { scrollThrough(tree, 50); });
    step("tree: 100 events learnt under the last node, one update", [&] {
        {
            std::lock_guard lock(state.mutex);
            pelotest::TreeNode* last = state.tree.flatten().back();
            for (int i = 0; i < 100; ++i)
                last->appendChild("New" + std::to_string(i));
        }
        window->host().treeChanged();
        QApplication::processEvents();
    });
    step("log: show the tab and scroll through, 50 pages", [&] {
        tabs->setCurrentIndex(1);
        scrollThrough(log, 50);
    });
    step("log: 1,000 rows added at the limit, one update", [&] {
        {
            std::lock_guard lock(state.mutex);
            for (int i = 0; i < 1000; ++i)
                pelotest::addLogEntry(state, window->host(),
                                      {8, "new.htm", "", "Neu", "/srv/site/new.htm"});
        }
        QApplication::processEvents();
    });

    // The built-in pages over the same state, answered as the server answers them.
    pelotest::RequestHandler pages(state, window->host(), pelotest::routeRequest);
    const auto ask = [&pages](std::string document, std::vector<std::string> params) {
        const pelotest::HttpResponse answer =
            pages.handle(pageRequest(std::move(document), std::move(params)));
        if (answer.status != 200)
            std::printf("status %d\n", answer.status);
    };
    step("page: variables list", [&] { ask("/$int/VarList.html", {"INT=true"}); });
    step("page: variables sorted by name", [&] {
        ask("/$int/VarList.html", {"INT=true", "COLUMN=1"});
    });
    step("page: variables sorted by value", [&] {
        ask("/$int/VarList.html", {"INT=true", "COLUMN=2"});
    });
    step("page: pages served last", [&] { ask("/$int/SiteLog.html", {}); });
    step("page: control page", [&] { ask("/$int/", {}); });

    // The pages that list a folder, over one of 10,000 files that serves as the static and the
    // template folder, with no start page set.
    const std::string site = dir.filePath(QStringLiteral("site")).toStdString();
    std::filesystem::create_directory(site);
    for (int i = 0; i < 10'000; ++i)
        std::ofstream(site + "/page" + std::to_string(100'000 + i) + ".htm");
    {
        const pelotest::StateLock lock(state.mutex);
        state.settings.staticPath = site;
        state.settings.dynamicPath = site;
        state.settings.virtualPath = "dyn";
        state.settings.staticSite.clear();
    }
    step("page: welcome page, 10,000 start pages offered", [&] { ask("/", {}); });
    step("page: control page, 10,000 start pages offered", [&] { ask("/$int/", {}); });
    step("page: file list of 10,000 files", [&] {
        ask("/$int/FileList.html", {"PATH=" + site, "TYPE=1"});
    });
    // The tree's first node names no file of the folder: the page offers them all.
    step("page: no template assigned, 10,000 offered", [&] { ask("/dyn/", {}); });

    // Large files: a page of 8 MiB opened in the browser's editor and saved back, and a static
    // page of 32 MiB served (its title goes into the log).
    const auto pageOf = [](std::size_t bytes) {
        std::string text = "<html><title>Gross</title>\r\n";
        while (text.size() < bytes)
            text += "<p>Eine Zeile der Seite, " + std::to_string(text.size()) + "</p>\r\n";
        text.resize(bytes);
        return text;
    };
    const std::string edited = site + "/edited.htm";
    const std::string editedText = pageOf(pelotest::PageLimits::editorFileBytes);
    std::ofstream(edited, std::ios::binary) << editedText;
    std::ofstream(site + "/large.htm", std::ios::binary) << pageOf(32 << 20);
    const auto send = [&pages](const std::string& method, const std::string& target,
                               const std::string& body) {
        const auto request = pelotest::makeHttpRequest(
            method, target, body,
            {{"Host", "localhost"}, {"Content-Type", "application/x-www-form-urlencoded"}});
        const pelotest::HttpResponse answer = pages.handle(*request);
        if (answer.status != 200)
            std::printf("status %d\n", answer.status);
    };
    step("page: editor opens a page of 8 MiB", [&] {
        send("GET", "/$int/SiteEdit.html?site=" + pelotest::editorFormOfPath(edited), "");
    });
    step("page: editor saves a page of 8 MiB", [&] {
        send("POST", "/$int/SiteSave.html",
             "FILE=" + pelotest::urlEncode(edited) + "&SITE=" + pelotest::urlEncode(editedText));
    });
    step("page: a static page of 32 MiB", [&] { send("GET", "/large.htm", ""); });
    step("log: cleared (as the window clears it)", [&] {
        const pelotest::StateLock lock(state.mutex);
        state.log.clear();
        state.logChanged = true;
        window->host().logChanged();
    });
    delete window;
    return 0;
}
