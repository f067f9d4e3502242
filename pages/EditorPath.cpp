#include "pages/EditorPath.h"

#include "server/Encoders.h"

#include <algorithm>
#include <system_error>

namespace pelotest {

namespace fs = std::filesystem;

std::string editorFormOfPath(std::string_view path) {
    std::string marked(path);
    std::replace(marked.begin(), marked.end(), '/', '?');
    return urlEncode(marked);
}

std::string pathFromEditorForm(std::string_view site) {
    std::string path = urlDecodePath(site);
    std::replace(path.begin(), path.end(), '?', '/');
    return path;
}

namespace {

// The path with links and ".." resolved as far as it exists, without a trailing separator.
std::optional<fs::path> resolved(const fs::path& path) {
    std::error_code ec;
    fs::path full = fs::weakly_canonical(path, ec);
    if (ec)
        return std::nullopt;
    if (!full.has_filename() && full.has_relative_path())
        full = full.parent_path();
    return full;
}

bool strictlyInside(const fs::path& file, std::string_view root) {
    if (root.empty())
        return false;
    const auto base = resolved(fs::path(root));
    if (!base)
        return false;
    auto f = file.begin();
    for (auto r = base->begin(); r != base->end(); ++r, ++f)
        if (f == file.end() || *f != *r)
            return false;
    return f != file.end();
}

} // namespace

std::optional<fs::path> confinedEditorFile(std::string_view path, std::string_view staticRoot,
                                           std::string_view templateFolder) {
    if (path.empty() || path.find('\0') != std::string_view::npos)
        return std::nullopt;
    const fs::path requested(path);
    if (!requested.is_absolute())
        return std::nullopt;
    auto file = resolved(requested);
    if (!file || !file->has_filename())
        return std::nullopt;
    if (strictlyInside(*file, staticRoot) || strictlyInside(*file, templateFolder))
        return file;
    return std::nullopt;
}

} // namespace pelotest
