// Which files the editor may open and save: only files strictly inside the static root or the
// template folder, after ".." and links are resolved.

#include "support/TempDir.h"

#include "pages/EditorPath.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace pelotest::test {
namespace {

namespace fs = std::filesystem;

// The editor form of a path, by known answers: '/' as %3F, a blank as '+', a backslash as '/',
// letters, digits and "*-.@_" kept, every other byte as %XX.
TEST(EditorForm, KnownAnswers) {
    const std::pair<std::string, std::string> cases[] = {
        {"/srv/site/a.htm", "%3Fsrv%3Fsite%3Fa.htm"},
        {"/my site/\xE4+b%.htm", "%3Fmy+site%3F%E4%2Bb%25.htm"},
        {"/a&b#c?d=e", "%3Fa%26b%23c%3Fd%3De"},
        {"C:\\x\\y.htm", "C%3A/x/y.htm"},
        {"*-.@_~'\"<>", "*-.@_%7E%27%22%3C%3E"},
        {"", ""},
    };
    for (const auto& [path, form] : cases)
        EXPECT_EQ(editorFormOfPath(path), form) << path;
}

// UrlDecodePath reverses UrlEncode: the editor reads back the path it was handed.
TEST(EditorForm, ReadsBackThePathItWasMadeOf) {
    const std::string path = "/srv/my site/\xE4+b%.htm";
    EXPECT_EQ(pathFromEditorForm(editorFormOfPath(path)), path);
}

TEST(EditorConfinement, AcceptsOnlyFilesInsideARoot) {
    TempDir dir;
    const std::string d = fs::canonical(dir.path()).string();
    dir.write("site/a.htm", "a");
    dir.write("site/sub/b.htm", "b");
    dir.write("site2/c.htm", "c");
    dir.write("tmpl/t.htm", "t");
    dir.write("other/x.htm", "x");
    fs::create_symlink(d + "/other/x.htm", d + "/site/out.htm");
    fs::create_symlink(d + "/site/a.htm", d + "/tmpl/in.htm");
    fs::create_directory_symlink(d + "/other", d + "/site/outdir");
    fs::create_directory_symlink(d + "/site", d + "/linkedsite");
    fs::create_symlink(d + "/site/loop", d + "/site/loop");
    fs::create_symlink(d + "/other/new.htm", d + "/site/dangling.htm");
    fs::create_symlink("sub/created.htm", d + "/site/newlink.htm");

    struct Case {
        std::string path, staticRoot, templateFolder;
        std::string resolved; // "" = refused
    };
    const std::vector<Case> cases = {
        {d + "/site/a.htm", d + "/site", d + "/tmpl", d + "/site/a.htm"},
        {d + "/site/sub/b.htm", d + "/site/", "", d + "/site/sub/b.htm"},
        {d + "/tmpl/t.htm", d + "/site", d + "/tmpl", d + "/tmpl/t.htm"},
        {d + "/site/new.htm", d + "/site", d + "/tmpl", d + "/site/new.htm"},
        {d + "/site/sub/../a.htm", d + "/site", "", d + "/site/a.htm"},
        {d + "/tmpl/in.htm", "", d + "/tmpl", ""}, // a link to a file of the static folder
        {d + "/tmpl/in.htm", d + "/site", d + "/tmpl", d + "/site/a.htm"},
        {d + "/linkedsite/a.htm", d + "/site", "", d + "/site/a.htm"},
        {d + "/site/a.htm", d + "/linkedsite", "", d + "/site/a.htm"},
        {d + "/other/x.htm", d + "/site", d + "/tmpl", ""},
        {d + "/site/../other/x.htm", d + "/site", d + "/tmpl", ""},
        {d + "/site/nothere/../../other/x.htm", d + "/site", d + "/tmpl", ""},
        {d + "/site/out.htm", d + "/site", d + "/tmpl", ""},
        {d + "/site/outdir/x.htm", d + "/site", d + "/tmpl", ""},
        {d + "/site2/c.htm", d + "/site", d + "/tmpl", ""},
        {d + "/site", d + "/site", d + "/tmpl", ""},
        {d + "/site/", d + "/site", d + "/tmpl", ""},
        {d + "/site/a.htm", "", "", ""},
        {"site/a.htm", d + "/site", d + "/tmpl", ""},
        {"", d + "/site", d + "/tmpl", ""},
        {d + "/site/a.htm", "/", "", d + "/site/a.htm"},
        // Resolved as the system resolves them: a missing folder stops the walk, ".." goes to
        // the parent of what precedes it once links are followed.
        {d + "/site/nothere/../out.htm", d + "/site", d + "/tmpl", ""},
        {d + "/site/nothere/../outdir/new.htm", d + "/site", d + "/tmpl", ""},
        {d + "/site/outdir/../site/a.htm", d + "/site", "", d + "/site/a.htm"},
        {d + "/site/outdir/../a.htm", d + "/site", "", ""},
        {d + "/site/a.htm/../a.htm", d + "/site", "", ""},
        {d + "/site/sub/new/deeper.htm", d + "/site", "", d + "/site/sub/new/deeper.htm"},
        {d + "/site/loop/x.htm", d + "/site", "", ""},
        {d + "/site/dangling.htm", d + "/site", "", ""},
        {d + "/site/newlink.htm", d + "/site", "", d + "/site/sub/created.htm"},
        {d + "/site/sub/..", d + "/site", "", ""},
        {d + "/site/sub/.", d + "/site", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " in " + c.staticRoot + " | " + c.templateFolder);
        const auto file = confinedEditorFile(c.path, c.staticRoot, c.templateFolder);
        EXPECT_EQ(file ? file->string() : std::string(), c.resolved);
    }
}

// The moment between the check of a path and the opening of its folder and file: a link put
// there, in the file's place or in a folder's, to a file outside both roots is never read.
TEST(EditorConfinement, ALinkPutInThePathAfterTheCheckIsNotFollowed) {
    struct Case {
        const char* what;
        const char* replaced; // below the folder, replaced by a link to the same name in "other"
    };
    const Case cases[] = {
        {"the file", "site/sub/a.htm"},
        {"a folder on the path", "site/sub"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string d = fs::canonical(dir.path()).string();
        dir.write("site/sub/a.htm", "inside");
        dir.write("other/sub/a.htm", "secret");
        const auto swapInLink = [&] {
            const fs::path replaced = d + "/" + c.replaced;
            fs::remove_all(replaced);
            fs::create_symlink(
                d + "/other/" + fs::path(c.replaced).lexically_relative("site").string(), replaced);
        };
        std::string bytes;
        const auto folder = EditorFolder::open(d + "/site/sub/a.htm", d + "/site", "", swapInLink);
        const auto reading =
            folder ? folder->readFile(bytes, 1024) : EditorFolder::Reading::NotAFile;
        EXPECT_EQ(reading, EditorFolder::Reading::NotAFile);
        EXPECT_EQ(bytes, "");
    }
}

} // namespace
} // namespace pelotest::test
