// Static delivery, the site root (redirect to the start page, or the welcome page where one can be
// chosen) and the not-found page.

#include "language/UiTexts.h"
#include "server/Branches.h"
#include "server/RequestLogging.h"
#include "server/RequestSafety.h"
#include "server/StaticFiles.h"
#include "server/TextHelpers.h"
#include "state/TextCase.h"

#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace pelotest {
namespace {
namespace fs = std::filesystem;

// The maker named in the welcome page's footer.
constexpr std::string_view kMakerName = "Dunmere";
constexpr std::string_view kMakerAddress = "https://www.dunmere.example/";

// Generated pages depend on settings and state that change between requests: never cached.
void markGenerated(HttpResponse& response) {
    response.setHeader("Cache-Control", "no-store");
}

// ---- Building blocks of the welcome page --------------------------------------------------------

std::string spacerRow(int height) {
    const std::string h = std::to_string(height);
    return " <tr height=\"" + h +
           "\">\r"
           "  <td colspan=\"3\"><img src=\"/$int/blank.gif\" border=\"0\" alt=\"\" "
           "width=\"1\" height=\"" +
           h +
           "\"></td>\r"
           " </tr>\r";
}

std::string lineRow(const Host& host, ColorRole role) {
    return " <tr bgcolor=\"" + htmlColor(host, role) +
           "\" height=\"1\">\r"
           "  <td colspan=\"3\"><img src=\"/$int/blank.gif\" border=\"0\" alt=\"\" "
           "width=\"1\" height=\"1\"></td>\r"
           " </tr>\r";
}

std::string bevel(const Host& host) {
    return lineRow(host, ColorRole::ButtonShadow) + lineRow(host, ColorRole::ButtonHighlight);
}

std::string textRow(const Host& host, std::string_view text) {
    return " <tr valign=\"top\" bgcolor=\"" + htmlColor(host, ColorRole::WindowBackground) +
           "\">\r"
           "  <td colspan=\"3\"><table border=\"0\" cellpadding=\"4\" "
           "cellspacing=\"0\" width=\"100%\" height=\"100%\"><tr><td>" +
           std::string(text) +
           "</td></tr></table></td>\r"
           " </tr>\r";
}

std::string pageHead(std::string_view title) {
    return "<html>\r<head>\r<LINK REL=\"StyleSheet\" HREF=\"/$int/styles.css\" "
           "type=\"text/css\">\r<title>" +
           std::string(title) + "</title>\r</head>\r";
}

std::string bodyTag(const Host& host, std::string_view margin) {
    const std::string m(margin);
    return "<body bgcolor=\"" + htmlColor(host, ColorRole::ButtonFace) + "\" text=\"" +
           htmlColor(host, ColorRole::WindowText) + "\" marginheight=\"" + m + "\" marginwidth=\"" +
           m + "\" topmargin=\"" + m + "\" leftmargin=\"" + m + "\">\r";
}

// StartSitePage: the welcome page of the site root while no start page is set.
std::string startSitePage(const AppState& state, const Host& host, const std::string& staticRoot) {
    const Settings& settings = state.settings;
    std::string page = pageHead(host.caption()) + bodyTag(host, "2");
    page += "<FORM ACTION=\"/$int/SetStartSite.html\" NAME=\"SetStartSite\" METHOD=\"GET\">"
            "<table border=\"0\" cellspacing=\"0\" cellpadding=\"0\" width=\"100%\">\r";
    page += textRow(host, "<b>" + loadUiText(state, 89) + "</b><br>\r&nbsp;<br>\r" +
                              loadUiText(state, 90));
    page += spacerRow(2) + bevel(host) + spacerRow(5);
    page += " <tr valign=\"top\">\r"
            "  <td><img src=\"/$int/run.gif\" border=\"0\" alt=\"\" width=\"16\"></td>\r"
            "  <td colspan=\"2\">" +
            formatUiText(state, 109, "<a class=\"control\" href=\"/$int\">", "</a>") +
            "</td>\r </tr>\r";
    page += spacerRow(5);
    page += " <tr valign=\"top\">\r"
            "  <td><img src=\"/$int/run.gif\" border=\"0\" alt=\"\" width=\"16\"></td>"
            "  <td colspan=\"2\">" +
            loadUiText(state, 91) + "<br>\r<Select name=\"SITE\">\r";
    for (const std::string& name : startPageChoices(staticRoot)) {
        const std::string shown = htmlEscape(name);
        page += "<OPTION VALUE=\"" + shown + "\">" + shown + "</OPTION>\r";
    }
    page += "</Select>?<INPUT TYPE=\"TEXT\" NAME=\"PARMS\" VALUE=\"" +
            htmlEscape(settings.StaticParameter) +
            "\"><INPUT CLASS=\"btn\" TYPE=\"SUBMIT\" VALUE=\"" + loadUiText(state, 92) +
            "\"></td>\r </tr>\r";
    page += spacerRow(5) + bevel(host) + spacerRow(2);
    page += textRow(host, loadUiText(state, 111));
    page += spacerRow(2) + bevel(host) + spacerRow(5);
    page += " <tr height=\"100%\" valign=\"top\">\r"
            "  <td><img src=\"/$int/blank.gif\" border=\"0\" alt=\"\" width=\"16\"></td>\r";
    const std::string maker(kMakerAddress);
    page += "  <td class=\"note\" style=\"border-right:1px solid " +
            htmlColor(host, ColorRole::ButtonShadow) + ";\">" + loadUiText(state, 9) + " " +
            std::string(kMakerName) + "<br>\r<a href=\"" + maker +
            "\" target=\"DUNMERE\"><img src=\"/$int/banner.gif\" border=\"0\" alt=\"" + maker +
            "\"></a></td>\r";
    const std::string vendor = loadUiText(state, 110);
    page += "  <td class=\"note\" style=\"border-left:1px solid " +
            htmlColor(host, ColorRole::ButtonHighlight) + ";\">" + loadUiText(state, 10) +
            "<br>\r<a href=\"" + vendor +
            "\" target=\"PELORIN\"><img src=\"/$int/pelorin.gif\" border=\"0\" alt=\"" + vendor +
            "\"></a></td>\r";
    page += " </tr>\r</table>\r</FORM>\r</body>\r</html>";
    return page;
}

// The page that sends the browser on to the start page (with its parameters). The start page
// comes from the settings file, which may hold any text ("/evil.example/" makes "//evil.example/"),
// so the address is kept on this server here as well.
std::string redirectPage(const Settings& settings) {
    std::string target = htmlEscape(sameServerTarget("/" + settings.StaticSite));
    if (!settings.StaticParameter.empty())
        target += "?" + htmlEscape(settings.StaticParameter);
    return "<html>\r<head>\r<meta http-equiv=\"pragma\" content=\"no-cache\">\r"
           "<meta http-equiv=\"Refresh\" content=\"0;URL=" +
           target + "\">\r</head>\r<body></body>\r</html>";
}

// NotFoundPage: the missing file is named by its full local path.
std::string notFoundPage(const AppState& state, const Host& host, const std::string& filePath) {
    std::string page = pageHead(loadUiText(state, 93)) + bodyTag(host, "6");
    page += "<table border=\"0\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\">\r"
            " <tr bgcolor=\"" +
            htmlColor(host, ColorRole::WindowBackground) + "\">\r";
    page += "  <td width=\"36\"><img src=\"/$int/warning.jpg\" border=\"0\" alt=\"\" width=\"32\" "
            "height=\"32\"></td>\r";
    page += "  <td>" + formatUiText(state, 94, htmlEscape(filePath)) + "</td>\r";
    page += " </tr>\r <tr>\r  <td colspan=\"2\" align=\"center\" valign=\"top\">";
    page += "<FORM><INPUT CLASS=\"btn\" TYPE=\"BUTTON\" VALUE=\" " + loadUiText(state, 80) +
            "\"  onClick=\"history.back();\" style=\"background-image:url(/$int/back.gif);"
            "background-repeat:no-repeat;width:80pt;\"></FORM>";
    page += "</td>\r </tr>\r</table>\r</body>\r</html>";
    return page;
}

// ---- Files ------------------------------------------------------------------------------------

// The sending happens after the handler has returned, so a file that cannot be opened is
// reported here, while the request can still be answered with an error.
void ensureReadable(const fs::path& file, const std::string& filePath) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("Cannot read file " + filePath);
    ::close(fd);
}

