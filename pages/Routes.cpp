#include "pages/Routes.h"

#include "pages/Pages.h"
#include "server/LiveReload.h"
#include "server/OrdinaryRequest.h"
#include "state/TextCase.h"

#include <array>
#include <filesystem>
#include <system_error>
#include <utility>

namespace pelotest {

namespace {

constexpr std::string_view kIntPrefix = "/$int/";

// The pictures of the control pages, in the order chooseRoute tests them.
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

bool isRegularFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

} // namespace

RouteChoice chooseRoute(std::string_view document, const std::string& staticRoot) {
    if (equalsIgnoreCase(document, "/$int/") || equalsIgnoreCase(document, "/$int"))
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
    if (document == "/$int/live")
        return RouteChoice{Route::LiveStream, {}, MessageIcon::Warning};
    if (document == "/$int/live.js")
        return RouteChoice{Route::LiveScript, {}, MessageIcon::Warning};
    return RouteChoice{Route::Ordinary, {}, MessageIcon::Warning};
}

void routeRequest(Exchange& ex) {
    const RouteChoice choice = chooseRoute(ex.request.document, ex.paths.staticRoot);
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
    case Route::LiveStream:
        return ex.live ? answerLiveStream(ex) : answerOrdinaryRequest(ex);
    case Route::LiveScript:
        return ex.live ? answerLiveScript(ex) : answerOrdinaryRequest(ex);
    case Route::Ordinary:
        return answerOrdinaryRequest(ex);
    }
}

} // namespace pelotest
