#include "desktop/WebDialog.h"

#include "desktop/FallbackPage.h"
#include "desktop/LanguageSupport.h"
#include "desktop/StateCommands.h"
#include "desktop/Text.h"
#include "language/UiTexts.h"
#include "resources/DesktopPictures.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QUuid>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <algorithm>

namespace pelotest::desktop {
namespace {

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

// The browser's navigation types as the download's policy knows them.
NavigationKind kindOf(QWebEnginePage::NavigationType type) {
    switch (type) {
    case QWebEnginePage::NavigationTypeLinkClicked:
        return NavigationKind::LinkClicked;
    case QWebEnginePage::NavigationTypeFormSubmitted:
        return NavigationKind::FormSubmitted;
    case QWebEnginePage::NavigationTypeTyped:
        return NavigationKind::Typed;
    case QWebEnginePage::NavigationTypeBackForward:
        return NavigationKind::BackForward;
    case QWebEnginePage::NavigationTypeReload:
        return NavigationKind::Reload;
    case QWebEnginePage::NavigationTypeRedirect:
        return NavigationKind::Redirect;
    case QWebEnginePage::NavigationTypeOther:
        break;
    }
    return NavigationKind::Other;
}

// Qt 6.4 tells of a navigation only its address, its type and whether the top frame is the one
// navigated, not which frame started it nor whether the user did. So the top frame's own
// document notes the link of each click the browser marks as the user's (isTrusted: never a
// script's click()), and the dialog asks for it when a navigation would act. The recorder runs
// in a world of its own, which the page's scripts cannot see or change, in the top frame only
// (a frame's clicks are not the top page's), and answers under a name made for each dialog. A
// click counts once, for 3 s; a click beside a link clears it.
QString clickRecorderScript(const QString& name) {
    return QStringLiteral(
               "(function(){var last=null;"
               "window.addEventListener('click',function(e){"
               "var t=e.isTrusted?e.target:null;"
               "var link=t&&t.closest?t.closest('a[href],area[href]'):null;"
               "last=link&&typeof link.href==='string'?{href:link.href,at:performance.now()}:null;"
               "},true);"
               "window.%1=function(){var l=last;last=null;"
               "return l&&performance.now()-l.at<3000?l.href:'';};})();")
        .arg(name);
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

} // namespace

WebDialog::WebDialog(AppState& state, Dialogs& dialogs, Mode mode, const QString& host,
                     QWidget* parent)
    : QDialog(parent), state_(state), dialogs_(dialogs), mode_(mode), host_(host),
      clickRecorder_(QStringLiteral("pelotestClick") + QUuid::createUuid().toString(QUuid::Id128)),
      download_(new LanguageDownload(
          state, [this](UiText id) { return text(id); }, this)) {
    setObjectName(QStringLiteral("WebDialog"));
    language_ = StateCommands(state_).settings().languageDll;

    auto* profile = new QWebEngineProfile(this); // off the record: nothing is kept on disk
    browser_ = new QWebEngineView(this);
    browser_->setObjectName(QStringLiteral("WebPage"));
    browser_->setPage(new Page(profile, this));
    QWebEngineScript recorder;
    recorder.setName(QStringLiteral("clicks"));
    recorder.setWorldId(QWebEngineScript::ApplicationWorld);
    recorder.setInjectionPoint(QWebEngineScript::DocumentCreation);
    recorder.setRunsOnSubFrames(false);
    recorder.setSourceCode(clickRecorderScript(clickRecorder_));
    browser_->page()->scripts().insert(recorder);
    connect(download_, &LanguageDownload::progress, this, &WebDialog::showProgress);
    // Closing the dialog (Escape, or the program being stopped) ends a download too, so that its
    // wait does not keep the dialog's own loop, below it, from ending.
    connect(this, &QDialog::rejected, download_, &LanguageDownload::abort);
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

void WebDialog::showBuiltInPage() {
    builtInPage_ = true;
    browser_->setHtml(fallbackPage(state_, language_, StateCommands(state_).settings().port,
                                   mode_ == Mode::Help, host_),
                      QUrl(QStringLiteral("about:blank")));
}

bool WebDialog::beforeNavigate(const QUrl& url, QWebEnginePage::NavigationType type,
                               bool mainFrame) {
    const NavigationRequest request{url, kindOf(type), mainFrame, std::nullopt};
    const QUrl origin(host_);
    if (answerNeedsClick(request, origin)) {
        takeClickedLink(request);
        return false;
    }
    return answerNavigation(request, origin) == NavigationAnswer::Follow;
}

void WebDialog::takeClickedLink(NavigationRequest request) {
    const QPointer<WebDialog> self(this);
    browser_->page()->runJavaScript(
        QStringLiteral("typeof %1==='function'?%1():''").arg(clickRecorder_),
        QWebEngineScript::ApplicationWorld, [self, request](const QVariant& link) mutable {
            if (!self)
                return;
            if (const QString href = link.toString(); !href.isEmpty())
                request.clickedLink = QUrl(href);
            self->act(request);
        });
}

void WebDialog::act(const NavigationRequest& request) {
    switch (answerNavigation(request, QUrl(host_))) {
    case NavigationAnswer::DownloadPackage:
        languagePackage(packageAddress(request.url));
        return;
    case NavigationAnswer::Export:
        accept();
        return;
    case NavigationAnswer::OpenOutside:
        dialogs_.openUrl(request.url);
        return;
    case NavigationAnswer::Follow: // stopped already; only a click could have let it act
    case NavigationAnswer::Refuse:
        return;
    }
}

void WebDialog::newWindowRequested(const QUrl& url, bool userInitiated) {
    if (userInitiated &&
        (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")))
        dialogs_.openUrl(url);
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
    if (const auto refused = download_->refusal(name)) {
        failed(*refused);
        return;
    }
    const std::string fileName = toPathBytes(name);
    std::error_code error;
    if (const auto file = download_->target(name); file && std::filesystem::exists(*file, error)) {
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

    progressBegun_ = false;
    const auto notSaved = download_->fetchAndStore(url, name);
    progressText_->setEnabled(false);
    progressBar_->setEnabled(false);
    if (notSaved) {
        failed(*notSaved);
        return;
    }
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

void WebDialog::showProgress(qint64 received, qint64 total) {
    if (!progressBegun_) {
        progressBegun_ = true;
        progressText_->setEnabled(true);
        progressBar_->setEnabled(true);
        progressBar_->setRange(0, total < 0 ? 0 : static_cast<int>(total));
        progressBar_->setValue(0);
    }
    const QString totalText = total < 0 ? QStringLiteral("?") : QString::number(total);
    progressText_->setText(QStringLiteral("%1/%2 Byte").arg(received).arg(totalText));
    if (total >= 0)
        progressBar_->setValue(static_cast<int>(received));
}

} // namespace pelotest::desktop
