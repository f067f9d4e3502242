// Writes a picture of each tab of the main window on a settings file (the demo site's copy):
//   desktop_screenshots SETTINGS OUTPUT_PREFIX
// gives OUTPUT_PREFIX-general.png, -log.png and -settings.png. Run by scripts/screenshots.sh.

#include "desktop/MainWindow.h"

#include <QApplication>
#include <QPixmap>
#include <QTabWidget>
#include <QTest>

#include <iostream>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::cerr << "usage: desktop_screenshots SETTINGS OUTPUT_PREFIX\n";
        return 2;
    }
    pelotest::AppState state;
    state.settingsPath = argv[1];
    pelotest::desktop::MainWindow window(state);
    window.start();
    window.showNormal();
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
