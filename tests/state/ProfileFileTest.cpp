#include "state/ProfileFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace pelotest {
namespace {

using test::TempDir;
using Strings = std::vector<std::string>;

ProfileFile parsed(std::string_view text) {
    ProfileFile file;
    file.parse(text);
    return file;
}

TEST(ProfileFile, ReadsValuesByTheProfileRules) {
    struct Case {
        std::string text, section, key;
        std::optional<std::string> value;
    };
    const std::string wine = "[section1]\r\nname1=val1\r\nname2=\"val2\"\r\nname3\r\nname4=a\r\n"
                             "[section2]\r\n";
    const Case cases[] = {
        {wine, "section1", "name1", "val1"},
        {wine, "section1", "NaMe1", "val1"},
        {wine, "SECTION1", "name2", "val2"},
        {wine, "section1", "name3", std::nullopt}, // a line without '=' is no key
        {wine, "section2", "x", std::nullopt},
        {wine, "nosection", "name1", std::nullopt},
        // Trimming of keys and values; blanks inside stay.
        {"[S]\r\n  Key  =  v a l  \r\n", "S", "key", "v a l"},
        {"[S]\r\n\tk\v=\tv\t\r\n", "S", "k", "v"},
        // One outer pair of matching quotes goes.
        {"[S]\r\nk=  \"  v  \"  \r\n", "S", "k", "  v  "},
        {"[S]\r\nk='x'\r\n", "S", "k", "x"},
        {"[S]\r\nk=\"x'\r\n", "S", "k", "\"x'"},
        {"[S]\r\nk='\"x\"'\r\n", "S", "k", "\"x\""},
        {"[S]\r\nk=\"\"x\"\"\r\n", "S", "k", "\"x\""},
        {"[S]\r\nk=\"\r\n", "S", "k", "\""},
        {"[S]\r\nk=\r\n", "S", "k", ""},
        // No inline comments; '#' is no comment; ';' starts a comment line only.
        {"[S]\r\nk=a ;b\r\n", "S", "k", "a ;b"},
        {"[S]\r\n#k=v\r\n", "S", "#k", "v"},
        {"[S]\r\n  ;k=v\r\n", "S", ";k", std::nullopt},
        // The value is split at the first '='.
        {"[S]\r\nk=a=b\r\n", "S", "k", "a=b"},
        {"[S]\r\n=v\r\n", "S", "", "v"},
        // Headers: name up to the first ']', trimmed; text after it ignored; no ']' at all.
        {"[ section1 ]\r\nk=v\r\n", "section1", "k", "v"},
        {"[S]k=v\r\n", "S", "k", std::nullopt},
        {"[S\r\nk=v\r\n", "S", "k", "v"},
        {"[a]b]\r\nk=v\r\n", "a", "k", "v"},
        {"[]\r\nk=v\r\n", "", "k", "v"},
        // Lines before the first header belong to no section.
        {"k=v\r\n[S]\r\n", "", "k", std::nullopt},
        // First section and first key win.
        {"[S]\r\n[S]\r\nk=v\r\n", "S", "k", std::nullopt},
        {"[S]\r\nk=1\r\nK=2\r\n", "S", "k", "1"},
        // LF-only and CR-only line ends.
        {"[S]\nk=v\n", "S", "k", "v"},
        {"[S]\rk=v\rj=w", "S", "j", "w"},
        // The caller's names lose spaces only.
        {"[S]\r\nk=v\r\n", " S ", " k ", "v"},
        {"[S]\r\nk=v\r\n", "S\t", "k", std::nullopt},
        // Windows-1252 letters match ignoring case.
        {"[\xC4rger]\r\n\xD6l=v\r\n", "\xE4rger", "\xF6L", "v"},
        // A UTF-8 byte-order mark does not hide the first header.
        {"\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "k", "v"},
    };
    for (const Case& c : cases) {
        const ProfileFile file = parsed(c.text);
        EXPECT_EQ(file.readString(c.section, c.key), c.value)
            << "[" << c.section << "] " << c.key << " in " << c.text;
    }
    EXPECT_EQ(parsed(wine).readString("section2", "x", "def  "), "def");
    EXPECT_EQ(parsed(wine).readString("section2", "x", "  def\t"), "  def\t");
}

TEST(ProfileFile, ListsKeysInFileOrderWithDuplicates) {
    const ProfileFile file = parsed("[S]\r\nb=2\r\n;c=3\r\nline\r\na=1\r\nB=\"4\"\r\n[T]\r\nx=1\r\n"
                                    "[S]\r\nlater=5\r\n");
    EXPECT_EQ(file.keys("s"), (Strings{"b", "a", "B"}));
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"b", "2"}, {"a", "1"}, {"B", "4"}};
    EXPECT_EQ(file.entries("S"), entries);
    EXPECT_TRUE(file.keys("missing").empty());
    EXPECT_TRUE(file.hasSection("t"));
    EXPECT_FALSE(file.hasSection("U"));
}

