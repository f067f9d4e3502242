// The file watcher on a real folder: what each change reports, one report per burst, folders that
// appear later, and links out of the folder that are never followed.

#include "server/FileWatcher.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>

#include <unistd.h>

namespace pelotest {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using Paths = std::vector<std::string>;
using namespace std::chrono_literals;

// A watcher on dir/site (or on the folder watched is set to); dir/outside is a folder next to it.
class WatcherFixture {
  public:
    WatcherFixture() {
        fs::create_directories(site());
        fs::create_directories(outside());
    }

    fs::path site() const { return dir.path() / "site"; }
    fs::path outside() const { return dir.path() / "outside"; }
    void write(const fs::path& file, std::string_view bytes = "x") const {
        dir.write(fs::relative(file, dir.path()).string(), bytes);
    }

    void start() {
        watcher = makeFileWatcher(
            [this](Paths changed) {
                std::lock_guard lock(mutex);
                bursts.push_back(std::move(changed));
                arrived.notify_all();
            },
            {},
            [this](std::vector<FileWatcher::Unwatched> now) {
                std::lock_guard lock(mutex);
                unwatched.push_back(std::move(now));
            });
        watcher->watch({(watched.empty() ? site() : watched).string()});
        // The folder is walked on the watcher's thread: a change made before that ends is missed.
        watching = watcher->awaitWatches(3000ms);
    }

    // The next report, or nullopt when none comes within the time given.
    std::optional<Paths> nextBurst(std::chrono::milliseconds within = 3000ms) {
        std::unique_lock lock(mutex);
        if (!arrived.wait_for(lock, within, [this] { return !bursts.empty(); }))
            return std::nullopt;
        Paths paths = std::move(bursts.front());
        bursts.pop_front();
        return paths;
    }

