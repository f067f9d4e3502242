// The file watcher on a real folder: what each change reports, one report per burst, folders that
// appear later, and links out of the folder that are never followed.

#include "server/FileWatcher.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>

namespace pelotest {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using Paths = std::vector<std::string>;
using namespace std::chrono_literals;

// A watcher on dir/site; dir/outside is a folder next to it.
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
        watcher = makeFileWatcher([this](Paths changed) {
            std::lock_guard lock(mutex);
            bursts.push_back(std::move(changed));
            arrived.notify_all();
        });
        watcher->watch({site().string()});
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
        c.change(f);
        const std::optional<Paths> burst = f.nextBurst(c.expected.empty() ? 500ms : 3000ms);
        if (c.expected.empty()) {
            EXPECT_FALSE(burst);
            continue;
        }
        ASSERT_TRUE(burst);
        for (const std::string& expected : c.expected)
            EXPECT_TRUE(holds(*burst, f.site() / expected)) << expected;
        // One report for the whole change, and nothing reported outside the folder.
        EXPECT_FALSE(f.nextBurst(400ms));
        for (const std::string& path : *burst)
            EXPECT_TRUE(path.starts_with(f.site().string())) << path;
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
