// The language box of the main window (flags, switching and back, the start-up rule, the
// message boxes' buttons), the export from the window, and the web dialog against pages served
// on 127.0.0.1 by the test: the page address, a package download with progress, an existing file
// kept on No, the export link, failing and refused downloads, and the built-in page offline.

#include "DesktopFixture.h"
#include "desktop/LanguageBox.h"
#include "desktop/MainWindow.h"
#include "desktop/SettingsTab.h"
#include "desktop/WebDialog.h"
#include "language/UiTexts.h"
#include "state/ProfileFile.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

#include <filesystem>
#include <map>
#include <memory>
#include <unistd.h>

namespace pelotest::test {
namespace {

namespace fs = std::filesystem;
using desktop::MainWindow;
using desktop::MessageKind;
using desktop::WebDialog;

fs::path library(const char* name) {
    return fs::path(PELOTEST_LANGUAGE_LIBRARIES) / name;
}

QByteArray fileBytes(const fs::path& file) {
    QFile f(QString::fromStdString(file.string()));
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// A window whose only language folder holds a copy of lang_full.dll.
struct Fixture : DesktopFixture {
    fs::path folder() const { return fs::path(dir.path().toStdString()) / "languages"; }

    MainWindow& start(const QByteArray& settings) {
        fs::create_directories(folder());
        fs::copy_file(library("lang_full.dll"), folder() / "lang_full.dll");
        state.languageFolders = {folder()};
        return DesktopFixture::start(settings);
    }
};

// The text each control of the window shows, by the UI text it must show.
std::map<int, QString> controlTexts(const Fixture& f) {
    std::map<int, QString> texts;
    auto* tabs = f.child<QTabWidget>("Tabs");
    texts[1] = f.window->windowTitle();
    texts[2] = tabs->tabText(0);
    texts[3] = tabs->tabText(1).remove(QRegularExpression(QStringLiteral(" \\(\\d+(/\\d+)?\\)$")));
    texts[4] = tabs->tabText(2);
    const std::pair<const char*, int> groups[] = {{"TreePane", 5},
                                                  {"VariablesPane", 6},
                                                  {"TemplatesGroup", 14},
                                                  {"StaticPagesGroup", 17},
                                                  {"GeneralGroup", 21}};
    for (const auto& [name, id] : groups)
        texts[id] = f.child<QGroupBox>(name)->title();
    const std::pair<const char*, int> labels[] = {
        {"TemplateFolderLabel", 15}, {"VirtualFolderLabel", 16},   {"StaticFolderLabel", 18},
        {"StartPageLabel", 19},      {"StartParametersLabel", 20}, {"PortLabel", 22},
        {"LogLimitLabel", 24},       {"ReloadTimeLabel", 27},      {"RemoteEditorHint", 28},
        {"LanguageLabel", 122}};
    for (const auto& [name, id] : labels)
        texts[id] = withoutMnemonic(f.child<QLabel>(name)->text());
    const std::pair<const char*, int> boxes[] = {
        {"AutoSortBox", 23}, {"SaveLogBox", 25}, {"RemoteEditorBox", 26}};
    for (const auto& [name, id] : boxes)
        texts[id] = withoutMnemonic(f.child<QCheckBox>(name)->text());
    texts[123] = f.child<QComboBox>("LanguageBox")->itemText(0);
    texts[36] = f.child<QAction>("ShowWindow")->text();
    texts[39] = f.child<QAction>("Quit")->text();
    texts[40] = f.child<QLabel>("StatusText")->text();
    return texts;
}

// The button texts of a real confirmation box in the state's current language.
QStringList confirmationButtons(const AppState& state) {
    desktop::QtDialogs dialogs(state, nullptr);
    QStringList buttons;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible())
                continue;
            buttons << box->windowTitle();
            for (QAbstractButton* button : box->buttons())
                buttons << button->text();
            box->escapeButton()->click();
        }
    });
    dialogs.message(MessageKind::Confirmation, QStringLiteral("?"));
    return buttons;
}

// --- a small web server on 127.0.0.1 ------------------------------------------------------------

class PageServer : public QObject {
  public:
    struct Answer {
        int status = 200;
        QByteArray type = "text/html";
        QByteArray body;
        QByteArray location = {}; // a redirect's target
    };
    PageServer() {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
            }
        });
    }
    QString host() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }

    std::map<QByteArray, Answer> answers; // by path
    QList<QByteArray> requests;           // request targets, in order

  private:
    void answer(QTcpSocket* socket) {
        QByteArray& buffer = pending_[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QByteArray target = buffer.split(' ').value(1);
        requests << target;
        const QByteArray path =
            target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?'));
        const auto found = answers.find(path);
        const Answer a = found != answers.end() ? found->second : Answer{404, "text/html", "no"};
        const QByteArray location =
            a.location.isEmpty() ? QByteArray() : "\r\nLocation: " + a.location;
        socket->write("HTTP/1.1 " + QByteArray::number(a.status) + " X\r\nContent-Type: " + a.type +
                      location + "\r\nContent-Length: " + QByteArray::number(a.body.size()) +
                      "\r\nConnection: close\r\n\r\n" + a.body);
        socket->disconnectFromHost();
        pending_.erase(socket);
    }
    QTcpServer server_;
    std::map<QTcpSocket*, QByteArray> pending_;
};

