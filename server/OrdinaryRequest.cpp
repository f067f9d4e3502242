// An ordinary request: every path that names no built-in page. Its parameters update the
// variables list and carry the event; then a static file, a template, the site root or the
// not-found page answers.

#include "server/Branches.h"
#include "server/RequestHandler.h"
#include "server/StaticFiles.h"
#include "state/TextCase.h"

#include <algorithm>

namespace pelotest {

// The event parameter, whatever its letter case, sets the request's event (a later one wins)
// and is stored as a variable like any other parameter.
void captureParameters(Exchange& ex) {
    AppState& state = ex.state;
    const bool autoSort = state.settings.VariablesAutoSort;
    for (const std::string& entry : ex.request.params) {
        const std::size_t equals = entry.find('=');
        std::string name, value;
        if (equals == std::string::npos) {
            value = entry;
        } else {
            name = entry.substr(0, equals);
            value = entry.substr(equals + 1);
        }
        if (equalsIgnoreCase(name, state.settings.Event))
            ex.event = value;
        if (const auto row = state.variables.find(name)) {
            state.variables.setValue(*row, std::move(value));
            if (autoSort)
                state.variables.markPassed(*row);
        } else {
            const std::size_t added = state.variables.add(std::move(name), std::move(value));
            if (autoSort)
                state.variables.markUsed(added, state.variables.leadingPassedCount());
        }
        state.VariablesChanged = true;
    }
}

OrdinaryRoute chooseOrdinaryRoute(const RequestPaths& paths, bool isExistingFile) {
    if (isExistingFile)
        return OrdinaryRoute::StaticFile;
    if (startsWithIgnoreCase(paths.FilePath, paths.VirtualRoot))
        return OrdinaryRoute::Template;
    if (paths.FilePath == paths.StaticRoot + "/")
        return OrdinaryRoute::SiteRoot;
    return OrdinaryRoute::NotFound;
}

void answerOrdinaryRequest(Exchange& ex) {
    AppState& state = ex.state;
    ex.event.clear();
    // A file outside the static folder (through "..", a link) counts as not existing.
    ex.servableFile = resolveServableFile(ex.paths);
    const bool isFile = ex.servableFile.has_value();
    bool variablesChanged = false;
    if (!isFile && state.settings.VariablesAutoSort && state.variables.anyMarked()) {
        state.variables.resetMarks();
        state.VariablesChanged = true;
        variablesChanged = true;
    }
    if (!ex.request.params.empty()) {
        captureParameters(ex);
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
