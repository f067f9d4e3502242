// A variable in the template folder's setting, set by a request that any web page can make the
// browser send, must not move the folder outside the configured one: not for templates, not for
// the file list, not for the editor.

#include "PopupPagesTestSupport.h"

#include <filesystem>
#include <string>

namespace pelotest::test::popup {
namespace {

namespace fs = std::filesystem;

TEST(VariableFolder, AParameterCannotMoveTheTemplateFolderOut) {
    PageServer server;
    const std::string d = server.dir.path().string();
    server.dir.write("site/index.htm", "static");
    server.dir.write("projects/tmpl/start.htm", "inside");
    server.dir.write("start.htm", "outside"); // what "projects/.." would serve
    server.dir.write("sub/x.htm", "x");
    server.state.settings.staticPath = d + "/site";
    server.state.settings.dynamicPath = d + "/projects//(proj)";
    server.state.settings.virtualPath = "/app/";
    server.state.tree.appendRoot("start.htm");
    server.start();

    // The folder as configured.
    server.get("/anything.gif?proj=tmpl");
    EXPECT_EQ(server.get("/app/").body, "inside\r\n");

    // An <img> of another site sets the variable.
    for (const std::string value : {"..", "tmpl/../.."}) {
        SCOPED_TRACE(value);
        server.get("/anything.gif?proj=" + formEncode(value));

        const HttpResult page = server.get("/app/");
        EXPECT_EQ(page.body.find("outside"), std::string::npos);
        EXPECT_NE(page.body.find("kein Template zugeordnet"), std::string::npos) << page.body;

        const std::string file = d + "/projects/" + value + "/start.htm";
        const HttpResult edit = server.get("/$int/SiteEdit.html?site=" + site(file));
        EXPECT_EQ(edit.body.find("outside"), std::string::npos);
        EXPECT_NE(edit.body.find("wurde nicht gefunden"), std::string::npos);

        const HttpResult save =
            server.post("/$int/SiteSave.html",
                        "FILE=" + formEncode(d + "/projects/" + value + "/pwn.htm") + "&SITE=x",
                        {{"Origin", server.origin()}});
        EXPECT_EQ(save.status, 403);

        // The file list does not count the moved folder as a root: no ".." below it.
        const HttpResult list =
            server.get("/$int/FileList.html?PATH=" + formEncode(d + "/projects/" + value + "/sub") +
                       "&TYPE=0");
        EXPECT_EQ(list.body.find("back.gif"), std::string::npos) << list.body;
    }
    EXPECT_FALSE(fs::exists(d + "/pwn.htm"));
    EXPECT_EQ(TempDir::read(d + "/start.htm"), "outside");

    // Back inside, everything works again.
    server.get("/anything.gif?proj=tmpl");
    EXPECT_EQ(server.get("/app/").body, "inside\r\n");
}

} // namespace
} // namespace pelotest::test::popup