const QByteArray kLanguagePage =
    "<html><body><a id=pkg href=\"/files/lang_full.dll?IsLangFile=true\">full</a>"
    "<a id=missing href=\"/files/missing.dll?IsLangFile=true\">missing</a>"
    "<a id=html href=\"/files/page.dll?IsLangFile=true\">not a library</a>"
    "<a id=ini href=\"/files/pelotest.ini?IsLangFile=true&ExtractRes=true\">settings</a>"
    "<a id=extract href=\"/x?ExtractRes=true\">extract</a></body></html>";

bool waitFor(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QTest::qWait(20);
    return done();
}

// Has a script of the page click the element of that id, as a page can without the user.
void scriptClick(WebDialog& dialog, const char* id) {
    dialog.browser()->page()->runJavaScript(
        QStringLiteral("document.getElementById('%1').click()").arg(QLatin1String(id)));
}

// Waits for a signal that may already have come while the test waited for something else.
bool signalled(const QSignalSpy& spy) {
    return waitFor([&] { return !spy.isEmpty(); });
}

// Asks the page for a value and waits for the answer.
QVariant evaluate(WebDialog& dialog, const QString& script) {
    QVariant answer;
    bool answered = false;
    dialog.browser()->page()->runJavaScript(script, [&](const QVariant& result) {
        answer = result;
        answered = true;
    });
    if (!waitFor([&] { return answered; }))
        qFatal("the page did not answer %s", qPrintable(script));
    return answer;
}

// Clicks the element of that id with the mouse, as the user does. A loaded page may not take
// input yet while its renderer is still starting, and then drops the click; the page counts the
// presses it sees (a frame of the page tells of its own with a message "press"), and a click it
// did not see is made again.
void click(WebDialog& dialog, const char* id) {
    const QVariantList centre =
        evaluate(dialog,
                 QStringLiteral("(function(){window.pelotestPresses=0;document.addEventListener("
                                "'mousedown',function(){++window.pelotestPresses},true);"
                                "window.addEventListener('message',function(m){"
                                "if(m.data==='press')++window.pelotestPresses});"
                                "var e=document.getElementById('%1');e.scrollIntoView();"
                                "var r=e.getBoundingClientRect();return [r.left+r.width/2,r.top+r."
                                "height/2]})()")
                     .arg(QLatin1String(id)))
            .toList();
    if (centre.size() != 2)
        qFatal("no element %s", id);
    const QUrl page = dialog.browser()->url();
    for (int attempt = 0; attempt < 5; ++attempt) {
        QTest::mouseClick(dialog.browser()->focusProxy(), Qt::LeftButton, {},
                          QPoint(centre[0].toInt(), centre[1].toInt()));
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 1000) {
            if (dialog.browser()->url() != page ||
                evaluate(dialog, QStringLiteral("window.pelotestPresses")).toInt() > 0)
                return;
            QTest::qWait(20);
        }
    }
    qFatal("the page never saw a click on %s", id);
}

} // namespace

class LanguageWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void boxListsFlagsAndSwitchesAndBack();
    void storedLanguageThatIsGoneFallsBack_data();
    void storedLanguageThatIsGoneFallsBack();
    void libraryWithTextsNotUsedNamesThemInItsTip();
    void exportFromTheWindow();
    void pageAddressCarriesLanguageVersionColoursAndFont();
    void packageLinkDownloadsWithProgress();
    void existingPackageAnsweredNoIsKept();
    void failingOrRefusedDownloadsWriteNothing_data();
    void failingOrRefusedDownloadsWriteNothing();
    void extractLinkClosesWithOk();
    void overwriteQuestionAnswersNoOnEnter_data();
    void overwriteQuestionAnswersNoOnEnter();
    void onlyAClickInTheTopFrameToTheMakerActs_data();
    void onlyAClickInTheTopFrameToTheMakerActs();
    void webViewThatCannotStartOffersTheBrowser_data();
    void webViewThatCannotStartOffersTheBrowser();
    void unreachableHostShowsTheBuiltInPage_data();
    void unreachableHostShowsTheBuiltInPage();
};

