// The bytes of a site as text on screen, on the program's Windows-1252 pages, and typed text as
// bytes of the site: Windows-1252 bytes keep their meaning byte for byte, UTF-8 is recognised.

#include "state/DisplayText.h"

#include <gtest/gtest.h>

#include <vector>

namespace pelotest {
namespace {

TEST(DisplayText, ShowsUtf8AsUtf8AndEverythingElseAsWindows1252) {
    struct Case {
        const char* bytes;
        const char* screen;    // UTF-8
        const char* page;      // Windows-1252 page bytes
        const char* typedUtf8; // what the screen text gives back for a Windows-1252 site
    };
    const std::vector<Case> cases = {
        {"plain", "plain", "plain", "plain"},
        {"\xDC"
         "bersicht \x96 Gr\xF6\xDF"
         "en",
         "\xC3\x9C"
         "bersicht \xE2\x80\x93 Gr\xC3\xB6\xC3\x9F"
         "en",
         "\xDC"
         "bersicht \x96 Gr\xF6\xDF"
         "en",
         "\xDC"
         "bersicht \x96 Gr\xF6\xDF"
         "en"},
        {"\xC3\x9C"
         "bersicht \xE2\x80\x93 \xE6\x97\xA5\xF0\x9F\x98\x80",
         "\xC3\x9C"
         "bersicht \xE2\x80\x93 \xE6\x97\xA5\xF0\x9F\x98\x80",
         "&#220;bersicht &#8211; &#26085;&#128512;",
         "\xDC"
         "bersicht \x96 &#26085;&#128512;"},
        // Overlong, surrogate and cut sequences are not UTF-8: each byte is its Windows-1252 self.
        {"\xC0\xAF", "\xC3\x80\xC2\xAF", "\xC0\xAF", "\xC0\xAF"},
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC", "\xED\xA0\x80", "\xED\xA0\x80"},
        {"\xE6\x97", "\xC3\xA6\xE2\x80\x94", "\xE6\x97", "\xE6\x97"},
        {"\x81\x8D", "\xC2\x81\xC2\x8D", "\x81\x8D", "\x81\x8D"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(displayText(c.bytes), c.screen);
        EXPECT_EQ(windows1252PageText(c.bytes), c.page);
        EXPECT_EQ(siteBytes(displayText(c.bytes), SiteEncoding::Windows1252), c.typedUtf8);
        EXPECT_EQ(siteBytes(c.screen, SiteEncoding::Utf8), c.screen);
    }
    EXPECT_EQ(parseSiteEncoding("UTF-8"), SiteEncoding::Utf8);
    EXPECT_EQ(parseSiteEncoding(""), SiteEncoding::Windows1252);
}

} // namespace
} // namespace pelotest
