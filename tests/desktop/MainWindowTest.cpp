// The main window on the offscreen platform: start-up from the settings file, the server's
// button and notification menu, a port that cannot be bound, hiding to the notification area,
// the bounds written at close, the settings tab's defaults and live binding, the start pages,
// and the whole program ending on SIGTERM/SIGINT, whatever dialog is open, and handing over to a
// running one.

#include "desktop/MainWindow.h"
#include "DesktopFixture.h"
#include "desktop/Autostart.h"
#include "desktop/FileDialogs.h"
#include "desktop/SettingsTab.h"
#include "desktop/SingleInstance.h"
#include "desktop/StopSignals.h"
#include "language/UiTexts.h"
#include "server/RequestContext.h"
#include "state/ProfileFile.h"
#include "support/HttpTestClient.h"
#include "support/Unprivileged.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QScopeGuard>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <condition_variable>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <memory>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace pelotest::test {
namespace {

using desktop::ImageList;
using desktop::MainWindow;
using desktop::MessageKind;

// The status line of an HTTP request to the server on port, or "" when nobody answers.
QByteArray statusLine(int port) {
    const std::string answer =
        rawExchange(static_cast<std::uint16_t>(port),
                    "GET /$int HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    return QByteArray::fromStdString(answer.substr(0, answer.find("\r\n")));
}
std::string readKey(const QString& file, const char* key) {
    ProfileFile profile;
    profile.load(file.toStdString());
    return profile.readString("Settings", key).value_or("<absent>");
}

// The user who plays another person on this machine: nobody, when the test may become him.
std::optional<std::pair<uid_t, gid_t>> otherUser() {
    const passwd* entry = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
    if (!entry || entry->pw_uid == 0)
        return std::nullopt;
    return std::pair{entry->pw_uid, entry->pw_gid};
}

// A process of the other user listening at path (its folder made, open to everyone, where
// missing) that answers "ok" to whoever connects, as a program posing as ours would. It ends
// with this object; the socket is there once path exists.
class Impostor {
  public:
    Impostor(std::pair<uid_t, gid_t> user, const QString& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(path).constData(),
                     sizeof address.sun_path - 1);
        const QByteArray folder = QFile::encodeName(QFileInfo(path).path());
        pid_ = ::fork();
        if (pid_ != 0)
            return;
        const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ::umask(0);
        if (::setgroups(0, nullptr) != 0 || ::setresgid(user.second, user.second, user.second) ||
            ::setresuid(user.first, user.first, user.first))
            ::_exit(1);
        ::mkdir(folder.constData(), 0777);
        if (::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listening, 8) != 0)
            ::_exit(1);
        for (char request[64];;) {
            const int peer = ::accept(listening, nullptr, nullptr);
            (void)!::read(peer, request, sizeof request);
            (void)!::write(peer, "ok\n", 3);
            ::close(peer);
        }
    }
    ~Impostor() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

  private:
    pid_t pid_;
};

using Fixture = DesktopFixture;

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void picturesAreTransparentWhereMagenta();
    void startsServerThatRanAtExit();
    void startAndStop_data();
    void startAndStop();
    void portThatCannotBeBound_data();
    void portThatCannotBeBound();
    void minimiseAndRestore_data();
    void minimiseAndRestore();
    void boundsOfTheLastNormalPlacementAreWritten();
    void emptySettingsFileShowsDefaults();
    void controlsWriteSettingsLive();
    void startPagesFollowStaticFolder();
    void clearingStartPageDisablesRemoteEditor();
    void folderChoosers_data();
    void folderChoosers();
    void stopSignalCancelsDialogs_data();
    void stopSignalCancelsDialogs();
    void stopSignalSavesState_data();
    void stopSignalSavesState();
    void secondProgramHandsOver();
    void socketFolderMustBePrivate_data();
    void socketFolderMustBePrivate();
    void anotherUsersSocketIsNotBelieved();
    void anotherUserCannotKeepTheWindowFromStarting();
    void liveReloadBox();
    void liveStatusCountsBrowsersAndSwitchesOffAtOnce();
    void autostartBox();
    void autostartExecLineQuotes();
    void autostartEntryGoesOnlyToItsOwnFolder();
    void messageBoxShowsPlainText();
    void trayStartServesHiddenAndKeepsTheFile();
    void widgetsChangeWithTheStateFree();
    void closingWithAStuckRequest_data();
    void closingWithAStuckRequest();
};

void MainWindowTest::picturesAreTransparentWhereMagenta() {
    const ImageList images;
    std::vector<std::pair<QString, QIcon>> pictures;
    for (int i = 0; i < ImageList::kCount; ++i)
        if (i != ImageList::kWarning)
            pictures.emplace_back(QStringLiteral("img%1").arg(i), images.icon(i));
    for (const char* name : {"btn1", "infobt", "infosm"})
        pictures.emplace_back(QString::fromLatin1(name),
                              ImageList::button(QString::fromLatin1(name)));
    for (const auto& [name, icon] : pictures) {
        for (const int size : {16, 32}) {
            const QImage image =
                icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(image.size(), QSize(size, size));
            int transparent = 0, magenta = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x) {
                    const QRgb pixel = image.pixel(x, y);
                    transparent += qAlpha(pixel) == 0;
                    magenta += pixel == qRgb(255, 0, 255);
                }
            QVERIFY2(transparent > 0 && transparent < size * size, qPrintable(name));
            QVERIFY2(magenta == 0, qPrintable(name));
        }
    }
    QVERIFY(images.icon(ImageList::kWarning).cacheKey() !=
            images.icon(ImageList::kEventNode).cacheKey());
    QVERIFY(!images.icon(ImageList::kWarning).isNull());
}

