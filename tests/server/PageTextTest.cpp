#include "server/PageText.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace pelotest {
namespace {

using test::TempDir;

// ---------------------------------------------------------------------------------------------
// Lines and titles

TEST(ReadLines, SplitsAtEveryLineEndAndStopsAtNul) {
    struct Case {
        std::string bytes;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"a\r\n", {"a"}},
        {"", {}},
        {"\r\n", {""}},
        {"a\n\rb", {"a", "", "b"}},
        {"a\r\n\r\n", {"a", ""}},
        {std::string("a\r\nb\0c\r\nd", 10), {"a", "b"}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        EXPECT_EQ(readLines(dir.write("t.htm", c.bytes).string()), c.lines);
        EXPECT_EQ(splitLines(c.bytes), c.lines);
    }
    EXPECT_EQ(joinLinesCrLf({"a", "", "b"}), "a\r\n\r\nb\r\n");
    EXPECT_THROW(readLines((dir.path() / "missing.htm").string()), std::runtime_error);
}

TEST(PageTitle, TakesTheFirstTitleLineAndDecodesGermanEntities) {
    struct Case {
        const char* file;
        std::string content;
        std::string title;
    };
    const Case cases[] = {
        {"a.htm", "<html>\r\n<TITLE>M&uuml;ller</TITLE>\r\n", "M\xFCller"},
        {"b.htm", "<title>Zwei\r\nZeilen</title>", ""},
        {"c.htm", "<title>a\r\n<title>b</title>", ""},
        {"d.htm", "<head><title> a </title></head>", " a "},
        {"e.htm", "<title>a</title>b</TITLE>", "a"},
        {"f.htm",
         "<title>&auml;&Auml;&ouml;&Ouml;&uuml;&Uuml;&szlig;&quot;&AUML;&amp;&euro;</title>",
         "\xE4\xC4\xF6\xD6\xFC\xDC\xDF\"&AUML;&amp;&euro;"},
        {"g.htm", "no title here", ""},
        {"h.htm", std::string("<title>a\0</title>", 17), ""},
        {"UPPER.HTML", "<Title>Gro\xDF</tItLe>", "Gro\xDF"},
        {"s.js", "// <title>Script</title>", "Script"},
        {"s.css", "/* <title>Style</title> */", "Style"},
        {"t.txt", "<title>Text</title>", ""},
        {"t.html.bak", "<title>Backup</title>", ""},
        // Larger than the file cache keeps: read for the title alone.
        {"large.htm", std::string(5 << 20, '\n') + "<title>Gro&szlig;</title>\r\n", "Gro\xDF"},
    };
    TempDir dir;
    for (const Case& c : cases)
        EXPECT_EQ(pageTitle(dir.write(c.file, c.content).string()), c.title) << c.file;
    EXPECT_EQ(pageTitle((dir.path() / "missing.htm").string()), "");
    std::filesystem::create_directory(dir.path() / "folder.htm");
    EXPECT_EQ(pageTitle((dir.path() / "folder.htm").string()), "");
}

} // namespace
} // namespace pelotest