    TempDir dir;
    std::unique_ptr<FileWatcher> watcher;
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Paths> bursts;
    std::vector<std::vector<FileWatcher::Unwatched>> unwatched; // every report, in order
    fs::path watched;
    bool watching = false;
};

bool holds(const Paths& paths, const fs::path& file) {
    return std::find(paths.begin(), paths.end(), file.string()) != paths.end();
}

TEST(FileWatcher, ReportsEachKindOfChangeOnceBurstByBurst) {
    struct Case {
        const char* name;
        std::function<void(WatcherFixture&)> before; // made before the watch starts
        std::function<void(WatcherFixture&)> change;
        Paths expected; // below the site folder; empty: nothing may be reported
    };
    const Case cases[] = {
        {"create", {}, [](WatcherFixture& f) { f.write(f.site() / "new.htm"); }, {"new.htm"}},
        {"modify",
         [](WatcherFixture& f) { f.write(f.site() / "a.htm", "old"); },
         [](WatcherFixture& f) { f.write(f.site() / "a.htm", "new"); },
         {"a.htm"}},
        {"rename over",
         [](WatcherFixture& f) { f.write(f.site() / "a.css", "old"); },
         [](WatcherFixture& f) {
             f.write(f.outside() / "a.tmp", "new");
             fs::rename(f.outside() / "a.tmp", f.site() / "a.css");
         },
         {"a.css"}},
        {"delete",
         [](WatcherFixture& f) { f.write(f.site() / "sub" / "a.htm"); },
         [](WatcherFixture& f) { fs::remove(f.site() / "sub" / "a.htm"); },
         {"sub/a.htm"}},
        {"new sub-folder, written into at once",
         {},
         [](WatcherFixture& f) { f.write(f.site() / "new" / "deeper" / "b.htm"); },
         {"new/deeper/b.htm"}},
        {"new sub-folder, written into later",
         {},
         [](WatcherFixture& f) {
             fs::create_directories(f.site() / "later");
             ASSERT_TRUE(f.nextBurst());
             f.write(f.site() / "later" / "c.htm");
         },
         {"later/c.htm"}},
        {"a burst of writes",
         {},
         [](WatcherFixture& f) {
             for (int i = 0; i < 20; ++i)
                 f.write(f.site() / ("page" + std::to_string(i) + ".htm"));
         },
         {"page0.htm", "page7.htm", "page19.htm"}},
        {"folder deleted and made again",
         [](WatcherFixture& f) { f.write(f.site() / "a.htm"); },
         [](WatcherFixture& f) {
             fs::remove_all(f.site());
             ASSERT_TRUE(f.nextBurst());
             f.write(f.site() / "b.htm");
             ASSERT_TRUE(f.nextBurst()); // the folder is back
             f.write(f.site() / "b.htm", "changed");
         },
         {"b.htm"}},
        {"the watched folder is a link to the real one",
         [](WatcherFixture& f) {
             fs::create_directory_symlink(f.site(), f.dir.path() / "link");
             f.watched = f.dir.path() / "link";
         },
         [](WatcherFixture& f) { f.write(f.site() / "css" / "a.css"); },
         {"css/a.css"}},
        {"a link to a folder outside",
         [](WatcherFixture& f) { fs::create_directory_symlink(f.outside(), f.site() / "out"); },
         [](WatcherFixture& f) { f.write(f.outside() / "secret.htm"); },
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WatcherFixture f;
        if (c.before)
            c.before(f);
        f.start();
        ASSERT_TRUE(f.watching);
        c.change(f);
        const std::optional<Paths> burst = f.nextBurst(c.expected.empty() ? 500ms : 3000ms);
        if (c.expected.empty()) {
            EXPECT_FALSE(burst);
            continue;
        }
        ASSERT_TRUE(burst);
        // Reported below the folder as it was named, a link included.
        const fs::path watched = f.watched.empty() ? f.site() : f.watched;
        for (const std::string& expected : c.expected)
            EXPECT_TRUE(holds(*burst, watched / expected))
                << expected << " in " << testing::PrintToString(*burst);
        // One report for the whole change, and nothing reported outside the folder.
        EXPECT_FALSE(f.nextBurst(400ms));
        for (const std::string& path : *burst)
            EXPECT_TRUE(path.starts_with(watched.string() + "/")) << path;
    }
}

// A folder the system refuses to watch (here: no read permission for the user) is reported once
// as unwatched and reloads nothing while it stays so; once it can be watched, it counts as changed
// once and is reported as watched again.
TEST(FileWatcher, AFolderThatCannotBeWatchedIsReportedOnceAndReloadsNothing) {
    const auto user = test::unprivilegedUser();
    if (!user)
        GTEST_SKIP() << "needs root to run a part as an unprivileged user";
    struct Case {
        const char* name;
        const char* locked; // below the site folder; "" for the site folder itself
    };
    const Case cases[] = {{"the watched folder", ""}, {"a folder inside it", "sub"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WatcherFixture f;
        const fs::path locked = *c.locked ? f.site() / c.locked : f.site();
        fs::create_directories(locked);
        f.write(locked / "a.htm");
        fs::permissions(f.dir.path(), fs::perms(0755));
        fs::permissions(f.site(), fs::perms(0755));
        // Its owner may pass through it but not list it, and may open it up later.
        ASSERT_EQ(::chown(locked.c_str(), user->uid, user->gid), 0);
        fs::permissions(locked, fs::perms(0311));
        const std::optional<bool> held = test::runAs(*user, [&f, &locked] {
            // The child's expectations cannot reach the test's result: it says why on stderr.
            const auto fail = [](const std::string& why) {
                std::fprintf(stderr, "FileWatcher child: %s\n", why.c_str());
                return false;
            };
            f.start();
            if (!f.watching)
                return fail("the folders were not walked");
            const std::optional<Paths> early = f.nextBurst(1500ms);
            {
                std::lock_guard lock(f.mutex);
                const std::vector<FileWatcher::Unwatched> expected{
                    {locked.string(), "Permission denied"}};
                if (f.unwatched.size() != 1 || f.unwatched[0].size() != 1 ||
                    f.unwatched[0][0].folder != expected[0].folder ||
                    f.unwatched[0][0].reason != expected[0].reason)
                    return fail("not reported once as unwatched");
            }
            if (early)
                return fail("reported as changed while it cannot be watched: " +
                            testing::PrintToString(*early));
            fs::permissions(locked, fs::perms(0755));
            // The change of mode itself may be reported first by the folder around it.
            const auto until = std::chrono::steady_clock::now() + 5000ms;
            for (;;) {
                const std::optional<Paths> burst = f.nextBurst(500ms);
                if (burst && holds(*burst, locked / "a.htm"))
                    break;
                if (std::chrono::steady_clock::now() > until)
                    return fail("not reported as changed once watched");
            }
            if (const auto more = f.nextBurst(600ms))
                return fail("reported again: " + testing::PrintToString(*more));
            std::lock_guard lock(f.mutex);
            if (f.unwatched.size() != 2 || !f.unwatched[1].empty())
                return fail("not reported as watched again");
            return true;
        });
        ASSERT_TRUE(held.has_value()) << "the unprivileged part did not run";
        EXPECT_TRUE(*held) << "see the child's reason above";
    }
}

TEST(FileWatcher, StyleSheetsAloneAreSwappedEverythingElseReloads) {
    struct Case {
        Paths changed;
        Paths styleSheets; // empty: reload
    };
    const Case cases[] = {
        {{"/srv/site/a.css"}, {"/a.css"}},
        {{"/srv/site/css/A.CSS", "/srv/site/b.css"}, {"/css/A.CSS", "/b.css"}},
        {{"/srv/site/a.css", "/srv/site/a.htm"}, {}},
        {{"/srv/site/app.js"}, {}},
        {{"/srv/templates/t.css"}, {}}, // a template folder's style sheet has no address
        {{"/srv/sitex/a.css"}, {}},
        {{}, {}}, // changes were lost
    };
    for (const Case& c : cases)
        EXPECT_EQ(classifyChanges(c.changed, "/srv/site/").styleSheets, c.styleSheets)
            << testing::PrintToString(c.changed);
}

} // namespace
} // namespace pelotest
