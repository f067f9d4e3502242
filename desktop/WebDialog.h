#pragma once
// TWeb: a page of the maker's web site in an embedded browser. In language mode the page lists
// language packages: a link whose query holds "IsLangFile=true" downloads that library into the
// language folder; one with "ExtractRes=true" (or the second button) closes the dialog with OK,
// and the opener then exports the translator's template. Both act only when the user clicks them
// on the maker's own page (answerNavigation). In help mode it shows the help page,
// with the maker's logo and address as a link. When the maker's page does not load, a page built
// into the program takes its place, so that neither mode is a dead end offline.

#include "desktop/Dialogs.h"
#include "language/UiTexts.h"
#include "state/AppState.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QUrl>
#include <QWebEnginePage>

#include <filesystem>
#include <optional>
#include <string>

class QLabel;
class QNetworkAccessManager;
class QProgressBar;
class QPushButton;
class QWebEngineLoadingInfo;
class QWebEngineView;
class QWidget;

namespace pelotest::desktop {

// What the dialog does with an address its browser is about to follow.
enum class NavigationAnswer {
    Follow,          // the browser loads it
    Refuse,          // the browser stays where it is and nothing else happens
    DownloadPackage, // a language package: downloaded into the language folder
    Export,          // the export link: the dialog closes with OK
    OpenOutside,     // a link to another site: the desktop's browser opens it
};

// A package or export link (its query holds "IsLangFile=true" or "ExtractRes=true") is acted on
// only when the user clicked it: a link or form of the top frame (type), just after a mouse
// button or key went to the browser (clicked), that leads to downloadOrigin (same scheme, host
// and port). Any other navigation carrying those markers is refused, so that no script, redirect
// or frame of another site can store a library. A clicked link of the top frame to another
// origin goes to the desktop's browser; one that nobody clicked goes nowhere.
NavigationAnswer answerNavigation(const QUrl& url, QWebEnginePage::NavigationType type,
                                  bool mainFrame, bool clicked, const QUrl& downloadOrigin);

// Why the embedded browser cannot run in this process, or nullopt when it can. Its engine ends
// the whole program when it starts as root with its sandbox on (a container, a test machine),
// and cannot show anything without its helper program; both are known before it starts.
std::optional<QString> webViewUnavailable();

class WebDialog : public QDialog {
    Q_OBJECT

  public:
    enum class Mode { Language, Help };

    // host: scheme and host of the maker's pages ("https://www.example.org"), see downloadHost().
    WebDialog(AppState& state, Dialogs& dialogs, Mode mode, const QString& host,
              QWidget* parent = nullptr);
    ~WebDialog() override;

    // Shows the dialog modally (QDialog::exec) where the embedded browser can run; where it
    // cannot, nothing of it is created: a box says why and offers the page in the desktop's
    // browser instead, and the answer is Rejected. The window and its state stay as they are.
    static int run(AppState& state, Dialogs& dialogs, Mode mode, const QString& host,
                   QWidget* parent, bool* languagePackageDownloaded = nullptr);

    // Whether a language library was saved while the dialog was open.
    bool languagePackageDownloaded() const { return downloaded_; }
    // The address of the page the dialog loads in the language now used for the dialog.
    QUrl pageAddress() const;
    // Whether the built-in page is shown because the maker's page did not load.
    bool showsBuiltInPage() const { return builtInPage_; }
    QWebEngineView* browser() const { return browser_; }

    // The folder downloads go to: the first writable language folder (created when needed).
    static std::optional<std::filesystem::path> downloadFolder(const AppState& state);

    // Navigation handling: true when the browser may follow url.
    bool beforeNavigate(const QUrl& url, QWebEnginePage::NavigationType type, bool mainFrame);
    // A page asks for a new window: only a user's click opens its address, and only in the
    // desktop's browser.
    void newWindowRequested(const QUrl& url, bool userInitiated);

  signals:
    // A download has ended, saved or not (for tests and the progress display).
    void downloadFinished(bool saved);

  protected:
    void showEvent(QShowEvent* event) override;
    // Notes when a mouse button or a key reaches the browser: a link followed just after it
    // was clicked by the user.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QString text(UiText id) const;
    void relabel();
    void loadPage();
    void pageLoaded(const QWebEngineLoadingInfo& loading);
    void showBuiltInPage();
    void languagePackage(const QString& address);
    bool download(const QUrl& address, const QString& fileName);
    std::string packageLanguage(const std::string& fileName) const;
    void useLanguage(const std::string& languageDll);

    AppState& state_;
    Dialogs& dialogs_;
    Mode mode_;
    QString host_;
    QNetworkAccessManager* network_;
    // The language the dialog speaks (the current one, or a package's for a moment).
    std::string language_;
    bool downloaded_ = false;
    bool pageShown_ = false;
    bool builtInPage_ = false;
    bool loading_ = false;
    bool busy_ = false;
    QElapsedTimer lastUserAction_; // invalid when no click is waiting to be used

    QWebEngineView* browser_ = nullptr;
    QWidget* waitingPanel_ = nullptr; // waiting text over the browser until a page is loaded
    QLabel* waitingPicture_ = nullptr;
    QLabel* waitingText_ = nullptr;
    QLabel* makerLogo_ = nullptr;    // help mode
    QLabel* progressText_ = nullptr; // progress text, or the maker's address in help mode
    QProgressBar* progressBar_ = nullptr;
    QPushButton* exportButton_ = nullptr; // the export (result OK)
    QPushButton* closeButton_ = nullptr;
};

} // namespace pelotest::desktop
