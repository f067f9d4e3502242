// An ordinary request: every path that names no built-in page. Its parameters update the
// variables list and carry the event; then a static file, a template, the site root or the
// not-found page answers.

#include "server/Branches.h"
#include "state/TextCase.h"

#include <algorithm>
#include <filesystem>

namespace pelotest {

namespace {

bool isExistingFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

bool anyMarked(const VariableTable& variables) {
    return std::any_of(variables.rows().begin(), variables.rows().end(),
                       [](const Variable& row) { return row.mark != Mark::Plain; });
}

// Parameter capture: each "name=value" entry sets (or adds) a variable; the event parameter,
// whatever its letter case, also sets the request's event (a later one wins).
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

} // namespace

void answerOrdinaryRequest(Exchange& ex) {
    AppState& state = ex.state;
    ex.event.clear();
    const bool isFile = isExistingFile(ex.paths.FilePath);
    bool variablesChanged = false;
    if (!isFile && state.settings.VariablesAutoSort && anyMarked(state.variables)) {
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

    if (isFile)
        return answerStaticFile(ex);
    const std::string& filePath = ex.paths.FilePath;
    const std::string& virtualRoot = ex.paths.VirtualRoot;
    if (startsWithIgnoreCase(filePath, virtualRoot))
        return answerTemplateRequest(ex);
    if (filePath == ex.paths.StaticRoot + "/")
        return answerSiteRoot(ex);
    answerNotFound(ex);
}

} // namespace pelotest
