// The main window on the offscreen platform: start-up from the settings file, the server's
// button and notification menu, a port that cannot be bound, hiding to the notification area,
// the bounds written at close, the settings tab's defaults and live binding, the start pages,
// and the whole program ending on SIGTERM/SIGINT and handing over to a running one.

#include "desktop/MainWindow.h"
#include "ScriptedDialogs.h"
#include "desktop/SingleInstance.h"
#include "language/UiTexts.h"
#include "state/ProfileFile.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/socket.h>

namespace pelotest::test {
namespace {

using desktop::ImageList;
using desktop::MainWindow;
using desktop::MessageKind;

QString text(int id) {
    return QString::fromLatin1(loadBuiltInUiText(UiText{id}));
}

int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The status line of an HTTP request to the server on port, or "" when nobody answers.
QByteArray statusLine(int port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    if (!socket.waitForConnected(2000))
        return {};
    socket.write("GET /$int HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (!answer.contains("\r\n") && socket.waitForReadyRead(2000))
        answer += socket.readAll();
    return answer.left(answer.indexOf("\r\n"));
}

std::string readKey(const QString& file, const char* key) {
    ProfileFile profile;
    profile.load(file.toStdString());
    return profile.readString("Settings", key).value_or("<absent>");
}

// One window on a settings file of its own.
struct Fixture {
    QTemporaryDir dir;
    AppState state;
    ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> window;

    QString settingsFile() const { return dir.filePath(QStringLiteral("pelotest.ini")); }

    MainWindow& start(const QByteArray& settings, bool tray = false) {
        if (!settings.isNull()) {
            QFile file(settingsFile());
            file.open(QIODevice::WriteOnly);
            file.write(settings);
        }
        state.settingsPath = settingsFile().toStdString();
        window = std::make_unique<MainWindow>(state, desktop::MainWindowOptions{&dialogs, tray});
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
    QString status() const { return child<QLabel>("StatusPanel1")->text(); }
    QAction* action(const char* name) const { return child<QAction>(name); }
};

bool sameIcon(const QIcon& a, const QIcon& b) {
    return a.cacheKey() == b.cacheKey();
}

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
    void stopSignalSavesState_data();
    void stopSignalSavesState();
    void secondProgramHandsOver();
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
    QVERIFY(images.icon(ImageList::kWarning).cacheKey() != images.icon(2).cacheKey());
    QVERIFY(!images.icon(ImageList::kWarning).isNull());
}

void MainWindowTest::startsServerThatRanAtExit() {
    Fixture f;
    const int port = freePort();
    MainWindow& window =
        f.start(QStringLiteral("[Settings]\nServerActive=1\nPort=%1\n[Tree]\nNode0=index.htm\n")
                    .arg(port)
                    .toLatin1());
    QCOMPARE(f.status(), text(41));
    QVERIFY(f.child<QToolButton>("ToolButton1")->isChecked());
    QVERIFY(!f.child<QSpinBox>("SpinEdit1")->isEnabled());
    QVERIFY(!f.child<QLabel>("Label7")->isEnabled());
    QCOMPARE(window.rootImageIndex(), ImageList::kRootRunning);
    QCOMPARE(int(window.serverPort()), port);
    QCOMPARE(statusLine(port), QByteArray("HTTP/1.1 200 OK"));
    QVERIFY(
        f.child<QLabel>("StatusPanel2")->text().contains(QStringLiteral("localhost:%1").arg(port)));
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
    auto* button = f.child<QToolButton>("ToolButton1");
    QAction* aktiv = f.action("Aktiv1");
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
        QCOMPARE(f.status(), text(e.status));
        QCOMPARE(aktiv->text(), text(e.caption));
        QVERIFY(sameIcon(aktiv->icon(), window.images().icon(e.picture)));
        QVERIFY(sameIcon(button->icon(), window.images().icon(e.picture)));
        QVERIFY(sameIcon(window.trayIcon()->icon(), window.images().icon(e.tray)));
        QCOMPARE(window.rootImageIndex(), e.root);
        QCOMPARE(f.child<QSpinBox>("SpinEdit1")->isEnabled(), !e.running);
        QCOMPARE(statusLine(port).isEmpty(), !e.running);
    }
    QVERIFY(f.dialogs.messages.empty());
}

void MainWindowTest::portThatCannotBeBound_data() {
    QTest::addColumn<bool>("privileged");
    QTest::addColumn<QString>("reason");
    QTest::newRow("in use") << false << QStringLiteral("schon von einem anderen Programm");
    QTest::newRow("below 1024") << true << QStringLiteral("Administratorrechte");
}

void MainWindowTest::portThatCannotBeBound() {
    QFETCH(bool, privileged);
    QFETCH(QString, reason);
    QTcpServer holder;
    int port = 0;
    if (privileged) {
        // Only meaningful where this user may not bind low ports.
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost, 1))
            QSKIP("this user may bind ports below 1024");
        port = 1;
    } else {
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
        port = holder.serverPort();
    }
    Fixture f;
    f.start(QStringLiteral("[Settings]\nPort=%1\n").arg(port).toLatin1());
    f.child<QToolButton>("ToolButton1")->click();