TEST(ProfileFile, ReadIntTakesTheLeadingInteger) {
    struct Case {
        std::string value;
        int expected;
    };
    const Case cases[] = {
        {"1", 1},
        {"+1", 1},
        {"-1", -1},
        {"4294967296", 0},
        {"4294967297", 1},
        {"-4294967297", -1},
        {"42A94967297", 42},
        {"102abc", 102},
        {"B4294967297", 0},
        {"abc", 0},
        {"\"12\"", 12},
        {"\" 12\"", 12},
        {"0x1A", 0},
        {"", 7}, // an empty value is no number: the fallback
    };
    for (const Case& c : cases)
        EXPECT_EQ(parsed("[S]\r\nk=" + c.value + "\r\n").readInt("S", "k", 7), c.expected)
            << c.value;
    EXPECT_EQ(parsed("[S]\r\n").readInt("S", "k", -1), -1);
}

TEST(ProfileFile, WritesLikeTheProfileApi) {
    ProfileFile file;
    file.writeString("App1", "key1", "string1");
    file.writeString("App1", "key2", "string2");
    file.writeString("App1", "key3", "string3");
    file.writeString("App2", "key4", "string4");
    file.writeString("App3", "key5", "string5");
    EXPECT_EQ(file.text(), "[App1]\r\nkey1=string1\r\nkey2=string2\r\nkey3=string3\r\n"
                           "[App2]\r\nkey4=string4\r\n[App3]\r\nkey5=string5\r\n");
    file.eraseKey("App1", "KEY2");
    EXPECT_EQ(file.text(), "[App1]\r\nkey1=string1\r\nkey3=string3\r\n"
                           "[App2]\r\nkey4=string4\r\n[App3]\r\nkey5=string5\r\n");
    file.eraseSection("app1");
    file.eraseSection("App2");
    file.eraseKey("App3", "key5");
    file.eraseKey("App3", "absent");
    file.eraseSection("absent");
    EXPECT_EQ(file.text(), "[App3]\r\n");
}

