#include "state/TextCase.h"
#include "state/PathText.h"
#include "state/TextEdits.h"

#include <gtest/gtest.h>

namespace pelotest {
namespace {

TEST(TextCase, FoldsAsciiAndWindows1252Letters) {
    struct Case {
        std::string a, b;
        bool equal;
    };
    const Case cases[] = {
        {"PELO_EVENT", "pelo_event", true},
        {"\xC4rger", "\xE4RGER", true}, // Ärger / äRGER
        {"\x8A", "\x9A", true},         // Š / š
        {"\xD7", "\xF7", false},        // × and ÷ are not letters
        {"abc", "abcd", false},
        {"", "", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(equalsIgnoreCase(c.a, c.b), c.equal) << c.a << " vs " << c.b;
}

TEST(TextCase, FindsAndComparesIgnoringCase) {
    EXPECT_EQ(findIgnoreCase("<HTML><Title>x", "<title>"), 6u);
    EXPECT_EQ(findIgnoreCase("abc", "d"), std::string::npos);
    EXPECT_LT(compareIgnoreCase("apple", "Banana"), 0);
    EXPECT_EQ(compareIgnoreCase("ABC", "abc"), 0);
    EXPECT_EQ(replaceAll("a/(x)b/(x)", "/(x)", "1"), "a1b1");
    EXPECT_EQ(fileNamePart("c:\\a/b\\c.htm"), "c.htm");
    EXPECT_EQ(fileNamePart("plain"), "plain");
}

} // namespace
} // namespace pelotest