void MainWindowTest::startsServerThatRanAtExit() {
    Fixture f;
    const int port = freePort();
    MainWindow& window =
        f.start(QStringLiteral("[Settings]\nServerActive=1\nPort=%1\n[Tree]\nNode0=index.htm\n")
                    .arg(port)
                    .toLatin1());
    QCOMPARE(f.status(), builtInText(41));
    QVERIFY(f.child<QToolButton>("StartStopButton")->isChecked());
    QVERIFY(!f.child<QSpinBox>("PortField")->isEnabled());
    QVERIFY(!f.child<QLabel>("PortLabel")->isEnabled());
    QCOMPARE(window.rootImageIndex(), ImageList::kRootRunning);
    QCOMPARE(int(window.serverPort()), port);
    QCOMPARE(statusLine(port), QByteArray("HTTP/1.1 200 OK"));
    QVERIFY(
        f.child<QLabel>("ServerLink")->text().contains(QStringLiteral("localhost:%1").arg(port)));
}

void MainWindowTest::startAndStop_data() {
    QTest::addColumn<bool>("fromTrayMenu");
    QTest::newRow("button") << false;
    QTest::newRow("tray menu") << true;
}

void MainWindowTest::startAndStop() {
    QFETCH(bool, fromTrayMenu);
    Fixture f;
    const int port = freePort();
    MainWindow& window = f.start(QStringLiteral("[Settings]\nPort=%1\n").arg(port).toLatin1(),
                                 /*tray=*/true);
    auto* button = f.child<QToolButton>("StartStopButton");
    QAction* aktiv = f.action("TrayStartStop");
    const auto toggle = [&] { fromTrayMenu ? aktiv->trigger() : button->click(); };

    struct Expected {
        bool running;
        int status, caption, picture, root, tray;
    };
    for (const Expected e :
         {Expected{true, 41, 38, ImageList::kStop, 1, ImageList::kTrayRunning},
          Expected{false, 40, 37, ImageList::kStart, 0, ImageList::kTrayStopped}}) {
        toggle();
        QCOMPARE(button->isChecked(), e.running);
        QCOMPARE(f.status(), builtInText(e.status));
        QCOMPARE(aktiv->text(), builtInText(e.caption));
        QVERIFY(sameIcon(aktiv->icon(), window.images().icon(e.picture)));
        QVERIFY(sameIcon(button->icon(), window.images().icon(e.picture)));
        QVERIFY(sameIcon(window.trayIcon()->icon(), window.images().icon(e.tray)));
        QCOMPARE(window.rootImageIndex(), e.root);
        QCOMPARE(f.child<QSpinBox>("PortField")->isEnabled(), !e.running);
        QCOMPARE(statusLine(port).isEmpty(), !e.running);
    }
    QVERIFY(f.dialogs.messages.empty());
}

void MainWindowTest::portThatCannotBeBound_data() {
    QTest::addColumn<bool>("privileged");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("holderNamed");
    QTest::newRow("in use") << false << QStringLiteral("schon von einem anderen Programm") << true;
    QTest::newRow("below 1024") << true << QStringLiteral("Administratorrechte") << false;
}

void MainWindowTest::portThatCannotBeBound() {
    QFETCH(bool, privileged);
    QFETCH(QString, reason);
    QFETCH(bool, holderNamed);
    // This test program holds the port: the message names it as /proc does.
    QFile comm(QStringLiteral("/proc/self/comm"));
    QVERIFY(comm.open(QIODevice::ReadOnly));
    const QString self = QStringLiteral("%1 (PID %2)")
                             .arg(QString::fromLocal8Bit(comm.readAll().trimmed()))
                             .arg(::getpid());
    QTcpServer holder;
    int port = 1;
    if (!privileged) {
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
        port = holder.serverPort();
    }
    const auto refused = [&] {
        Fixture f;
        f.start(QStringLiteral("[Settings]\nPort=%1\n").arg(port).toLatin1());
        f.child<QToolButton>("StartStopButton")->click();

        QCOMPARE(f.dialogs.messages.size(), std::size_t(1));
        QCOMPARE(f.dialogs.messages[0].kind, MessageKind::Error);
        QVERIFY2(f.dialogs.messages[0].text.contains(reason),
                 qPrintable(f.dialogs.messages[0].text));
        QCOMPARE(f.dialogs.messages[0].text.contains(builtInText(152).replace("%1", self)),
                 holderNamed);
        QVERIFY(!f.child<QToolButton>("StartStopButton")->isChecked());
        QCOMPARE(f.status(), builtInText(40));
        QCOMPARE(f.action("TrayStartStop")->text(), builtInText(37));
        QVERIFY(f.child<QSpinBox>("PortField")->isEnabled());
        QVERIFY(!f.window->serverRunning());
    };
    QTcpServer probe;
    if (!privileged || !probe.listen(QHostAddress::LocalHost, 1))
        return refused();
    // Root may bind low ports: the case runs as a user who may not.
    probe.close();
    const auto user = test::unprivilegedUser();
    if (!user)
        QSKIP("this user may bind ports below 1024, and there is no user who may not");
    QCOMPARE(test::runAs(*user,
                         [&] {
                             refused();
                             return !QTest::currentTestFailed();
                         }),
             std::optional<bool>(true));
}

void MainWindowTest::minimiseAndRestore_data() {
    QTest::addColumn<bool>("tray");
    QTest::newRow("with a notification area") << true;
    QTest::newRow("without one") << false;
}

void MainWindowTest::minimiseAndRestore() {
    QFETCH(bool, tray);
    Fixture f;
    MainWindow& window = f.start(QByteArray(), tray);
    QVERIFY(window.isVisible());
    QCOMPARE(window.trayIcon() != nullptr, tray);

    window.showMinimized();
    if (tray) {
        QTRY_VERIFY(window.hiddenToTray());
        QVERIFY(window.isHidden());
        QVERIFY(window.trayIcon()->isVisible());
        emit window.trayIcon()->activated(QSystemTrayIcon::Trigger); // a left click
        QVERIFY(!window.hiddenToTray());
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
        QVERIFY(!window.trayIcon()->isVisible());
    } else {
        // Nothing to hide into: the window stays a minimised window that can be brought back.
        QTest::qWait(50);
        QVERIFY(window.isMinimized());
        QVERIFY(!window.isHidden());
        QVERIFY(!window.hiddenToTray());
    }
    window.close();
    QCOMPARE(readKey(f.settingsFile(), "WindowState"), "normal");
}

