#pragma once
// The small encoders of the generated pages: HTML text, script strings, query values, colours.

#include "state/Host.h"

#include <string>
#include <string_view>

namespace pelotest {

// '&', '"', '<' and '>' as entities; every other byte unchanged (a text holding "#amp~;" keeps
// it: the escape is exact, so a form field carrying the result submits the unescaped text).
std::string htmlEscape(std::string_view text);
// Escapes a value for a JavaScript string literal in either quote ('\\', '"', '\'', CR, LF, '<'
// as \x3C); safe characters come out unchanged.
std::string scriptStringEscape(std::string_view text);
std::string urlEncode(std::string_view text);
// Every byte but letters, digits, "-._~" and those in keep as "%XX" (RFC 3986): a path or query
// value that a browser reads back as the same bytes, whatever the page's encoding.
std::string percentEncode(std::string_view text, std::string_view keep = {});
// UrlDecodePath: '+' to blank, '%XX' to the byte (14 when XX is not hexadecimal), each input
// position visited once ("%2B" gives "+"); a '%' without two characters after it stays. A '/'
// stays '/': it is the native separator, which UrlEncode also makes of a backslash. (The editor
// form of a path turns '/' into '?' before UrlEncode; its reader turns '?' back.)
std::string urlDecodePath(std::string_view text);
std::string htmlColor(Rgb color);
std::string htmlColor(const Host& host, ColorRole role);

} // namespace pelotest
