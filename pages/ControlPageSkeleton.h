#pragma once
// The skeleton that every built-in page shares: the head with the style sheet link and the body
// tag with the desktop's colours.

#include "state/Host.h"

#include <string>
#include <string_view>

namespace pelotest {

// The head of a built-in page up to and including the style sheet link: "<html>\r<head>\r", then
// beforeLink (a page's own "pragma" meta element, if any), then the LINK line. The caller adds
// its title and scripts and "</head>".
std::string controlPageHead(std::string_view beforeLink = {});

// The body tag in button face / window text colours, with the page's own
// attributes (if any) after a blank.
std::string controlPageBody(const Host& host, std::string_view extraAttributes = {});

} // namespace pelotest
