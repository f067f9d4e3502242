#pragma once
// The pages and scripts the server itself builds (the built-in pages under /$int live in pages/):
// the welcome page of the site root, the redirect to the start page, the page for an event
// without a template, and the scripts that open the recent-sites and variables pop-ups. (The
// not-found page is the answer of server/SiteAnswers.)

#include "language/UiTexts.h"
#include "server/PopupOffsets.h"
#include "server/RequestContext.h"
#include "state/AppState.h"
#include "state/Host.h"

#include <string>
#include <string_view>
#include <vector>

namespace pelotest {

// The welcome page of the site root while no start page is set; offers startPages (the pages of
// the static folder, as startPageChoices lists them).
std::string startSitePage(const LanguageTexts& texts, const Settings& settings, const Host& host,
                          const std::vector<std::string>& startPages);
// The page that sends the browser on to the start page (with its parameters), always to a page
// of this server.
std::string redirectPage(const Settings& settings);
// The page that offers the files of the templates folder for the request's event; the values
// it reflects are escaped.
std::string unassignedEventPage(const Exchange& ex) REQUIRES(ex.state.mutex);

// The start-page injection of one line (siteLogPopupScript after the first "</title>").
std::string injectSiteLogScript(const PopupOffsets& offsets, std::string_view line);
// The pop-up scripts.
std::string siteLogPopupScript(const PopupOffsets& offsets);
std::string popSiteListBlock(const PopupOffsets& offsets);
std::string varListPopupScript(const PopupOffsets& offsets);

} // namespace pelotest
