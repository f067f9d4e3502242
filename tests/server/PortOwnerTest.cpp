// The port holder's name as the message about a taken port shows it: read from a /proc of the
// test's own making, so that any name can be given.

#include "server/PortOwner.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace pelotest {
namespace {

using test::TempDir;

// A /proc in which pid 4321, named name, listens on 127.0.0.1:8080.
void writeProc(const TempDir& proc, const std::string& name) {
    proc.write("net/tcp", "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when "
                          "retrnsmt   uid  timeout inode\n"
                          "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 "
                          "00000000  1000        0 12345 1 0000000000000000 100 0 0 10 0\n");
    proc.write("net/tcp6", "  sl  local_address\n");
    proc.write("4321/comm", name + "\n");
    std::filesystem::create_directories(proc.path() / "4321" / "fd");
    std::filesystem::create_symlink("socket:[12345]", proc.path() / "4321" / "fd" / "5");
}

// The name is the other program's choice: nothing in it may steer the terminal that shows it,
// and a message box shows it as it is printed here (plain text, never markup).
TEST(PortOwner, TheHoldersNameIsShownAsPlainText) {
    struct Case {
        const char* what;
        std::string name;
        std::string shown;
    };
    const Case cases[] = {
        {"a plain name", "nginx", "nginx"},
        {"CSI as one byte (C1)",
         "a\x9B"
         "31mred",
         "a\\x9B31mred"},
        {"every C1 byte", "\x80\x9F", "\\x80\\x9F"},
        {"ESC and other C0 controls, DEL", "\x1B[2J\x07\x7F", "\\x1B[2J\\x07\\x7F"},
        {"C1 controls written as UTF-8",
         "\xC2\x9B"
         "x\xC2\x85",
         "\\xC2\\x9Bx\\xC2\\x85"},
        {"UTF-8 letters stay",
         "\xC5\x81\xC3\xB3"
         "d\xC5\xBA",
         "\xC5\x81\xC3\xB3"
         "d\xC5\xBA"},
        {"a cut UTF-8 character", "ab\xC5", "ab\\xC5"},
        {"an overlong form", "\xC0\xBB", "\\xC0\\xBB"},
        {"a surrogate", "\xED\xA0\x80", "\\xED\\xA0\\x80"},
        {"the backslash, so that no name reads like an escape", "a\\x41", "a\\x5Cx41"},
        {"markup is text", "<b>x</b>", "<b>x</b>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir proc;
        writeProc(proc, c.name);
        const auto owner = findPortOwner(8080, proc.path());
        ASSERT_TRUE(owner.has_value());
        EXPECT_EQ(owner->pid, 4321);
        EXPECT_EQ(owner->command, c.shown);
        EXPECT_EQ(describePortInUse(8080, proc.path()),
                  "Port 8080 is in use by " + c.shown + " (pid 4321)");
    }
}

} // namespace
} // namespace pelotest
