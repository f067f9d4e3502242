#include "desktop/DesktopProgram.h"

#include "desktop/MainWindow.h"
#include "desktop/SingleInstance.h"
#include "desktop/StopSignals.h"

#include <QApplication>
#include <QSessionManager>

#include <iostream>

namespace pelotest::desktop {

int runDesktop(int& argc, char** argv, const DesktopOptions& options) {
    // The web dialog's browser shares its drawing contexts with the window.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pelotest"));
    // The window hides to the notification area: only closing it ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance(options.settingsPath);
    if (instance.handOver())
        return 0;
    if (!instance.listen())
        std::cerr << "pelotest: cannot watch for a second start on this settings file\n";

    AppState state;
    state.settingsPath = options.settingsPath;
    state.languageFolders = options.languageFolders;
    MainWindow window(state);
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
    const int code = app.exec();
    window.shutdown();
    return code != 0 ? code : window.saved() ? 0 : 1;
}

} // namespace pelotest::desktop