void MainWindowTest::boundsOfTheLastNormalPlacementAreWritten() {
    Fixture f;
    MainWindow& window = f.start(QByteArray());
    window.move(33, 44);
    QTRY_COMPARE(window.pos(), QPoint(33, 44));
    window.resize(760, 620);
    QTRY_COMPARE(window.size(), QSize(760, 620));
    window.move(120, 130); // moved without a resize: where it really was is recorded
    QTRY_COMPARE(window.pos(), QPoint(120, 130));
    window.showMaximized(); // resized while maximised: not recorded either
    QTRY_VERIFY(window.isMaximized());
    window.close();

    const struct {
        const char* key;
        std::string value;
    } expected[] = {{"Left", "120"},
                    {"Top", "130"},
                    {"Width", "760"},
                    {"Height", "620"},
                    {"TreeWidth", "345"},
                    {"PageIndex", "0"},
                    {"WindowState", "maximized"},
                    {"ServerActive", "0"}};
    for (const auto& e : expected)
        QCOMPARE(readKey(f.settingsFile(), e.key), e.value);
}

void MainWindowTest::emptySettingsFileShowsDefaults() {
    Fixture f;
    MainWindow& window = f.start(QByteArray());
    QCOMPARE(window.windowTitle(), builtInText(1));
    QCOMPARE(f.status(), builtInText(40));
    QCOMPARE(f.child<QTabWidget>("Tabs")->currentIndex(), 0);
    QVERIFY(!f.child<QToolButton>("StartStopButton")->isChecked());
    QVERIFY(!window.serverRunning());
    QCOMPARE(f.child<QSpinBox>("PortField")->value(), 8080);
    QCOMPARE(f.child<QSpinBox>("LogLimitField")->value(), 100);
    QCOMPARE(f.child<QSpinBox>("ReloadTimeField")->value(), 2);
    const struct {
        const char* name;
        bool checked;
        int label;
    } boxes[] = {
        {"AutoSortBox", true, 23}, {"SaveLogBox", false, 25}, {"RemoteEditorBox", true, 26}};
    for (const auto& b : boxes) {
        QCOMPARE(f.child<QCheckBox>(b.name)->isChecked(), b.checked);
        QCOMPARE(withoutMnemonic(f.child<QCheckBox>(b.name)->text()), builtInText(b.label));
    }
    for (const char* name :
         {"TemplateFolderField", "StaticFolderField", "VirtualFolderField", "StartParametersField"})
        QVERIFY(f.child<QLineEdit>(name)->text().isEmpty());
    QVERIFY(f.child<QComboBox>("StartPageBox")->currentText().isEmpty());
    const auto* tabs = f.child<QTabWidget>("Tabs");
    for (int i = 0; i < 3; ++i) {
        // The log's tab names its rows.
        QCOMPARE(tabs->tabText(i), builtInText(2 + i) + (i == 1 ? " (0)" : ""));
        QVERIFY(sameIcon(tabs->tabIcon(i), window.images().icon(ImageList::kTabGeneral + i)));
    }
    QCOMPARE(f.state.settings.varBefore, "/(");
    QCOMPARE(f.state.settings.event, "PELO_EVENT");
}

void MainWindowTest::controlsWriteSettingsLive() {
    Fixture f;
    f.start(QByteArray());
    Settings& s = f.state.settings;
    f.child<QLineEdit>("TemplateFolderField")->setText(QStringLiteral("/srv/tmpl/(Kunde)"));
    f.child<QLineEdit>("VirtualFolderField")->setText(QStringLiteral("app"));
    f.child<QLineEdit>("StartParametersField")->setText(QStringLiteral("a=1&b=\u00e4"));
    f.child<QSpinBox>("PortField")->setValue(8081);
    f.child<QSpinBox>("LogLimitField")->setValue(250);
    f.child<QSpinBox>("ReloadTimeField")->setValue(7);
    f.child<QCheckBox>("AutoSortBox")->setChecked(false);
    f.child<QCheckBox>("SaveLogBox")->setChecked(true);
    QCOMPARE(s.dynamicPath, "/srv/tmpl/(Kunde)");
    QCOMPARE(s.virtualPath, "app");
    QCOMPARE(s.staticParameter, "a=1&b=\xe4"); // Windows-1252, as requests carry it
    QCOMPARE(s.port, 8081);
    QCOMPARE(s.maxLog, 250);
    QCOMPARE(s.remoteEditReload, 7);
    QVERIFY(!s.variablesAutoSort);
    QVERIFY(s.saveLog);
}

void MainWindowTest::startPagesFollowStaticFolder() {
    Fixture f;
    f.start(QByteArray("[Settings]\nStaticSite=keep.htm\n"));
    QTemporaryDir site;
    for (const char* name : {"b.htm", "A.htm"}) {
        QFile file(site.filePath(QString::fromLatin1(name)));
        file.open(QIODevice::WriteOnly);
    }
    QDir(site.path()).mkdir(QStringLiteral("folder"));

    f.child<QLineEdit>("StaticFolderField")->setText(site.path() + QLatin1Char('/'));
    auto* pages = f.child<QComboBox>("StartPageBox");
    QStringList names;
    for (int i = 0; i < pages->count(); ++i)
        names << pages->itemText(i);
    QCOMPARE(names, QStringList({QStringLiteral("A.htm"), QStringLiteral("b.htm")}));
    QCOMPARE(pages->currentText(), QStringLiteral("keep.htm"));
    QCOMPARE(f.state.settings.staticSite, "keep.htm");

    f.child<QLineEdit>("StaticFolderField")->setText(site.filePath(QStringLiteral("missing")));
    QCOMPARE(pages->count(), 0);
    QCOMPARE(pages->currentText(), QStringLiteral("keep.htm"));
}

