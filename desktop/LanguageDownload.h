#pragma once
// The language download of the web dialog, apart from the browser that shows the maker's page:
// which navigation the dialog acts on (answerNavigation), which packages it takes, and how it
// fetches, checks and stores one (LanguageDownload). Qt Network only, no browser, so that all of
// it is tested without Qt WebEngine; the dialog (WebDialog) shows the page and the progress.

#include "language/UiTexts.h"
#include "state/AppState.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <filesystem>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace pelotest::desktop {

// How the browser came to an address (the browser's own navigation types, those that count).
enum class NavigationKind {
    LinkClicked,
    FormSubmitted,
    Typed,
    BackForward,
    Reload,
    Redirect,
    Other
};

// What the dialog does with an address its browser is about to follow.
enum class NavigationAnswer {
    Follow,          // the browser loads it
    Refuse,          // the browser stays where it is and nothing else happens
    DownloadPackage, // a language package: downloaded into the language folder
    Export,          // the export link: the dialog closes with OK
    OpenOutside,     // a link to another site: the desktop's browser opens it
};

struct NavigationRequest {
    QUrl url;
    NavigationKind kind = NavigationKind::Other;
    bool mainFrame = false; // the top frame is the one navigated
    // The address of the link the user last clicked in the top frame's own document (a click the
    // browser marks as the user's, on a link of that document), when that click is recent and has
    // not been acted on yet. A frame's script, a timer or a frame's link never set it.
    std::optional<QUrl> clickedLink;
};

// A package or export link (its query holds "IsLangFile=true" or "ExtractRes=true") is acted on
// only when it is the link the user clicked in the top frame: the top frame is navigated by a link
// to exactly the address of the link clicked there (clickedLink), on downloadOrigin (same scheme,
// host and port). Anything else carrying those markers is refused, so that no script, redirect,
// timer or frame of another site can store a library. A clicked link of the top frame to another
// origin goes to the desktop's browser; one that was not clicked goes nowhere.
NavigationAnswer answerNavigation(const NavigationRequest& request, const QUrl& downloadOrigin);
// Whether the answer depends on which link was clicked: then the browser is stopped, and the
// dialog asks the top frame for its clicked link before it answers.
bool answerNeedsClick(const NavigationRequest& request, const QUrl& downloadOrigin);
// The address without its query, as the package is fetched (a '\\' read as '/').
QString packageAddress(const QUrl& url);

// Fetches a package, checks it and stores it in the language folder.
class LanguageDownload : public QObject {
    Q_OBJECT

  public:
    // text: a UI text in the dialog's language now.
    LanguageDownload(AppState& state, std::function<QString(UiText)> text,
                     QObject* parent = nullptr);

    // The folder downloads go to: the first writable of the first two language folders (created
    // when needed).
    static std::optional<std::filesystem::path> downloadFolder(const AppState& state);
    // A file name the download may write: a bare "NAME.dll", so that no page can make the program
    // write another kind of file (a settings file, a script) or leave the language folder.
    static bool acceptableLibraryName(const QString& name);

    // Why a package of that name cannot be stored at all (before anything is fetched).
    std::optional<QString> refusal(const QString& name) const;
    // Where the package of that name goes (after refusal gave none).
    std::optional<std::filesystem::path> target(const QString& name) const;
    // Fetches address and stores it as name in the download folder when it is a language library
    // of this program within the size limit. Waits (the window's events go on meanwhile); abort()
    // ends it. nullopt when the package was stored, else why not (a whole sentence).
    std::optional<QString> fetchAndStore(const QUrl& address, const QString& name);
    void abort();
    // Whether a package was stored by this object.
    bool stored() const { return stored_; }

  signals:
    // While a package comes in: bytes received, and the total (-1 while not known).
    void progress(qint64 received, qint64 total);

  private:
    // Why the bytes fetched are no package to store (empty when they are one).
    QString checked(const QNetworkReply& reply, bool tooLarge, const std::string& bytes) const;

    AppState& state_;
    std::function<QString(UiText)> text_;
    QNetworkAccessManager* network_;
    QNetworkReply* reply_ = nullptr;
    bool stored_ = false;
};

} // namespace pelotest::desktop
