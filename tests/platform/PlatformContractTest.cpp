// The platform layer's contract: the same cases run on Linux and, built with mingw-w64, on
// Windows (under wine in CI); each result is checked on both. What one system cannot show is
// skipped there with the reason printed, never left out silently.

#include "platform/Calendar.h"
#include "platform/Files.h"
#include "platform/FolderWatcher.h"
#include "platform/Network.h"
#include "platform/ProgramFolders.h"
#include "platform/Programs.h"
#include "platform/Sockets.h"
#include "platform/TextCodecs.h"

#include <boost/asio/ip/tcp.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>

namespace fs = std::filesystem;
// pelotest::OpenFile is named in full: Windows' headers (through Asio) declare a function of
// that name in the global namespace.
using namespace pelotest;

namespace {

// Whether this runs under wine, which does not imitate everything Windows does (links, the
// subfolders of a watch that existed before it); those cases are skipped there with the reason.
bool underWine() {
#ifdef _WIN32
    return std::getenv("WINEPREFIX") != nullptr || std::getenv("WINELOADERNOEXEC") != nullptr;
#else
    return false;
#endif
}

// A fresh folder of the test's own, removed with everything in it.
class PlatformContract : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = fs::temp_directory_path() /
                  (std::string("pelotest-platform-") + info->name() + "-" +
                   std::to_string(std::hash<std::string>{}(runningExecutable().string()) % 100000));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    const fs::path& folder() const { return folder_; }

    // Writes bytes to name in the test's folder through the platform layer.
    void write(const std::string& name, std::string_view bytes) {
        std::error_code error;
        const pelotest::OpenFile folder = openFolder(folder_, error);
        ASSERT_TRUE(folder.isOpen()) << errorText(error);
        const pelotest::OpenFile file = createInFolder(folder, name, error);
        ASSERT_TRUE(file.isOpen()) << errorText(error);
        ASSERT_TRUE(file.writeAll(bytes, error)) << errorText(error);
    }

    std::string readWhole(const fs::path& path) {
        std::error_code error;
        const pelotest::OpenFile file = openForReading(path, Links::DoNotFollowLast, error);
        EXPECT_TRUE(file.isOpen()) << errorText(error);
        std::string bytes;
        char block[7]; // small, so that reading goes on past the first block
        while (file.isOpen()) {
            const auto n = file.read(block, sizeof block, error);
            if (!n || *n == 0)
                break;
            bytes.append(block, *n);
        }
        return bytes;
    }

  private:
    fs::path folder_;
};

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (const int v : values)
        out += static_cast<char>(v);
    return out;
}

TEST_F(PlatformContract, Windows1252MapsEveryByteOneToOne) {
    // Every byte has a character and reads back as itself, the five undefined ones as their C1
    // controls; a few characters checked by value.
    for (int b = 0; b < 256; ++b) {
        const char16_t unit = utf16FromWindows1252(static_cast<char>(b));
        ASSERT_EQ(windows1252FromUtf16Unit(unit), static_cast<char>(b)) << b;
    }
    const struct {
        int byte;
        char16_t unit;
    } cases[] = {{0x41, u'A'},  {0x80, 0x20AC}, {0x81, 0x81}, {0x8A, 0x160},
                 {0x9F, 0x178}, {0xA0, 0xA0},   {0xE4, 0xE4}, {0xFF, 0xFF}};
    for (const auto& c : cases)
        EXPECT_EQ(utf16FromWindows1252(static_cast<char>(c.byte)), c.unit) << c.byte;
    EXPECT_EQ(windows1252FromUtf16Unit(0x2603), std::nullopt); // a snowman has no byte
    EXPECT_EQ(windows1252FromCharacter(0x20AC), '\x80');
    EXPECT_EQ(windows1252FromCharacter(0x1F600), std::nullopt);
    EXPECT_EQ(windows1252FromCharacter(0x10041), std::nullopt); // not 'A' cut to 16 bits
}