void MainWindowTest::clearingStartPageDisablesRemoteEditor() {
    Fixture f;
    f.start(QByteArray("[Settings]\nStaticSite=index.htm\n"));
    const char* controls[] = {"RemoteEditorBox", "ReloadTimeLabel", "ReloadTimeField",
                              "RemoteEditorHint"};
    for (const char* name : controls)
        QVERIFY2(f.window->findChild<QWidget*>(QString::fromLatin1(name))->isEnabled(), name);
    f.child<QComboBox>("StartPageBox")->setEditText(QString());
    for (const char* name : controls)
        QVERIFY2(!f.window->findChild<QWidget*>(QString::fromLatin1(name))->isEnabled(), name);
    QCOMPARE(f.state.settings.staticSite, "");
}

void MainWindowTest::folderChoosers_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("answer"); // "" = cancel
    QTest::addColumn<int>("title");
    QTest::addColumn<QString>("initial");
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("warned");
    QTest::newRow("templates, variable expanded") << "TemplateFolderButton"
                                                  << "/srv/(Site)/t/"
                                                  << "/new" << 102 << "/srv/shop/t"
                                                  << "TemplateFolderField" << true;
    QTest::newRow("templates, plain") << "TemplateFolderButton"
                                      << "/srv/t"
                                      << "/new" << 102 << "/srv/t"
                                      << "TemplateFolderField" << false;
    QTest::newRow("templates, cancelled") << "TemplateFolderButton"
                                          << "/srv/(Site)"
                                          << "" << 102 << "/srv/shop"
                                          << "TemplateFolderField" << false;
    QTest::newRow("static") << "StaticFolderButton"
                            << "/srv/s"
                            << "/new" << 101 << "/srv/s"
                            << "StaticFolderField" << false;
}

void MainWindowTest::folderChoosers() {
    QFETCH(QString, button);
    QFETCH(QString, stored);
    QFETCH(QString, answer);
    QFETCH(int, title);
    QFETCH(QString, initial);
    QFETCH(QString, field);
    QFETCH(bool, warned);
    Fixture f;
    const char* key = field == QLatin1String("TemplateFolderField") ? "DynamicPath" : "StaticPath";
    f.start(QStringLiteral("[Settings]\n%1=%2\n[Const]\nVarBefore=(\n[Variables]\nSite=shop\n")
                .arg(QString::fromLatin1(key), stored)
                .toLatin1());
    if (!answer.isEmpty())
        f.dialogs.folders.push_back(answer);
    f.child<QToolButton>(qPrintable(button))->click();

    QCOMPARE(f.dialogs.folderQuestions.size(), std::size_t(1));
    QCOMPARE(f.dialogs.folderQuestions[0].title, builtInText(title));
    QCOMPARE(f.dialogs.folderQuestions[0].initial, initial);
    QVERIFY(f.dialogs.prompts.empty()); // the variables are expanded without asking
    QCOMPARE(f.child<QLineEdit>(qPrintable(field))->text(), answer.isEmpty() ? stored : answer);
    QCOMPARE(f.dialogs.messages.size(), std::size_t(warned ? 1 : 0));
    if (warned) {
        QCOMPARE(f.dialogs.messages[0].kind, MessageKind::Warning);
        QCOMPARE(f.dialogs.messages[0].text, builtInText(103));
    }
}

// ---------------------------------------------------------------------------------------------
// The program as a whole (the built executable, on the offscreen platform).

// Each kind of dialog the window opens, opened as the window opens it; returns the answer the
// code that opened it got, once every dialog it opened is gone.
struct DialogKind {
    const char* name;
    int dialogs; // how many are open at once before the signal comes
    std::function<QString(desktop::QtDialogs&, QWidget*, const QString& file)> open;
    QString answer;
};

QString answerText(const std::optional<QString>& answer) {
    return answer ? QStringLiteral("given") : QStringLiteral("cancelled");
}
QString answerText(bool accepted) {
    return accepted ? QStringLiteral("accepted") : QStringLiteral("refused");
}

const std::vector<DialogKind>& dialogKinds() {
    using desktop::QtDialogs;
    static const std::vector<DialogKind> kinds = {
        // Escape on a box with one button is its OK.
        {"message box", 1,
         [](QtDialogs& d, QWidget*, const QString&) {
             return answerText(d.message(MessageKind::Error, QStringLiteral("x")));
         },
         QStringLiteral("accepted")},
        {"yes/no box", 1,
         [](QtDialogs& d, QWidget*, const QString&) {
             return answerText(d.message(MessageKind::Confirmation, QStringLiteral("x")));
         },
         QStringLiteral("refused")},
        {"input box", 1,
         [](QtDialogs& d, QWidget*, const QString&) {
             return answerText(
                 d.input(QStringLiteral("v"), QStringLiteral("p"), QStringLiteral("1")));
         },
         QStringLiteral("cancelled")},
        {"folder chooser", 1,
         [](QtDialogs& d, QWidget*, const QString& file) {
             return answerText(d.chooseFolder(QStringLiteral("t"), QFileInfo(file).path()));
         },
         QStringLiteral("cancelled")},
        {"template selection", 1,
         [](QtDialogs& d, QWidget* parent, const QString&) {
             desktop::SelectPageDialog dialog(parent);
             dialog.setNames({QStringLiteral("a.htm")});
             return answerText(d.showModal(dialog));
         },
         QStringLiteral("refused")},
        {"file properties", 1,
         [](QtDialogs& d, QWidget* parent, const QString& file) {
             desktop::FilePropertiesDialog dialog(
                 file, [](UiText id) { return builtInText(uiTextId(id)); }, parent);
             return answerText(d.showModal(dialog));
         },
         QStringLiteral("refused")},
        {"a box opened over an input box", 2,
         [](QtDialogs& d, QWidget*, const QString&) {
             QString inner;
             QTimer::singleShot(0, [&] {
                 inner = answerText(d.message(MessageKind::Confirmation, QStringLiteral("x")));
             });
             return inner + QLatin1Char(' ') +
                    answerText(d.input(QStringLiteral("v"), QStringLiteral("p"), QString()));
         },
         QStringLiteral("refused cancelled")},
        {"a box opened after a cancelled one", 1,
         [](QtDialogs& d, QWidget*, const QString&) {
             const QString first =
                 answerText(d.input(QStringLiteral("v"), QStringLiteral("p"), {}));
             return first + QLatin1Char(' ') +
                    answerText(d.message(MessageKind::Confirmation, QStringLiteral("x")));
         },
         QStringLiteral("cancelled refused")},
    };
    return kinds;
}

