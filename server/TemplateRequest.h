#pragma once
// Event resolution and template rendering, in pieces that answerTemplateRequest puts together
// and that tests and other pages use.

#include "server/RequestContext.h"
#include "state/AppState.h"
#include "state/FileIdentity.h"
#include "state/Host.h"

#include <optional>
#include <string>
#include <string_view>

namespace pelotest {

// The node a request resolves to and the template file it names, when that file exists (a
// regular file inside the templates folder). Without an event the node is the tree's first.
struct TemplateMatch {
    TreeNode* node = nullptr;
    std::optional<std::string> templatePath;
    FileIdentity identity; // of the file at templatePath, as found inside the folder
};
TemplateMatch resolveTemplate(AppState& state, const std::string& templateFolder,
                              std::string_view event) REQUIRES(state.mutex);

// The event an expanded template line refers to through the event parameter parameterName
// (first occurrence only; "" when it has none): the value after "=", up to "&", without quotes.
std::string discoveredEvent(std::string_view line, std::string_view parameterName);
// Appends the line's event under matchNode unless a direct child already has or matches it or
// the tree's limits do not admit it; expands matchNode and sets treeChanged. True when a node
// was added.
bool learnEvent(AppState& state, TreeNode& matchNode, std::string_view line) REQUIRES(state.mutex);
// The same for an event already found in a line.
bool learnDiscoveredEvent(AppState& state, TreeNode& matchNode, std::string_view event)
    REQUIRES(state.mutex);

struct RenderedTemplate {
    std::string body;  // every expanded line followed by CR LF
    std::string title; // PageTitle of the template as stored
};
// Reads the template, expands each line and learns its events under matchNode. Throws when the
// file cannot be read. What does not change from request to request (the lines without a
// reference, their events, where the references stand) is worked out once per version of the
// file and kept with it in the FileCache.
// identity, when given, is the file's as it was just found (no second look at the file).
RenderedTemplate renderTemplate(AppState& state, Host& host, TreeNode& matchNode,
                                const std::string& templatePath,
                                const FileIdentity* identity = nullptr) REQUIRES(state.mutex);

// The answer to an ordinary request inside the virtual folder; fills ex.response with the state
// locked.
void answerTemplateRequest(Exchange& ex) REQUIRES(ex.state.mutex);

} // namespace pelotest