TEST(ProfileFile, EditsChangeOnlyTheLinesTheyTouch) {
    struct Case {
        std::string before, section, key, value, after;
    };
    const Case cases[] = {
        // In place, keeping the key's spelling; an unterminated last line gets CR LF.
        {"[S]\r\nTestKey=a", "S", "TESTKEY", "b", "[S]\r\nTestKey=b\r\n"},
        {"; top\n[S]\n  Key =old\n\n[T]\nx=1", "s", "key", "new",
         "; top\n[S]\n  Key =new\n\n[T]\nx=1"},
        // A new key right after the last key: comments and blanks below it stay below.
        {"[S]\r\na=1\r\n;c\r\n\r\n[T]\r\n", "S", "b", "2",
         "[S]\r\na=1\r\nb=2\r\n;c\r\n\r\n[T]\r\n"},
        {"[S]\r\n;c\r\n", "S", "k", "v", "[S]\r\nk=v\r\n;c\r\n"},
        {"[S]", "S", "k", "v", "[S]\r\nk=v\r\n"},
        // A missing section goes to the end, with no blank line before it.
        {"[A]\r\nx=1", "B", "k", "v", "[A]\r\nx=1\r\n[B]\r\nk=v\r\n"},
        {"", "B", "k", "", "[B]\r\nk=\r\n"},
        // The value is written verbatim, but never as more than one line.
        {"[S]\r\n", "S", "k", " a\r\n[X]\ny=1", "[S]\r\nk= a  [X] y=1\r\n"},
        // Only the first section of the name is written.
        {"[S]\r\n[S]\r\nk=1\r\n", "S", "k", "2", "[S]\r\nk=2\r\n[S]\r\nk=1\r\n"},
    };
    for (const Case& c : cases) {
        ProfileFile file = parsed(c.before);
        file.writeString(c.section, c.key, c.value);
        EXPECT_EQ(file.text(), c.after) << c.before;
    }
}

TEST(ProfileFile, ErasingASectionKeepsItsComments) {
    ProfileFile file = parsed(";c0\r\n[A]\r\n;c1\r\nk=v\r\n[B]\r\n;c2\r\n[a]\r\nz=1\r\n");
    file.eraseSection("A");
    EXPECT_EQ(file.text(), ";c0\r\n;c1\r\n[B]\r\n;c2\r\n");
    file.eraseSection("B");
    EXPECT_EQ(file.text(), ";c0\r\n;c1\r\n;c2\r\n");
}

TEST(ProfileFile, WriteSectionReplacesTheSectionAtTheEnd) {
    ProfileFile file = parsed("[V]\r\nold=1\r\n;note\r\n[S]\r\nk=v");
    file.writeSection("V", {{"b", "2"}, {"B", "3"}, {"a", ""}});
    EXPECT_EQ(file.text(), ";note\r\n[S]\r\nk=v\r\n[V]\r\nb=2\r\nB=3\r\na=\r\n");
    file.writeSection("V", {});
    EXPECT_EQ(file.text(), ";note\r\n[S]\r\nk=v\r\n");
}

// Lines are kept as stretches of one text, and edits add new text to it: long runs of edits,
// erasures and rewritten sections must leave exactly the file that the edits describe, also in
// copies and moved files.
TEST(ProfileFile, LongRunsOfEditsKeepEveryLineRight) {
    ProfileFile file = parsed("; head\r\n[A]\r\nkeep=1\r\nk=0\r\n[B]\nx=y\rtail");
    std::map<std::string, std::string> model; // section C as the edits leave it
    for (int round = 1; round <= 3000; ++round) {
        const std::string key = "n" + std::to_string(round % 5);
        file.writeString("A", "k", std::string(static_cast<std::size_t>(round % 97), 'v'));
        file.writeString("C", key, std::to_string(round));
        model[key] = std::to_string(round);
        if (round % 7 == 0) {
            file.eraseKey("C", key);
            model.erase(key);
        }
        if (round % 500 == 0)
            file.writeSection("D", {{"a", std::to_string(round)}, {"b", "2"}});
    }
    const ProfileFile copy = file;
    ProfileFile moved = std::move(file);
    const std::string head = "; head\r\n[A]\r\nkeep=1\r\nk=" + std::string(3000 % 97, 'v') +
                             "\r\n[B]\nx=y\rtail\r\n[C]\r\n";
    const std::string tail = "\r\n[D]\r\na=3000\r\nb=2\r\n";
    for (const ProfileFile* f : {&copy, static_cast<const ProfileFile*>(&moved)}) {
        const std::string text = f->text();
        EXPECT_EQ(text.substr(0, head.size()), head);
        ASSERT_GE(text.size(), tail.size());
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
        EXPECT_EQ(f->keys("C").size(), model.size());
        for (int n = 0; n < 5; ++n) {
            const std::string key = "n" + std::to_string(n);
            const auto it = model.find(key);
            EXPECT_EQ(f->readString("C", key),
                      it == model.end() ? std::nullopt : std::optional(it->second))
                << key;
        }
    }
}