int openDialogs() {
    int open = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        open += qobject_cast<QDialog*>(widget) && widget->isVisible();
    return open;
}

void MainWindowTest::stopSignalCancelsDialogs_data() {
    QTest::addColumn<int>("kind");
    for (std::size_t i = 0; i < dialogKinds().size(); ++i)
        QTest::newRow(dialogKinds()[i].name) << int(i);
}

void MainWindowTest::stopSignalCancelsDialogs() {
    QFETCH(int, kind);
    const DialogKind& dialog = dialogKinds()[static_cast<std::size_t>(kind)];
    Fixture f;
    f.start(QStringLiteral("[Settings]\nPort=%1\n").arg(freePort()).toLatin1());
    desktop::ProgramCloser closer(*f.window);
    desktop::StopSignals stopSignals;
    connect(&stopSignals, &desktop::StopSignals::stopRequested, &closer,
            &desktop::ProgramCloser::closeProgram);
    // The signal comes once the dialogs are open; a dialog that stays open fails the test
    // instead of hanging it.
    QTimer signalWhenOpen;
    connect(&signalWhenOpen, &QTimer::timeout, this, [&] {
        if (openDialogs() >= dialog.dialogs) {
            signalWhenOpen.stop();
            ::raise(SIGTERM);
        }
    });
    signalWhenOpen.start(10);
    QTimer stuck;
    stuck.setSingleShot(true);
    connect(&stuck, &QTimer::timeout, this, [] { qFatal("a dialog stayed open after SIGTERM"); });
    stuck.start(20000);

    desktop::QtDialogs dialogs(f.state, f.window.get());
    QCOMPARE(dialog.open(dialogs, f.window.get(), f.settingsFile()), dialog.answer);
    stuck.stop();
    QCOMPARE(openDialogs(), 0);
    QVERIFY(closer.closing());
    QVERIFY(f.window->saved());
    QCOMPARE(readKey(f.settingsFile(), "WindowState"), "normal");
}

void MainWindowTest::stopSignalSavesState_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("portHeld");
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGINT") << int(SIGINT) << false;
    // The start then shows a message box, and the signal comes while it is open.
    QTest::newRow("SIGTERM, message box open") << int(SIGTERM) << true;
}

void MainWindowTest::stopSignalSavesState() {
    QFETCH(int, signal);
    QFETCH(bool, portHeld);
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("pelotest.ini"));
    const int port = freePort();
    QTcpServer holder;
    if (portHeld)
        QVERIFY(holder.listen(QHostAddress::LocalHost, static_cast<quint16>(port)));
    {
        QFile file(settings);
        file.open(QIODevice::WriteOnly);
        file.write(QStringLiteral("[Settings]\nServerActive=1\nPageIndex=2\nPort=%1\n")
                       .arg(port)
                       .toLatin1());
    }
    QProcess program;
    program.start(QStringLiteral(PELOTEST_PROGRAM), {QStringLiteral("--settings"), settings});
    QVERIFY(program.waitForStarted());
    if (portHeld)
        QTest::qWait(3000); // nothing to ask: the box waits for a person
    else
        QTRY_VERIFY_WITH_TIMEOUT(!statusLine(port).isEmpty(), 10000);
    QCOMPARE(readKey(settings, "WindowState"), "<absent>");

    ::kill(static_cast<pid_t>(program.processId()), signal);
    const bool ended = program.waitForFinished(5000);
    if (!ended)
        program.kill();
    QVERIFY(ended);
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(readKey(settings, "WindowState"), "normal");
    QCOMPARE(readKey(settings, "PageIndex"), "2");
    // The server that could not start counts as stopped.
    QCOMPARE(readKey(settings, "ServerActive"), portHeld ? "0" : "1");
    if (!portHeld)
        QVERIFY(statusLine(port).isEmpty());
}

void MainWindowTest::secondProgramHandsOver() {
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("pelotest.ini"));
    desktop::SingleInstance first(desktop::SingleInstance::keyFor(settings.toStdString()));
    QVERIFY(first.listen());
    int activations = 0;
    connect(&first, &desktop::SingleInstance::activationRequested, this, [&] { ++activations; });

    QProcess second;
    second.start(QStringLiteral(PELOTEST_PROGRAM), {QStringLiteral("--settings"), settings});
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(activations, 1);
    QVERIFY(!QFile::exists(settings)); // the second program neither loaded nor saved anything

    // Another settings file is another program.
    QVERIFY(
        desktop::SingleInstance::keyFor(settings.toStdString()) !=
        desktop::SingleInstance::keyFor(dir.filePath(QStringLiteral("other.ini")).toStdString()));
}

void MainWindowTest::socketFolderMustBePrivate_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("create");
    QTest::addColumn<bool>("used");
    QTest::newRow("missing") << "missing" << true << true;
    QTest::newRow("ours, open to others") << "open" << true << true;
    QTest::newRow("the session's, open to others") << "open" << false << false;
    QTest::newRow("link to a private folder") << "link" << true << false;
    QTest::newRow("a file") << "file" << true << false;
    QTest::newRow("another user's") << "others" << true << false;
}

void MainWindowTest::socketFolderMustBePrivate() {
    QFETCH(QString, folder);
    QFETCH(bool, create);
    QFETCH(bool, used);
    QTemporaryDir dir;
    const QString path = dir.filePath(folder);
    QVERIFY(dir.path().size() > 0 && ::mkdir(dir.filePath("private").toLocal8Bit(), 0700) == 0);
    if (folder == QLatin1String("open") || folder == QLatin1String("others"))
        QVERIFY(::mkdir(path.toLocal8Bit(), 0700) == 0 && ::chmod(path.toLocal8Bit(), 0777) == 0);
    if (folder == QLatin1String("link"))
        QVERIFY(QFile::link(dir.filePath("private"), path));
    if (folder == QLatin1String("file"))
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    if (folder == QLatin1String("others")) {
        const auto other = otherUser();
        if (!other)
            QSKIP("no other user to hand the folder to");
        QVERIFY(::chown(path.toLocal8Bit(), other->first, other->second) == 0);
    }
    const auto refused = desktop::refusePrivateFolder(path.toStdString(), create);
    QCOMPARE(!refused, used);
    struct stat status {};
    if (used) {
        QVERIFY(::lstat(path.toLocal8Bit(), &status) == 0);
        QCOMPARE(status.st_mode & 07777, 0700u);
    }
}

