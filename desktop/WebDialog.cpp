#include "desktop/WebDialog.h"

#include "desktop/LanguageSupport.h"
#include "desktop/Text.h"
#include "language/Languages.h"
#include "language/PeResources.h"
#include "language/UiTexts.h"
#include "resources/DesktopPictures.h"
#include "state/AtomicFile.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <algorithm>
#include <unistd.h>

namespace pelotest::desktop {
namespace {

namespace fs = std::filesystem;

// The dialog's client area.
constexpr QSize kClientSize{454, 310};

QPixmap picture(const char* name) {
    QPixmap pixmap;
    if (const auto* resource = desktop_pictures::find(name))
        pixmap.loadFromData(resource->bytes.data(), static_cast<uint>(resource->bytes.size()),
                            "PNG");
    return pixmap;
}

// The browser asks the dialog before it follows any address. A page never gets a window of its
// own: the dialog hears of the request (newWindowRequested) and decides.
class Page : public QWebEnginePage {
  public:
    Page(QWebEngineProfile* profile, desktop::WebDialog* dialog)
        : QWebEnginePage(profile, dialog), dialog_(dialog) {
        connect(this, &QWebEnginePage::newWindowRequested, dialog,
                [dialog](QWebEngineNewWindowRequest& request) {
                    dialog->newWindowRequested(request.requestedUrl(), request.isUserInitiated());
                });
    }

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool mainFrame) override {
        return dialog_->beforeNavigate(url, type, mainFrame);
    }
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

  private:
    desktop::WebDialog* dialog_;
};

// How long after a click or key press a navigation still counts as its result. The browser
// asks about the link within milliseconds; a busy machine may take longer.
constexpr qint64 kUserActionMs = 3000;

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

// A click on the logo opens the maker's site.
class ClickFilter : public QObject {
  public:
    ClickFilter(QObject* parent, std::function<void()> click)
        : QObject(parent), click_(std::move(click)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease) {
            click_();
            return true;
        }
        return false;
    }

  private:
    std::function<void()> click_;
};

// A file name the download may write: a bare "NAME.dll", so that no page can make the program
// write another kind of file (a settings file, a script) or leave the language folder.
bool acceptableLibraryName(const QString& name) {
    return name.size() > 4 && !name.startsWith(QLatin1Char('.')) &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.contains(QChar(0)) && name.endsWith(QStringLiteral(".dll"), Qt::CaseInsensitive);
}

QString htmlText(const std::string& bytes) {
    return fromWindows1252(bytes).toHtmlEscaped().replace(QLatin1Char('\r'),
                                                          QStringLiteral("<br>"));
}

} // namespace

