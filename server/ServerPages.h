#pragma once
// The pages and scripts the server itself builds (the built-in pages under /$int live in pages/):
// the welcome page of the site root, the redirect to the start page, the not-found page, and the
// scripts that open the recent-sites and variables pop-ups.

#include "language/UiTexts.h"
#include "state/AppState.h"
#include "state/Host.h"

#include <string>
#include <string_view>

namespace pelotest {

// StartSitePage: the welcome page of the site root while no start page is set; offers the pages
// of staticRoot.
std::string startSitePage(const LanguageTexts& texts, const Settings& settings, const Host& host,
                          const std::string& staticRoot);
// The page that sends the browser on to the start page (with its parameters), always to a page
// of this server.
std::string redirectPage(const Settings& settings);
// NotFoundPage: the missing file is named by its full local path.
std::string notFoundPage(const LanguageTexts& texts, const Host& host, const std::string& filePath);

// Where the pop-ups open: SiteLogHorizontal and SiteLogVertical of [Const] as the settings file
// on disk holds them (so a hand edit shows at the next page). The file is read at the first use,
// once for both values, and kept for the object's lifetime: one request. Only the settings file's
// path is taken from state (fixed before the server starts).
class PopupOffsets {
  public:
    explicit PopupOffsets(const AppState& state) : state_(state) {}

    long long horizontal() const {
        read();
        return horizontal_;
    }
    long long vertical() const {
        read();
        return vertical_;
    }

  private:
    void read() const;

    const AppState& state_;
    mutable bool read_ = false;
    mutable long long horizontal_ = 10;
    mutable long long vertical_ = 58;
};

// The start-page injection of one line (SiteLogPopupScript after the first "</title>").
std::string injectSiteLogScript(const PopupOffsets& offsets, std::string_view line);
// The pop-up scripts.
std::string siteLogPopupScript(const PopupOffsets& offsets);
std::string popSiteListBlock(const PopupOffsets& offsets);
std::string varListPopupScript(const PopupOffsets& offsets);

} // namespace pelotest