// The file itself, streamed by the listener: whole, one range of it, or no body at all when the
// client's copy is current.
void answerWithFile(Exchange& ex, const fs::path& file) {
    HttpResponse& response = ex.response;
    const std::optional<FileStamp> stamp = stampOf(file);
    if (!stamp)
        throw std::runtime_error("Cannot read file " + ex.paths.FilePath);
    ensureReadable(file, ex.paths.FilePath);
    const std::string etag = entityTag(*stamp);
    response.contentType = std::string(contentTypeFor(ex.paths.FilePath));
    response.setHeader("Last-Modified", httpDate(stamp->modifiedSeconds));
    response.setHeader("ETag", etag);
    response.setHeader("Cache-Control", "no-cache"); // a changed file shows at the next load
    response.setHeader("Accept-Ranges", "bytes");

    RangeDecision range{RangeDecision::Kind::Whole, 0, stamp->size};
    const std::string& method = ex.request.method;
    if (method == "GET" || method == "HEAD") {
        const ConditionalHeaders conditions = conditionalHeadersOf(ex.request);
        if (isNotModified(conditions, etag, stamp->modifiedSeconds)) {
            response.status = 304;
            return;
        }
        range = evaluateRange(conditions, stamp->size, etag, stamp->modifiedSeconds);
    }
    const std::string size = std::to_string(stamp->size);
    switch (range.kind) {
    case RangeDecision::Kind::Unsatisfiable:
        response.status = 416;
        response.setHeader("Content-Range", "bytes */" + size);
        return;
    case RangeDecision::Kind::Partial:
        response.status = 206;
        response.setHeader("Content-Range", "bytes " + std::to_string(range.offset) + "-" +
                                                std::to_string(range.offset + range.length - 1) +
                                                "/" + size);
        break;
    case RangeDecision::Kind::Whole:
        break;
    }
    if (range.length > 0)
        response.file = FileBody{file, range.offset, range.length};
}