WebDialog::WebDialog(AppState& state, Dialogs& dialogs, Mode mode, const QString& host,
                     QWidget* parent)
    : QDialog(parent), state_(state), dialogs_(dialogs), mode_(mode), host_(host),
      network_(new QNetworkAccessManager(this)) {
    setObjectName(QStringLiteral("WebDialog"));
    {
        const StateLock lock(state_.mutex);
        language_ = state_.settings.languageDll;
    }

    auto* profile = new QWebEngineProfile(this); // off the record: nothing is kept on disk
    browser_ = new QWebEngineView(this);
    browser_->setObjectName(QStringLiteral("WebPage"));
    browser_->setPage(new Page(profile, this));
    // The browser's own widget takes the input, and may be replaced while pages load: every
    // input event is looked at, and those for the browser are noted.
    QApplication::instance()->installEventFilter(this);
    connect(browser_->page(), &QWebEnginePage::loadingChanged, this, &WebDialog::pageLoaded);

    waitingPanel_ = new QWidget;
    waitingPanel_->setObjectName(QStringLiteral("WaitingPanel"));
    waitingPanel_->setAutoFillBackground(true);
    waitingPicture_ = new QLabel;
    waitingPicture_->setPixmap(picture("inet.png"));
    waitingPicture_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    waitingText_ = new QLabel;
    waitingText_->setObjectName(QStringLiteral("WaitingText"));
    waitingText_->setWordWrap(true);
    waitingText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* waiting = new QHBoxLayout(waitingPanel_);
    waiting->addWidget(waitingPicture_, 0, Qt::AlignTop);
    waiting->addWidget(waitingText_, 1);

    auto* area = new QStackedWidget;
    area->addWidget(waitingPanel_);
    area->addWidget(browser_);
    connect(browser_, &QWebEngineView::loadFinished, area,
            [area, this] { area->setCurrentWidget(browser_); });

    makerLogo_ = new QLabel;
    makerLogo_->setObjectName(QStringLiteral("MakerLogo"));
    progressText_ = new QLabel(QStringLiteral("0/0 Byte"));
    progressText_->setObjectName(QStringLiteral("ProgressText"));
    progressText_->setEnabled(false);
    progressBar_ = new QProgressBar;
    progressBar_->setObjectName(QStringLiteral("ProgressBar"));
    progressBar_->setEnabled(false);
    progressBar_->setTextVisible(false);
    exportButton_ = new QPushButton;
    exportButton_->setObjectName(QStringLiteral("ExportButton"));
    closeButton_ = new QPushButton;
    closeButton_->setObjectName(QStringLiteral("CloseButton"));
    connect(exportButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);

    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(4, 4, 8, 4);
    bottom->addWidget(makerLogo_);
    // The progress text stands above its bar, both as wide as the buttons leave room for.
    auto* progress = new QVBoxLayout;
    progress->setSpacing(1);
    progress->addWidget(progressText_);
    progress->addWidget(progressBar_);
    progressBar_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    progressBar_->setFixedHeight(10);
    progressText_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bottom->addLayout(progress, 1);
    bottom->addWidget(exportButton_);
    bottom->addWidget(closeButton_);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(area, 1);
    column->addLayout(bottom);

    if (mode_ == Mode::Help) {
        makerLogo_->setPixmap(picture("dunmere_logo.png"));
        makerLogo_->setToolTip(host_);
        makerLogo_->setCursor(Qt::PointingHandCursor);
        makerLogo_->installEventFilter(
            new ClickFilter(makerLogo_, [this] { dialogs_.openUrl(QUrl(host_)); }));
        progressText_->setEnabled(true);
        progressText_->setTextFormat(Qt::RichText);
        progressText_->setText(QStringLiteral("<a href=\"%1\" style=\"color:#0000FF\">%1</a>")
                                   .arg(host_.toHtmlEscaped()));
        progressText_->setToolTip(host_);
        progressText_->setCursor(Qt::PointingHandCursor);
        connect(progressText_, &QLabel::linkActivated, this,
                [this](const QString& link) { dialogs_.openUrl(QUrl(link)); });
        exportButton_->hide();
        progressBar_->hide();
    } else {
        makerLogo_->hide();
    }
    relabel();
    resize(kClientSize);
    setFixedSize(kClientSize);
}

WebDialog::~WebDialog() {
    QApplication::instance()->removeEventFilter(this);
    // A page must end before its profile (both are the dialog's children, the profile older).
    QWebEnginePage* page = browser_->page();
    delete browser_;
    browser_ = nullptr;
    delete page;
}

QString WebDialog::text(UiText id) const {
    return withLineBreaks(fromWindows1252(loadUiText(state_.languageFolders, language_, id)));
}

// Captions in the dialog's language; each button as wide as its caption plus 30.
void WebDialog::relabel() {
    const auto fit = [](QPushButton* button, const QString& caption) {
        button->setText(caption);
        button->ensurePolished();
        // The style's own margins may need more than 30 pixels around the caption.
        button->setFixedWidth(std::max(button->fontMetrics().horizontalAdvance(caption) + 30,
                                       button->sizeHint().width()));
    };
    waitingText_->setText(text(UiText::LanguageDownloadWait));
    if (mode_ == Mode::Help) {
        setWindowTitle(text(UiText::MessageInformation));
        fit(closeButton_, text(UiText::MessageOk));
        return;
    }
    setWindowTitle(text(UiText::LanguageDownloadCaption));
    fit(closeButton_, text(UiText::LanguageDownloadClose));
    fit(exportButton_, text(UiText::ExportLanguage));
}

QUrl WebDialog::pageAddress() const {
    return desktop::pageAddress(
        state_, host_, mode_ == Mode::Help ? QStringLiteral("help") : QStringLiteral("language"),
        language_, font().family(), font().pointSize());
}

void WebDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!pageShown_) {
        pageShown_ = true;
        loadPage();
    }
}

void WebDialog::loadPage() {
    builtInPage_ = false;
    loading_ = true;
    browser_->load(pageAddress());
}