// A program of another user at the socket's name, answering as ours would, is not believed.
void MainWindowTest::anotherUsersSocketIsNotBelieved() {
    const auto other = otherUser();
    if (!other)
        QSKIP("no other user to play the impostor");
    QTemporaryDir dir;
    QVERIFY(::chmod(dir.path().toLocal8Bit(), 0755) == 0);
    const QString open = dir.filePath(QStringLiteral("open"));
    QVERIFY(::mkdir(open.toLocal8Bit(), 0700) == 0 && ::chmod(open.toLocal8Bit(), 01777) == 0);
    const QString name = open + QStringLiteral("/s");
    Impostor impostor(*other, name);
    QTRY_VERIFY(QFileInfo::exists(name));
    QVERIFY(!desktop::SingleInstance(name).handOver());
}

// Another user gets in first at the old name of the socket and at the folder where its new name
// would be made; the window starts anyway.
void MainWindowTest::anotherUserCannotKeepTheWindowFromStarting() {
    const auto other = otherUser();
    if (!other)
        QSKIP("no other user to play the impostor");
    QTemporaryDir dir;
    QVERIFY(::chmod(dir.path().toLocal8Bit(), 0755) == 0);
    const QString temp = dir.filePath(QStringLiteral("tmp"));
    QVERIFY(::mkdir(temp.toLocal8Bit(), 0700) == 0 && ::chmod(temp.toLocal8Bit(), 01777) == 0);
    const QString settings = dir.filePath(QStringLiteral("pelotest.ini"));
    const int port = freePort();
    {
        QFile file(settings);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[Settings]\nServerActive=1\nPort=%1\n").arg(port).toLatin1());
    }
    // The socket's name, as the program would make it in a private folder.
    const QString runtime = dir.filePath(QStringLiteral("run"));
    QVERIFY(::mkdir(runtime.toLocal8Bit(), 0700) == 0);
    const QByteArray session = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    const QString name =
        QFileInfo(desktop::SingleInstance::keyFor(settings.toStdString())).fileName();
    session.isEmpty() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", session);
    QVERIFY(name.startsWith(QStringLiteral("pelotest-")));
    const QString oldName = temp + '/' + name;
    const QString newName = temp + QStringLiteral("/pelotest-%1/").arg(::geteuid()) + name;
    Impostor atOldName(*other, oldName);
    Impostor atNewName(*other, newName);
    QTRY_VERIFY(QFileInfo::exists(oldName) && QFileInfo::exists(newName));

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), temp);
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(PELOTEST_PROGRAM), {QStringLiteral("--settings"), settings});
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!statusLine(port).isEmpty(), 10000);
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 0);
    QVERIFY2(program.readAllStandardError().contains("belongs to another user"),
             "the program says why a second start goes unnoticed");
}

// The live reload box shows the key, or --live-reload, which holds it on for the run and never
// reaches the file; the status line says whether live reload is on.
void MainWindowTest::liveReloadBox() {
    const struct {
        const char* key;
        bool heldOn, shown;
        std::string stored; // after a click on the box
    } cases[] = {
        {"", false, false, "1"}, {"LiveReload=1", false, true, "0"}, {"", true, true, "<absent>"}};
    for (const auto& c : cases) {
        Fixture f;
        f.state.runOverrides.liveReload = c.heldOn;
        f.start(QByteArray("[Settings]\n") + c.key);
        auto* box = f.child<QCheckBox>("LiveReloadBox");
        auto* line = f.child<QLabel>("LiveStatus");
        QCOMPARE(withoutMnemonic(box->text()), builtInText(135));
        QCOMPARE(box->isChecked(), c.shown);
        QCOMPARE(box->toolTip(), c.heldOn ? builtInText(149) : QString());
        QTest::mouseClick(box, Qt::LeftButton);
        const bool on = c.heldOn || !c.shown;
        QCOMPARE(box->isChecked(), on);
        QCOMPARE(line->text(), on ? builtInText(150).replace("%1", "0") : QString());
        QCOMPARE(line->isHidden(), !on);
        f.window->shutdown();
        QCOMPARE(readKey(f.settingsFile(), "LiveReload"), c.stored);
    }
}

// An open page counts in the status line; switching live reload off ends its stream at once.
void MainWindowTest::liveStatusCountsBrowsersAndSwitchesOffAtOnce() {
    Fixture f;
    const int port = freePort();
    f.start(
        QStringLiteral("[Settings]\nPort=%1\nServerActive=1\nLiveReload=1\n").arg(port).toLatin1());
    auto* line = f.child<QLabel>("LiveStatus");
    QCOMPARE(line->text(), builtInText(150).replace("%1", "0"));
    QTcpSocket page;
    page.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    QVERIFY(page.waitForConnected(5000));
    page.write("GET /$int/live HTTP/1.1\r\nHost: localhost\r\n\r\n");
    QTRY_COMPARE(line->text(), builtInText(150).replace("%1", "1"));
    f.child<QCheckBox>("LiveReloadBox")->click();
    QVERIFY(line->isHidden());
    QTRY_COMPARE(page.state(), QAbstractSocket::UnconnectedState);
}

