#include "pages/EditorPath.h"

#include "server/Encoders.h"
#include "server/StaticFiles.h"

#include <algorithm>
#include <deque>
#include <system_error>
#include <utility>
#include <vector>

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

// Links followed in one resolution before it counts as a loop, as the kernel's limit.
constexpr int kMaxLinks = 40;

std::string joined(const std::vector<std::string>& components) {
    if (components.empty())
        return "/";
    std::string out;
    for (const std::string& component : components)
        out += "/" + component;
    return out;
}

// The components of a path in order; empty ones go (a doubled separator is one).
void prependComponents(std::deque<std::string>& pending, std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (!part.empty())
            parts.emplace_back(part);
        start = end + 1;
    }
    pending.insert(pending.begin(), parts.begin(), parts.end());
}

// The real location of a root folder; nullopt when it is empty, missing or not a folder.
std::optional<fs::path> realFolder(std::string_view root) {
    std::error_code ec;
    // A folder set relative to the working folder counts from there.
    const fs::path absolute = root.empty() ? fs::path() : fs::absolute(fs::path(root), ec);
    if (absolute.empty() || ec)
        return std::nullopt;
    const auto real = resolveLikeKernel(absolute.string());
    if (!real || real->missing != 0 || !fs::is_directory(real->path, ec))
        return std::nullopt;
    return real->path;
}

bool insideRoot(const fs::path& file, std::string_view root) {
    const auto base = realFolder(root);
    return base && liesBelow(*base, file);
}

// The name after the last '/'; "" when the path ends in one.
std::string_view lastComponent(std::string_view path) {
    const std::size_t cut = path.rfind('/');
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

} // namespace

std::optional<KernelPath> resolveLikeKernel(std::string_view path) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::vector<std::string> resolved; // real folders (and a last file) below "/"
    bool lastIsFolder = true;          // what resolved ends in; "/" is a folder
    std::size_t missing = 0;
    int links = 0;
    std::deque<std::string> pending;
    prependComponents(pending, path);
    while (!pending.empty()) {
        std::string component = std::move(pending.front());
        pending.pop_front();
        if (missing > 0) {
            // The kernel stops at the first missing folder: nothing below it can be reached,
            // and ".." cannot lead back out of it.
            if (component == ".." || component == ".")
                return std::nullopt;
            resolved.push_back(std::move(component));
            ++missing;
            continue;
        }
        if (!lastIsFolder)
            return std::nullopt; // a component below a file
        if (component == ".")
            continue;
        if (component == "..") {
            // What precedes is already real, so its parent is the one the kernel goes to.
            if (!resolved.empty())
                resolved.pop_back();
            continue;
        }
        const std::string candidate = joined(resolved) + "/" + component;
        std::error_code error;
        const FileStatus info = statusOf(candidate, Links::DoNotFollowLast, error);
        if (info.kind == FileKind::Missing) {
            if (error != std::errc::no_such_file_or_directory)
                return std::nullopt;
            resolved.push_back(std::move(component));
            missing = 1;
            continue;
        }
        if (info.kind == FileKind::Link) {
            const auto target = linkTarget(candidate);
            if (!target || target->empty() || ++links > kMaxLinks)
                return std::nullopt;
            if (target->front() == '/')
                resolved.clear();
            prependComponents(pending, *target);
            lastIsFolder = true; // what resolved holds now is a folder again
            continue;
        }
        resolved.push_back(std::move(component));
        lastIsFolder = info.kind == FileKind::Folder;
    }
    return KernelPath{joined(resolved), missing};
}

std::optional<fs::path> confinedEditorFile(std::string_view path, std::string_view staticRoot,
                                           std::string_view templateFolder) {
    const std::string_view name = lastComponent(path);
    if (name.empty() || name == "." || name == "..")
        return std::nullopt;
    const auto file = resolveLikeKernel(path);
    if (!file)
        return std::nullopt;
    if (insideRoot(file->path, staticRoot) || insideRoot(file->path, templateFolder))
        return file->path;
    return std::nullopt;
}

std::optional<EditorFolder> EditorFolder::open(std::string_view path, std::string_view staticRoot,
                                               std::string_view templateFolder,
                                               const std::function<void()>& betweenCheckAndOpen) {
    auto file = confinedEditorFile(path, staticRoot, templateFolder);
    if (!file)
        return std::nullopt;
    if (betweenCheckAndOpen)
        betweenCheckAndOpen();
    const fs::path folderPath = file->parent_path();
    std::error_code error;
    OpenFile opened = openFolder(folderPath, error);
    if (!opened.isOpen())
        return std::nullopt;
    EditorFolder folder(std::move(opened), std::move(*file));
    // Where the open folder really is: the folder that was checked, or else a link has been put
    // into its path since.
    const auto where = pathOfOpenFolder(folder.folder());
    if (!where || *where != folderPath)
        return std::nullopt;
    return folder;
}

EditorFolder::Reading EditorFolder::readFile(std::string& bytes, std::uint64_t largest) const {
    std::error_code error;
    const OpenFile file = openInFolder(folder_, name(), error);
    if (!file.isOpen())
        return Reading::NotAFile;
    Reading result = Reading::Read;
    const auto status = file.status(error);
    if (!status || status->kind != FileKind::Regular) {
        result = Reading::NotAFile;
    } else if (status->identity.size > largest) {
        result = Reading::TooLarge;
    } else {
        bytes.clear();
        char block[64 * 1024];
        for (;;) {
            const auto n = file.read(block, sizeof block, error);
            if (!n)
                result = Reading::NotAFile;
            if (!n || *n == 0)
                break;
            bytes.append(block, *n);
            if (bytes.size() > largest) { // it grew since it was looked at
                result = Reading::TooLarge;
                break;
            }
        }
    }
    if (result != Reading::Read)
        bytes.clear();
    return result;
}

} // namespace pelotest
