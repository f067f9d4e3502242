// Writes a picture of each tab of the main window on a settings file (the demo site's copy):
//   desktop_screenshots SETTINGS OUTPUT_PREFIX [REQUESTS]
// gives OUTPUT_PREFIX-general.png, -log.png and -settings.png. With REQUESTS, the server is
// started and that program is run (with PORT in its environment) to send requests first, so
// the tree, the variables and the log show what a browser walking the site leaves. Run by
// scripts/screenshots.sh.

#include "desktop/MainWindow.h"

#include <QApplication>
#include <QPixmap>
#include <QProcess>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <iostream>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3 && argc != 4) {
        std::cerr << "usage: desktop_screenshots SETTINGS OUTPUT_PREFIX [REQUESTS]\n";
        return 2;
    }
    pelotest::AppState state;
    state.settingsPath = argv[1];
    pelotest::desktop::MainWindow window(state);
    window.start();
    window.showNormal();
    if (argc == 4) {
        if (!window.serverRunning())
            window.findChild<QToolButton*>(QStringLiteral("ToolButton1"))->click();
        QProcess requests;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PORT"), QString::number(window.serverPort()));
        requests.setProcessEnvironment(environment);
        requests.setProcessChannelMode(QProcess::ForwardedChannels);
        requests.start(QString::fromLocal8Bit(argv[3]), {});
        // The window goes on taking the requests' notifications meanwhile.
        while (!requests.waitForFinished(50))
            QTest::qWait(50);
        if (requests.exitCode() != 0)
            return 1;
        QTest::qWait(300);
        // A row of each list selected, as while working with them.
        auto* variables = window.findChild<QTableView*>(QStringLiteral("ListView1"));
        variables->selectRow(0);
        auto* log = window.findChild<QTableView*>(QStringLiteral("ListView2"));
        log->selectRow(0);
    }
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    const char* names[] = {"general", "log", "settings"};
    for (int i = 0; i < 3; ++i) {
        tabs->setCurrentIndex(i);
        QTest::qWait(300);
        const QString file = QString::fromLocal8Bit(argv[2]) + '-' + names[i] + ".png";
        if (!window.grab().save(file))
            return 1;
        std::cout << "wrote " << file.toStdString() << "\n";
    }
    tabs->setCurrentIndex(0);
    window.close();
    return 0;
}