void LanguageWindowTest::boxListsFlagsAndSwitchesAndBack() {
    Fixture f;
    f.start("[Settings]\r\n");
    auto* box = f.child<QComboBox>("LanguageBox");
    QVERIFY(box->isEnabled());
    QVERIFY(f.child<QAbstractButton>("LanguageButton")->isEnabled());
    QCOMPARE(box->count(), 2);
    QCOMPARE(box->itemText(1), QStringLiteral("English (test)"));
    QCOMPARE(box->currentIndex(), 0);
    for (int i = 0; i < 2; ++i) {
        const QImage flag = box->itemIcon(i).pixmap(16, 16).toImage();
        QVERIFY(!flag.isNull());
        // The colour of the pixel at x 0, y 14 is transparent.
        QCOMPARE(qAlpha(flag.pixel(0, 14)), 0);
    }
    const std::map<int, QString> german = controlTexts(f);
    for (const auto& [id, text] : german)
        QCOMPARE(text, builtInText(id));
    QCOMPARE(confirmationButtons(f.state),
             (QStringList{builtInText(119), builtInText(114), builtInText(115)}));

    f.window->settingsTab().chooseLanguage(1);
    QCOMPARE(f.state.settings.languageDll, std::string("lang_full.dll"));
    for (const auto& [id, text] : controlTexts(f))
        QCOMPARE(text, QStringLiteral("EN %1: ").arg(id) + builtInText(id));
    QCOMPARE(confirmationButtons(f.state),
             (QStringList{QStringLiteral("EN 119: ") + builtInText(119),
                          QStringLiteral("EN 114: Ja"), QStringLiteral("EN 115: Nein")}));

    f.window->settingsTab().chooseLanguage(0);
    QCOMPARE(f.state.settings.languageDll, std::string());
    QCOMPARE(controlTexts(f), german);
    QCOMPARE(confirmationButtons(f.state), (QStringList{builtInText(119), "Ja", "Nein"}));

    // The language chosen is written at close.
    f.window->settingsTab().chooseLanguage(1);
    f.window->close();
    ProfileFile profile;
    profile.load(f.settingsFile().toStdString());
    QCOMPARE(profile.readString("Settings", "LanguageDll").value_or(""),
             std::string("lang_full.dll"));
}

void LanguageWindowTest::storedLanguageThatIsGoneFallsBack_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<int>("selected");
    QTest::newRow("offered") << QByteArray("lang_full.dll") << "lang_full.dll" << 1;
    QTest::newRow("other case") << QByteArray("LANG_FULL.DLL") << "lang_full.dll" << 1;
    QTest::newRow("gone") << QByteArray("gone.dll") << "" << 0;
    QTest::newRow("not offered") << QByteArray("../languages/lang_full.dll") << "" << 0;
}

void LanguageWindowTest::storedLanguageThatIsGoneFallsBack() {
    QFETCH(QByteArray, stored);
    QFETCH(QString, kept);
    QFETCH(int, selected);
    Fixture f;
    f.start("[Settings]\r\nLanguageDll=" + stored + "\r\n");
    QCOMPARE(QString::fromStdString(f.state.settings.languageDll), kept);
    QCOMPARE(f.child<QComboBox>("LanguageBox")->currentIndex(), selected);
    QCOMPARE(f.window->windowTitle().startsWith(QStringLiteral("EN 1: ")), selected == 1);
}

// A library whose texts add markup names them in its entry's tip, in the language in use, and
// the box shows that tip while the library is the chosen one.
void LanguageWindowTest::libraryWithTextsNotUsedNamesThemInItsTip() {
    Fixture f;
    fs::create_directories(f.folder());
    fs::copy_file(library("lang_hostile.dll"), f.folder() / "lang_hostile.dll");
    f.start("[Settings]\r\n");
    auto* box = f.child<QComboBox>("LanguageBox");
    QCOMPARE(box->count(), 3);
    // Wrapped to the tip's width.
    const auto tip = [](const QString& text) {
        return QStringLiteral("<p style=\"white-space:pre-wrap\">%1</p>").arg(text);
    };
    const QString text = builtInText(158).replace(QStringLiteral("%1"), "67, 75, 94, 96, 107, 110");
    const QString german = tip(text);
    const auto tips = [box] {
        QStringList tips{box->toolTip()};
        for (int i = 0; i < box->count(); ++i)
            tips << box->itemData(i, Qt::ToolTipRole).toString();
        return tips;
    };
    QCOMPARE(tips(), (QStringList{"", "", "", german}));
    QTest::keyClick(box, Qt::Key_Down); // lang_full.dll: its text 158
    QCOMPARE(f.state.settings.languageDll, std::string("lang_full.dll"));
    QCOMPARE(tips(), (QStringList{"", "", "", tip("EN 158: " + text)}));
    QTest::keyClick(box, Qt::Key_Down); // lang_hostile.dll lacks text 158: the German one
    QCOMPARE(f.state.settings.languageDll, std::string("lang_hostile.dll"));
    QCOMPARE(tips(), (QStringList{german, "", "", german}));
}