TEST_F(PlatformContract, Utf8DecoderTakesOnlyWellFormedText) {
    const struct {
        std::string text;
        std::optional<char32_t> character;
        std::size_t length;
    } cases[] = {
        {"A", U'A', 1},
        {bytes({0xC3, 0xA4}), 0xE4, 2},
        {bytes({0xE2, 0x82, 0xAC}), 0x20AC, 3},
        {bytes({0xF0, 0x9F, 0x98, 0x80}), 0x1F600, 4},
        {bytes({0xC0, 0xAF}), std::nullopt, 0},             // overlong '/'
        {bytes({0xE0, 0x80, 0xAF}), std::nullopt, 0},       // overlong '/'
        {bytes({0xED, 0xA0, 0x80}), std::nullopt, 0},       // an encoded surrogate
        {bytes({0xED, 0xBF, 0xBF}), std::nullopt, 0},       // an encoded surrogate
        {bytes({0xF4, 0x90, 0x80, 0x80}), std::nullopt, 0}, // past U+10FFFF
        {bytes({0xE2, 0x82}), std::nullopt, 0},             // cut short
        {bytes({0x80}), std::nullopt, 0},                   // a lone continuation byte
        {bytes({0xFF}), std::nullopt, 0},
    };
    for (const auto& c : cases) {
        const auto decoded = utf8CharacterAt(c.text, 0);
        if (!c.character) {
            EXPECT_FALSE(decoded) << testing::PrintToString(c.text);
            EXPECT_FALSE(isValidUtf8(c.text));
            continue;
        }
        ASSERT_TRUE(decoded) << testing::PrintToString(c.text);
        EXPECT_EQ(decoded->first, *c.character);
        EXPECT_EQ(decoded->second, c.length);
        std::string encoded;
        appendUtf8(encoded, *c.character);
        EXPECT_EQ(encoded, c.text);
    }
}

TEST_F(PlatformContract, FileNamesBecomeUtf16FromEitherEncoding) {
    const struct {
        std::string site;
        std::u16string wide;
    } cases[] = {
        {"plain.htm", u"plain.htm"},
        {bytes({'m', 0xC3, 0xA4, 'h'}), u"m\u00e4h"},       // UTF-8
        {bytes({'m', 0xE4, 'h'}), u"m\u00e4h"},             // Windows-1252
        {bytes({0x80, '.', 'h'}), u"\u20ac.h"},             // Windows-1252's euro
        {bytes({0xF0, 0x9F, 0x98, 0x80}), u"\U0001F600"},   // a surrogate pair
        {bytes({0xED, 0xA0, 0x80}), u"\u00ed\u00a0\u20ac"}, // no UTF-8: read as Windows-1252
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf16FromSiteBytes(c.site), c.wide) << testing::PrintToString(c.site);
        if (isValidUtf8(c.site)) {
            EXPECT_EQ(utf8FromUtf16(c.wide), c.site);
        }
    }
    EXPECT_EQ(utf8FromUtf16(u"a\xD800z"), "a\xEF\xBF\xBDz"); // unpaired: U+FFFD
}

TEST_F(PlatformContract, AddressLiteralsAreReadAsTheSystemReadsThem) {
    const struct {
        std::string text;
        bool ipv4;
        bool ipv6;
    } cases[] = {
        {"127.0.0.1", true, false},   {"0.0.0.0", true, false},
        {"::1", false, true},         {"::", false, true},
        {"fe80::1", false, true},     {"localhost", false, false},
        {"127.1", false, false},      {"1.2.3.256", false, false},
        {"[::1]", false, false},      {"", false, false},
        {"127.0.0.1 ", false, false}, {std::string("1.2.3.4\0x", 9), false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isAddressLiteral(c.text, AddressFamily::IPv4), c.ipv4) << c.text;
        EXPECT_EQ(isAddressLiteral(c.text, AddressFamily::IPv6), c.ipv6) << c.text;
    }
}

