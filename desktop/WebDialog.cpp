#include "desktop/WebDialog.h"

#include "desktop/LanguageSupport.h"
#include "desktop/Text.h"
#include "language/Languages.h"
#include "language/PeResources.h"
#include "language/UiTexts.h"
#include "resources/DesktopPictures.h"
#include "state/AtomicFile.h"
#include "state/TextCase.h"

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

// The browser asks the dialog before it follows any address; pages that open a new window get
// a page that hands its address to the desktop's browser instead.
class Page : public QWebEnginePage {
  public:
    Page(QWebEngineProfile* profile, desktop::WebDialog* dialog, Dialogs& dialogs)
        : QWebEnginePage(profile, dialog), dialog_(dialog), dialogs_(dialogs) {}

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool mainFrame) override {
        return dialog_->beforeNavigate(url, type == NavigationTypeLinkClicked, mainFrame);
    }
    QWebEnginePage* createWindow(WebWindowType) override {
        return new Outward(profile(), this, dialogs_);
    }

  private:
    class Outward : public QWebEnginePage {
      public:
        Outward(QWebEngineProfile* profile, QObject* parent, Dialogs& dialogs)
            : QWebEnginePage(profile, parent), dialogs_(dialogs) {}

      protected:
        bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
            dialogs_.openUrl(url);
            deleteLater();
            return false;
        }

      private:
        Dialogs& dialogs_;
    };

    desktop::WebDialog* dialog_;
    Dialogs& dialogs_;
};

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
    setObjectName(QStringLiteral("Web"));
    {
        std::lock_guard lock(state_.mutex);
        language_ = state_.settings.languageDll;
    }

    auto* profile = new QWebEngineProfile(this); // off the record: nothing is kept on disk
    WebBrowser1 = new QWebEngineView(this);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    WebBrowser1->setPage(new Page(profile, this, dialogs_));
    connect(WebBrowser1, &QWebEngineView::loadFinished, this, &WebDialog::pageLoaded);

    Panel2 = new QWidget;
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setAutoFillBackground(true);
    Image2 = new QLabel;
    Image2->setPixmap(picture("inet.png"));
    Image2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label2 = new QLabel;
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* waiting = new QHBoxLayout(Panel2);
    waiting->addWidget(Image2, 0, Qt::AlignTop);
    waiting->addWidget(Label2, 1);

    auto* area = new QStackedWidget;
    area->addWidget(Panel2);
    area->addWidget(WebBrowser1);
    connect(WebBrowser1, &QWebEngineView::loadFinished, area,
            [area, this] { area->setCurrentWidget(WebBrowser1); });

    Image1 = new QLabel;
    Image1->setObjectName(QStringLiteral("Image1"));
    Label1 = new QLabel(QStringLiteral("0/0 Byte"));
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setEnabled(false);
    ProgressBar1 = new QProgressBar;
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setEnabled(false);
    ProgressBar1->setTextVisible(false);
    Button2 = new QPushButton;
    Button2->setObjectName(QStringLiteral("Button2"));
    Button1 = new QPushButton;
    Button1->setObjectName(QStringLiteral("Button1"));
    connect(Button2, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);

    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(4, 4, 8, 4);
    bottom->addWidget(Image1);
    // The progress text stands above its bar, both as wide as the buttons leave room for.
    auto* progress = new QVBoxLayout;
    progress->setSpacing(1);
    progress->addWidget(Label1);
    progress->addWidget(ProgressBar1);
    ProgressBar1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    ProgressBar1->setFixedHeight(10);
    Label1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bottom->addLayout(progress, 1);
    bottom->addWidget(Button2);
    bottom->addWidget(Button1);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(area, 1);
    column->addLayout(bottom);

    if (mode_ == Mode::Help) {
        Image1->setPixmap(picture("dunmere_logo.png"));
        Image1->setToolTip(host_);
        Image1->setCursor(Qt::PointingHandCursor);
        Image1->installEventFilter(
            new ClickFilter(Image1, [this] { dialogs_.openUrl(QUrl(host_)); }));
        Label1->setEnabled(true);
        Label1->setTextFormat(Qt::RichText);
        Label1->setText(QStringLiteral("<a href=\"%1\" style=\"color:#0000FF\">%1</a>")
                            .arg(host_.toHtmlEscaped()));
        Label1->setToolTip(host_);
        Label1->setCursor(Qt::PointingHandCursor);
        connect(Label1, &QLabel::linkActivated, this,
                [this](const QString& link) { dialogs_.openUrl(QUrl(link)); });
        Button2->hide();
        ProgressBar1->hide();
    } else {
        Image1->hide();
    }
    relabel();
    resize(kClientSize);
    setFixedSize(kClientSize);
}