void LanguageWindowTest::exportFromTheWindow() {
    Fixture f;
    f.start("[Settings]\r\nLanguageDll=lang_full.dll\r\n");
    const QString out = f.dir.filePath(QStringLiteral("out"));
    QDir().mkpath(out);

    f.dialogs.folders.push_back(QString()); // cancelled: nothing written, nothing stored
    QVERIFY(f.window->settingsTab().exportLanguage());
    QVERIFY(QDir(out).isEmpty());
    ProfileFile before;
    before.load(f.settingsFile().toStdString());
    QVERIFY(!before.readString("Settings", "LastLangugeResPath"));

    f.dialogs.folders.push_back(out);
    QVERIFY(f.window->settingsTab().exportLanguage());
    QCOMPARE(f.dialogs.folderQuestions.back().title, QStringLiteral("EN 128: ") + builtInText(128));
    const fs::path written(out.toStdString());
    QCOMPARE(fileBytes(written / "language.rc"),
             fileBytes(fs::path(PELOTEST_GENERATED) / "lang/export/full-language.rc"));
    QCOMPARE(fileBytes(written / "lang_new.dof"),
             fileBytes(fs::path(PELOTEST_TEST_DATA) / "lang/export/full-lang_new.dof"));
    QCOMPARE(f.dialogs.opened.back(), QUrl::fromLocalFile(out + '/'));
    // Kept at once in the file, with a trailing separator; the next export starts there.
    ProfileFile after;
    after.load(f.settingsFile().toStdString());
    QCOMPARE(after.readString("Settings", "LastLangugeResPath").value_or(""),
             out.toStdString() + "/");
    f.dialogs.folders.push_back(QString());
    f.window->settingsTab().exportLanguage();
    QCOMPARE(f.dialogs.folderQuestions.back().initial, out + '/');

    // A folder that cannot be written: the error is shown and the export reports failure.
    const QString notAFolder = f.dir.filePath(QStringLiteral("pelotest.ini"));
    f.dialogs.folders.push_back(notAFolder);
    const auto shown = f.dialogs.messages.size();
    QVERIFY(!f.window->settingsTab().exportLanguage());
    QCOMPARE(f.dialogs.messages.size(), shown + 1);
    QCOMPARE(f.dialogs.messages.back().kind, MessageKind::Error);
}

// --- the web dialog
// -------------------------------------------------------------------------------

struct WebFixture {
    QTemporaryDir dir;
    AppState state;
    ScriptedDialogs dialogs;
    PageServer server;

    WebFixture() {
        state.languageFolders = {fs::path(dir.path().toStdString()) / "languages"};
        server.answers["/download/additional/language.php"] = {200, "text/html", kLanguagePage};
        server.answers["/download/additional/help.php"] = {200, "text/html", "<p>help</p>"};
        server.answers["/files/lang_full.dll"] = {200, "application/octet-stream",
                                                  fileBytes(library("lang_full.dll"))};
        server.answers["/files/page.dll"] = {200, "text/html", "<html>a page</html>"};
        server.answers["/files/pelotest.ini"] = {200, "text/plain",
                                                 fileBytes(library("lang_full.dll"))};
    }
    fs::path downloaded(const char* name) const { return state.languageFolders[0] / name; }
    std::unique_ptr<WebDialog> open(WebDialog::Mode mode = WebDialog::Mode::Language,
                                    QString host = {}) {
        auto dialog = std::make_unique<WebDialog>(state, dialogs, mode,
                                                  host.isEmpty() ? server.host() : host);
        QSignalSpy loaded(dialog->browser(), &QWebEngineView::loadFinished);
        dialog->show();
        if (!loaded.wait(30000))
            qWarning("the page did not load");
        return dialog;
    }
};

void LanguageWindowTest::pageAddressCarriesLanguageVersionColoursAndFont() {
    WebFixture f;
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Base, QColor(0x12, 0xAB, 0xEF));
    QApplication::setPalette(palette);
    auto dialog = f.open();
    QFont font(QStringLiteral("Sans Serif"), 8);
    dialog->setFont(font);
    const QString query = dialog->pageAddress().toString(QUrl::FullyEncoded).section('?', 1);
    QVERIFY2(query.startsWith(QStringLiteral("Lang=DE&App=PeloTest&Ver=0.1.0.0&clWindow=%2312ABEF"
                                             "&clWindowText=%23")),
             qPrintable(query));
    QVERIFY2(query.endsWith(QStringLiteral("&winFont=Sans+Serif&winFontSize=8")),
             qPrintable(query));
    const QStringList keys = {
        "Lang",           "App",         "Ver",       "clWindow", "clWindowText", "clBtnFace",
        "clBtnHighlight", "clBtnShadow", "clBtnText", "winFont",  "winFontSize"};
    QStringList sent;
    for (const QString& pair : query.split('&'))
        sent << pair.section('=', 0, 0);
    QCOMPARE(sent, keys);
    // The page itself was asked for with the path of its kind and such a query.
    QVERIFY(f.server.requests.value(0).startsWith(
        "/download/additional/language.php?Lang=DE&App=PeloTest&Ver=0.1.0.0&clWindow=%23"));
    QApplication::setPalette(QPalette());
}