TEST_F(PlatformContract, TheProgramKnowsItsOwnExecutable) {
    const fs::path self = runningExecutable();
    ASSERT_FALSE(self.empty());
    EXPECT_TRUE(self.is_absolute()) << self.string();
    EXPECT_EQ(self.stem().string(), "test_platform");
    EXPECT_TRUE(fs::is_regular_file(self)) << self.string();
#ifdef _WIN32
    EXPECT_EQ(settingsFileNameBeside(self), "test_platform.ini");
#else
    EXPECT_EQ(settingsFileNameBeside(self), "pelotest.ini");
#endif
}

TEST_F(PlatformContract, WritableFoldersAreTold) {
    EXPECT_TRUE(folderIsWritable(folder()));
    EXPECT_FALSE(folderIsWritable(folder() / "missing"));
    // The probe leaves nothing behind.
    EXPECT_TRUE(fs::is_empty(folder()));
    EXPECT_FALSE(userSettingsFolder().empty());
    EXPECT_EQ(userSettingsFolder().is_absolute(), userDataFolder().is_absolute());
}

TEST_F(PlatformContract, AProgramThatCannotStartIsReported) {
    char name[] = "pelotest";
    char argument[] = "--version";
    char* argv[] = {name, argument, nullptr};
    const std::string failure = replaceProcessWith(folder() / "no-such-program", 2, argv);
    EXPECT_FALSE(failure.empty());
}

TEST_F(PlatformContract, FilesKeepEveryByteAsWritten) {
    // No text mode anywhere: CR LF stays CR LF, a lone LF and Ctrl+Z (which ends a text-mode
    // read on Windows) stay, and so does every other byte.
    std::string bytes = "line\r\nnext\nend\x1a after \x00 zero";
    for (int b = 0; b < 256; ++b)
        bytes += static_cast<char>(b);
    write("data.bin", bytes);
    EXPECT_EQ(readWhole(folder() / "data.bin"), bytes);

    std::error_code error;
    const pelotest::OpenFile file = openForReading(folder() / "data.bin", Links::Follow, error);
    ASSERT_TRUE(file.isOpen());
    char piece[5] = {};
    const auto got = file.readAt(4, piece, sizeof piece, error);
    ASSERT_TRUE(got);
    EXPECT_EQ(std::string(piece, *got), "\r\nnex");
    const auto atEnd = file.readAt(bytes.size(), piece, sizeof piece, error);
    ASSERT_TRUE(atEnd);
    EXPECT_EQ(*atEnd, 0u);
    const auto status = file.status(error);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->kind, FileKind::Regular);
    EXPECT_EQ(status->identity.size, bytes.size());
}

TEST_F(PlatformContract, WhatIsThereIsTold) {
    write("page.htm", "page");
    fs::create_directory(folder() / "sub");
    const struct {
        fs::path path;
        FileKind kind;
        bool missingError;
    } cases[] = {
        {folder() / "page.htm", FileKind::Regular, false},
        {folder() / "sub", FileKind::Folder, false},
        {folder() / "none.htm", FileKind::Missing, true},
        {folder() / "none" / "deeper.htm", FileKind::Missing, true},
        {folder() / "page.htm" / "below.htm", FileKind::Missing, true}, // below a file
    };
    for (const auto& c : cases) {
        for (const Links links : {Links::Follow, Links::DoNotFollowLast}) {
            std::error_code error;
            EXPECT_EQ(statusOf(c.path, links, error).kind, c.kind) << c.path.string();
            EXPECT_EQ(missing(error), c.missingError) << c.path.string() << ": " << error;
        }
        std::error_code error;
        const pelotest::OpenFile opened = openForReading(c.path, Links::Follow, error);
        EXPECT_EQ(opened.isOpen(), c.kind != FileKind::Missing) << c.path.string();
        if (!opened.isOpen()) {
            EXPECT_TRUE(missing(error)) << c.path.string() << ": " << error;
        }
    }
    std::error_code error;
    EXPECT_EQ(notARegularFile(FileKind::Regular), std::nullopt);
    EXPECT_NE(notARegularFile(FileKind::Folder), std::nullopt);
    EXPECT_TRUE(mayWrite(folder()));
    EXPECT_TRUE(mayWrite(folder() / "page.htm"));
    EXPECT_FALSE(mayWrite(folder() / "none.htm"));
}