// The desktop session box writes and removes the autostart entry, and shows whether it is
// there; an entry that cannot be written is said and not shown as there.
void MainWindowTest::autostartBox() {
    const struct {
        bool entryBefore, configIsAFile;
    } cases[] = {{false, false}, {true, false}, {false, true}};
    for (const auto& c : cases) {
        Fixture f;
        const QString config = f.path(QStringLiteral("config"));
        const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        const auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", oldConfig); });
        const QString entry = config + QStringLiteral("/autostart/pelotest.desktop");
        if (c.configIsAFile)
            writeFile(config);
        else if (QDir().mkpath(config + QStringLiteral("/autostart")) && c.entryBefore)
            writeFile(entry, "[Desktop Entry]\n");
        f.start(QByteArray());
        auto* box = f.child<QCheckBox>("AutostartBox");
        QCOMPARE(withoutMnemonic(box->text()), builtInText(151));
        QCOMPARE(box->isChecked(), c.entryBefore);
        box->click();
        const bool written = !c.entryBefore && !c.configIsAFile;
        QCOMPARE(QFileInfo::exists(entry), written);
        QCOMPARE(box->isChecked(), written);
        QCOMPARE(f.dialogs.messages.size(), std::size_t(c.configIsAFile ? 1 : 0));
        if (!written)
            continue;
        // Named and pictured as the installed entry, so that the session lists it as PeloTest.
        ProfileFile installed, autostart;
        installed.load(PELOTEST_SOURCE_DIR "/packaging/pelotest.desktop");
        autostart.load(entry.toStdString());
        for (const char* key : {"Name", "Icon", "Type"}) {
            QVERIFY(installed.readString("Desktop Entry", key));
            QCOMPARE(autostart.readString("Desktop Entry", key),
                     installed.readString("Desktop Entry", key));
        }
        QCOMPARE(autostart.readString("Desktop Entry", "Exec"),
                 "pelotest --settings " + f.settingsFile().toStdString() + " --tray");
    }
}

void MainWindowTest::autostartExecLineQuotes() {
    const struct {
        std::vector<std::string> command;
        std::optional<std::string> exec;
    } cases[] = {
        {{"/usr/bin/pelotest"}, "/usr/bin/pelotest --tray"},
        {{"/opt/my apps/pelotest"}, R"("/opt/my apps/pelotest" --tray)"},
        {{"p", "--settings", "/h/50%.ini"}, "p --settings /h/50%%.ini --tray"},
        {{"p", "--settings", "/h/a\"$b.ini"}, R"(p --settings "/h/a\\"\\$b.ini" --tray)"},
        {{"p", "--settings", "/h/a\nb.ini"}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto text = desktop::autostartEntryText(c.command);
        QCOMPARE(text.has_value(), c.exec.has_value());
        if (text)
            QVERIFY2(text->find("\nExec=" + *c.exec + "\n") != std::string::npos, text->c_str());
    }
    // The whole entry as the session reads it.
    QCOMPARE(desktop::autostartEntryText({"/usr/bin/pelotest"}).value_or(""),
             std::string("[Desktop Entry]\nType=Application\nName=PeloTest\n"
                         "Comment=Start PeloTest hidden in the notification area with its server "
                         "running\nExec=/usr/bin/pelotest --tray\nIcon=pelotest\nTerminal=false\n"
                         "X-GNOME-Autostart-enabled=true\n"));
}

// The entry goes below an absolute XDG_CONFIG_HOME or HOME only (never below the folder the
// program was started in), and never through an autostart folder that is a link.
void MainWindowTest::autostartEntryGoesOnlyToItsOwnFolder() {
    const struct {
        const char* what;
        const char* config; // XDG_CONFIG_HOME, "DIR/" replaced by the test folder; null: unset
        const char* home;
        bool linkedFolder;
        const char* entry; // where it is written, below the test folder; null: refused
    } cases[] = {
        {"XDG_CONFIG_HOME", "DIR/cfg", "DIR/home", false, "cfg/autostart/pelotest.desktop"},
        {"a relative XDG_CONFIG_HOME counts as unset", "cfg", "DIR/home", false,
         "home/.config/autostart/pelotest.desktop"},
        {"neither set", nullptr, nullptr, false, nullptr},
        {"a relative HOME", nullptr, "home", false, nullptr},
        {"an empty HOME", "", "", false, nullptr},
        {"a linked autostart folder", "DIR/cfg", nullptr, true, nullptr},
    };
    const auto setOrUnset = [](const char* name, const char* value, const QString& dir) {
        if (value)
            qputenv(name, QFile::encodeName(QString::fromUtf8(value).replace(
                              QStringLiteral("DIR/"), dir + QLatin1Char('/'))));
        else
            qunsetenv(name);
    };
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME"), oldHome = qgetenv("HOME");
    const QString oldCurrent = QDir::currentPath();
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_CONFIG_HOME", oldConfig);
        qputenv("HOME", oldHome);
        QDir::setCurrent(oldCurrent);
    });
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString base = dir.path();
        QVERIFY(QDir(base).mkpath(QStringLiteral("run")));
        QVERIFY(QDir::setCurrent(base + QStringLiteral("/run"))); // where relative paths lead
        setOrUnset("XDG_CONFIG_HOME", c.config, base);
        setOrUnset("HOME", c.home, base);
        if (c.linkedFolder) {
            QVERIFY(QDir(base).mkpath(QStringLiteral("cfg")));
            QVERIFY(QDir(base).mkpath(QStringLiteral("elsewhere")));
            QVERIFY(QFile::link(base + QStringLiteral("/elsewhere"),
                                base + QStringLiteral("/cfg/autostart")));
        }
        const auto failure = desktop::writeAutostartEntry({"pelotest"});
        QVERIFY2(failure.has_value() == (c.entry == nullptr), c.what);
        QCOMPARE(desktop::autostartEntryExists(), c.entry != nullptr);
        if (c.entry)
            QVERIFY2(QFileInfo(base + QLatin1Char('/') + QLatin1String(c.entry)).isFile(), c.what);
        QVERIFY2(QDir(base + QStringLiteral("/run"))
                     .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 c.what);
        QVERIFY2(!c.linkedFolder || QDir(base + QStringLiteral("/elsewhere")).isEmpty(), c.what);
        QCOMPARE(desktop::removeAutostartEntry(), std::nullopt);
        QVERIFY(!desktop::autostartEntryExists());
    }
}

