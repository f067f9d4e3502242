#include "desktop/FallbackPage.h"

#include "desktop/Text.h"
#include "language/Languages.h"
#include "language/UiTexts.h"

namespace pelotest::desktop {
namespace {

QString htmlText(const std::string& bytes) {
    return fromWindows1252(bytes).toHtmlEscaped().replace(QLatin1Char('\r'),
                                                          QStringLiteral("<br>"));
}

} // namespace

QString fallbackPage(const AppState& state, const std::string& language, int port, bool help,
                     const QString& host) {
    const auto ui = [&](UiText id) {
        return htmlText(loadUiText(state.languageFolders, language, id));
    };
    QString html = QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><style>"
                                  "body{font-family:sans-serif;font-size:13px;margin:10px}"
                                  "h1{font-size:16px}li{margin:3px 0}</style></head><body>");
    if (!help) {
        html += QStringLiteral("<h1>%1</h1><ul>").arg(ui(UiText::LanguageDownloadCaption));
        for (const LanguageEntry& entry : discoverLanguages(state.languageFolders, language)) {
            html += QStringLiteral("<li>%1").arg(htmlText(entry.displayName));
            if (!entry.fileName.empty())
                html += QStringLiteral(" (%1)").arg(fromPathBytes(entry.fileName).toHtmlEscaped());
            html += QStringLiteral("</li>");
        }
        // The export link points at the maker's site like the one of its page: the dialog acts
        // only on links to there, and it takes this one before anything is sent.
        html += QStringLiteral("</ul><p><a id=\"extract\" href=\"%1/?ExtractRes=true\">%2</a></p>")
                    .arg(host.toHtmlEscaped(), ui(UiText::ExportLanguage));
    } else {
        html += QStringLiteral("<h1>%1</h1><p>%2</p><ul>")
                    .arg(ui(UiText::WindowTitle),
                         fromWindows1252(
                             loadUiText(state.languageFolders, language, UiText::WelcomeAbout)));
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
        html += QStringLiteral("</ul><p>http://localhost:%1/$int</p>").arg(port);
    }
    html += QStringLiteral("</body></html>");
    return html;
}

} // namespace pelotest::desktop