TEST_F(PlatformContract, AFolderOpenedOnceCreatesRenamesAndRemovesItsFiles) {
    std::error_code error;
    const pelotest::OpenFile folder = openFolder(this->folder(), error);
    ASSERT_TRUE(folder.isOpen()) << errorText(error);
    {
        const pelotest::OpenFile created = createInFolder(folder, "new.txt", error);
        ASSERT_TRUE(created.isOpen()) << errorText(error);
        ASSERT_TRUE(created.writeAll("new", error));
        ASSERT_TRUE(created.syncToDisk(error)) << errorText(error);
    }
    write("old.txt", "old");
    // Creating never takes over what is there.
    EXPECT_FALSE(createInFolder(folder, "old.txt", error).isOpen());
    EXPECT_TRUE(alreadyExists(error)) << error;

    const FileIdentity before = statusOf(this->folder() / "new.txt", Links::Follow, error).identity;
    ASSERT_TRUE(renameInFolder(folder, "new.txt", "old.txt", error)) << errorText(error);
    const FileStatus after = statusInFolder(folder, "old.txt", Links::DoNotFollowLast, error);
    EXPECT_EQ(after.kind, FileKind::Regular);
    EXPECT_EQ(after.identity.inode, before.inode); // the same file under its new name
    EXPECT_EQ(readWhole(this->folder() / "old.txt"), "new");
    EXPECT_EQ(namesInFolder(folder), std::vector<std::string>{"old.txt"});
    EXPECT_TRUE(folder.syncToDisk(error)) << errorText(error);

    removeInFolder(folder, "old.txt");
    EXPECT_TRUE(namesInFolder(folder).empty());
    const auto where = pathOfOpenFolder(folder);
    ASSERT_TRUE(where);
    EXPECT_EQ(fs::canonical(*where), fs::canonical(this->folder()));
}

