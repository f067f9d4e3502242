#pragma once
// Pieces shared by the site log, the variables page, the file list and the editor: the
// cache-busting stamp, form buttons, and the escaping of values that these
// pages put into scripts and links.

#include "server/HttpTypes.h"

#include <optional>
#include <string>
#include <string_view>

namespace pelotest {

// The current local time as "yyyymmddhhnnsszzz" (17 digits), used to make addresses unique.
std::string pageStamp();

// A form button of class "btn" whose icon is a background image: VALUE is a blank and the
// caption; onClick is the whole attribute (for example "onClick=\"ChkClose();\"").
std::string pageButton(std::string_view caption, std::string_view onClick, std::string_view image,
                       std::string_view width);

// A value for a script string inside an HTML attribute (onClick="f('...')"): script-escaped,
// then HTML-escaped, because the browser undoes the HTML escaping before it runs the script.
std::string scriptAttributeString(std::string_view text);
// A value for a script string inside a "JavaScript:" link: as above, and '%' and control
// characters percent-encoded too, because the browser percent-decodes such a link (and drops
// tabs and line breaks from it) before it runs it.
std::string scriptLinkString(std::string_view text);
// A value in the query of a link: the characters that would end or change a query value ('%',
// '&', '#', '+', control characters) percent-encoded, then HTML-escaped. Paths of ordinary
// characters come out unchanged; the browser encodes the rest when it follows the link.
std::string queryLinkValue(std::string_view text);

// The script function EditSite(site,num) of the site log and the file list: opens the editor
// for an editor-form path in a window of its own, named with the stamp and num. Lines end in CR.
std::string editSiteFunction(std::string_view stamp);

} // namespace pelotest
