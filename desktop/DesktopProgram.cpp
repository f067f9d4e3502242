#include "desktop/DesktopProgram.h"

#include "desktop/Dialogs.h"
#include "desktop/MainWindow.h"
#include "desktop/SingleInstance.h"
#include "desktop/StateCommands.h"
#include "desktop/StopSignals.h"
#include "desktop/Text.h"
#include "language/UiTexts.h"
#include "state/PersistentState.h"

#include <QApplication>
#include <QSessionManager>

#include <iostream>
#include <string>

namespace pelotest::desktop {

namespace {

QString settingsFileText(const AppState& state, UiText id, const SettingsFileCheck& check) {
    return uiText(state, id)
        .replace(QStringLiteral("%1"), fromPathBytes(state.settingsPath.string()))
        .replace(QStringLiteral("%2"), QString::fromLocal8Bit(check.reason));
}

} // namespace

int runDesktop(int& argc, char** argv, const DesktopOptions& options) {
    // The single-instance socket's name is chosen before Qt may set $XDG_RUNTIME_DIR to a
    // folder of its own choosing, so that every start on this settings file finds the same one.
    std::string noSocket;
    const QString socketName = SingleInstance::keyFor(options.settingsPath, &noSocket);
    // The web dialog's browser shares its drawing contexts with the window.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pelotest"));
    // The name of the desktop entry (pelotest.desktop): the desktop groups the window under it
    // and shows its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("pelotest"));
    // The window hides to the notification area: only closing it ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance(socketName);
    if (instance.handOver())
        return 0;
    if (!instance.listen())
        std::cerr << "pelotest: cannot watch for a second start on this settings file"
                  << (noSocket.empty() ? "" : ": " + noSocket) << "\n";

    AppState state;
    state.settingsPath = options.settingsPath;
    state.languageFolders = options.languageFolders;
    state.runOverrides = options.overrides;
    // A settings file that cannot be read is never written: the program says so and ends before
    // anything is loaded. A read-only one is used, and the user hears once that changes stay.
    const SettingsFileCheck settingsFile = checkSettingsFile(options.settingsPath);
    if (settingsFile.access == SettingsAccess::Unusable) {
        std::cerr << "pelotest: cannot use the settings file " << options.settingsPath.string()
                  << ": " << settingsFile.reason << "; it is left as it is\n";
        QtDialogs(state, nullptr)
            .message(MessageKind::Error,
                     settingsFileText(state, UiText::SettingsFileUnusable, settingsFile));
        return 1;
    }
    StateCommands(state).setSettingsReadOnly(settingsFile.access == SettingsAccess::ReadOnly);
    MainWindowOptions windowOptions;
    windowOptions.startInTray = options.startInTray;
    windowOptions.program = options.program.string();
    windowOptions.settingsFileNamed = options.settingsFileNamed;
    MainWindow window(state, windowOptions);
    QApplication::setWindowIcon(window.images().icon(ImageList::kTrayRunning));

    QObject::connect(&instance, &SingleInstance::activationRequested, &window,
                     &MainWindow::bringToFront);
    ProgramCloser closer(window);
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &closer,
                     &ProgramCloser::closeProgram);
    // Logging out: the session asks first (open questions are cancelled, the state is written,
    // the server keeps running in case the logout is cancelled), then ends the program.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) {
                         cancelOpenDialogs();
                         window.saveNow();
                     });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window,
                     [&window] { window.shutdown(); });
    QObject::connect(&window, &MainWindow::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    window.start();
    // Stopped while starting (a message box of the start was open): nothing more to run.
    if (closer.closing())
        return window.saved() ? 0 : 1;
    if (settingsFile.access == SettingsAccess::ReadOnly)
        QtDialogs(state, &window)
            .message(MessageKind::Information,
                     settingsFileText(state, UiText::SettingsFileReadOnly, settingsFile));
    const int code = app.exec();
    window.shutdown();
    return code != 0 ? code : window.saved() ? 0 : 1;
}

} // namespace pelotest::desktop
