#pragma once
// The desktop tests' shared fixture: a main window on a settings file of its own in a temporary
// folder, its dialogs answered by the test and the files it opens recorded; and the small
// helpers the window tests share.

#include "ScriptedDialogs.h"
#include "desktop/MainWindow.h"
#include "language/UiTexts.h"

#include <QAction>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QTcpServer>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace pelotest::test {

// A built-in UI text as the window shows it.
inline QString builtInText(int id) {
    return QString::fromLatin1(loadBuiltInUiText(UiText{id}));
}

// A port of 127.0.0.1 that nobody listened on a moment ago.
// A control's text without the Alt+letter mark the window added (a UI text's own "&&" stays).
inline QString withoutMnemonic(const QString& text) {
    QString plain;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
            plain += QStringLiteral("&&");
            ++i;
        } else if (text[i] != QLatin1Char('&')) {
            plain += text[i];
        }
    }
    return plain;
}

inline int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

inline bool sameIcon(const QIcon& a, const QIcon& b) {
    return a.cacheKey() == b.cacheKey();
}

// A test that cannot set up its files stops there.
inline void writeFile(const QString& path, const QByteArray& content = {}) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

class RecordingOpener : public desktop::FileOpener {
  public:
    bool edit(const QString& path) override {
        opened.push_back(path);
        return desktopOpens;
    }
    std::vector<QString> opened;
    bool desktopOpens = true; // false: the desktop has no program for the file
};

struct DesktopFixture {
    QTemporaryDir dir;
    AppState state;
    ScriptedDialogs dialogs;
    RecordingOpener opener;
    // The server's route table, stop limit and end of the process (the program's by default).
    desktop::ServerController::Options server;
    std::unique_ptr<desktop::MainWindow> window;

    QString path(const QString& name) const { return dir.filePath(name); }
    QString settingsFile() const { return path(QStringLiteral("pelotest.ini")); }

    // Writes settings into the settings file (a null array leaves the file absent) and starts a
    // window on it, with the language folders set in state (startInTray: as --tray does).
    desktop::MainWindow& start(const QByteArray& settings, bool tray = false,
                               bool startInTray = false) {
        if (!settings.isNull())
            writeFile(settingsFile(), settings);
        state.settingsPath = settingsFile().toStdString();
        window = std::make_unique<desktop::MainWindow>(
            state,
            desktop::MainWindowOptions{&dialogs, tray, &opener, startInTray, {}, false, server});
        window->start();
        return *window;
    }

    template <class T>
    T* child(const char* name) const {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    QAction* action(const char* name) const { return child<QAction>(name); }
    void trigger(const char* name) const { action(name)->trigger(); }
    QString status() const { return child<QLabel>("StatusText")->text(); }
};

} // namespace pelotest::test
