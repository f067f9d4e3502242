#include "desktop/LanguageDownload.h"

#include "desktop/LanguageSupport.h"
#include "desktop/Text.h"
#include "language/Languages.h"
#include "language/PeResources.h"
#include "platform/Files.h"
#include "state/AtomicFile.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace pelotest::desktop {
namespace {

namespace fs = std::filesystem;

bool isWebAddress(const QUrl& url) {
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

int portOf(const QUrl& url) {
    return url.port(url.scheme() == QLatin1String("https")  ? 443
                    : url.scheme() == QLatin1String("http") ? 80
                                                            : -1);
}

// Same scheme, host and port (an absent port is the scheme's own).
bool sameOrigin(const QUrl& a, const QUrl& b) {
    return isWebAddress(a) && !a.host().isEmpty() && a.scheme() == b.scheme() &&
           a.host() == b.host() && portOf(a) == portOf(b);
}

// An address as the maker's pages write it, split at its '?' (a '\\' read as '/').
std::pair<QString, QString> addressAndQuery(const QUrl& url) {
    QString target = url.toString(QUrl::FullyEncoded);
    target.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype question = target.indexOf(QLatin1Char('?'));
    if (question < 0)
        return {target, QString()};
    return {target.left(question), target.mid(question + 1)};
}

// The clicked link is this very address (as the browser wrote both).
bool isClickedLink(const NavigationRequest& request) {
    return request.clickedLink && request.clickedLink->isValid() &&
           request.clickedLink->toString(QUrl::FullyEncoded) ==
               request.url.toString(QUrl::FullyEncoded);
}

} // namespace

NavigationAnswer answerNavigation(const NavigationRequest& request, const QUrl& downloadOrigin) {
    const QString query = addressAndQuery(request.url).second;
    const bool package = query.contains(QStringLiteral("IsLangFile=true"));
    const bool exportLink = query.contains(QStringLiteral("ExtractRes=true"));
    const bool clickedHere =
        request.mainFrame && request.kind == NavigationKind::LinkClicked && isClickedLink(request);
    if (package || exportLink) {
        if (!clickedHere || !sameOrigin(request.url, downloadOrigin))
            return NavigationAnswer::Refuse;
        // A link holding both markers is a package, never the export.
        return package ? NavigationAnswer::DownloadPackage : NavigationAnswer::Export;
    }
    // Links of the top frame to other sites leave the dialog for the desktop's browser.
    if (request.mainFrame && request.kind == NavigationKind::LinkClicked &&
        !sameOrigin(request.url, downloadOrigin)) {
        return clickedHere && isWebAddress(request.url) ? NavigationAnswer::OpenOutside
                                                        : NavigationAnswer::Refuse;
    }
    return NavigationAnswer::Follow;
}

bool answerNeedsClick(const NavigationRequest& request, const QUrl& downloadOrigin) {
    NavigationRequest clicked = request;
    clicked.clickedLink = request.url;
    NavigationRequest unclicked = request;
    unclicked.clickedLink.reset();
    return answerNavigation(clicked, downloadOrigin) != answerNavigation(unclicked, downloadOrigin);
}

QString packageAddress(const QUrl& url) {
    return addressAndQuery(url).first;
}

LanguageDownload::LanguageDownload(AppState& state, std::function<QString(UiText)> text,
                                   QObject* parent)
    : QObject(parent), state_(state), text_(std::move(text)),
      network_(new QNetworkAccessManager(this)) {}

std::optional<fs::path> LanguageDownload::downloadFolder(const AppState& state) {
    for (std::size_t i = 0; i < state.languageFolders.size() && i < 2; ++i) {
        const fs::path& folder = state.languageFolders[i];
        std::error_code error;
        fs::create_directories(folder, error);
        if (fs::is_directory(folder, error) && mayWrite(folder))
            return folder;
    }
    return std::nullopt;
}

bool LanguageDownload::acceptableLibraryName(const QString& name) {
    return name.size() > 4 && !name.startsWith(QLatin1Char('.')) &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.contains(QChar(0)) && name.endsWith(QStringLiteral(".dll"), Qt::CaseInsensitive);
}

std::optional<QString> LanguageDownload::refusal(const QString& name) const {
    if (!acceptableLibraryName(name))
        return text_(UiText::PackageNameRefused).replace(QStringLiteral("%1"), name);
    if (!downloadFolder(state_))
        return text_(UiText::PackageNoWritableFolder).replace(QStringLiteral("%1"), name);
    return std::nullopt;
}

std::optional<fs::path> LanguageDownload::target(const QString& name) const {
    const auto folder = downloadFolder(state_);
    if (!folder || !acceptableLibraryName(name))
        return std::nullopt;
    return *folder / toPathBytes(name);
}

void LanguageDownload::abort() {
    if (reply_)
        reply_->abort();
}

std::optional<QString> LanguageDownload::fetchAndStore(const QUrl& address, const QString& name) {
    if (const auto refused = refusal(name))
        return refused;
    QNetworkRequest request(address);
    request.setRawHeader("Accept", "text/html, */*");
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("PeloTest/%1").arg(fileVersion()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(60000);
    QNetworkReply* reply = network_->get(request);
    reply_ = reply;
    bool tooLarge = false;
    connect(reply, &QNetworkReply::downloadProgress, this, [&](qint64 received, qint64 total) {
        if (received > static_cast<qint64>(kMaxPeFileSize) ||
            total > static_cast<qint64>(kMaxPeFileSize)) {
            tooLarge = true;
            reply->abort();
            return;
        }
        emit progress(received, total);
    });
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply_ = nullptr;

    std::string bytes;
    if (!tooLarge && reply->error() == QNetworkReply::NoError) {
        const QByteArray data = reply->readAll();
        bytes.assign(data.constData(), static_cast<std::size_t>(data.size()));
    }
    QString why = checked(*reply, tooLarge, bytes);
    reply->deleteLater();
    if (why.isEmpty()) {
        const auto file = target(name);
        const auto failure =
            file ? replaceFile(*file, bytes)
                 : std::optional<std::string>(text_(UiText::PackageNoLanguageFolder).toStdString());
        if (failure)
            why = QString::fromLocal8Bit(failure->c_str());
    }
    if (!why.isEmpty())
        return text_(UiText::PackageNotSaved)
            .replace(QStringLiteral("%1"), name)
            .replace(QStringLiteral("%2"), why);
    stored_ = true;
    return std::nullopt;
}

QString LanguageDownload::checked(const QNetworkReply& reply, bool tooLarge,
                                  const std::string& bytes) const {
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (tooLarge)
        return text_(UiText::PackageTooLarge)
            .replace(QStringLiteral("%1"), QString::number(kMaxPeFileSize >> 20));
    if (status != 0 && status != 200)
        return text_(UiText::PackageHttpStatus)
            .replace(QStringLiteral("%1"), QString::number(status));
    if (reply.error() != QNetworkReply::NoError)
        return reply.errorString();
    if (!isLanguageLibrary(bytes))
        return text_(UiText::PackageNotALibrary)
            .replace(QStringLiteral("%1"),
                     QString::fromLatin1(kProgramProductName.data(),
                                         static_cast<qsizetype>(kProgramProductName.size())));
    return {};
}

} // namespace pelotest::desktop
