// The names Windows resolves in its own way, as one table: the rules run on every system (the
// Windows build applies them to every path below a site's folder), so this table runs on Linux too.

#include "server/WindowsNames.h"

#include <gtest/gtest.h>

#include <string>

using namespace pelotest;

namespace {

TEST(WindowsNames, SpecialNamesBelowAFolderAreTold) {
    const struct {
        std::string relative;
        bool special;
    } cases[] = {
        // Ordinary names, also those that only look like devices.
        {"/index.htm", false},
        {"/css/site.css", false},
        {"\\css\\site.css", false},
        {"/console.htm", false},
        {"/nullable/a.htm", false},
        {"/com10.txt", false},
        {"/lpt.txt", false},
        {"/a.b.c", false},
        {"/.hidden", false},
        {"/../up.htm", false}, // ".." is the resolver's to judge
        {"/./a.htm", false},
        {"/dir/", false},
        {"/caf\xE9.htm", false},
        // Devices, any case, with or without an extension, trailing spaces before it, anywhere.
        {"/CON", true},
        {"/con", true},
        {"/nul.htm", true},
        {"/Nul.tar.gz", true},
        {"/aux .txt", true},
        {"/PRN", true},
        {"/COM1", true},
        {"/com9.log", true},
        {"/LPT1.htm", true},
        {"/lpt0", true},
        {"/COM\xB9", true},         // superscript one, Windows-1252
        {"/COM\xC2\xB2.txt", true}, // superscript two, UTF-8
        {"/CONIN$", true},
        {"/conout$.x", true},
        {"/sub/NUL/a.htm", true},
        {"\\sub\\con.htm", true},
        // A trailing dot or space, which Windows drops.
        {"/index.htm.", true},
        {"/index.htm ", true},
        {"/folder./a.htm", true},
        {"/... /a.htm", true},
        {"/...", true},
        // Colons: drive letters and alternate data streams.
        {"/index.htm::$DATA", true},
        {"/index.htm:stream", true},
        {"/c:/windows/win.ini", true},
        // Device and UNC forms.
        {"\\\\?\\c:\\secret.txt", true},
        {"\\\\.\\PhysicalDrive0", true},
        {"//server/share/a.htm", true},
        {"/\\server\\share", true},
        // Wildcards and characters no Windows name holds.
        {"/*.htm", true},
        {"/a?.htm", true},
        {"/a<b>.htm", true},
        {"/a|b", true},
        {"/a\"b", true},
        {"/a\tb.htm", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(holdsWindowsSpecialName(c.relative), c.special) << c.relative;
}

} // namespace
