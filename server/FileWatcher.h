#pragma once
// Watching the site's folders for changes, so that live reload can tell the open browsers. The
// watcher itself is platform/FolderWatcher.h (inotify on Linux,
// ReadDirectoryChangesW on Windows).

#include "platform/FolderWatcher.h"

#include <string>
#include <string_view>
#include <vector>

namespace pelotest {

// What the open pages are told about one burst of changes.
struct LiveChange {
    // Empty: reload the page. Otherwise only these style sheets changed: each is the path of its
    // address below the static folder ("/css/site.css").
    std::vector<std::string> styleSheets;
};

// Style sheets alone (".css", any case, inside staticRoot) are swapped in place; anything else
// (a page, a template, a script, a style sheet in the template folder, lost changes) reloads.
LiveChange classifyChanges(const std::vector<std::string>& changed, std::string_view staticRoot);

} // namespace pelotest
