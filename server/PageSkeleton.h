#pragma once
// The skeleton that every page built here shares: the head with the style sheet link, the body
// tag with the desktop's colours, the page that sends the browser on at once, and the short page
// of a refused request.

#include "server/HttpTypes.h"
#include "state/Host.h"

#include <string>
#include <string_view>

namespace pelotest {

// The head of a built-in page up to and including the style sheet link: "<html>\r<head>\r", then
// beforeLink (a page's own "pragma" meta element, if any), then the LINK line. The caller adds
// its title and scripts and "</head>".
std::string controlPageHead(std::string_view beforeLink = {});
// The whole head of a built-in page with its title (HTML), up to and including "</head>".
std::string pageHead(std::string_view title);

// The colours and margins of a body tag; the default is the control pages' own.
struct PageBodyLook {
    ColorRole background = ColorRole::ButtonFace;
    int margin = 2;         // marginheight and marginwidth
    int topLeftMargin = -1; // topmargin and leftmargin; -1: the same as margin
};
// The body tag of a built-in page: in the look's background and the window text colour, with the
// page's own attributes (if any) after a blank.
std::string controlPageBody(const Host& host, std::string_view extraAttributes = {},
                            const PageBodyLook& look = {});

// A page that sends the browser on to address at once (address escaped for an attribute).
std::string refreshPage(std::string_view address);

// The short page of a refused request: the status as title and heading, then text.
std::string refusalPage(std::string_view status, std::string_view text);

// 413 with a short page that says why (the text of the page, HTML): a request that would pass
// one of the server's limits, refused with nothing changed.
void answerTooLarge(HttpResponse& response, std::string_view why);

} // namespace pelotest
