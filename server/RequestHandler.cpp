#include "server/RequestHandler.h"

#include "server/Branches.h"
#include "server/RequestContext.h"
#include "server/RequestSafety.h"
#include "state/TextCase.h"

#include <arpa/inet.h>

#include <array>
#include <filesystem>
#include <utility>

namespace pelotest {

void RequestBusy::enter(const std::function<bool()>& autoSortOn) {
    for (;;) {
        // Asked outside mutex_: the answer needs the state lock, which a running request holds.
        const bool oneAtATime = autoSortOn();
        std::unique_lock lock(mutex_);
        if (!oneAtATime || inProgress_ == 0) {
            ++inProgress_;
            return;
        }
        // A request is in progress; it calls leave() under mutex_, so its wake-up cannot be
        // missed between the test above and this wait.
        released_.wait(lock);
    }
}

void RequestBusy::leave() {
    {
        std::lock_guard lock(mutex_);
        --inProgress_;
    }
    released_.notify_all();
}

int RequestBusy::inProgress() const {
    std::lock_guard lock(mutex_);
    return inProgress_;
}

namespace {

bool isIpLiteral(const std::string& host, int family) {
    std::array<unsigned char, 16> address{};
    return ::inet_pton(family, host.c_str(), address.data()) == 1;
}

bool isListed(std::string_view name, std::string_view allowedHosts) {
    while (!allowedHosts.empty()) {
        const std::size_t comma = allowedHosts.find(',');
        const std::string_view entry = trimBlanks(allowedHosts.substr(0, comma));
        if (!entry.empty() && equalsIgnoreCase(entry, name))
            return true;
        if (comma == std::string_view::npos)
            break;
        allowedHosts.remove_prefix(comma + 1);
    }
    return false;
}

} // namespace

bool isAllowedHost(const std::optional<std::string>& hostHeader, std::string_view allowedHosts) {
    if (!hostHeader)
        return true;
    std::string_view host = trimBlanks(*hostHeader);
    if (!host.empty() && host.front() == '[') { // "[::1]:8080"
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos)
            return false;
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return false;
        return isIpLiteral(std::string(host.substr(1, close - 1)), AF_INET6);
    }
    if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
        if (host.find(':', colon + 1) != std::string_view::npos)
            return false; // an IPv6 literal must stand in brackets
        host = host.substr(0, colon);
    }
    if (!host.empty() && host.back() == '.') // the fully qualified form "localhost."
        host.remove_suffix(1);
    if (host.empty())
        return false;
    if (equalsIgnoreCase(host, "localhost") || endsWithIgnoreCase(host, ".localhost"))
        return true;
    if (isIpLiteral(std::string(host), AF_INET))
        return true;
    return isListed(host, allowedHosts);
}

