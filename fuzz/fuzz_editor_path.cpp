// The editor's path resolution over a small tree of folders and links (built once): whatever
// path it accepts must lie strictly inside the static or the template folder, and must be the
// file the system itself reaches through that path.

#include "pages/EditorPath.h"
#include "server/StaticFiles.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace pelotest;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

struct Tree {
    std::string base, site, tmpl;
    fs::path realSite, realTmpl;
    Tree() {
        char pattern[] = "/tmp/pelotest-fuzz-editor-XXXXXX";
        check(::mkdtemp(pattern) != nullptr);
        base = fs::canonical(pattern).string();
        site = base + "/site";
        tmpl = base + "/tmpl";
        for (const char* folder : {"site/sub", "tmpl/deep", "other/inner"})
            fs::create_directories(base + "/" + folder);
        for (const char* file : {"site/a.htm", "site/sub/b.htm", "tmpl/t.htm", "tmpl/deep/d.htm",
                                 "other/secret.htm", "other/inner/s.htm", "a.htm"})
            std::ofstream(base + "/" + file) << "x";
        const auto link = [&](const char* target, const char* name) {
            fs::create_symlink(target, base + "/" + name);
        };
        link((base + "/other/secret.htm").c_str(), "site/secretlink.txt");
        link((base + "/other").c_str(), "site/outlink");
        link("sub", "site/inlink");
        link("../tmpl", "site/totmpl");
        link("..", "tmpl/up");
        link("loop", "site/loop");
        link("../other/new.htm", "site/dangling");
        link("sub/fresh.htm", "site/freshlink");
        link("site", "sitelink");
        link("deep/../../other", "tmpl/tricky");
        realSite = fs::canonical(site);
        realTmpl = fs::canonical(tmpl);
    }
    ~Tree() {
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }
};

const Tree& tree() {
    static const Tree t;
    return t;
}

std::string realPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return {};
    std::string out(real);
    std::free(real);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Tree& t = tree();
    std::string path(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 4096));
    // Relative inputs start in the tree, where the links are.
    if (path.empty() || path.front() != '/')
        path = t.base + "/" + path;

    const auto file = confinedEditorFile(path, t.site, t.tmpl);
    if (!file)
        return 0;
    check(file->is_absolute());
    const std::string name = file->filename().string();
    check(!name.empty() && name != "." && name != "..");
    check(liesBelow(t.realSite, *file) || liesBelow(t.realTmpl, *file));

    // What is accepted is free of links and dot segments: opening it cannot lead elsewhere.
    if (const std::string real = realPath(file->string()); !real.empty())
        check(fs::path(real) == *file);
    if (const std::string real = realPath(file->parent_path().string()); !real.empty())
        check(fs::path(real) == file->parent_path());

    // The system agrees: an existing name resolves to the same file; a new name lies in the
    // folder the system reaches through the path's folder part.
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        const std::string real = realPath(path);
        if (!real.empty())
            check(fs::path(real) == *file);
    } else {
        const std::string folder = realPath(path.substr(0, path.rfind('/') + 1));
        if (!folder.empty())
            check(fs::path(folder) == file->parent_path());
    }
    if (fs::is_directory(file->parent_path())) {
        const auto opened = EditorFolder::open(path, t.site, t.tmpl);
        check(opened && opened->file() == *file);
    }
    return 0;
}
