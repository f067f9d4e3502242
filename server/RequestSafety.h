#pragma once
// What keeps the pages of this server from being used by other sites: the test for a request
// sent by a page of another site, the answer that refuses it, the headers that keep other sites
// from framing the built-in pages, and the address every redirect and refresh is sent to.

#include "server/HttpTypes.h"

#include <string>
#include <string_view>

namespace pelotest {

// True when the browser says the request comes from a page of another site: an Origin header
// that is not this server's own ("http://" + Host), or, without Origin, a Sec-Fetch-Site other
// than "same-origin" or "none" (a typed address, a bookmark). Another port of this host is
// another site. Clients that send neither header are trusted.
bool fromAnotherSite(const HttpRequest& request);

// 403 with a short page: a page that changes the state was asked for by another site.
void answerCrossSiteRefused(HttpResponse& response);

// 403 with a short page that says why (the text of the page, HTML).
void answerForbidden(HttpResponse& response, std::string_view why);

// Whether a relative path ('/' between its parts) has a ".." part: such a path, taken from
// settings, request values or the tree, could climb out of the folder it is meant for.
bool climbsOut(std::string_view relative);

// X-Frame-Options and Content-Security-Policy frame-ancestors: only this server's own pages may
// show the built-in pages in a frame.
void addFrameGuard(HttpResponse& response);

// The path of an address that a redirect or refresh built by this server sends the browser to
// (the part before "?": the query cannot change where it leads), made sure to name a page of
// this server. What a browser drops from an address (tab, CR and LF anywhere) is dropped first.
// A leading run of slashes, backslashes, blanks and control characters, and a quote in front of
// the first slash (a refresh strips it), becomes one slash: "//evil.example/" gives
// "/evil.example/". A path with a scheme ("http:", "javascript:") is refused and becomes "/".
// Any other relative path ("", "page.htm") is kept as it is.
std::string sameServerTarget(std::string_view path);

} // namespace pelotest