WebDialog::~WebDialog() {
    // A page must end before its profile (both are the dialog's children, the profile older).
    QWebEnginePage* page = WebBrowser1->page();
    delete WebBrowser1;
    WebBrowser1 = nullptr;
    delete page;
}

QString WebDialog::text(UiText id) const {
    return fromWindows1252(loadUiText(state_.languageFolders, language_, id));
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
    Label2->setText(text(UiText::LanguageDownloadWait));
    if (mode_ == Mode::Help) {
        setWindowTitle(text(UiText::MessageInformation));
        fit(Button1, text(UiText::MessageOk));
        return;
    }
    setWindowTitle(text(UiText::LanguageDownloadCaption));
    fit(Button1, text(UiText::LanguageDownloadClose));
    fit(Button2, text(UiText::ExportLanguage));
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
    WebBrowser1->load(pageAddress());
}

void WebDialog::pageLoaded(bool ok) {
    if (!loading_)
        return;
    loading_ = false;
    if (!ok)
        showBuiltInPage();
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
        html += QStringLiteral("</ul><p><a id=\"extract\" href=\"https://pelotest.invalid/"
                               "?ExtractRes=true\">%1</a></p>")
                    .arg(ui(UiText::ExportLanguage));
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
            std::lock_guard lock(state_.mutex);
            port = state_.settings.port;
        }
        html += QStringLiteral("</ul><p>http://localhost:%1/$int</p>").arg(port);
    }
    html += QStringLiteral("</body></html>");
    WebBrowser1->setHtml(html, QUrl(QStringLiteral("about:blank")));
}

bool WebDialog::beforeNavigate(const QUrl& url, bool linkClicked, bool mainFrame) {
    QString target = url.toString(QUrl::FullyEncoded);
    target.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype question = target.indexOf(QLatin1Char('?'));
    const QString address = question < 0 ? target : target.left(question);
    const QString query = question < 0 ? QString() : target.mid(question + 1);
    if (query.contains(QStringLiteral("IsLangFile=true"))) {
        // Handled once the browser has returned from asking.
        QTimer::singleShot(0, this, [this, address] { languagePackage(address); });
        return false;
    }
    if (query.contains(QStringLiteral("ExtractRes=true"))) {
        QTimer::singleShot(0, this, &QDialog::accept);
        return false;
    }
    // Links to other sites leave the dialog for the desktop's browser.
    if (linkClicked && mainFrame && url.host() != QUrl(host_).host()) {
        dialogs_.openUrl(url);
        return false;
    }
    return true;
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
            MessageKind::Confirmation,
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
            Label1->setEnabled(true);
            ProgressBar1->setEnabled(true);
            ProgressBar1->setRange(0, total < 0 ? 0 : static_cast<int>(total));
            ProgressBar1->setValue(0);
        }
        Label1->setText(QStringLiteral("%1/%2 Byte").arg(received).arg(totalText));
        if (total >= 0)
            ProgressBar1->setValue(static_cast<int>(received));
    });
    // Closing the dialog (Escape, or the program being stopped) ends the download too, so that
    // its loop does not keep the dialog's own loop, below it, from ending.
    connect(this, &QDialog::rejected, reply, &QNetworkReply::abort);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Label1->setEnabled(false);
    ProgressBar1->setEnabled(false);

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
