#include "server/Encoders.h"

#include "app/HeadlessHost.h"

#include <gtest/gtest.h>

#include <string>

namespace pelotest {
namespace {

// ---------------------------------------------------------------------------------------------
// Encoders

TEST(Encoders, HtmlEscape) {
    const std::pair<std::string, std::string> cases[] = {
        {"<a href=\"x\">&</a>", "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;"},
        {"a=1&b=2", "a=1&amp;b=2"},
        {"&amp;", "&amp;amp;"},
        {"#amp~;", "#amp~;"}, // exact: an escaped field submits what it was given
        {"plain \xE4 'quoted' text", "plain \xE4 'quoted' text"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(htmlEscape(in), out) << in;
}

TEST(Encoders, ScriptStringEscape) {
    const std::pair<std::string, std::string> cases[] = {
        {"c:/tmpl/a.htm", "c:/tmpl/a.htm"}, {"it's", "it\\'s"},
        {"say \"hi\"", "say \\\"hi\\\""},   {"a\\b", "a\\\\b"},
        {"l1\r\nl2", "l1\\r\\nl2"},         {"</script>", "\\x3C/script>"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(scriptStringEscape(in), out) << in;
}

TEST(Encoders, UrlEncode) {
    const std::pair<std::string, std::string> cases[] = {
        {"a b\\c", "a+b/c"},
        {"\xE4", "%E4"},
        {"*-.@_09AZaz", "*-.@_09AZaz"},
        {"/?&=%+~:", "%2F%3F%26%3D%25%2B%7E%3A"},
        {std::string("\0\xFF", 2), "%00%FF"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(urlEncode(in), out) << in;
}

TEST(Encoders, UrlDecodePath) {
    const std::pair<std::string, std::string> cases[] = {
        {"%2B", "+"},
        {"a+b", "a b"},
        {"%E4%e4", "\xE4\xE4"},
        {"%zz", "\x0E"},
        {"%G1x", "\x0Ex"},
        {"%2525", "%25"},
        {"/x/y.htm", "/x/y.htm"},
        {"%3Fsrv%3Fa.htm", "?srv?a.htm"},
        {"50%", "50%"},
        {"%4", "%4"},
        {"%41%", "A%"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(urlDecodePath(in), out) << in;
}

TEST(Encoders, HtmlColor) {
    EXPECT_EQ(htmlColor(Rgb{0xD4, 0xD0, 0xC8}), "#D4D0C8");
    EXPECT_EQ(htmlColor(Rgb{0, 0, 0}), "#000000");
    EXPECT_EQ(htmlColor(Rgb{0x01, 0xAB, 0xFF}), "#01ABFF");
    AppState state;
    HeadlessHost host{state};
    EXPECT_EQ(htmlColor(host, ColorRole::ButtonShadow), "#808080");
}

} // namespace
} // namespace pelotest
