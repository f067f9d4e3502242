// The language download's rules without a browser: which navigation the web dialog acts on, and
// which package names it stores. The real dialog's tests (LanguageWindowTest) click pages.

#include "desktop/LanguageDownload.h"

#include <QtTest>

#include <optional>

namespace pelotest::test {
namespace {

using desktop::LanguageDownload;
using desktop::NavigationAnswer;
using desktop::NavigationKind;
using desktop::NavigationRequest;

const QUrl kMaker(QStringLiteral("http://maker.example"));

} // namespace

class LanguageDownloadTest : public QObject {
    Q_OBJECT

  private slots:
    void navigationAnswers_data();
    void navigationAnswers();
    void packageNames_data();
    void packageNames();
};

void LanguageDownloadTest::navigationAnswers_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<NavigationKind>("kind");
    QTest::addColumn<bool>("mainFrame");
    // The link clicked in the top frame: "" none, "=" the address itself.
    QTest::addColumn<QString>("clicked");
    QTest::addColumn<NavigationAnswer>("answer");
    QTest::addColumn<bool>("needsClick");
    const QString package = QStringLiteral("http://maker.example/files/a.dll?IsLangFile=true");
    const NavigationKind link = NavigationKind::LinkClicked;
    using A = NavigationAnswer;
    QTest::newRow("clicked package")
        << package << link << true << "=" << A::DownloadPackage << true;
    QTest::newRow("scheme's port written out")
        << "http://MAKER.example:80/files/a.dll?IsLangFile=true" << link << true << "="
        << A::DownloadPackage << true;
    QTest::newRow("clicked export")
        << "http://maker.example/?ExtractRes=true" << link << true << "=" << A::Export << true;
    QTest::newRow("both markers") << "http://maker.example/a.dll?ExtractRes=true&IsLangFile=true"
                                  << link << true << "=" << A::DownloadPackage << true;
    // The top frame navigated to a package nobody clicked there: a frame's script setting
    // top.location, a frame's target=_top link, a timer after a click beside any link.
    QTest::newRow("no click in the top frame")
        << package << link << true << "" << A::Refuse << true;
    QTest::newRow("another link clicked")
        << package << link << true << "http://maker.example/files/b.dll?IsLangFile=true"
        << A::Refuse << true;
    QTest::newRow("form") << package << NavigationKind::FormSubmitted << true << "=" << A::Refuse
                          << false;
    QTest::newRow("redirect") << package << NavigationKind::Redirect << true << "=" << A::Refuse
                              << false;
    QTest::newRow("script") << package << NavigationKind::Other << true << "=" << A::Refuse
                            << false;
    QTest::newRow("frame") << package << link << false << "=" << A::Refuse << false;
    QTest::newRow("other host") << "http://evil.example/files/a.dll?IsLangFile=true" << link << true
                                << "=" << A::Refuse << false;
    QTest::newRow("other port") << "http://maker.example:8080/files/a.dll?IsLangFile=true" << link
                                << true << "=" << A::Refuse << false;
    QTest::newRow("other scheme") << "https://maker.example/files/a.dll?IsLangFile=true" << link
                                  << true << "=" << A::Refuse << false;
    QTest::newRow("maker's page") << "http://maker.example/about" << link << true << "" << A::Follow
                                  << false;
    QTest::newRow("clicked other site")
        << "https://other.example/" << link << true << "=" << A::OpenOutside << true;
    QTest::newRow("other site not clicked")
        << "https://other.example/" << link << true << "" << A::Refuse << true;
    QTest::newRow("clicked local file")
        << "file:///etc/passwd" << link << true << "=" << A::Refuse << false;
    QTest::newRow("other site in a frame")
        << "https://other.example/" << link << false << "" << A::Follow << false;
}

void LanguageDownloadTest::navigationAnswers() {
    QFETCH(QString, url);
    QFETCH(NavigationKind, kind);
    QFETCH(bool, mainFrame);
    QFETCH(QString, clicked);
    QFETCH(NavigationAnswer, answer);
    QFETCH(bool, needsClick);
    NavigationRequest request{QUrl(url), kind, mainFrame, std::nullopt};
    QCOMPARE(desktop::answerNeedsClick(request, kMaker), needsClick);
    if (clicked == QLatin1String("="))
        request.clickedLink = QUrl(url);
    else if (!clicked.isEmpty())
        request.clickedLink = QUrl(clicked);
    QCOMPARE(desktop::answerNavigation(request, kMaker), answer);
}

void LanguageDownloadTest::packageNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("stored");
    QTest::newRow("library") << "lang_en.dll" << true;
    QTest::newRow("upper case") << "LANG.DLL" << true;
    QTest::newRow("settings file") << "pelotest.ini" << false;
    QTest::newRow("hidden") << ".x.dll" << false;
    QTest::newRow("bare extension") << ".dll" << false;
    QTest::newRow("folder") << "a/b.dll" << false;
    QTest::newRow("windows folder") << "a\\b.dll" << false;
    QTest::newRow("null") << QStringLiteral("a%1.dll").arg(QChar(0)) << false;
}

void LanguageDownloadTest::packageNames() {
    QFETCH(QString, name);
    QFETCH(bool, stored);
    QCOMPARE(LanguageDownload::acceptableLibraryName(name), stored);
}

} // namespace pelotest::test

QTEST_GUILESS_MAIN(pelotest::test::LanguageDownloadTest)
#include "LanguageDownloadTest.moc"