// A message box shows its text as plain text: a name from outside (the program that holds the
// port) such as <b>x</b> is never rendered as markup.
void MainWindowTest::messageBoxShowsPlainText() {
    Fixture f;
    f.start(QByteArray());
    desktop::QtDialogs dialogs(f.state, f.window.get());
    const QString text = QStringLiteral("Port 1 is in use by <b>x</b> (PID 2)");
    Qt::TextFormat format = Qt::AutoText;
    QString shown;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                format = box->textFormat();
                shown = box->text();
                box->reject();
            }
    });
    dialogs.message(MessageKind::Error, text);
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(shown, text);
}

// --tray: hidden in the notification area with the server running; the file keeps the
// server's and the window's stored state, as the user left them.
void MainWindowTest::trayStartServesHiddenAndKeepsTheFile() {
    Fixture f;
    const int port = freePort();
    MainWindow& window =
        f.start(QStringLiteral("[Settings]\nPort=%1\nServerActive=0\nWindowState=maximized\n")
                    .arg(port)
                    .toLatin1(),
                /*tray=*/true, /*startInTray=*/true);
    QVERIFY(window.hiddenToTray() && !window.isVisible());
    QVERIFY(!statusLine(port).isEmpty());
    QVERIFY(f.dialogs.messages.empty());
    QVERIFY(window.shutdown());
    QCOMPARE(readKey(f.settingsFile(), "ServerActive"), "0");
    QCOMPARE(readKey(f.settingsFile(), "WindowState"), "maximized");
}

// Counts the events that reach widgets while the window's thread holds the state lock: a widget
// that changes under the lock can fire a signal whose slot takes the lock again.
class LockedEventCounter : public QObject {
  public:
    explicit LockedEventCounter(const AppState& state) : state_(state) {
        qApp->installEventFilter(this);
    }
    ~LockedEventCounter() override { qApp->removeEventFilter(this); }
    int events = 0;
    QStringList underLock;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched->isWidgetType()) {
            ++events;
            if (state_.mutex.heldByCurrentThread())
                underLock << watched->objectName() + QLatin1Char('/') +
                                 QString::number(event->type());
        }
        return false;
    }

  private:
    const AppState& state_;
};

// The window shows what it loaded, what requests changed and what the user did, and touches no
// widget while it holds the state lock.
void MainWindowTest::widgetsChangeWithTheStateFree() {
    Fixture f;
    const LockedEventCounter counter(f.state);
    f.start("[Settings]\nPageIndex=2\nLeft=20\nTop=20\nWidth=640\nHeight=480\n"
            "StaticSite=a.htm\nWindowState=normal\n[Tree]\nNode0=index.htm\n"
            "[Variables]\nKunde=x\n");
    {
        const StateLock lock(f.state.mutex);
        f.state.settings.staticSite = "b.htm";
        f.state.settings.variablesAutoSort = !f.state.settings.variablesAutoSort;
        f.state.variables.add("Neu", "1");
        f.state.log.add(LogEntry{}, 100);
    }
    f.window->host().settingsChanged();
    f.window->host().variablesChanged();
    f.window->host().treeChanged();
    f.window->host().logChanged();
    QTest::qWait(50);
    QCOMPARE(f.child<QComboBox>("StartPageBox")->currentText(), QStringLiteral("b.htm"));
    f.child<QLineEdit>("StartParametersField")->setText(QStringLiteral("p=1"));
    f.window->settingsTab().chooseLanguage(0);
    QVERIFY(f.window->saveNow());
    QVERIFY(counter.events > 0);
    QVERIFY2(counter.underLock.isEmpty(), qPrintable(counter.underLock.join(QLatin1Char(' '))));
}

// A request held in its handler until the test lets it go, as a request stuck on a slow disk
// or in an endless template would be.
struct HeldRequest {
    std::mutex mutex;
    std::condition_variable changed;
    bool inside = false;
    bool released = false;

    void hold() {
        std::unique_lock lock(mutex);
        inside = true;
        changed.notify_all();
        changed.wait(lock, [this] { return released; });
    }
    bool waitUntilInside() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [this] { return inside; });
    }
    void release() {
        const std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
};

void MainWindowTest::closingWithAStuckRequest_data() {
    QTest::addColumn<bool>("holdsState");
    QTest::newRow("the request holds the state") << true;
    QTest::newRow("the request waits with the state free") << false;
}

// Closing while a request does not end: the window goes on while the server stops, saves what it
// can, and ends the process instead of destroying what the request still uses.
void MainWindowTest::closingWithAStuckRequest() {
    QFETCH(bool, holdsState);
    const auto held = std::make_shared<HeldRequest>();
    std::vector<int> endedWith;
    Fixture f;
    f.server.routes = [held, holdsState](Exchange& ex) REQUIRES(ex.state.mutex) {
        if (holdsState)
            held->hold();
        else
            runUnlocked(ex.state.mutex, [&] { held->hold(); });
    };
    f.server.stopLimit = std::chrono::milliseconds(400);
    f.server.endProcess = [&endedWith](int code) { endedWith.push_back(code); };
    const int port = freePort();
    f.start(QStringLiteral("[Settings]\nServerActive=1\nPort=%1\n").arg(port).toLatin1());
    QVERIFY(f.window->serverRunning());
    QTest::qWait(50); // the load's news are taken before the request holds the state
    std::thread client([port] { (void)statusLine(port); });
    const auto letGo = qScopeGuard([&] {
        held->release();
        client.join();
    });
    QVERIFY(held->waitUntilInside());

    int ticks = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, this, [&ticks] { ++ticks; });
    tick.start(20);
    QElapsedTimer closing;
    closing.start();
    const bool saved = f.window->shutdown();
    QVERIFY2(closing.elapsed() < 4000, qPrintable(QString::number(closing.elapsed())));
    // The stop waited 400 ms, and the window handled its events meanwhile.
    QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    QCOMPARE(endedWith, std::vector<int>{holdsState ? 1 : 0});
    QCOMPARE(saved, !holdsState);
    QCOMPARE(readKey(f.settingsFile(), "WindowState"), holdsState ? "<absent>" : "normal");
}

} // namespace pelotest::test

QTEST_MAIN(pelotest::test::MainWindowTest)
#include "MainWindowTest.moc"
