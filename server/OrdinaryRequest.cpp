// An ordinary request: every path that names no built-in page. Its parameters update the
// variables list and carry the event; then a static file, a template, the site root or the
// not-found page answers.

#include "server/OrdinaryRequest.h"
#include "server/LiveReload.h"
#include "server/PageSkeleton.h"

#include "server/Encoders.h"
#include "server/SiteAnswers.h"
#include "server/StaticFiles.h"
#include "server/TemplateRequest.h"
#include "state/TextCase.h"

#include <algorithm>
#include <iterator>

namespace pelotest {

namespace {

// The request's "name=value" entries; an entry without '=' has an empty name.
std::vector<Parameter> splitParameters(const std::vector<std::string>& entries) {
    std::vector<Parameter> params;
    params.reserve(entries.size());
    for (const std::string& entry : entries) {
        const auto [name, value] = parameterParts(entry);
        params.push_back(Parameter{std::string(name), std::string(value)});
    }
    return params;
}

// The variables list is bounded so that requests cannot make the process (and the settings file
// it is saved to) grow without end: a request whose parameters would pass the limits changes
// nothing and is refused.
bool parametersFit(const Exchange& ex, const std::vector<std::string>& entries)
    REQUIRES(ex.state.mutex) {
    const auto growth = ex.state.variables.afterParameters(splitParameters(entries));
    // A list loaded larger than the limits may still be changed in ways that do not grow it.
    if (growth.rows == 0 && growth.bytes <= ex.state.variables.bytes())
        return true;
    return ex.state.variables.withinLimits(ex.state.variables.size() + growth.rows, growth.bytes);
}

void answerTooLarge(Exchange& ex) REQUIRES(ex.state.mutex) {
    answerTooLarge(ex.response,
                   "The parameters of this request would make the variables list larger than "
                   "its limits (keys MaxVariables and MaxVariableBytes of the section [Const] of "
                   "the settings file). Nothing was changed.");
}

// The index page of the folder that filePath names ("/site/sub/" or "/site/sub"): index.htm, else
// index.html, confined to the static folder like every other file; nullopt when it has neither.
std::optional<std::string> folderIndexPath(const RequestPaths& paths) {
    std::string folder = paths.filePath;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    for (const char* name : {"index.htm", "index.html"})
        if (resolveFileInside(paths.staticRoot, folder + name))
            return folder + name;
    return std::nullopt;
}

// A folder asked for without its closing '/' goes to the address with it, so that the index
// page's relative links resolve inside the folder. Only a plain path of this server is sent on:
// a document starting "//" or holding a backslash would name another host.
bool redirectToFolder(Exchange& ex) {
    const std::string& document = ex.request.document;
    if (document.empty() || document.front() != '/' || document.back() == '/' ||
        (document.size() > 1 && document[1] == '/') || document.find('\\') != std::string::npos)
        return false;
    std::string location = percentEncode(document, "/");
    location += '/';
    if (!ex.request.rawQuery.empty())
        location += "?" + ex.request.rawQuery;
    ex.response.status = 301;
    ex.response.contentType = "text/html";
    ex.response.setHeader("Location", location);
    ex.response.body = refreshPage(htmlEscape(location));
    return true;
}

// A run that names only a static folder serves it as a plain file server: folders answer with
// their index page, a missing file is not found, and requests set no variables (nothing of the
// settings file changes).
void answerStaticServerRequest(Exchange& ex) REQUIRES(ex.state.mutex) {
    if (ex.servableFile)
        return answerStaticFile(ex);
    std::optional<std::string> index;
    runUnlocked(ex.state.mutex, [&ex, &index] {
        index = folderIndexPath(ex.paths);
        FileIdentity identity;
        if (index)
            ex.servableFile = resolveFileInside(ex.paths.staticRoot, *index, &identity);
        if (ex.servableFile)
            ex.servableBytes = readSmallFile(*ex.servableFile, &identity);
    });
    if (!ex.servableFile)
        return answerNotFound(ex);
    if (ex.paths.filePath.back() != '/' && redirectToFolder(ex))
        return;
    ex.paths.filePath = *index;
    answerStaticFile(ex);
}

} // namespace

bool servesStaticFolderOnly(const AppState& state) {
    return state.runOverrides.staticPath.has_value() && state.settings.dynamicPath.empty();
}

// The event parameter, whatever its letter case, sets the request's event (a later one wins)
// and is stored as a variable like any other parameter.
void captureParameters(Exchange& ex, const std::vector<std::string>& entries) {
    std::vector<Parameter> params = splitParameters(entries);
    for (const Parameter& param : params)
        if (equalsIgnoreCase(param.name, ex.state.settings.event))
            ex.event = param.value;
    if (params.empty())
        return;
    ex.state.variables.applyParameters(std::move(params), ex.state.settings.variablesAutoSort);
    ex.state.variablesChanged = true;
}

OrdinaryRoute chooseOrdinaryRoute(const RequestPaths& paths, bool isExistingFile) {
    if (isExistingFile)
        return OrdinaryRoute::StaticFile;
    if (startsWithIgnoreCase(paths.filePath, paths.virtualRoot))
        return OrdinaryRoute::Template;
    if (paths.filePath == paths.staticRoot + "/")
        return OrdinaryRoute::SiteRoot;
    return OrdinaryRoute::NotFound;
}

void answerOrdinaryRequest(Exchange& ex) {
    ex.event.clear();
    // Looking the file up needs only the paths of this request: other requests and the user
    // interface may use the state meanwhile.
    runUnlocked(ex.state.mutex, [&ex] {
        // A file outside the static folder (through "..", a link) counts as not existing.
        FileIdentity identity;
        ex.servableFile = resolveServableFile(ex.paths, &identity);
        if (ex.servableFile)
            ex.servableBytes = readSmallFile(*ex.servableFile, &identity);
        if (ex.servableFile && !ex.servableBytes && identity.size > kSmallFile)
            ex.servableLargeFile = lookAtLargeFile(*ex.servableFile, ex.paths.filePath);
    });
    if (servesStaticFolderOnly(ex.state))
        return answerStaticServerRequest(ex);
    const bool isFile = ex.servableFile.has_value();
    // The live script's parameter never reaches the variables; with it, an existing file is the
    // page's own style sheet asked for again, and the request changes nothing at all.
    const std::vector<std::string>* entries = &ex.request.params;
    std::vector<std::string> siteEntries;
    if (std::any_of(entries->begin(), entries->end(),
                    [](const std::string& entry) { return isStyleSheetSwapEntry(entry); })) {
        ex.styleSheetSwap = isFile;
        if (!isFile)
            std::copy_if(entries->begin(), entries->end(), std::back_inserter(siteEntries),
                         [](const std::string& entry) { return !isStyleSheetSwapEntry(entry); });
        entries = &siteEntries;
    }
    if (!entries->empty() && !parametersFit(ex, *entries))
        return answerTooLarge(ex);
    bool variablesChanged = false;
    if (!isFile && ex.state.settings.variablesAutoSort && ex.state.variables.anyMarked()) {
        ex.state.variables.resetMarks();
        ex.state.variablesChanged = true;
        variablesChanged = true;
    }
    if (!entries->empty()) {
        captureParameters(ex, *entries);
        variablesChanged = true;
    }
    if (variablesChanged)
        ex.host.variablesChanged();

    switch (chooseOrdinaryRoute(ex.paths, isFile)) {
    case OrdinaryRoute::StaticFile:
        return answerStaticFile(ex);
    case OrdinaryRoute::Template:
        return answerTemplateRequest(ex);
    case OrdinaryRoute::SiteRoot:
        return answerSiteRoot(ex);
    case OrdinaryRoute::NotFound:
        return answerNotFound(ex);
    }
}

} // namespace pelotest