void LanguageWindowTest::packageLinkDownloadsWithProgress() {
    WebFixture f;
    auto dialog = f.open();
    // The waiting text's two line-break markers are line breaks on screen.
    QCOMPARE(dialog->findChild<QLabel*>("WaitingText")->text(),
             builtInText(132).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    QSignalSpy finished(dialog.get(), &WebDialog::downloadFinished);
    click(*dialog, "pkg");
    QVERIFY(signalled(finished));
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QVERIFY(dialog->languagePackageDownloaded());
    QCOMPARE(fileBytes(f.downloaded("lang_full.dll")), fileBytes(library("lang_full.dll")));
    const QString size = QString::number(fs::file_size(library("lang_full.dll")));
    QCOMPARE(dialog->findChild<QLabel*>("ProgressText")->text(), size + '/' + size + " Byte");
    QCOMPARE(dialog->findChild<QProgressBar*>("ProgressBar")->value(), size.toInt());
    QVERIFY(!dialog->findChild<QProgressBar*>("ProgressBar")->isEnabled());
    // The file was asked for without the query; the saved message and the dialog now speak the
    // package's language, and its page is asked for in it.
    QVERIFY(f.server.requests.contains("/files/lang_full.dll"));
    QCOMPARE(f.dialogs.messages.back().text,
             QStringLiteral("EN 131: lang_full.dll - wurde erfolgreich gespeichert"));
    QCOMPARE(f.dialogs.messages.back().language, std::optional<std::string>("lang_full.dll"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("EN 125: Download von Sprachpaketen"));
    const auto askedInPackageLanguage = [&] {
        for (const QByteArray& request : f.server.requests)
            if (request.startsWith("/download/additional/language.php?Lang=EN%20129:%20DE&App="))
                return true;
        return false;
    };
    QVERIFY2(waitFor(askedInPackageLanguage),
             qPrintable(QString::fromLatin1(f.server.requests.join(' ')) +
                        (dialog->showsBuiltInPage() ? " (built-in page shown)" : "")));
    QCOMPARE(f.dialogs.language, std::nullopt);
    QCOMPARE(f.state.settings.languageDll, std::string()); // the window keeps its language
}

void LanguageWindowTest::existingPackageAnsweredNoIsKept() {
    WebFixture f;
    fs::create_directories(f.state.languageFolders[0]);
    fs::copy_file(library("lang_only1.dll"), f.downloaded("lang_full.dll"));
    auto dialog = f.open();
    f.dialogs.answers.push_back(false);
    click(*dialog, "pkg");
    QVERIFY(waitFor([&] { return !f.dialogs.messages.empty(); }));
    QTest::qWait(300);
    // Asked in the package's language (the file there now is a library of its own language).
    QCOMPARE(f.dialogs.messages.size(), 1u);
    QCOMPARE(f.dialogs.messages[0].kind, MessageKind::ConfirmationNoByDefault);
    QCOMPARE(f.dialogs.messages[0].text,
             builtInText(130).replace(QStringLiteral("%1"), QStringLiteral("lang_full.dll")));
    QCOMPARE(fileBytes(f.downloaded("lang_full.dll")), fileBytes(library("lang_only1.dll")));
    QVERIFY(!dialog->languagePackageDownloaded());
    QVERIFY(!f.server.requests.contains("/files/lang_full.dll"));
    QCOMPARE(f.dialogs.language, std::nullopt);

    // With a library of another language there, the question comes in that language; Yes
    // replaces the file.
    fs::copy_file(library("lang_full.dll"), f.downloaded("lang_full.dll"),
                  fs::copy_options::overwrite_existing);
    f.server.answers["/files/lang_full.dll"].body = fileBytes(library("lang_full32.dll"));
    QSignalSpy finished(dialog.get(), &WebDialog::downloadFinished);
    f.dialogs.answers.push_back(true);
    click(*dialog, "pkg");
    QVERIFY(signalled(finished));
    QCOMPARE(f.dialogs.messages[1].text,
             QStringLiteral("EN 130: ") +
                 builtInText(130).replace(QStringLiteral("%1"), QStringLiteral("lang_full.dll")));
    QCOMPARE(f.dialogs.messages[1].language, std::optional<std::string>("lang_full.dll"));
    QCOMPARE(fileBytes(f.downloaded("lang_full.dll")), fileBytes(library("lang_full32.dll")));
}

void LanguageWindowTest::failingOrRefusedDownloadsWriteNothing_data() {
    QTest::addColumn<QByteArray>("link");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reason");
    QTest::newRow("404") << QByteArray("missing") << "missing.dll"
                         << "404";
    QTest::newRow("no library") << QByteArray("html") << "page.dll"
                                << "keine Sprach-Dll";
    QTest::newRow("not a dll name") << QByteArray("ini") << "pelotest.ini"
                                    << "NAME.dll";
}

void LanguageWindowTest::failingOrRefusedDownloadsWriteNothing() {
    QFETCH(QByteArray, link);
    QFETCH(QString, file);
    QFETCH(QString, reason);
    WebFixture f;
    auto dialog = f.open();
    QSignalSpy finished(dialog.get(), &WebDialog::downloadFinished);
    click(*dialog, link.constData());
    QVERIFY(signalled(finished));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QCOMPARE(f.dialogs.messages.size(), 1u);
    QCOMPARE(f.dialogs.messages[0].kind, MessageKind::Error);
    QVERIFY2(f.dialogs.messages[0].text.contains(reason), qPrintable(f.dialogs.messages[0].text));
    QVERIFY(!fs::exists(f.downloaded(file.toStdString().c_str())));
    QVERIFY(!dialog->languagePackageDownloaded());
    QCOMPARE(dialog->result(), 0); // a link holding both markers is a package, never the export
}

void LanguageWindowTest::extractLinkClosesWithOk() {
    WebFixture f;
    auto dialog = f.open();
    QSignalSpy done(dialog.get(), &QDialog::finished);
    click(*dialog, "extract");
    QVERIFY(signalled(done));
    QCOMPARE(done.at(0).at(0).toInt(), int(QDialog::Accepted));
}

void LanguageWindowTest::overwriteQuestionAnswersNoOnEnter_data() {
    QTest::addColumn<MessageKind>("kind");
    QTest::addColumn<bool>("answer");
    QTest::newRow("overwrite question") << MessageKind::ConfirmationNoByDefault << false;
    QTest::newRow("other questions") << MessageKind::Confirmation << true;
}

// Enter on the real box presses its default button.
void LanguageWindowTest::overwriteQuestionAnswersNoOnEnter() {
    QFETCH(MessageKind, kind);
    QFETCH(bool, answer);
    AppState state;
    desktop::QtDialogs dialogs(state, nullptr);
    QString pressed;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                pressed = box->defaultButton()->text();
                QTest::keyClick(box, Qt::Key_Return);
            }
    });
    QCOMPARE(dialogs.message(kind, QStringLiteral("?")), answer);
    QCOMPARE(pressed, builtInText(answer ? 114 : 115));
}