// The start page while the remote editor is on: rebuilt as lines, the first line holding
// "</title>" gets the script that opens the recent-sites popup.
void answerStartPage(Exchange& ex, const fs::path& file) {
    std::vector<std::string> lines = readLines(file.string());
    for (std::string& line : lines) {
        std::string injected = injectSiteLogScript(ex.state, line);
        if (injected != line) {
            line = std::move(injected);
            break;
        }
    }
    ex.response.contentType = "text/html";
    ex.response.body = joinLinesCrLf(lines);
    markGenerated(ex.response);
}

} // namespace

void answerStaticFile(Exchange& ex) {
    // The caller has found an existing file (and resolved it, under the same lock); a caller
    // that has not is resolved here, so that nothing outside the static folder is ever sent.
    const std::optional<fs::path> file =
        ex.servableFile ? ex.servableFile : resolveServableFile(ex.paths);
    if (!file) {
        answerNotFound(ex);
        return;
    }
    const std::string& filePath = ex.paths.FilePath;
    const Settings& settings = ex.state.settings;
    if (isLoggedPageFile(filePath)) {
        addLogEntry(ex.state, ex.host,
                    LogEntry{LogKind::StaticPage, std::string(fileNamePart(filePath)), "",
                             pageTitle(filePath), filePath});
        if (settings.RemoteEdit &&
            equalsIgnoreCase(filePath, ex.paths.StaticRoot + "/" + settings.StaticSite)) {
            answerStartPage(ex, *file);
            return;
        }
    }
    answerWithFile(ex, *file);
}

void answerSiteRoot(Exchange& ex) {
    const Settings& settings = ex.state.settings;
    ex.response.contentType = "text/html";
    ex.response.body = settings.StaticSite.empty()
                           ? startSitePage(ex.state, ex.host, ex.paths.StaticRoot)
                           : redirectPage(settings);
    markGenerated(ex.response);
}

void answerNotFound(Exchange& ex) {
    const std::string& filePath = ex.paths.FilePath;
    ex.response.status = 404;
    ex.response.contentType = "text/html";
    ex.response.body = notFoundPage(ex.state, ex.host, filePath);
    markGenerated(ex.response);
    addLogEntry(ex.state, ex.host,
                LogEntry{LogKind::NotFound, std::string(fileNamePart(filePath)), "",
                         loadUiText(ex.state, 93), filePath});
}

} // namespace pelotest
