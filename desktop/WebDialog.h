#pragma once
// TWeb: a page of the maker's web site in an embedded browser. In language mode the page lists
// language packages: a link whose query holds "IsLangFile=true" downloads that library into the
// language folder; one with "ExtractRes=true" (or the second button) closes the dialog with OK,
// and the opener then exports the translator's template. Both act only when the user clicks them
// on the maker's own page (answerNavigation); the download itself is LanguageDownload's, the dialog
// shows its progress and asks its questions. In help mode it shows the help page,
// with the maker's logo and address as a link. When the maker's page does not load, a page built
// into the program takes its place, so that neither mode is a dead end offline.

#include "desktop/Dialogs.h"
#include "desktop/LanguageDownload.h"
#include "language/UiTexts.h"
#include "state/AppState.h"

#include <QDialog>
#include <QUrl>
#include <QWebEnginePage>

#include <optional>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;
class QWebEngineLoadingInfo;
class QWebEngineView;
class QWidget;

namespace pelotest::desktop {

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
    bool languagePackageDownloaded() const { return download_->stored(); }
    // The address of the page the dialog loads in the language now used for the dialog.
    QUrl pageAddress() const;
    // Whether the built-in page is shown because the maker's page did not load.
    bool showsBuiltInPage() const { return builtInPage_; }
    QWebEngineView* browser() const { return browser_; }

    // Navigation handling: true when the browser may follow url. A navigation whose answer depends
    // on the link the user clicked is stopped, and acted on once the top frame has told which
    // link that was (takeClickedLink).
    bool beforeNavigate(const QUrl& url, QWebEnginePage::NavigationType type, bool mainFrame);
    // A page asks for a new window: only a user's click opens its address, and only in the
    // desktop's browser.
    void newWindowRequested(const QUrl& url, bool userInitiated);

  signals:
    // A download has ended, saved or not (for tests and the progress display).
    void downloadFinished(bool saved);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QString text(UiText id) const;
    void relabel();
    void loadPage();
    void pageLoaded(const QWebEngineLoadingInfo& loading);
    void showBuiltInPage();
    // Asks the top frame which link the user clicked there (and forgets it), then acts on request.
    void takeClickedLink(NavigationRequest request);
    void act(const NavigationRequest& request);
    void languagePackage(const QString& address);
    void showProgress(qint64 received, qint64 total);
    std::string packageLanguage(const std::string& fileName) const;
    void useLanguage(const std::string& languageDll);

    AppState& state_;
    Dialogs& dialogs_;
    Mode mode_;
    QString host_;
    // The name under which the top frame's click recorder answers; unknown to the page.
    QString clickRecorder_;
    LanguageDownload* download_;
    // The language the dialog speaks (the current one, or a package's for a moment).
    std::string language_;
    bool pageShown_ = false;
    bool builtInPage_ = false;
    bool loading_ = false;
    bool busy_ = false;
    bool progressBegun_ = false;

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
