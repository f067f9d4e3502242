// Writes a picture of each tab of the main window on a settings file (the demo site's copy):
//   desktop_screenshots SETTINGS OUTPUT_PREFIX [REQUESTS]
// gives OUTPUT_PREFIX-general.png, -log.png and -settings.png, the open language box
// (-language-box.png, with the libraries beside the program) and the download and help dialogs
// as they look without a connection (-language-dialog.png, -help-dialog.png). With REQUESTS, the
// server is started and that program is run (with PORT in its environment) to send requests
// first, so the tree, the variables and the log show what a browser walking the site leaves. Run by
// scripts/screenshots.sh.

#include "desktop/Dialogs.h"
#include "desktop/MainWindow.h"
#include "desktop/WebDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <iostream>

namespace {

// What the screen shows of a widget's window and anything open above it (a popup list).
bool grabScreen(const QRect& area, const QString& file) {
    QTest::qWait(800);
    if (!QGuiApplication::primaryScreen()
             ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
             .save(file))
        return false;
    std::cout << "wrote " << file.toStdString() << "\n";
    return true;
}

bool grabDialog(pelotest::AppState& state, QWidget* parent, pelotest::desktop::WebDialog::Mode mode,
                const QString& file) {
    pelotest::desktop::QtDialogs dialogs(state, parent);
    // Nobody listens on port 9 of this machine: the dialog shows its built-in page.
    pelotest::desktop::WebDialog dialog(state, dialogs, mode, QStringLiteral("http://127.0.0.1:9"),
                                        parent);
    dialog.move(40, 40);
    dialog.show();
    for (int i = 0; i < 100 && !dialog.showsBuiltInPage(); ++i)
        QTest::qWait(100);
    QTest::qWait(2000);
    if (!dialog.screen()->grabWindow(dialog.winId()).save(file))
        return false;
    std::cout << "wrote " << file.toStdString() << "\n";
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc != 3 && argc != 4) {
        std::cerr << "usage: desktop_screenshots SETTINGS OUTPUT_PREFIX [REQUESTS]\n";
        return 2;
    }
    pelotest::AppState state;
    state.settingsPath = argv[1];
    state.languageFolders = {PELOTEST_BINARY_DIR};
    pelotest::desktop::MainWindow window(state);
    window.start();
    window.showNormal();
    if (argc == 4) {
        if (!window.serverRunning())
            window.findChild<QToolButton*>(QStringLiteral("StartStopButton"))->click();
        QProcess requests;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PORT"), QString::number(window.serverPort()));
        requests.setProcessEnvironment(environment);
        requests.setProcessChannelMode(QProcess::ForwardedChannels);
        requests.start(QString::fromLocal8Bit(argv[3]), {});
        // The window goes on taking the requests' notifications meanwhile. The state is asked,
        // not waitForFinished's answer: it is false also for a process that ended during qWait.
        while (requests.state() != QProcess::NotRunning && !requests.waitForFinished(50))
            QTest::qWait(50);
        if (requests.exitCode() != 0)
            return 1;
        QTest::qWait(300);
        // A row of each list selected, as while working with them.
        auto* variables = window.findChild<QTableView*>(QStringLiteral("VariablesList"));
        variables->selectRow(0);
        auto* log = window.findChild<QTableView*>(QStringLiteral("LogList"));
        log->selectRow(0);
    }
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("Tabs"));
    const char* names[] = {"general", "log", "settings"};
    for (int i = 0; i < 3; ++i) {
        tabs->setCurrentIndex(i);
        QTest::qWait(300);
        const QString file = QString::fromLocal8Bit(argv[2]) + '-' + names[i] + ".png";
        if (!window.grab().save(file))
            return 1;
        std::cout << "wrote " << file.toStdString() << "\n";
    }
    const QString prefix = QString::fromLocal8Bit(argv[2]);
    tabs->setCurrentIndex(2);
    auto* box = window.findChild<QComboBox*>(QStringLiteral("LanguageBox"));
    box->showPopup();
    if (!grabScreen(window.frameGeometry(), prefix + "-language-box.png"))
        return 1;
    box->hidePopup();
    using Mode = pelotest::desktop::WebDialog::Mode;
    if (!grabDialog(state, &window, Mode::Language, prefix + "-language-dialog.png") ||
        !grabDialog(state, &window, Mode::Help, prefix + "-help-dialog.png"))
        return 1;
    tabs->setCurrentIndex(0);
    window.close();
    return 0;
}
