#include "server/RequestSafety.h"

#include "server/PageSkeleton.h"
#include "state/TextCase.h"

namespace pelotest {

bool fromAnotherSite(const HttpRequest& request) {
    const auto origin = request.header("Origin");
    const auto host = request.header("Host");
    if (origin)
        return !host || !startsWithIgnoreCase(*origin, "http://") ||
               !equalsIgnoreCase(origin->substr(7), *host);
    const auto fetchSite = request.header("Sec-Fetch-Site");
    return fetchSite && *fetchSite != "same-origin" && *fetchSite != "none";
}

void answerForbidden(HttpResponse& response, std::string_view why) {
    response.status = 403;
    response.contentType = "text/html";
    response.body = refusalPage("403 Forbidden", why);
    response.file.reset();
}

void answerCrossSiteRefused(HttpResponse& response) {
    answerForbidden(response, "This page changes the state of the server and answers only the "
                              "server's own pages or an address typed into the browser, not a "
                              "page of another site. Nothing was changed.");
}

bool climbsOut(std::string_view relative) {
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos)
            end = relative.size();
        if (relative.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

void addFrameGuard(HttpResponse& response) {
    response.setHeader("X-Frame-Options", "SAMEORIGIN");
    response.setHeader("Content-Security-Policy", "frame-ancestors 'self'");
}

namespace {

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A scheme as a URL parser finds one: a letter, then letters, digits, '+', '-' or '.', then ':'.
bool startsWithScheme(std::string_view address) {
    if (address.empty() || !isAsciiLetter(address.front()))
        return false;
    for (const char c : address.substr(1)) {
        if (c == ':')
            return true;
        if (!isAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
            return false;
    }
    return false;
}

} // namespace

std::string sameServerTarget(std::string_view path) {
    std::string address;
    address.reserve(path.size() + 1);
    for (const char c : path)
        if (c != '\t' && c != '\n' && c != '\r')
            address += c;
    // Blanks and control characters, slashes and backslashes ("//host", "/\host"), and a quote
    // before the first slash, which a refresh strips before it reads the address.
    std::size_t start = 0;
    bool slashSeen = false;
    for (; start < address.size(); ++start) {
        const char c = address[start];
        const bool blank = static_cast<unsigned char>(c) <= 0x20;
        const bool quote = (c == '\'' || c == '"') && !slashSeen;
        if (c == '/' || c == '\\')
            slashSeen = true;
        else if (!blank && !quote)
            break;
    }
    if (start > 0)
        return "/" + address.substr(start);
    if (startsWithScheme(address))
        return "/";
    return address;
}

} // namespace pelotest