namespace {

void answerForbiddenHost(HttpResponse& response) {
    response.status = 403;
    response.contentType = "text/html";
    response.body = "<html><head><title>403 Forbidden</title></head><body><h1>403 Forbidden</h1>"
                    "<p>This server answers only requests addressed to localhost, to an IP "
                    "address or to a host name listed in the key AllowedHosts of the section "
                    "[Const] of its settings file.</p></body></html>";
}

constexpr std::string_view kIntPrefix = "/$int/";

// The pictures of the control pages, in the order the dispatch tests them.
constexpr std::array kNumberedImages = {"Img3.gif", "Img5.gif", "Img6.gif", "Img7.gif", "Img8.gif"};
constexpr std::array kNamedImages = {"rel.gif",    "blank.gif", "save.gif",   "abort.gif",
                                     "yes.gif",    "back.gif",  "log.gif",    "run.gif",
                                     "folder.gif", "info.gif",  "banner.gif", "pelorin.gif"};
constexpr std::array<std::pair<std::string_view, MessageIcon>, 3> kMessageIcons = {{
    {"warning.jpg", MessageIcon::Warning},
    {"error.jpg", MessageIcon::Error},
    {"information.jpg", MessageIcon::Information},
}};

// The picture name when document is "/$int/" + one of names (exact case), else empty.
template <typename Names>
std::string_view builtInName(std::string_view document, const Names& names) {
    if (!document.starts_with(kIntPrefix))
        return {};
    const std::string_view name = document.substr(kIntPrefix.size());
    for (std::string_view candidate : names)
        if (name == candidate)
            return candidate;
    return {};
}

// Every document under "/$int", in any case: whatever answers it, no other site may frame it.
bool isBuiltInPage(std::string_view document) {
    return equalsIgnoreCase(document, "/$int") || startsWithIgnoreCase(document, kIntPrefix);
}

bool isRegularFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

void dispatch(Exchange& ex) {
    const RouteChoice choice = chooseRoute(ex.request.document, ex.paths.StaticRoot);
    switch (choice.route) {
    case Route::ControlPage:
        return answerControlPage(ex);
    case Route::SetTemplate:
        return answerSetTemplate(ex);
    case Route::SetStartSite:
        return answerSetStartSite(ex);
    case Route::EmbeddedImage:
        return answerEmbeddedImage(ex, choice.name);
    case Route::StyleSheet:
        return answerStyleSheet(ex);
    case Route::MessageIcon:
        return answerMessageIcon(ex, choice.icon);
    case Route::SiteLog:
        return answerSiteLog(ex);
    case Route::VarList:
        return answerVarList(ex);
    case Route::FileList:
        return answerFileList(ex);
    case Route::SiteEdit:
        return answerSiteEdit(ex);
    case Route::SiteSave:
        return answerSiteSave(ex);
    case Route::Ordinary:
        return answerOrdinaryRequest(ex);
    }
}

// Counts a request as in progress for the lifetime of the object.
class BusyScope {
  public:
    BusyScope(RequestBusy& busy, AppState& state) : busy_(busy) {
        busy_.enter([&state] {
            std::lock_guard lock(state.mutex);
            return state.settings.VariablesAutoSort;
        });
    }
    ~BusyScope() { busy_.leave(); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    RequestBusy& busy_;
};

} // namespace

RouteChoice chooseRoute(std::string_view document, const std::string& staticRoot) {
    const std::string lower = toLower(document);
    if (lower == "/$int/" || lower == "/$int")
        return RouteChoice{Route::ControlPage, {}, MessageIcon::Warning};
    if (document == "/$int/SetTemplate.html")
        return RouteChoice{Route::SetTemplate, {}, MessageIcon::Warning};
    if (document == "/$int/SetStartSite.html")
        return RouteChoice{Route::SetStartSite, {}, MessageIcon::Warning};
    if (const auto name = builtInName(document, kNumberedImages); !name.empty())
        return RouteChoice{Route::EmbeddedImage, name, MessageIcon::Warning};
    if (const auto name = builtInName(document, kNamedImages); !name.empty())
        return RouteChoice{Route::EmbeddedImage, name, MessageIcon::Warning};
    // Any path ending in favicon.ico gets the built-in icon unless the static root has its own.
    if (document.ends_with("favicon.ico") && !isRegularFile(staticRoot + "/favicon.ico"))
        return RouteChoice{Route::EmbeddedImage, "favicon.ico", MessageIcon::Warning};
    if (document == "/$int/styles.css")
        return RouteChoice{Route::StyleSheet, {}, MessageIcon::Warning};
    if (document.starts_with(kIntPrefix)) {
        const std::string_view name = document.substr(kIntPrefix.size());
        for (const auto& [iconName, icon] : kMessageIcons)
            if (name == iconName)
                return RouteChoice{Route::MessageIcon, iconName, icon};
    }
    if (document == "/$int/SiteLog.html")
        return RouteChoice{Route::SiteLog, {}, MessageIcon::Warning};
    if (document == "/$int/VarList.html")
        return RouteChoice{Route::VarList, {}, MessageIcon::Warning};
    if (document == "/$int/FileList.html")
        return RouteChoice{Route::FileList, {}, MessageIcon::Warning};
    if (document == "/$int/SiteEdit.html")
        return RouteChoice{Route::SiteEdit, {}, MessageIcon::Warning};
    if (document == "/$int/SiteSave.html")
        return RouteChoice{Route::SiteSave, {}, MessageIcon::Warning};
    return RouteChoice{Route::Ordinary, {}, MessageIcon::Warning};
}

HttpResponse RequestHandler::handle(const HttpRequest& request) {
    HttpResponse response;
    {
        std::lock_guard lock(state_.mutex);
        if (!isAllowedHost(request.header("Host"), state_.settings.AllowedHosts)) {
            answerForbiddenHost(response);
            return response;
        }
    }
    // Declared in this order so that the state lock is released before the guard.
    const BusyScope busy(busy_, state_);
    std::lock_guard lock(state_.mutex);
    Exchange ex{request, response, state_, host_, {}, {}};
    ex.paths = computeRequestPaths(state_, &host_, request.document);
    dispatch(ex);
    // The built-in pages (the editor above all) may be shown in frames of this server only.
    if (isBuiltInPage(request.document))
        addFrameGuard(response);
    return response;
}

} // namespace pelotest
