#pragma once
// How the bytes of a site (titles, variable names and values, log entries) become text on screen
// and on the program's own pages, and how typed text becomes bytes of the site again. A site is
// either Windows-1252 or UTF-8; the bytes themselves say which when they are valid UTF-8 with
// non-ASCII in them, which a Windows-1252 text practically never is.

#include <string>
#include <string_view>

namespace pelotest {

enum class SiteEncoding { Windows1252, Utf8 };

// The value of the settings file's SiteEncoding key ("utf-8"/"utf8" in any case, anything else
// Windows-1252) and back.
SiteEncoding parseSiteEncoding(std::string_view value);

bool isValidUtf8(std::string_view bytes);
// The bytes as UTF-8 text: valid UTF-8 as it is, anything else read as Windows-1252.
std::string displayText(std::string_view bytes);
// The bytes for a page sent as Windows-1252 without a charset: Windows-1252 bytes as they are,
// each non-ASCII character of valid UTF-8 as a numeric character reference "&#N;". Nothing else
// is escaped: use it on a text that is already HTML-escaped or that is a script string inside an
// attribute.
std::string windows1252PageText(std::string_view bytes);
// Text typed by the user (UTF-8) as bytes of the site: unchanged for a UTF-8 site; for a
// Windows-1252 site each character with a Windows-1252 byte as that byte and every other one as
// "&#N;", which a page of the site shows as the character.
std::string siteBytes(std::string_view utf8, SiteEncoding encoding);

} // namespace pelotest
