#include "platform/FolderWatcher.h"

#include <filesystem>

namespace pelotest {

std::string normalFolder(const std::string& folder) {
    std::string normal = std::filesystem::path(folder).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

bool isBelowOrSame(std::string_view folder, std::string_view path) {
    return path == folder || (path.size() > folder.size() && path.starts_with(folder) &&
                              (folder == "/" || path[folder.size()] == '/'));
}

} // namespace pelotest