    QCOMPARE(f.dialogs.messages.size(), std::size_t(1));
    QCOMPARE(f.dialogs.messages[0].kind, MessageKind::Error);
    QVERIFY2(f.dialogs.messages[0].text.contains(reason), qPrintable(f.dialogs.messages[0].text));
    QVERIFY(!f.child<QToolButton>("ToolButton1")->isChecked());
    QCOMPARE(f.status(), text(40));
    QCOMPARE(f.action("Aktiv1")->text(), text(37));
    QVERIFY(f.child<QSpinBox>("SpinEdit1")->isEnabled());
    QVERIFY(!f.window->serverRunning());
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
    QCOMPARE(window.windowTitle(), text(1));
    QCOMPARE(f.status(), text(40));
    QCOMPARE(f.child<QTabWidget>("PageControl1")->currentIndex(), 0);
    QVERIFY(!f.child<QToolButton>("ToolButton1")->isChecked());
    QVERIFY(!window.serverRunning());
    QCOMPARE(f.child<QSpinBox>("SpinEdit1")->value(), 80);
    QCOMPARE(f.child<QSpinBox>("SpinEdit2")->value(), 100);
    QCOMPARE(f.child<QSpinBox>("SpinEdit3")->value(), 2);
    const struct {
        const char* name;
        bool checked;
        int label;
    } boxes[] = {{"CheckBox1", true, 23}, {"CheckBox2", false, 25}, {"CheckBox3", true, 26}};
    for (const auto& b : boxes) {
        QCOMPARE(f.child<QCheckBox>(b.name)->isChecked(), b.checked);
        QCOMPARE(f.child<QCheckBox>(b.name)->text(), text(b.label));
    }
    for (const char* name : {"Edit1", "Edit2", "Edit3", "Edit4"})
        QVERIFY(f.child<QLineEdit>(name)->text().isEmpty());
    QVERIFY(f.child<QComboBox>("ComboBox1")->currentText().isEmpty());
    const auto* tabs = f.child<QTabWidget>("PageControl1");
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(tabs->tabText(i), text(2 + i));
        QVERIFY(sameIcon(tabs->tabIcon(i), window.images().icon(ImageList::kTabGeneral + i)));
    }
    QCOMPARE(f.state.settings.varBefore, "/(");
    QCOMPARE(f.state.settings.event, "PELO_EVENT");
}

void MainWindowTest::controlsWriteSettingsLive() {
    Fixture f;
    f.start(QByteArray());
    Settings& s = f.state.settings;
    f.child<QLineEdit>("Edit1")->setText(QStringLiteral("/srv/tmpl/(Kunde)"));
    f.child<QLineEdit>("Edit3")->setText(QStringLiteral("app"));
    f.child<QLineEdit>("Edit4")->setText(QStringLiteral("a=1&b=\u00e4"));
    f.child<QSpinBox>("SpinEdit1")->setValue(8081);
    f.child<QSpinBox>("SpinEdit2")->setValue(250);
    f.child<QSpinBox>("SpinEdit3")->setValue(7);
    f.child<QCheckBox>("CheckBox1")->setChecked(false);
    f.child<QCheckBox>("CheckBox2")->setChecked(true);
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

    f.child<QLineEdit>("Edit2")->setText(site.path() + QLatin1Char('/'));
    auto* pages = f.child<QComboBox>("ComboBox1");
    QStringList names;
    for (int i = 0; i < pages->count(); ++i)
        names << pages->itemText(i);
    QCOMPARE(names, QStringList({QStringLiteral("A.htm"), QStringLiteral("b.htm")}));
    QCOMPARE(pages->currentText(), QStringLiteral("keep.htm"));
    QCOMPARE(f.state.settings.staticSite, "keep.htm");

    f.child<QLineEdit>("Edit2")->setText(site.filePath(QStringLiteral("missing")));
    QCOMPARE(pages->count(), 0);
    QCOMPARE(pages->currentText(), QStringLiteral("keep.htm"));
}

