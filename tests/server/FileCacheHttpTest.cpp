// Pages, templates and the way to them are remembered between requests; over HTTP, every change
// on disk must still show at the very next request: a file changed in place, replaced by rename
// or deleted, and a folder on the way swapped for a link that leads outside.

#include "server/FileCache.h"
#include "support/FakeHost.h"
#include "support/HttpTestClient.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace pelotest {
namespace {

using test::FakeHost;
using test::HttpResult;
using test::TempDir;
using test::TestServer;
namespace fs = std::filesystem;

class FileCacheHttp : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir.path() / "site" / "sub");
        fs::create_directories(dir.path() / "outside" / "sub");
        fs::create_directories(dir.path() / "tmpl");
        state.settings.staticPath = (dir.path() / "site").string();
        state.settings.virtualPath = "app";
        state.settings.dynamicPath = (dir.path() / "tmpl").string();
        state.settingsPath = dir.path() / "pelotest.ini";
        TreeNode& root = state.tree.appendRoot("page.htm");
        // Templates that hold references, found through their events.
        root.appendChild("refs.htm (Refs)");
        root.appendChild("moved.htm (Moved)");
        root.appendChild("gone.htm (Gone)");
        root.appendChild("sub/linked.htm (Linked)");
        state.variables.add("v", "1");
        server = std::make_unique<TestServer>(state, host);
    }
    void TearDown() override { server.reset(); }

    HttpResult get(const std::string& target) { return test::httpGet(server->port(), target); }
    std::string lastLogTitle() {
        std::lock_guard lock(state.mutex);
        return state.log.rows().empty() ? std::string() : state.log.rows().front().title;
    }

    TempDir dir;
    AppState state;
    FakeHost host;
    std::unique_ptr<TestServer> server;
};

