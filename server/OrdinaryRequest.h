#pragma once
// An ordinary request: every path that names no built-in page. Its parameters update the
// variables list and carry the event; then a static file, a template, the site root or the
// not-found page answers.

#include "server/RequestContext.h"

namespace pelotest {

// Parameter capture, then one of the server's answers (server/SiteAnswers.h, TemplateRequest.h).
void answerOrdinaryRequest(Exchange& ex) REQUIRES(ex.state.mutex);

// Whether this run names a static folder on the command line and no templates folder (neither
// there nor in the settings): the folder is then served as a plain file server would.
bool servesStaticFolderOnly(const AppState& state) REQUIRES(state.mutex);

// Which answer an ordinary request gets once its parameters are applied.
enum class OrdinaryRoute { StaticFile, Template, SiteRoot, NotFound };
OrdinaryRoute chooseOrdinaryRoute(const RequestPaths& paths, bool isExistingFile);

// Parameter capture of an ordinary request: every "name=value" entry sets or adds a variable
// (re-marking it while auto-sort is on) and the event parameter sets ex.event.
// Sets the variables from the request's decoded "name=value" entries (and its event).
void captureParameters(Exchange& ex, const std::vector<std::string>& entries)
    REQUIRES(ex.state.mutex);
inline void captureParameters(Exchange& ex) REQUIRES(ex.state.mutex) {
    captureParameters(ex, ex.request.params);
}

} // namespace pelotest
