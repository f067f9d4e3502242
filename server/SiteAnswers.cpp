// Static delivery, the site root (redirect to the start page, or the welcome page where one can be
// chosen) and the not-found page.

#include "server/SiteAnswers.h"

#include "language/UiTexts.h"
#include "server/Encoders.h"
#include "server/FileCache.h"
#include "server/LiveReload.h"
#include "server/PageSkeleton.h"
#include "server/PageText.h"
#include "server/RequestLogging.h"
#include "server/RequestSafety.h"
#include "server/ServerPages.h"
#include "server/StaticFiles.h"
#include "state/DisplayText.h"
#include "state/PathText.h"
#include "state/RegularFile.h"
#include "state/TextCase.h"

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelotest {
namespace {
namespace fs = std::filesystem;

// Generated pages depend on settings and state that change between requests: never cached.
void markGenerated(HttpResponse& response) {
    response.setHeader("Cache-Control", "no-store");
}

// ---- Files ------------------------------------------------------------------------------------

// The sending happens after the handler has returned, so a file that cannot be opened is
// reported here, while the request can still be answered with an error.
void ensureReadable(const fs::path& file, const std::string& filePath) {
    if (!RegularFile(file.string()).isOpen())
        throw std::runtime_error("Cannot read file " + filePath);
}

// The file itself, streamed by the listener: whole, one range of it, or no body at all when the
// client's copy is current.
void answerWithFile(Exchange& ex, std::string file) REQUIRES(ex.state.mutex) {
    HttpResponse& response = ex.response;
    // Small files are answered from memory; the bytes and the validators come from the same
    // reading of the file.
    std::shared_ptr<const CachedFile> cached = ex.servableBytes;
    const std::optional<LargeServableFile>& large = ex.servableLargeFile;
    std::optional<FileStamp> stamp;
    if (!cached) {
        stamp = large ? stampOf(large->identity) : stampOf(file);
        if (!stamp)
            throw std::runtime_error("Cannot read file " + ex.paths.filePath);
        if (stamp->size <= kSmallFile) {
            cached = readSmallFile(file);
            if (!cached)
                throw std::runtime_error("Cannot read file " + ex.paths.filePath);
        }
    }
    if (cached)
        stamp = stampOf(cached->identity);
    else if (!large)
        ensureReadable(file, ex.paths.filePath);
    std::string madeTag;
    const std::string& etag = cached ? cached->entityTag : (madeTag = entityTag(*stamp));
    response.headers.reserve(5);
    response.contentType = std::string(contentTypeFor(ex.paths.filePath));
    response.setHeader("Last-Modified",
                       cached ? cached->lastModified : httpDate(stamp->modifiedSeconds));
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
    switch (range.kind) {
    case RangeDecision::Kind::Unsatisfiable:
        response.status = 416;
        response.setHeader("Content-Range", "bytes */" + std::to_string(stamp->size));
        return;
    case RangeDecision::Kind::Partial:
        response.status = 206;
        response.setHeader("Content-Range", "bytes " + std::to_string(range.offset) + "-" +
                                                std::to_string(range.offset + range.length - 1) +
                                                "/" + std::to_string(stamp->size));
        break;
    case RangeDecision::Kind::Whole:
        break;
    }
    if (range.length > 0)
        response.file =
            FileBody{std::move(file), range.offset, range.length,
                     cached ? std::shared_ptr<const std::string>(cached, &cached->bytes) : nullptr};
}

// The largest page that live reload sends from memory (to put its script in); a larger one is
// sent as it is.
constexpr std::uint64_t kLivePageLimit = 16 * 1024 * 1024;

// While live reload is on, a page goes out from memory so that the request handler can put the
// script in, and as a generated page: a copy cached while it was off must not stand in for it.
// False (nothing answered) for a page too large to be read whole.
bool answerPageFromMemory(Exchange& ex, const std::string& file) REQUIRES(ex.state.mutex) {
    if (ex.servableBytes) {
        ex.response.contentType = "text/html";
        ex.response.body = ex.servableBytes->bytes; // the request handler puts the script in
        markGenerated(ex.response);
        return true;
    }
    // A larger page is read once per version with the script in it, and every request for it
    // sends that one text: many requests at once cost its size once, not once each.
    std::shared_ptr<const std::string> page;
    bool tooLarge = false;
    runUnlocked(ex.state.mutex, [&ex, &page, &tooLarge, &file] {
        const std::optional<FileStamp> stamp = stampOf(file);
        tooLarge = stamp && stamp->size > kLivePageLimit;
        if (!tooLarge)
            page = ex.live->pageWithScript(file, kLivePageLimit);
    });
    if (tooLarge)
        return false;
    if (!page)
        throw std::runtime_error("Cannot read file " + ex.paths.filePath);
    ex.response.contentType = "text/html";
    ex.response.file = FileBody{file, 0, page->size(), page};
    markGenerated(ex.response);
    return true;
}

// The start page while the remote editor is on: rebuilt as lines, the first line holding
// "</title>" gets the script that opens the recent-sites popup.
void answerStartPage(Exchange& ex, const std::string& file) REQUIRES(ex.state.mutex) {
    std::vector<std::string> lines;
    runUnlocked(ex.state.mutex, [&lines, &file] { lines = readLines(file); });
    for (std::string& line : lines) {
        std::string injected = injectSiteLogScript(ex.popupOffsets, line);
        if (injected != line) {
            line = std::move(injected);
            break;
        }
    }
    ex.response.contentType = "text/html";
    ex.response.body = joinLinesCrLf(lines);
    markGenerated(ex.response);
}

// The not-found page; the missing file is named by its full local path.
std::string notFoundPage(const LanguageTexts& texts, const Host& host,
                         const std::string& filePath) {
    std::string page =
        pageHead(texts.text(UiText::NotFoundTitle)) + controlPageBody(host, {}, {.margin = 6});
    page += "<table border=\"0\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\">\r"
            " <tr bgcolor=\"" +
            htmlColor(host, ColorRole::WindowBackground) + "\">\r";
    page += "  <td width=\"36\"><img src=\"/$int/warning.jpg\" border=\"0\" alt=\"\" width=\"32\" "
            "height=\"32\"></td>\r";
    page += "  <td>" +
            texts.format(UiText::NotFoundMessage, windows1252PageText(htmlEscape(filePath))) +
            "</td>\r";
    page += " </tr>\r <tr>\r  <td colspan=\"2\" align=\"center\" valign=\"top\">";
    page += "<FORM><INPUT CLASS=\"btn\" TYPE=\"BUTTON\" VALUE=\" " +
            texts.text(UiText::ButtonBack) +
            "\"  onClick=\"history.back();\" style=\"background-image:url(/$int/back.gif);"
            "background-repeat:no-repeat;width:80pt;\"></FORM>";
    page += "</td>\r </tr>\r</table>\r</body>\r</html>";
    return page;
}

} // namespace

std::shared_ptr<const CachedFile> readSmallFile(const std::string& file,
                                                const FileIdentity* identity) {
    try {
        std::shared_ptr<const CachedFile> cached =
            FileCache::shared().get(file, identity, kSmallFile);
        return cached && cached->bytes.size() <= kSmallFile ? cached : nullptr;
    } catch (const std::runtime_error&) {
        return nullptr;
    }
}

std::optional<LargeServableFile> lookAtLargeFile(const std::string& file,
                                                 const std::string& filePath) {
    const RegularFile opened(file);
    if (!opened.isOpen())
        return std::nullopt;
    LargeServableFile large{opened.identity(), std::nullopt};
    // A page that cannot be read keeps no title here: the answer reads it again and reports it.
    if (isPageFile(filePath)) {
        try {
            large.title = pageTitle(filePath);
        } catch (const std::runtime_error&) {
        }
    }
    return large;
}

void answerStaticFile(Exchange& ex) {
    // The caller has found an existing file (and resolved it, under the same lock); a caller
    // that has not is resolved here, so that nothing outside the static folder is ever sent.
    std::optional<std::string> resolvedHere;
    if (!ex.servableFile)
        resolvedHere = resolveServableFile(ex.paths);
    std::optional<std::string>& file = ex.servableFile ? ex.servableFile : resolvedHere;
    if (!file) {
        answerNotFound(ex);
        return;
    }
    const std::string& filePath = ex.paths.filePath;
    if (isPageFile(filePath)) {
        // The title of the bytes that are sent, when they have been read already.
        const std::optional<LargeServableFile>& large = ex.servableLargeFile;
        std::string title = ex.servableBytes        ? ex.servableBytes->title
                            : large && large->title ? *large->title
                                                    : pageTitle(filePath);
        // The live script's second request for a style sheet is no new visit of the page.
        if (!ex.styleSheetSwap)
            addLogEntry(ex, LogEntry{LogKind::StaticPage, std::string(fileNamePart(filePath)), "",
                                     std::move(title), filePath});
        if (ex.state.settings.remoteEdit &&
            equalsIgnoreCase(filePath, ex.paths.staticRoot + "/" + ex.state.settings.staticSite)) {
            answerStartPage(ex, *file);
            return;
        }
    }
    ex.answerSource = filePath;
    if (ex.live && contentTypeFor(filePath) == "text/html" && answerPageFromMemory(ex, *file))
        return;
    answerWithFile(ex, std::move(*file));
}

void answerSiteRoot(Exchange& ex) {
    ex.response.contentType = "text/html";
    if (ex.state.settings.staticSite.empty()) {
        // A large static folder takes a while to read: other requests and the window go on
        // meanwhile. The folder is the request's own copy.
        std::vector<std::string> startPages;
        runUnlocked(ex.state.mutex,
                    [&startPages, &ex] { startPages = startPageChoices(ex.paths.staticRoot); });
        ex.response.body = startSitePage(ex.texts, ex.state.settings, ex.host, startPages);
    } else {
        ex.response.body = redirectPage(ex.state.settings);
    }
    markGenerated(ex.response);
    // The welcome page's form sets the start page: no other site may frame it to catch clicks.
    addFrameGuard(ex.response);
}

void answerNotFound(Exchange& ex) {
    const std::string& filePath = ex.paths.filePath;
    ex.response.status = 404;
    ex.response.contentType = "text/html";
    ex.response.body = notFoundPage(ex.texts, ex.host, filePath);
    markGenerated(ex.response);
    addFrameGuard(ex.response); // like every page this server builds with a form
    addLogEntry(ex, LogEntry{LogKind::NotFound, std::string(fileNamePart(filePath)), "",
                             ex.texts.text(UiText::NotFoundTitle), filePath});
}

} // namespace pelotest