// A navigation the dialog refused ends as a stopped load, which may come only after the dialog
// has asked for its next page (a download in between): only a load that failed shows the page
// built in.
void WebDialog::pageLoaded(const QWebEngineLoadingInfo& loading) {
    if (!loading_)
        return;
    switch (loading.status()) {
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        loading_ = false;
        return;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        loading_ = false;
        showBuiltInPage();
        return;
    case QWebEngineLoadingInfo::LoadStartedStatus:
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        return;
    }
}

// The page shown when the maker's page cannot be reached: what the dialog offers, built from the
// program's own texts.
void WebDialog::showBuiltInPage() {
    builtInPage_ = true;
    const auto ui = [this](UiText id) {
        return htmlText(loadUiText(state_.languageFolders, language_, id));
    };
    QString html = QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><style>"
                                  "body{font-family:sans-serif;font-size:13px;margin:10px}"
                                  "h1{font-size:16px}li{margin:3px 0}</style></head><body>");
    if (mode_ == Mode::Language) {
        html += QStringLiteral("<h1>%1</h1><ul>").arg(ui(UiText::LanguageDownloadCaption));
        for (const LanguageEntry& entry : discoverLanguages(state_.languageFolders, language_)) {
            html += QStringLiteral("<li>%1").arg(htmlText(entry.displayName));
            if (!entry.fileName.empty())
                html += QStringLiteral(" (%1)").arg(fromPathBytes(entry.fileName).toHtmlEscaped());
            html += QStringLiteral("</li>");
        }
        // The export link points at the maker's site like the one of its page: the dialog acts
        // only on links to there, and it takes this one before anything is sent.
        html += QStringLiteral("</ul><p><a id=\"extract\" href=\"%1/?ExtractRes=true\">%2</a></p>")
                    .arg(host_.toHtmlEscaped(), ui(UiText::ExportLanguage));
    } else {
        html += QStringLiteral("<h1>%1</h1><p>%2</p><ul>")
                    .arg(ui(UiText::WindowTitle),
                         fromWindows1252(
                             loadUiText(state_.languageFolders, language_, UiText::WelcomeAbout)));
        // The settings tab: folders, port and the server's button; the general tab; the log.
        html += QStringLiteral("<li><b>%1</b>: %2, %3, %4, %5 &rarr; %6</li>")
                    .arg(ui(UiText::TabSettings), ui(UiText::GroupTemplates),
                         ui(UiText::GroupStaticPages), ui(UiText::StartPageLabel),
                         ui(UiText::HttpPortLabel), ui(UiText::ServerStart));
        html += QStringLiteral("<li><b>%1</b>: %2, %3</li>")
                    .arg(ui(UiText::TabGeneral), ui(UiText::TabEventsTemplates),
                         ui(UiText::TabVariables));
        html += QStringLiteral("<li><b>%1</b>: %2, %3, %4</li>")
                    .arg(ui(UiText::TabLog), ui(UiText::ColumnFile), ui(UiText::ColumnEvent),
                         ui(UiText::ColumnTitle));
        html += QStringLiteral("<li><b>%1</b>: %2</li>")
                    .arg(ui(UiText::ChooseLanguage), ui(UiText::LanguageDownloadCaption));
        int port = 0;
        {
            const StateLock lock(state_.mutex);
            port = state_.settings.port;
        }
        html += QStringLiteral("</ul><p>http://localhost:%1/$int</p>").arg(port);
    }
    html += QStringLiteral("</body></html>");
    browser_->setHtml(html, QUrl(QStringLiteral("about:blank")));
}

namespace {

// An address as the maker's pages write it, split at its '?' (a '\\' read as '/').
std::pair<QString, QString> addressAndQuery(const QUrl& url) {
    QString target = url.toString(QUrl::FullyEncoded);
    target.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype question = target.indexOf(QLatin1Char('?'));
    if (question < 0)
        return {target, QString()};
    return {target.left(question), target.mid(question + 1)};
}

} // namespace

