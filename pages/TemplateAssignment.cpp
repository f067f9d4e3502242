// SetTemplate.html and SetStartSite.html: the targets of the forms on the unassigned-event page
// and the welcome page. Both change the state and send the browser on with an immediate refresh.

#include "pages/Pages.h"
#include "server/Encoders.h"
#include "server/PageSkeleton.h"
#include "server/PageText.h"
#include "server/RequestLogging.h"
#include "server/RequestSafety.h"
#include "server/StaticFiles.h"
#include "state/PathText.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace pelotest {
namespace {

// A named parameter of the request ("" when absent); of two with the same name (case matters)
// the later one wins.
std::string parameter(const HttpRequest& request, std::string_view name) {
    return lastParam(request, name).value_or("");
}

// The title for the log row, read only from a file inside folder (the names come from the
// request, so "../x" or a link must not put another file's title into the log). The assignment
// does not need the file: one that is missing, outside or unreadable leaves the title empty.
std::string titleOf(const std::string& folder, const std::string& path) {
    const auto file = resolveFileInside(folder, path);
    if (!file)
        return {};
    try {
        return pageTitle(*file);
    } catch (const std::exception&) {
        return {};
    }
}

// The tree is bounded like the variables: an assignment that would make it pass its limits
// changes nothing (the browser is sent on all the same).
bool assignTemplate(EventTree& tree, const std::string& event, const std::string& templateName) {
    if (!event.empty() && !tree.empty()) {
        const std::string assigned = assignedNodeText(templateName, event);
        std::vector<TreeNode*> matches;
        std::size_t bytesAfter = tree.textBytes();
        for (TreeNode* node : tree.flatten()) {
            if (nodeStandsForEvent(node->text, event)) {
                matches.push_back(node);
                bytesAfter += assigned.size();
                bytesAfter -= node->text.size();
            }
        }
        if (!tree.admits(0, bytesAfter, assigned.size()))
            return false;
        for (TreeNode* node : matches)
            node->text = assigned;
        return !matches.empty();
    }
    // No event, or nothing to search: the template becomes the entry template.
    const std::size_t bytesAfter =
        tree.textBytes() + templateName.size() - (tree.empty() ? 0 : tree.first()->text.size());
    if (!tree.admits(tree.empty() ? 1 : 0, bytesAfter, templateName.size()))
        return false;
    if (tree.empty())
        tree.appendRoot(templateName);
    tree.first()->text = templateName;
    return true;
}

} // namespace

void answerSetTemplate(Exchange& ex) {
    if (fromAnotherSite(ex.request))
        return answerCrossSiteRefused(ex.response);
    const std::string event = parameter(ex.request, "EVENT");
    const std::string templateName = parameter(ex.request, "TEMPLATE");
    const std::string url = parameter(ex.request, "URL");
    const std::string query = parameter(ex.request, "QUERY");

    if (!templateName.empty()) {
        const std::string path = ex.paths.templateFolder + "/" + templateName;
        std::string title;
        // The title is read from the whole file: other requests and the window go on meanwhile.
        runUnlocked(ex.state.mutex,
                    [&title, &ex, &path] { title = titleOf(ex.paths.templateFolder, path); });
        addLogEntry(ex, LogEntry{LogKind::Assigned, std::string(fileNamePart(templateName)), event,
                                 std::move(title), path});
        if (assignTemplate(ex.state.tree, event, templateName)) {
            ex.state.treeChanged = true;
            ex.host.treeChanged();
        }
    }

    // The values go into an attribute: escaped there, the browser still follows the same address,
    // and the page it names is one of this server.
    std::string address =
        htmlEscape(sameServerTarget(url)) + "?" + ex.state.settings.event + "=" + htmlEscape(event);
    if (!query.empty())
        address += "&" + htmlEscape(query);
    ex.response.contentType = "text/html";
    ex.response.body = refreshPage(address);
}

void answerSetStartSite(Exchange& ex) {
    if (fromAnotherSite(ex.request))
        return answerCrossSiteRefused(ex.response);
    const std::string site = parameter(ex.request, "SITE");
    const std::string siteParameters = parameter(ex.request, "PARMS");
    const std::string path = ex.paths.staticRoot + "/" + site;
    std::string title;
    // The title for the log is read from the whole file, before anything changes: other requests
    // and the window go on meanwhile.
    if (!site.empty())
        runUnlocked(ex.state.mutex,
                    [&title, &ex, &path] { title = titleOf(ex.paths.staticRoot, path); });

    ex.state.settings.staticSite = site;
    ex.state.settings.staticParameter = siteParameters;
    ex.host.settingsChanged();

    std::string address = htmlEscape(sameServerTarget("/" + site));
    if (!siteParameters.empty())
        address += "?" + htmlEscape(siteParameters);
    ex.response.contentType = "text/html";
    ex.response.body = refreshPage(address);

    if (!site.empty())
        addLogEntry(ex, LogEntry{LogKind::StartSite, std::string(fileNamePart(site)), "",
                                 std::move(title), path});
}

} // namespace pelotest