void MainWindowTest::clearingStartPageDisablesRemoteEditor() {
    Fixture f;
    f.start(QByteArray("[Settings]\nStaticSite=index.htm\n"));
    const char* controls[] = {"CheckBox3", "Label10", "SpinEdit3", "Label11"};
    for (const char* name : controls)
        QVERIFY2(f.window->findChild<QWidget*>(QString::fromLatin1(name))->isEnabled(), name);
    f.child<QComboBox>("ComboBox1")->setEditText(QString());
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
    QTest::newRow("templates, variable expanded") << "SpeedButton1"
                                                  << "/srv/(Site)/t/"
                                                  << "/new" << 102 << "/srv/shop/t"
                                                  << "Edit1" << true;
    QTest::newRow("templates, plain") << "SpeedButton1"
                                      << "/srv/t"
                                      << "/new" << 102 << "/srv/t"
                                      << "Edit1" << false;
    QTest::newRow("templates, cancelled") << "SpeedButton1"
                                          << "/srv/(Site)"
                                          << "" << 102 << "/srv/shop"
                                          << "Edit1" << false;
    QTest::newRow("static") << "SpeedButton2"
                            << "/srv/s"
                            << "/new" << 101 << "/srv/s"
                            << "Edit2" << false;
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
    const char* key = field == QLatin1String("Edit1") ? "DynamicPath" : "StaticPath";
    f.start(QStringLiteral("[Settings]\n%1=%2\n[Const]\nVarBefore=(\n[Variables]\nSite=shop\n")
                .arg(QString::fromLatin1(key), stored)
                .toLatin1());
    if (!answer.isEmpty())
        f.dialogs.folders.push_back(answer);
    f.child<QToolButton>(qPrintable(button))->click();

    QCOMPARE(f.dialogs.folderQuestions.size(), std::size_t(1));
    QCOMPARE(f.dialogs.folderQuestions[0].title, text(title));
    QCOMPARE(f.dialogs.folderQuestions[0].initial, initial);
    QVERIFY(f.dialogs.prompts.empty()); // the variables are expanded without asking
    QCOMPARE(f.child<QLineEdit>(qPrintable(field))->text(), answer.isEmpty() ? stored : answer);
    QCOMPARE(f.dialogs.messages.size(), std::size_t(warned ? 1 : 0));
    if (warned) {
        QCOMPARE(f.dialogs.messages[0].kind, MessageKind::Warning);
        QCOMPARE(f.dialogs.messages[0].text, text(103));
    }
}

// ---------------------------------------------------------------------------------------------
// The program as a whole (the built executable, on the offscreen platform).

void MainWindowTest::stopSignalSavesState_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void MainWindowTest::stopSignalSavesState() {
    QFETCH(int, signal);
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("pelotest.ini"));
    const int port = freePort();
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
    QTRY_VERIFY_WITH_TIMEOUT(!statusLine(port).isEmpty(), 10000);
    QCOMPARE(readKey(settings, "WindowState"), "<absent>");

    ::kill(static_cast<pid_t>(program.processId()), signal);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(readKey(settings, "WindowState"), "normal");
    QCOMPARE(readKey(settings, "PageIndex"), "2");
    QCOMPARE(readKey(settings, "ServerActive"), "1");
    QVERIFY(statusLine(port).isEmpty());
}

void MainWindowTest::secondProgramHandsOver() {
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("pelotest.ini"));
    desktop::SingleInstance first(settings.toStdString());
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

} // namespace pelotest::test

QTEST_MAIN(pelotest::test::MainWindowTest)
#include "MainWindowTest.moc"