void LanguageWindowTest::onlyAClickInTheTopFrameToTheMakerActs_data() {
    // In the pages, SELF is the maker's site and OTHER another one; the element "a" is clicked
    // with the mouse, or by a script of the page, or a key is pressed in the page.
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("downloads");
    QTest::addColumn<QString>("opened");
    const QByteArray block = " style=\"display:block;width:300px;height:100px\"";
    const QByteArray package =
        "<a id=a href=\"/files/lang_full.dll?IsLangFile=true\"" + block + ">package</a>";
    QTest::newRow("clicked") << package << "mouse" << true << "";
    QTest::newRow("clicked by a script") << package << "script" << false << "";
    QTest::newRow("script") << QByteArray("<script>setTimeout(function(){location.href="
                                          "'/files/lang_full.dll?IsLangFile=true'},100)</script>")
                            << "" << false << "";
    QTest::newRow("refresh") << QByteArray("<meta http-equiv=refresh content=\"0;url=/files/"
                                           "lang_full.dll?IsLangFile=true\">")
                             << "" << false << "";
    QTest::newRow("redirect after a click") << "<a id=a href=\"/go\"" + block + ">go</a>"
                                            << "mouse" << false << "";
    // The user clicks the page while the frame leads itself to a package.
    QTest::newRow("frame of another site")
        << "<div id=a" + block + ">x</div><iframe src=\"OTHER/frame\"></iframe>"
        << "mouse" << false << "";
    QTest::newRow("another site's package")
        << "<a id=a href=\"OTHER/files/lang_full.dll?IsLangFile=true\"" + block + ">x</a>"
        << "mouse" << false << "";
    QTest::newRow("window without a click")
        << QByteArray("<script>setTimeout(function(){window.open('OTHER/page')},100)</script>")
        << "" << false << "";
    QTest::newRow("window after a click")
        << "<a id=a target=_blank href=\"OTHER/page\"" + block + ">x</a>"
        << "mouse" << false << "OTHER/page";
    // A frame of another site leads the top frame to a package: when the user clicks in the frame
    // (its script sets top.location, or its link has target=_top), or by its timer just after the
    // user clicked the top page beside any link or pressed a key there.
    const QByteArray frame = "<iframe id=a style=\"border:0;display:block;width:300px;"
                             "height:100px\" src=\"OTHER/";
    QTest::newRow("frame's script sets top.location on a click")
        << frame + "frame-click\"></iframe>"
        << "mouse" << false << "";
    QTest::newRow("frame's target=_top link") << frame + "frame-top-link\"></iframe>"
                                              << "mouse" << false << "";
    QTest::newRow("frame's timer after a click beside the links")
        << "<div id=a" + block + ">text</div><iframe src=\"OTHER/frame-timer\"></iframe>"
        << "mouse" << false << "";
    QTest::newRow("frame's timer after a key press")
        << "<div id=a" + block + ">text</div><iframe src=\"OTHER/frame-timer\"></iframe>"
        << "key" << false << "";
}