TEST(ProfileFile, KeepsTheEncodingItRead) {
    // Windows-1252 text round-trips byte for byte, whatever the bytes.
    const char raw[] = "[S]\r\nk=\x80\xE4\x81\xFF\r\n\x00x\n";
    const std::string bytes(raw, sizeof raw - 1);
    EXPECT_EQ(parsed(bytes).text(), bytes);
    EXPECT_EQ(parsed("\xEF\xBB\xBF[S]\nk=v").text(), "\xEF\xBB\xBF[S]\nk=v");
    // Every kind of line end comes back as it was, also on the last line.
    for (const std::string text :
         {"[S]\rk=v\r", "[S]\r\nk=v\r", "[S]\nk=v\r\n", "\r", "\r\r\n", "[S]\r\n\n\r\rk"})
        EXPECT_EQ(parsed(text).text(), text);

    // UTF-16LE with its mark: read as Windows-1252, written back as UTF-16LE.
    const std::string utf16("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\xAC\x20\xE4\0\x3A\x26\r\0\n\0", 26);
    ProfileFile file = parsed(utf16);
    EXPECT_EQ(file.readString("S", "k"), "\x80\xE4?"); // U+263A has no Windows-1252 byte
    file.writeString("S", "j", "\x80");
    EXPECT_EQ(file.text(),
              std::string("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\xAC\x20\xE4\0\x3A\x26\r\0\n\0"
                          "j\0=\0\xAC\x20\r\0\n\0",
                          36));
}

