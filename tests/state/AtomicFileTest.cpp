#include "state/AtomicFile.h"
#include "state/PersistentState.h"

#include "support/FakeHost.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pelotest {
namespace {

using test::TempDir;

std::set<std::string> namesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// The tests run as root, who may write into any folder: the failures come from paths that
// cannot be folders.
TEST(AtomicFile, AFailedWriteSaysWhyAndChangesNothing) {
    struct Case {
        const char* what;
        std::string relative;
        std::string reason;
    };
    const Case cases[] = {
        {"the folder is a file", "file.txt/new.ini", "Not a directory"},
        {"the folder is missing", "none/new.ini", "No such file or directory"},
        {"the name is a folder", "sub", "Is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("file.txt", "old");
        dir.write("sub/inner", "x");
        const auto failure = replaceFile(dir.path() / c.relative, "new");
        ASSERT_TRUE(failure.has_value());
        EXPECT_NE(failure->find(c.reason), std::string::npos) << *failure;
        EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"file.txt", "sub"}));
        EXPECT_EQ(TempDir::read(dir.path() / "file.txt"), "old");
    }
}

// Whatever stands at the name and is no regular file is refused and stays as it was; what a link
// leads to is never written. Both forms, the path and the folder descriptor, are asked.
TEST(AtomicFile, OnlyARegularFileIsReplacedNeverWhatALinkLeadsTo) {
    struct Case {
        const char* what;
        std::function<void(const std::filesystem::path& at, const std::filesystem::path& outside)>
            make;
        const char* reason;
    };
    namespace fs = std::filesystem;
    const Case cases[] = {
        {"a link to an outside file",
         [](auto& at, auto& outside) { fs::create_symlink(outside, at); }, "it is a link"},
        {"a link to a FIFO",
         [](auto& at, auto& outside) {
             ::mkfifo((outside.string() + ".fifo").c_str(), 0600);
             fs::create_symlink(outside.string() + ".fifo", at);
         },
         "it is a link"},
        {"a link to a folder",
         [](auto& at, auto& outside) { fs::create_directory_symlink(outside.parent_path(), at); },
         "it is a link"},
        {"a dangling link", [](auto& at, auto&) { fs::create_symlink("/nonexistent/x", at); },
         "it is a link"},
        {"a FIFO", [](auto& at, auto&) { ::mkfifo(at.c_str(), 0600); }, "it is a FIFO"},
        {"a folder", [](auto& at, auto&) { fs::create_directory(at); }, "Is a directory"},
    };
    for (const bool byFolder : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (byFolder ? " (folder form)" : " (path form)"));
            TempDir dir;
            const auto outside = dir.write("outside/secret.txt", "secret");
            fs::create_directory(dir.path() / "site");
            const fs::path at = dir.path() / "site" / "page.htm";
            c.make(at, outside);
            const auto before = fs::symlink_status(at).type();
            std::optional<std::string> failure;
            if (byFolder) {
                std::error_code error;
                const OpenFile folder = openFolder(dir.path() / "site", error);
                failure = replaceFileAt(folder, "page.htm", "mine");
            } else {
                failure = replaceFile(at, "mine");
            }
            ASSERT_TRUE(failure.has_value());
            EXPECT_NE(failure->find(c.reason), std::string::npos) << *failure;
            EXPECT_EQ(fs::symlink_status(at).type(), before);
            EXPECT_EQ(TempDir::read(outside), "secret");
            EXPECT_EQ(namesIn(dir.path() / "site"), (std::set<std::string>{"page.htm"}));
        }
    }
}

TEST(AtomicFile, TheFolderFormKeepsPermissionsAndTakesLongNames) {
    TempDir dir;
    const std::string longName = std::string(250, 'n') + ".htm";
    dir.write("site/" + longName, "old");
    ::chmod((dir.path() / "site" / longName).c_str(), 0604);

    std::error_code error;
    const OpenFile folder = openFolder(dir.path() / "site", error);
    ASSERT_TRUE(folder.isOpen());
    EXPECT_EQ(replaceFileAt(folder, "page.htm", "mine"), std::nullopt);
    EXPECT_EQ(replaceFileAt(folder, longName, "new"), std::nullopt);

    EXPECT_EQ(TempDir::read(dir.path() / "site" / "page.htm"), "mine");
    EXPECT_EQ(TempDir::read(dir.path() / "site" / longName), "new");
    struct stat info {};
    ASSERT_EQ(::stat((dir.path() / "site" / longName).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    EXPECT_EQ(namesIn(dir.path() / "site"), (std::set<std::string>{"page.htm", longName}));
}

// Saves of one file at once, as the editor and the window make them: each one succeeds, the
// file is always one of them whole, and no temporary file stays. A save's clean-up of killed
// saves' files must not take the temporary file of a save that is still running.
TEST(AtomicFile, SavesOfOneFileAtOnceEachEndWhole) {
    TempDir dir;
    dir.write("site/page.htm", "old");
    const std::filesystem::path page = dir.path() / "site" / "page.htm";
    constexpr int kWriters = 6;
    constexpr int kSaves = 150;
    std::atomic<int> failures = 0;
    std::atomic<bool> torn = false;
    std::string firstFailure;
    std::mutex firstFailureMutex;
    const auto content = [](int writer) { return std::string(512 + writer, char('a' + writer)); };
    std::vector<std::thread> writers;
    for (int writer = 0; writer < kWriters; ++writer)
        writers.emplace_back([&, writer] {
            for (int save = 0; save < kSaves; ++save) {
                if (const auto failure = replaceFile(page, content(writer))) {
                    const std::lock_guard lock(firstFailureMutex);
                    if (failures++ == 0)
                        firstFailure = *failure;
                }
                const std::string now = TempDir::read(page);
                if (now.empty() || now.find_first_not_of(now.front()) != std::string::npos ||
                    now != content(now.front() - 'a'))
                    torn = true;
            }
        });
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_EQ(failures, 0) << firstFailure;
    EXPECT_FALSE(torn);
    // The last save wins: writing once more leaves exactly that.
    EXPECT_EQ(replaceFile(page, "last"), std::nullopt);
    EXPECT_EQ(TempDir::read(page), "last");
    EXPECT_EQ(namesIn(dir.path() / "site"), (std::set<std::string>{"page.htm"}));
}

TEST(SaveState, AFailedSaveSaysWhyAndKeepsTheChangesMarked) {
    TempDir dir;
    dir.write("file.txt", "");
    AppState state;
    test::FakeHost host;
    state.settingsPath = dir.path() / "file.txt" / "pelotest.ini";
    state.variablesChanged = true;
    std::string failure;
    EXPECT_FALSE(saveState(
        state, host, [](UiText) { return std::string(); }, &failure));
    EXPECT_NE(failure.find("Not a directory"), std::string::npos) << failure;
    EXPECT_TRUE(state.variablesChanged);
}

} // namespace
} // namespace pelotest