void LanguageWindowTest::onlyAClickInTheTopFrameToTheMakerActs() {
    QFETCH(QByteArray, page);
    QFETCH(QString, how);
    QFETCH(bool, downloads);
    QFETCH(QString, opened);
    WebFixture f;
    PageServer other;
    const QByteArray otherHost = other.host().toLatin1();
    page.replace("OTHER", otherHost);
    opened.replace(QStringLiteral("OTHER"), other.host());
    f.server.answers["/download/additional/language.php"].body =
        "<html><body style=\"margin:0\">" + page + "</body></html>";
    f.server.answers["/go"] = {302, "text/html", "", "/files/lang_full.dll?IsLangFile=true"};
    other.answers["/frame"] = {200, "text/html",
                               "<script>setTimeout(function(){location.href='" +
                                   f.server.host().toLatin1() +
                                   "/files/lang_full.dll?IsLangFile=true'},800)</script>"};
    other.answers["/files/lang_full.dll"] = f.server.answers["/files/lang_full.dll"];
    // The frames that lead the top frame to the maker's package; a press in them is told to the
    // page, so that click() sees it.
    const QByteArray topPackage = "top.location.href='" + f.server.host().toLatin1() +
                                  "/files/lang_full.dll?IsLangFile=true'";
    const QByteArray press = " onmousedown=\"parent.postMessage('press','*')\"";
    const QByteArray area = " style=\"display:block;width:300px;height:100px\"";
    other.answers["/frame-click"] = {200, "text/html",
                                     "<body style=\"margin:0\"><div" + area + press +
                                         " onclick=\"" + topPackage + "\">x</div></body>"};
    other.answers["/frame-top-link"] = {
        200, "text/html",
        "<body style=\"margin:0\"><a target=_top href=\"" + f.server.host().toLatin1() +
            "/files/lang_full.dll?IsLangFile=true\"" + area + press + ">x</a></body>"};
    other.answers["/frame-timer"] = {
        200, "text/html", "<script>setTimeout(function(){" + topPackage + "},1500)</script>"};
    auto dialog = f.open();
    QSignalSpy finished(dialog.get(), &WebDialog::downloadFinished);
    if (how == QLatin1String("mouse")) {
        // A frame's content comes after its page.
        QTest::qWait(300);
        click(*dialog, "a");
    } else if (how == QLatin1String("script")) {
        scriptClick(*dialog, "a");
    } else if (how == QLatin1String("key")) {
        QTest::qWait(300);
        QTest::keyClick(dialog->browser()->focusProxy(), Qt::Key_Space);
    }
    if (downloads) {
        QVERIFY(signalled(finished));
        QVERIFY(fs::exists(f.downloaded("lang_full.dll")));
        return;
    }
    QTest::qWait(2500);
    QCOMPARE(finished.size(), 0);
    QVERIFY(!fs::exists(f.downloaded("lang_full.dll")));
    QVERIFY(!f.server.requests.contains("/files/lang_full.dll"));
    QVERIFY(!other.requests.contains("/files/lang_full.dll"));
    QCOMPARE(f.dialogs.messages.size(), 0u);
    QCOMPARE(f.dialogs.opened,
             opened.isEmpty() ? std::vector<QUrl>{} : std::vector<QUrl>{QUrl(opened)});
}

void LanguageWindowTest::unreachableHostShowsTheBuiltInPage_data() {
    QTest::addColumn<bool>("help");
    QTest::newRow("language") << false;
    QTest::newRow("help") << true;
}