NavigationAnswer answerNavigation(const QUrl& url, QWebEnginePage::NavigationType type,
                                  bool mainFrame, bool clicked, const QUrl& downloadOrigin) {
    const QString query = addressAndQuery(url).second;
    const bool package = query.contains(QStringLiteral("IsLangFile=true"));
    const bool exportLink = query.contains(QStringLiteral("ExtractRes=true"));
    const bool followsClick = mainFrame && clicked &&
                              (type == QWebEnginePage::NavigationTypeLinkClicked ||
                               type == QWebEnginePage::NavigationTypeFormSubmitted);
    if (package || exportLink) {
        if (!followsClick || !sameOrigin(url, downloadOrigin))
            return NavigationAnswer::Refuse;
        // A link holding both markers is a package, never the export.
        return package ? NavigationAnswer::DownloadPackage : NavigationAnswer::Export;
    }
    // Links to other sites leave the dialog for the desktop's browser.
    if (mainFrame && type == QWebEnginePage::NavigationTypeLinkClicked &&
        !sameOrigin(url, downloadOrigin)) {
        if (!clicked)
            return NavigationAnswer::Refuse;
        return isWebAddress(url) ? NavigationAnswer::OpenOutside : NavigationAnswer::Refuse;
    }
    return NavigationAnswer::Follow;
}

bool WebDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && browser_ && (widget == browser_ || browser_->isAncestorOf(widget)))
            lastUserAction_.start();
    }
    return QDialog::eventFilter(watched, event);
}

bool WebDialog::beforeNavigate(const QUrl& url, QWebEnginePage::NavigationType type,
                               bool mainFrame) {
    const bool clicked = lastUserAction_.isValid() && lastUserAction_.elapsed() < kUserActionMs;
    const NavigationAnswer answer = answerNavigation(url, type, mainFrame, clicked, QUrl(host_));
    if (answer != NavigationAnswer::Follow && answer != NavigationAnswer::Refuse)
        lastUserAction_.invalidate(); // one click, one action
    switch (answer) {
    case NavigationAnswer::Follow:
        return true;
    case NavigationAnswer::Refuse:
        return false;
    case NavigationAnswer::DownloadPackage: {
        // Handled once the browser has returned from asking.
        const QString address = addressAndQuery(url).first;
        QTimer::singleShot(0, this, [this, address] { languagePackage(address); });
        return false;
    }
    case NavigationAnswer::Export:
        QTimer::singleShot(0, this, &QDialog::accept);
        return false;
    case NavigationAnswer::OpenOutside:
        dialogs_.openUrl(url);
        return false;
    }
    return false;
}

void WebDialog::newWindowRequested(const QUrl& url, bool userInitiated) {
    if (userInitiated && isWebAddress(url))
        dialogs_.openUrl(url);
}

std::optional<fs::path> WebDialog::downloadFolder(const AppState& state) {
    for (std::size_t i = 0; i < state.languageFolders.size() && i < 2; ++i) {
        const fs::path& folder = state.languageFolders[i];
        std::error_code error;
        fs::create_directories(folder, error);
        if (fs::is_directory(folder, error) && ::access(folder.c_str(), W_OK) == 0)
            return folder;
    }
    return std::nullopt;
}

// The language of a library for a question about it: its own when its language code differs
// from the built-in one (it is a usable library of another language), else the dialog's.
std::string WebDialog::packageLanguage(const std::string& fileName) const {
    const std::string code = loadUiText(state_.languageFolders, fileName, UiText::LanguageCode);
    return code != loadBuiltInUiText(UiText::LanguageCode) ? fileName : language_;
}

void WebDialog::useLanguage(const std::string& languageDll) {
    language_ = languageDll;
    dialogs_.setMessageLanguage(languageDll);
}

