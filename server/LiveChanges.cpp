#include "server/FileWatcher.h"

#include "state/TextCase.h"

#include <filesystem>

namespace pelotest {

LiveChange classifyChanges(const std::vector<std::string>& changed, std::string_view staticRoot) {
    LiveChange change;
    if (changed.empty() || staticRoot.empty())
        return change;
    const std::string root = normalFolder(std::string(staticRoot));
    for (const std::string& path : changed) {
        const bool styleSheet =
            path.size() > 4 &&
            equalsIgnoreCase(std::string_view(path).substr(path.size() - 4), ".css");
        if (!styleSheet || !isBelowOrSame(root, path) || path == root) {
            change.styleSheets.clear();
            return change;
        }
        change.styleSheets.push_back(root == "/" ? path : path.substr(root.size()));
    }
    return change;
}

} // namespace pelotest