void LanguageWindowTest::unreachableHostShowsTheBuiltInPage() {
    QFETCH(bool, help);
    WebFixture f;
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QString host = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    auto dialog = f.open(help ? WebDialog::Mode::Help : WebDialog::Mode::Language, host);
    QVERIFY(waitFor([&] { return dialog->showsBuiltInPage(); }));
    QSignalSpy loaded(dialog->browser(), &QWebEngineView::loadFinished);
    QVERIFY(loaded.wait(20000));
    QString html;
    dialog->browser()->page()->toHtml([&](const QString& text) { html = text; });
    QVERIFY(waitFor([&] { return !html.isEmpty(); }));
    auto* exportButton = dialog->findChild<QPushButton*>("ExportButton");
    auto* closeButton = dialog->findChild<QPushButton*>("CloseButton");
    if (help) {
        QVERIFY(html.contains(builtInText(1).toHtmlEscaped()));
        QVERIFY(exportButton->isHidden());
        QCOMPARE(closeButton->text(), builtInText(112));
        QCOMPARE(dialog->windowTitle(), builtInText(118));
        QVERIFY(dialog->findChild<QLabel*>("ProgressText")->text().contains(host));
        return;
    }
    QVERIFY(html.contains(QStringLiteral("Deutsch (standard)")));
    QCOMPARE(exportButton->text(), builtInText(127));
    QSignalSpy done(dialog.get(), &QDialog::finished);
    click(*dialog, "extract");
    QVERIFY(signalled(done));
    QCOMPARE(done.at(0).at(0).toInt(), int(QDialog::Accepted));
}

// F1 or the language button where the embedded browser cannot start: nothing of it is created,
// a box says why and offers the page in the desktop's browser; the window and what the user
// changed stay.
void LanguageWindowTest::webViewThatCannotStartOffersTheBrowser_data() {
    QTest::addColumn<QByteArray>("variable"); // set for the case (the others as the test has them)
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("why");
    QTest::addColumn<bool>("help"); // F1, or the language dialog
    QTest::addColumn<bool>("browserStarts");
    const QByteArray missing = "/nonexistent/QtWebEngineProcess";
    QTest::newRow("helper missing, F1")
        << QByteArray("QTWEBENGINEPROCESS_PATH") << missing
        << QStringLiteral("/nonexistent/QtWebEngineProcess is missing") << true << true;
    QTest::newRow("helper missing, language, no browser")
        << QByteArray("QTWEBENGINEPROCESS_PATH") << missing
        << QStringLiteral("/nonexistent/QtWebEngineProcess is missing") << false << false;
    if (::geteuid() == 0)
        QTest::newRow("root with the sandbox on")
            << QByteArray("QTWEBENGINE_DISABLE_SANDBOX") << QByteArray()
            << QStringLiteral("running as root needs QTWEBENGINE_DISABLE_SANDBOX=1") << true
            << true;
}

void LanguageWindowTest::webViewThatCannotStartOffersTheBrowser() {
    QFETCH(QByteArray, variable);
    QFETCH(QByteArray, value);
    QFETCH(QString, why);
    QFETCH(bool, help);
    QFETCH(bool, browserStarts);
    Fixture f;
    f.start("[Settings]\r\nLanguageDll=\r\n");
    f.child<QLineEdit>("VirtualFolderField")->setText(QStringLiteral("unsaved"));
    const QByteArray before = qgetenv(variable.constData());
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (value.isEmpty()) {
        qunsetenv(variable.constData());
        qunsetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    } else {
        qputenv(variable.constData(), value);
    }
    f.dialogs.browserStarts = browserStarts;
    const auto shown = f.dialogs.messages.size();
    if (help)
        f.child<QToolButton>("HelpButton")->click();
    else
        f.child<desktop::LanguageBox>("LanguageChoice")->openLanguageDialog();
    before.isNull() ? qunsetenv(variable.constData()) : qputenv(variable.constData(), before);
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);

    for (QWidget* top : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<desktop::WebDialog*>(top));
    QCOMPARE(f.dialogs.messages.size(), shown + (browserStarts ? 1 : 2));
    QCOMPARE(f.dialogs.messages[shown].kind, MessageKind::Confirmation);
    QCOMPARE(f.dialogs.messages[shown].text, builtInText(172).replace("%1", why));
    QCOMPARE(f.dialogs.opened.size(), std::size_t(1));
    QVERIFY(f.dialogs.opened.back().toString().contains(help ? "help" : "language"));
    if (!browserStarts)
        QCOMPARE(f.dialogs.messages.back().text,
                 builtInText(168).replace("%1", f.dialogs.opened.back().toDisplayString()));
    QVERIFY(f.window->isVisible());
    QCOMPARE(f.child<QLineEdit>("VirtualFolderField")->text(), QStringLiteral("unsaved"));
}

} // namespace pelotest::test

int main(int argc, char** argv) {
    // The browser's sandbox needs user namespaces that containers (and root) do not give.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    pelotest::test::LanguageWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LanguageWindowTest.moc"
