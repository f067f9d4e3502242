// What --list-languages prints of a library's file name and display name: text a terminal shows,
// never obeys.

#include "app/TerminalText.h"

#include <gtest/gtest.h>

#include <string>

using namespace pelotest;

namespace {

TEST(TerminalText, FileNamesPassOnlyAsWellFormedUtf8) {
    const struct {
        std::string name;
        std::string shown;
    } cases[] = {
        {"lang_de.dll", "lang_de.dll"},
        {"lang_\xC3\xA4.dll", "lang_\xC3\xA4.dll"}, // UTF-8 passes
        {"lang_\xE4.dll", "lang_\\xe4.dll"},        // no UTF-8: escaped
        {"a\x1b[2Jb", "a\\x1b[2Jb"},                // an escape sequence
        {"a\xC2\x9B"
         "2Jb",
         "a\\x9b2Jb"},                                    // C1 CSI, UTF-8 encoded
        {"a\xED\xA0\x80z", "a\\xed\\xa0\\x80z"},          // an encoded surrogate
        {"a\xC0\x9B", "a\\xc0\\x9b"},                     // an overlong ESC
        {"a\xF4\x90\x80\x80", "a\\xf4\\x90\\x80\\x80"},   // past U+10FFFF
        {"cut\xE2\x82", "cut\\xe2\\x82"},                 // cut short
        {"\xF0\x9F\x98\x80.dll", "\xF0\x9F\x98\x80.dll"}, // four bytes pass
    };
    for (const auto& c : cases)
        EXPECT_EQ(terminalFileName(c.name), c.shown) << testing::PrintToString(c.name);
}

TEST(TerminalText, DisplayNamesAreWindows1252) {
    const struct {
        std::string name;
        std::string shown;
    } cases[] = {
        {"Deutsch", "Deutsch"},
        {"Fran\xE7"
         "ais",
         "Fran\xC3\xA7"
         "ais"},
        {"\x80uro", "\xE2\x82\xACuro"},
        {"a\x1b"
         "b",
         "a\\x1bb"},
        {"a\x81"
         "b",
         "a\\x81b"}, // undefined in the code page: its C1 control, escaped
        {"a\x7f"
         "b",
         "a\\x7fb"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(terminalText(c.name), c.shown) << testing::PrintToString(c.name);
}

} // namespace