TEST_F(PlatformContract, IdentityTellsFilesApartAndSeesAnEdit) {
    write("a.txt", "a");
    write("b.txt", "b");
    std::error_code error;
    const FileIdentity a = statusOf(folder() / "a.txt", Links::Follow, error).identity;
    const FileIdentity b = statusOf(folder() / "b.txt", Links::Follow, error).identity;
    EXPECT_NE(a.inode, 0u); // Windows' stat gives 0: the file ID is what tells files apart
    EXPECT_NE(a.inode, b.inode);
    EXPECT_EQ(a.device, b.device);
    EXPECT_EQ(statusOf(folder() / "a.txt", Links::Follow, error).identity, a);
    std::ofstream(folder() / "a.txt", std::ios::binary | std::ios::app) << "more";
    const FileIdentity edited = statusOf(folder() / "a.txt", Links::Follow, error).identity;
    EXPECT_EQ(edited.inode, a.inode);
    EXPECT_EQ(edited.size, 5u);
    // File times come from the same clock as fileClockNanos, within a generous margin.
    EXPECT_LT(std::abs(fileClockNanos() - edited.modifiedNanos), 60'000'000'000LL);
    EXPECT_FALSE(edited.settled());
}

TEST_F(PlatformContract, AFileMarkedInUseCannotBeMarkedAgain) {
    write("temp", "x");
    std::error_code error;
    const pelotest::OpenFile first = openForReading(folder() / "temp", Links::Follow, error);
    const pelotest::OpenFile second = openForReading(folder() / "temp", Links::Follow, error);
    ASSERT_TRUE(first.isOpen() && second.isOpen());
    EXPECT_TRUE(first.markInUse());
    EXPECT_FALSE(second.markInUse());
}

TEST_F(PlatformContract, LinksAreSeenAndNotFollowedWhereAsked) {
    write("target.htm", "target");
    std::error_code error;
    fs::create_symlink(folder() / "target.htm", folder() / "link.htm", error);
    if (error || underWine())
        GTEST_SKIP() << "links cannot be made here (wine does not show its links as Windows "
                        "reparse points): "
                     << error.message();
    EXPECT_EQ(statusOf(folder() / "link.htm", Links::DoNotFollowLast, error).kind, FileKind::Link);
    EXPECT_EQ(statusOf(folder() / "link.htm", Links::Follow, error).kind, FileKind::Regular);
    const pelotest::OpenFile notFollowed =
        openForReading(folder() / "link.htm", Links::DoNotFollowLast, error);
    const auto status = notFollowed.isOpen() ? notFollowed.status(error) : std::nullopt;
    EXPECT_TRUE(!status || status->kind == FileKind::Link);
}

TEST_F(PlatformContract, CalendarTimesConvertBothWays) {
    const struct {
        std::time_t time;
        int year, month, day, hour, weekday;
    } cases[] = {
        {0, 1970, 1, 1, 0, 4},
        {951782400, 2000, 2, 29, 0, 2},
        {1767225599, 2025, 12, 31, 23, 3},
        {4102444800, 2100, 1, 1, 0, 5},
    };
    for (const auto& c : cases) {
        std::tm utc{};
        ASSERT_TRUE(utcCalendarTime(c.time, utc));
        EXPECT_EQ(utc.tm_year + 1900, c.year);
        EXPECT_EQ(utc.tm_mon + 1, c.month);
        EXPECT_EQ(utc.tm_mday, c.day);
        EXPECT_EQ(utc.tm_hour, c.hour);
        EXPECT_EQ(utc.tm_wday, c.weekday);
        EXPECT_EQ(timeOfUtcCalendar(utc), c.time);
        std::tm local{};
        EXPECT_TRUE(localCalendarTime(c.time, local));
    }
}

TEST_F(PlatformContract, APortInUseCannotBeTakenBySecondListener) {
    namespace ip = boost::asio::ip;
    boost::asio::io_context context;
    const ip::tcp::endpoint any(ip::make_address("127.0.0.1"), 0);
    ip::tcp::acceptor first(context);
    first.open(any.protocol());
    ASSERT_TRUE(takePortForListening(first.native_handle()));
    first.bind(any);
    first.listen();
    const ip::tcp::endpoint taken(any.address(), first.local_endpoint().port());

    ip::tcp::acceptor second(context);
    second.open(any.protocol());
    ASSERT_TRUE(takePortForListening(second.native_handle()));
    boost::system::error_code error;
    second.bind(taken, error);
    if (!error)
        second.listen(boost::asio::socket_base::max_listen_connections, error);
    EXPECT_TRUE(error) << "a second listener took port " << taken.port();

    // Once the first is gone, the port is taken again at once.
    first.close();
    ip::tcp::acceptor third(context);
    third.open(any.protocol());
    ASSERT_TRUE(takePortForListening(third.native_handle()));
    third.bind(taken, error);
    EXPECT_FALSE(error) << error.message();
}

TEST_F(PlatformContract, TheWatcherReportsAChangeBelowItsFolder) {
    std::mutex mutex;
    std::condition_variable reported;
    std::vector<std::string> changes;
    auto watcher = makeFileWatcher(
        [&](std::vector<std::string> changed) {
            std::lock_guard lock(mutex);
            changes.insert(changes.end(), changed.begin(), changed.end());
            reported.notify_all();
        },
        BurstTiming{std::chrono::milliseconds(50), std::chrono::milliseconds(200)});
    const std::string watched = folder().generic_string();
    watcher->watch({watched});
    // A watch is in place once a change made now is seen: write until one is reported.
    std::unique_lock lock(mutex);
    for (int attempt = 0; attempt < 50 && changes.empty(); ++attempt) {
        lock.unlock();
        std::ofstream(folder() / "changed.htm", std::ios::binary) << attempt;
        lock.lock();
        reported.wait_for(lock, std::chrono::milliseconds(100), [&] { return !changes.empty(); });
    }
    ASSERT_FALSE(changes.empty());
    EXPECT_NE(std::find(changes.begin(), changes.end(), watched + "/changed.htm"), changes.end())
        << testing::PrintToString(changes);
    lock.unlock();
    watcher.reset(); // stops without waiting for anything more
}

} // namespace