// The bytes of a file saved as UTF-16LE with its byte-order mark.
std::string utf16File(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

// A file is written back in the encoding it was read in, and nothing read is lost: characters
// that Windows-1252 lacks (which the program reads as '?') come back as they were, on the lines
// the program did not change and in the names of the keys it gave a new value.
TEST(ProfileFile, WritesBackEveryCharacterItRead) {
    struct Case {
        const char* what;
        std::string before;
        std::function<void(ProfileFile&)> change;
        std::string after;
    };
    const auto unchanged = [](ProfileFile&) {};
    const std::u16string lodz = u"; \u0141\u00F3d\u017A\r\n[S]\r\nk=v\r\n";
    const Case cases[] = {
        {"a comment, nothing changed", utf16File(lodz), unchanged, utf16File(lodz)},
        {"a comment, another key written", utf16File(lodz),
         [](ProfileFile& f) { f.writeString("S", "k", "w"); },
         utf16File(u"; \u0141\u00F3d\u017A\r\n[S]\r\nk=w\r\n")},
        {"a character beyond 16 bits and a lone surrogate",
         utf16File(u"[S]\r\na=\U0001F600\r\nb=\xD800x\r\n"),
         [](ProfileFile& f) { f.writeString("S", "c", "1"); },
         utf16File(u"[S]\r\na=\U0001F600\r\nb=\xD800x\r\nc=1\r\n")},
        {"a key whose name Windows-1252 lacks, given a new value",
         utf16File(u"[S]\r\n\u0141\u00F3d\u017A = 1\r\n"),
         [](ProfileFile& f) {
             f.writeString("S",
                           "?\xF3"
                           "d?",
                           "2");
         },
         utf16File(u"[S]\r\n\u0141\u00F3d\u017A =2\r\n")},
        {"a section written anew with the entries it had",
         utf16File(u"[V]\r\n\u0141=\u017A\r\nx=y\r\n"),
         [](ProfileFile& f) { f.writeSection("V", f.entries("V")); },
         utf16File(u"[V]\r\n\u0141=\u017A\r\nx=y\r\n")},
        {"lines of the same held text keep their places",
         utf16File(u"; ?\r\n; \u0141\r\n; ?\r\n; \u017A\r\n"),
         [](ProfileFile& f) { f.writeString("S", "k", "v"); },
         utf16File(u"; ?\r\n; \u0141\r\n; ?\r\n; \u017A\r\n[S]\r\nk=v\r\n")},
        {"a key name read two ways is not guessed", utf16File(u"[S]\r\n\u0141=1\r\n[T]\r\n?=1\r\n"),
         [](ProfileFile& f) { f.writeString("T", "?", "2"); },
         utf16File(u"[S]\r\n\u0141=1\r\n[T]\r\n?=2\r\n")},
        {"an odd last byte", utf16File(u"[S]\r\n\u0141") + "\x41", unchanged,
         utf16File(u"[S]\r\n\u0141") + "\x41"},
        {"UTF-8 with its mark",
         "\xEF\xBB\xBF; \xC5\x81\xC3\xB3"
         "d\xC5\xBA\r\n[S]\r\nk=v\r\n",
         [](ProfileFile& f) { f.writeString("S", "k", "w"); },
         "\xEF\xBB\xBF; \xC5\x81\xC3\xB3"
         "d\xC5\xBA\r\n[S]\r\nk=w\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        const auto path = dir.write("app.ini", c.before);
        ProfileFile file;
        ASSERT_TRUE(file.load(path));
        c.change(file);
        ASSERT_TRUE(file.save(path));
        EXPECT_EQ(TempDir::read(path), c.after);
        // And once more, as the next run reads and writes it.
        ASSERT_TRUE(file.load(path));
        ASSERT_TRUE(file.save(path));
        EXPECT_EQ(TempDir::read(path), c.after);
    }
}

TEST(ProfileFile, SavesAtomicallyAndKeepsTheOldFileOnFailure) {
    const TempDir dir;
    const auto path = dir.write("app.ini", "[S]\r\nk=old\r\n");
    ::chmod(path.c_str(), 0640);
    ProfileFile file;
    ASSERT_TRUE(file.load(path));
    file.writeString("S", "k", "new");
    ASSERT_TRUE(file.save(path));
    EXPECT_EQ(TempDir::read(path), "[S]\r\nk=new\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    // A link in the place of the settings file is neither followed nor replaced: the save is
    // refused, and the file it names stays as it is.
    const auto real = dir.write("real.ini", "[S]\r\n");
    std::filesystem::create_symlink(real, dir.path() / "link.ini");
    std::string failure;
    EXPECT_FALSE(file.save(dir.path() / "link.ini", &failure));
    EXPECT_NE(failure.find("it is a link"), std::string::npos) << failure;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "link.ini"));
    EXPECT_EQ(TempDir::read(real), "[S]\r\n");

    // The write fails midway (the file size limit stops it): false, old file intact, no
    // temporary file left behind.
    ProfileFile big;
    big.writeString("S", "k", std::string(100000, 'x'));
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool saved = big.save(path);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(saved);
    EXPECT_EQ(TempDir::read(path), "[S]\r\nk=new\r\n");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 3u); // app.ini, real.ini, link.ini

    // A folder that does not exist: false. A missing file loads as an empty profile.
    EXPECT_FALSE(file.save(dir.path() / "no" / "such.ini"));
    ProfileFile missing;
    EXPECT_FALSE(missing.load(dir.path() / "none.ini"));
    EXPECT_EQ(missing.text(), "");
    EXPECT_FALSE(missing.load(dir.path())); // a folder is no settings file
    EXPECT_EQ(ProfileFile::readFromDisk(path, "s", "K"), "new");
    EXPECT_EQ(ProfileFile::readFromDisk(dir.path() / "none.ini", "S", "k"), std::nullopt);
}

} // namespace
} // namespace pelotest
