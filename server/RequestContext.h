#pragma once
// What one request works with: the request, the response it fills in, the locked shared state,
// the host, and the paths computed at its start.

#include "language/UiTexts.h"
#include "server/FileCache.h"
#include "server/HttpTypes.h"
#include "server/PopupOffsets.h"
#include "state/AppState.h"
#include "state/Host.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace pelotest {

class LiveReload;

// A file too large to be answered from memory, as an ordinary request found it while the state
// was free: opened (as the listener will open it), and a page's title (read from the whole file).
struct LargeServableFile {
    FileIdentity identity;
    std::optional<std::string> title; // none: no page, or one that could not be read
};

struct RequestPaths {
    std::string staticRoot;
    std::string templateFolder;
    std::string virtualRoot;
    std::string filePath;
};

struct Exchange {
    const HttpRequest& request;
    HttpResponse& response;
    AppState& state; // state.mutex is held by the handler for the whole exchange
    Host& host;
    RequestPaths paths;
    std::string event; // the request's event value (ordinary requests)
    // The file an ordinary request names, once resolved inside the static folder (so that the
    // static delivery does not resolve it a second time under the same lock).
    std::optional<std::string> servableFile{};
    // That file as read (a small one), looked up together with it while the state was free.
    std::shared_ptr<const CachedFile> servableBytes{};
    // Or, for a larger file, what was looked up of it meanwhile.
    std::optional<LargeServableFile> servableLargeFile{};
    // What a page reads from disk besides its own files, read at most once per request and at
    // its first use: the language library behind the UI texts and the pop-up offsets of the
    // settings file. Nothing outlives the request, so a change on disk shows at the next one.
    LanguageTexts texts{state};
    PopupOffsets popupOffsets{state};
    // The open pages' event streams while live reload is on; null while it is off.
    LiveReload* live = nullptr;
    // The page or template file the answer was made from, when it is one (whether the live script
    // goes into it depends on its extension).
    std::string answerSource{};
    // The request is the live script asking for a changed style sheet again: it sets no variable
    // and adds no row to the log.
    bool styleSheetSwap = false;
};

// The virtual folder that a VirtualPath setting names, as the server reads it and the window
// builds its addresses: one separator ('/' or '\\') removed at each end, no more. So "app" and
// "/app/" are the folder "app", whose pages lie at "/app/…", and "//app" is "/app", whose pages
// lie at "//app/…". Backslashes in the result still stand for '/'.
std::string_view virtualFolderOf(std::string_view virtualPath);

// The request context of one request (StaticRoot, TemplateFolder with references expanded,
// VirtualRoot, FilePath), in that order; expanding TemplateFolder may re-mark variables.
RequestPaths computeRequestPaths(AppState& state, std::string_view document) REQUIRES(state.mutex);
// The same, telling host (when not null) that the variables changed.
RequestPaths computeRequestPaths(AppState& state, Host* host, std::string_view document)
    REQUIRES(state.mutex);

} // namespace pelotest
