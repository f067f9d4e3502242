// How the window's views cope with large data: a settings file with 100,000 variables, a tree of
// 10,000 nodes and a full log is loaded into the main window, then the lists are scrolled,
// sorted and redrawn, and requests' changes are taken in; then the built-in pages that show the
// same data are asked for, the pages that list a folder of 10,000 files, and the pages of large
// files. Prints one line per step with the time it took on the user-interface thread (the window
// is frozen for that long) and the longest time the state lock was held meanwhile, by anyone
// (requests wait for that long). Runs on any Qt platform; bench/run does not run it:
//   QT_QPA_PLATFORM=offscreen build-release/bench/bench_views [VARIABLES NODES]
//
// With --static-while-sorting [SECONDS] it measures what a request waits for while the window
// works instead: the window serves a folder with a 1 KiB page and shows 100,000 variables, a
// client on another thread asks for the page once a millisecond over one keep-alive connection,
// and the window sorts the variables by a heading click, again and again. Prints the answers'
// times (median, p99, maximum) and the sorts done. For the accessibility bus, run it in a
// session that has one, with Qt's bridge on (QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1).

#include "desktop/MainWindow.h"
#include "pages/EditorPath.h"
#include "pages/Routes.h"
#include "server/Encoders.h"
#include "server/HttpServer.h"
#include "server/RequestHandler.h"
#include "server/RequestLogging.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

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

// One keep-alive connection to 127.0.0.1:port that asks for a page and reads the whole answer
// (its Content-Length); false when the server ends the connection or answers otherwise.
class PageClient {
  public:
    explicit PageClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~PageClient() { ::close(fd_); }
    PageClient(const PageClient&) = delete;
    PageClient& operator=(const PageClient&) = delete;

    bool get(const std::string& document) {
        const std::string request = "GET " + document + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
        if (!connected_ || ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) < 0)
            return false;
        std::string answer;
        char block[4096];
        for (;;) {
            const std::size_t head = answer.find("\r\n\r\n");
            if (head != std::string::npos) {
                const std::size_t field = answer.find("Content-Length: ");
                if (field == std::string::npos || field > head)
                    return false;
                const std::size_t length = std::stoul(answer.substr(field + 16));
                if (answer.size() >= head + 4 + length)
                    return answer.starts_with("HTTP/1.1 200");
            }
            const ssize_t n = ::recv(fd_, block, sizeof block, 0);
            if (n <= 0)
                return false;
            answer.append(block, static_cast<std::size_t>(n));
        }
    }

  private:
    int fd_;
    bool connected_ = false;
};

// A static page asked for once a millisecond while the window sorts 100,000 variables again and
// again: what the answers waited.
int staticWhileSorting(double seconds) {
    QTemporaryDir dir;
    const std::string site = dir.filePath(QStringLiteral("site")).toStdString();
    std::filesystem::create_directory(site);
    std::ofstream(site + "/page.htm", std::ios::binary) << std::string(1024, 'x');
    // A free port of 127.0.0.1, as the system hands one out.
    int port = 0;
    {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
        ::close(probe);
    }
    const std::string settings = dir.filePath(QStringLiteral("bench.ini")).toStdString();
    {
        std::ofstream out(settings, std::ios::binary);
        out << "[Settings]\nServerActive=1\nVariablesAutoSort=0\nPort=" << port
            << "\nStaticPath=" << site << "\nWidth=1000\nHeight=700\n[Variables]\n";
        for (int i = 0; i < 100'000; ++i)
            out << "Var" << (i * 7919LL) % 100'000 << "=Wert " << (i * 104729LL) % 1000003 << "\n";
    }
    AppState state;
    state.settingsPath = settings;
    auto window = std::make_unique<MainWindow>(state);
    window->start();
    window->show();
    QApplication::processEvents();
    auto* list = window->findChild<QTableView*>(QStringLiteral("VariablesList"));

    std::atomic<bool> sorting{true};
    std::vector<double> waits;
    std::atomic<int> failures{0};
    std::thread client([&] {
        PageClient connection(port);
        while (sorting) {
            QElapsedTimer timer;
            timer.start();
            if (!connection.get("/page.htm")) {
                ++failures;
                return;
            }
            waits.push_back(timer.nsecsElapsed() / 1e6);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    int sorts = 0;
    QElapsedTimer running;
    running.start();
    while (running.elapsed() < seconds * 1000) {
        emit list->horizontalHeader()->sectionClicked(sorts % 2);
        QApplication::processEvents();
        ++sorts;
    }
    sorting = false;
    client.join();
    std::sort(waits.begin(), waits.end());
    const auto at = [&](double share) {
        return waits.empty() ? 0.0
                             : waits[std::min(waits.size() - 1,
                                              static_cast<std::size_t>(share * waits.size()))];
    };
    std::printf("static 1 KiB page while sorting 100,000 variables (%s): %zu answers, median "
                "%.2f ms, p99 %.2f ms, max %.2f ms; %d sorts in %.0f s%s\n",
                QAccessible::isActive() ? "accessibility active" : "accessibility off",
                waits.size(), at(0.5), at(0.99), waits.empty() ? 0.0 : waits.back(), sorts, seconds,
                failures ? ", the connection failed" : "");
    window.reset();
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 1 && std::string_view(argv[1]) == "--static-while-sorting")
        return staticWhileSorting(argc > 2 ? std::atof(argv[2]) : 10.0);
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
    auto* tree = window->findChild<QTreeView*>(QStringLiteral("EventTree"));
    auto* list = window->findChild<QTableView*>(QStringLiteral("VariablesList"));
    auto* log = window->findChild<QTableView*>(QStringLiteral("LogList"));
    auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("Tabs"));

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
    // Typing into the filter field while requests change a variable every 2 ms on their own
    // thread (auto-sort on: each moves its variable to the top), as a user searching a busy
    // list does: each key, from its press to the list painted with the requests' news taken
    // in, and the longest key.
    {
        auto* field = window->findChild<QLineEdit*>(QStringLiteral("VariablesFilter"));
        std::atomic<bool> typing{true};
        std::thread requests([&] {
            for (int i = 0; typing; ++i) {
                {
                    const pelotest::StateLock lock(state.mutex);
                    state.variables.applyParameters(
                        {{"Var" + std::to_string((i * 7919LL) % variables),
                          "neu" + std::to_string(i)}},
                        true);
                    window->host().variablesChanged();
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        double longest = 0;
        const QString typed = QStringLiteral("var12");
        for (int key = 0; key < typed.size(); ++key) {
            char what[64];
            std::snprintf(what, sizeof what, "variables: filter, key %d of \"var12\" (requests)",
                          key + 1);
            QElapsedTimer timer;
            timer.start();
            step(what, [&] {
                field->insert(typed.mid(key, 1));
                QApplication::processEvents();
                list->viewport()->repaint();
            });
            longest = std::max(longest, timer.nsecsElapsed() / 1e6);
        }
        std::printf("%-52s %9.1f ms\n", "variables: filter, longest key (requests)", longest);
        step("variables: filter cleared (requests)", [&] {
            field->clear();
            QApplication::processEvents();
            list->viewport()->repaint();
        });
        typing = false;
        requests.join();
    }
    // The tree's menu commands, as the user picks them.
    auto* collapseAll = window->findChild<QAction*>(QStringLiteral("CollapseAll"));
    auto* expandAll = window->findChild<QAction*>(QStringLiteral("ExpandAll"));
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