TEST_F(FileCacheHttp, EveryChangeOnDiskShowsAtTheNextRequest) {
    const fs::path site = dir.path() / "site";
    struct Case {
        std::string name;
        std::string document;
        std::function<void()> change;
        int status;                       // after the change
        std::string body;                 // after the change
        std::optional<std::string> title; // of the log row it leaves, when it leaves one
        std::string absent = "";          // what the answer must not hold after the change
    };
    dir.write("site/edited.htm", "<title>Old</title>\nold body\n");
    dir.write("site/renamed.htm", "<title>Old</title>\nold body\n");
    dir.write("site/deleted.htm", "<title>Old</title>\nold body\n");
    dir.write("site/pic.gif", "GIF89a old");
    dir.write("site/sub/inner.htm", "<title>Inside</title>\n");
    dir.write("site/deep/leak.htm", "<title>Inside</title>\n");
    dir.write("outside/sub/inner.htm", "<title>Secret</title>\n");
    dir.write("tmpl/page.htm", "<title>Template</title>\nold line\n");
    dir.write("tmpl/refs.htm", "a /(v) b\n<a href=\"x?PELO_EVENT=Old\">\n");
    dir.write("tmpl/moved.htm", "old /(v)\n");
    dir.write("tmpl/gone.htm", "gone /(v)\n");
    fs::create_directories(dir.path() / "tmpl" / "sub");
    dir.write("tmpl/sub/linked.htm", "inside /(v)\n");
    dir.write("outside/sub/linked.htm", "Secret /(v)\n");
    const std::vector<Case> cases{
        {"changed in place, same size", "/edited.htm",
         [&] { dir.write("site/edited.htm", "<title>New</title>\nnew body\n"); }, 200,
         "<title>New</title>\nnew body\n", "New"},
        {"replaced by rename", "/renamed.htm",
         [&] {
             dir.write("site/next.tmp", "<title>Renamed</title>\n");
             fs::rename(site / "next.tmp", site / "renamed.htm");
         },
         200, "<title>Renamed</title>\n", "Renamed"},
        {"deleted", "/deleted.htm", [&] { fs::remove(site / "deleted.htm"); }, 404, "",
         std::nullopt},
        {"a picture changed", "/pic.gif", [&] { dir.write("site/pic.gif", "GIF89a new"); }, 200,
         "GIF89a new", std::nullopt},
        {"a folder swapped for a link that leads outside", "/sub/inner.htm",
         [&] {
             fs::remove_all(site / "sub");
             fs::create_directory_symlink(dir.path() / "outside" / "sub", site / "sub");
         },
         404, "", std::nullopt},
        {"a file swapped for a link that leads outside", "/deep/leak.htm",
         [&] {
             fs::remove(site / "deep" / "leak.htm");
             fs::create_symlink(dir.path() / "outside" / "sub" / "inner.htm",
                                site / "deep" / "leak.htm");
         },
         404, "", std::nullopt},
        {"a template changed", "/app/x.htm",
         [&] { dir.write("tmpl/page.htm", "<title>Template</title>\nnew line\n"); }, 200,
         "<title>Template</title>\r\nnew line\r\n", "Template"},
        // The references and events of a template are found once per version of the file.
        {"a template with references changed in place, same size", "/app/x.htm?PELO_EVENT=Refs",
         [&] { dir.write("tmpl/refs.htm", "/(v) c d\n<a href=\"x?PELO_EVENT=New\">\n"); }, 200,
         "1 c d\r\n<a href=\"x?PELO_EVENT=New\">\r\n", ""},
        {"a template with references replaced by rename", "/app/x.htm?PELO_EVENT=Moved",
         [&] {
             dir.write("tmpl/next.tmp", "new /(w)/(v)\n");
             fs::rename(dir.path() / "tmpl" / "next.tmp", dir.path() / "tmpl" / "moved.htm");
         },
         200, "new 1\r\n", ""},
        {"a template with references deleted", "/app/x.htm?PELO_EVENT=Gone",
         [&] { fs::remove(dir.path() / "tmpl" / "gone.htm"); }, 200, "", std::nullopt, "gone 1"},
        {"a template folder swapped for a link that leads outside", "/app/x.htm?PELO_EVENT=Linked",
         [&] {
             fs::remove_all(dir.path() / "tmpl" / "sub");
             fs::create_directory_symlink(dir.path() / "outside" / "sub",
                                          dir.path() / "tmpl" / "sub");
         },
         200, "", std::nullopt, "Secret"},
    };
    // Only files that have not changed for a moment are remembered (file times are coarse).
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(get(c.document).status, 200);
        // Unchanged, the file is answered from memory.
        const std::uint64_t reads = FileCache::reads();
        ASSERT_EQ(get(c.document).status, 200);
        EXPECT_EQ(FileCache::reads(), reads);
    }
    for (const Case& c : cases)
        c.change();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HttpResult r = get(c.document);
        EXPECT_EQ(r.status, c.status);
        if (!c.absent.empty()) {
            EXPECT_EQ(r.body.find(c.absent), std::string::npos);
        } else if (c.status == 200) {
            EXPECT_EQ(r.body, c.body);
            if (c.title) {
                EXPECT_EQ(lastLogTitle(), *c.title);
            }
        } else {
            EXPECT_EQ(r.body.find("Secret"), std::string::npos);
        }
    }
    // The changed template's link was learnt from its new text.
    const StateLock lock(state.mutex);
    const TreeNode* refs = state.tree.firstMatch("Refs");
    ASSERT_NE(refs, nullptr);
    std::vector<std::string> learnt;
    for (const std::unique_ptr<TreeNode>& child : refs->children)
        learnt.push_back(child->text);
    EXPECT_EQ(learnt, (std::vector<std::string>{"Old", "New"}));
}

// The markers and the event parameter are part of what a template is parsed for: changing them
// renders the same unchanged file anew.
TEST_F(FileCacheHttp, ChangedMarkersRenderAnUnchangedTemplateAnew) {
    dir.write("tmpl/page.htm", "/(v) [v] x?E=Ev&y\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(get("/app/x.htm").body, "1 [v] x?E=Ev&y\r\n");
    {
        const StateLock lock(state.mutex);
        state.settings.varBefore = "[";
        state.settings.varAfter = "]";
        state.settings.event = "E";
    }
    EXPECT_EQ(get("/app/x.htm").body, "/(v) 1 x?E=Ev&y\r\n");
    const StateLock lock(state.mutex);
    ASSERT_NE(state.tree.first(), nullptr);
    ASSERT_EQ(state.tree.first()->children.size(), 5u); // the four templates above, and Ev
    EXPECT_EQ(state.tree.first()->children.back()->text, "Ev");
}

} // namespace
} // namespace pelotest
