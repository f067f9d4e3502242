#pragma once
// The route table of the program: which answer a request gets, joining the server's own answers
// (an ordinary request) and the built-in pages. The server's request handler calls routeRequest
// for every request that passed its Host check and guard.

#include "server/RequestContext.h"
#include "state/Host.h"

#include <string>
#include <string_view>

namespace pelotest {

// Which answer a document gets (the first test that matches). Only the control page's path
// ignores case.
enum class Route {
    ControlPage,
    SetTemplate,
    SetStartSite,
    EmbeddedImage, // name: "Img3.gif", "rel.gif", ..., "favicon.ico"
    StyleSheet,
    MessageIcon, // icon
    SiteLog,
    VarList,
    FileList,
    SiteEdit,
    SiteSave,
    LiveStream, // while live reload is on; otherwise an ordinary request
    LiveScript, // the same
    Ordinary,
};
struct RouteChoice {
    Route route = Route::Ordinary;
    std::string_view name;
    MessageIcon icon = MessageIcon::Warning;
};
RouteChoice chooseRoute(std::string_view document, const std::string& staticRoot);

// Answers one request with the route chooseRoute picks; the state is locked by the caller.
void routeRequest(Exchange& ex) REQUIRES(ex.state.mutex);

} // namespace pelotest