void WebDialog::languagePackage(const QString& address) {
    if (busy_)
        return;
    busy_ = true;
    const QUrl url(address);
    const QString name = url.fileName();
    const auto failed = [this](const QString& why) {
        dialogs_.message(MessageKind::Error, why);
        emit downloadFinished(false);
        busy_ = false;
    };
    if (!acceptableLibraryName(name)) {
        failed(QStringLiteral("Das Sprachpaket \"%1\" wurde nicht geladen: nur Dateien NAME.dll "
                              "werden als Sprachpaket gespeichert.")
                   .arg(name));
        return;
    }
    const auto folder = downloadFolder(state_);
    if (!folder) {
        failed(QStringLiteral("Das Sprachpaket %1 wurde nicht geladen: kein Sprachordner ist "
                              "beschreibbar.")
                   .arg(name));
        return;
    }
    const std::string fileName = toPathBytes(name);
    std::error_code error;
    if (fs::exists(*folder / fileName, error)) {
        const std::string remembered = language_;
        useLanguage(packageLanguage(fileName));
        const bool overwrite = dialogs_.message(
            MessageKind::ConfirmationNoByDefault,
            text(UiText::OverwriteFileQuestion).replace(QStringLiteral("%1"), name));
        useLanguage(remembered);
        dialogs_.setMessageLanguage(std::nullopt);
        if (!overwrite) {
            emit downloadFinished(false);
            busy_ = false;
            return;
        }
    }

    QUrl plain(url);
    plain.setQuery(QString());
    if (!download(plain, name))
        return; // download() has said why
    emit downloadFinished(true);
    useLanguage(packageLanguage(fileName));
    dialogs_.message(MessageKind::Information,
                     text(UiText::FileSavedMessage).replace(QStringLiteral("%1"), name));
    relabel();
    loadPage();
    // The dialog goes on in the package's language (its page now asks for that language); the
    // message boxes return to the window's, which changes only when the user chooses the new
    // library in the language box.
    dialogs_.setMessageLanguage(std::nullopt);
    busy_ = false;
}

bool WebDialog::download(const QUrl& address, const QString& name) {
    QNetworkRequest request(address);
    request.setRawHeader("Accept", "text/html, */*");
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("PeloTest/%1").arg(fileVersion()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(60000);
    QNetworkReply* reply = network_->get(request);
    bool tooLarge = false;
    bool begun = false;
    connect(reply, &QNetworkReply::downloadProgress, this, [&](qint64 received, qint64 total) {
        if (received > static_cast<qint64>(kMaxPeFileSize) ||
            total > static_cast<qint64>(kMaxPeFileSize)) {
            tooLarge = true;
            reply->abort();
            return;
        }
        const QString totalText = total < 0 ? QStringLiteral("?") : QString::number(total);
        if (!begun) {
            begun = true;
            progressText_->setEnabled(true);
            progressBar_->setEnabled(true);
            progressBar_->setRange(0, total < 0 ? 0 : static_cast<int>(total));
            progressBar_->setValue(0);
        }
        progressText_->setText(QStringLiteral("%1/%2 Byte").arg(received).arg(totalText));
        if (total >= 0)
            progressBar_->setValue(static_cast<int>(received));
    });
    // Closing the dialog (Escape, or the program being stopped) ends the download too, so that
    // its loop does not keep the dialog's own loop, below it, from ending.
    connect(this, &QDialog::rejected, reply, &QNetworkReply::abort);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    progressText_->setEnabled(false);
    progressBar_->setEnabled(false);

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QString why;
    std::string bytes;
    if (tooLarge) {
        why = QStringLiteral("die Datei ist gr\u00f6\u00dfer als %1 MiB").arg(kMaxPeFileSize >> 20);
    } else if (status != 0 && status != 200) {
        why = QStringLiteral("der Server antwortete mit dem Status %1").arg(status);
    } else if (reply->error() != QNetworkReply::NoError) {
        why = reply->errorString();
    } else {
        const QByteArray data = reply->readAll();
        bytes.assign(data.constData(), static_cast<std::size_t>(data.size()));
        if (!isLanguageLibrary(bytes))
            why = QStringLiteral("die Datei ist keine Sprach-Dll dieses Programms (Flagge "
                                 "\"lang_bmp\" und Produktname %1 fehlen)")
                      .arg(QString::fromLatin1(kProgramProductName.data(),
                                               static_cast<qsizetype>(kProgramProductName.size())));
    }
    reply->deleteLater();
    if (why.isEmpty()) {
        const auto folder = downloadFolder(state_);
        const auto failure = folder ? replaceFile(*folder / toPathBytes(name), bytes)
                                    : std::optional<std::string>("kein Sprachordner");
        if (failure)
            why = QString::fromLocal8Bit(failure->c_str());
    }
    if (!why.isEmpty()) {
        dialogs_.message(
            MessageKind::Error,
            QStringLiteral("Das Sprachpaket %1 wurde nicht gespeichert: %2.").arg(name, why));
        emit downloadFinished(false);
        busy_ = false;
        return false;
    }
    downloaded_ = true;
    return true;
}

} // namespace pelotest::desktop
