// SetTemplate.html and SetStartSite.html: the targets of the forms on the unassigned-event page
// and the welcome page. Both change the state and send the browser on with an immediate refresh.

#include "pages/Pages.h"
#include "server/Encoders.h"
#include "server/PageText.h"
#include "server/RequestLogging.h"
#include "server/RequestSafety.h"
#include "server/StaticFiles.h"
#include "state/TextCase.h"

#include <map>
#include <stdexcept>
#include <string>

namespace pelotest {
namespace {

// The request's named parameters; a parameter without "=" has no name and is ignored, and of
// two with the same name (case matters) the later one wins.
class Parameters {
  public:
    explicit Parameters(const HttpRequest& request) {
        for (const std::string& entry : request.params) {
            const auto equals = entry.find('=');
            if (equals == std::string::npos || equals == 0)
                continue;
            values_[entry.substr(0, equals)] = entry.substr(equals + 1);
        }
    }
    std::string operator[](const std::string& name) const {
        const auto found = values_.find(name);
        return found == values_.end() ? std::string() : found->second;
    }

  private:
    std::map<std::string, std::string> values_;
};

// The title for the log row, read only from a file inside folder (the names come from the
// request, so "../x" or a link must not put another file's title into the log). The assignment
// does not need the file: one that is missing, outside or unreadable leaves the title empty.
std::string titleOf(const std::string& folder, const std::string& path) {
    const auto file = resolveFileInside(folder, path);
    if (!file)
        return {};
    try {
        return pageTitle(file->string());
    } catch (const std::exception&) {
        return {};
    }
}

// The rule by which a tree node stands for an event: after the first " (" (or from the second
// character when there is none), as many characters as the event has equal the event.
bool nodeMatchesEvent(const std::string& text, const std::string& event) {
    const auto open = text.find(" (");
    const std::size_t start = open == std::string::npos ? 1 : open + 2;
    return text.size() >= start + event.size() && text.compare(start, event.size(), event) == 0;
}

bool assignTemplate(EventTree& tree, const std::string& event, const std::string& templateName) {
    if (!event.empty() && !tree.empty()) {
        bool changed = false;
        for (TreeNode* node : tree.flatten()) {
            if (node->text == event || nodeMatchesEvent(node->text, event)) {
                node->text = templateName + " (" + event + ")";
                changed = true;
            }
        }
        return changed;
    }
    // No event, or nothing to search: the template becomes the entry template.
    if (tree.empty())
        tree.appendRoot(templateName);
    tree.first()->text = templateName;
    return true;
}

std::string refreshPage(const std::string& address) {
    return "<html>\r<head>\r<meta http-equiv=\"pragma\" content=\"no-cache\">\r"
           "<meta http-equiv=\"Refresh\" content=\"0;URL=" +
           address + "\">\r</head>\r<body></body>\r</html>";
}

} // namespace

void answerSetTemplate(Exchange& ex) {
    if (fromAnotherSite(ex.request))
        return answerCrossSiteRefused(ex.response);
    const Parameters parameters(ex.request);
    const std::string event = parameters["EVENT"];
    const std::string templateName = parameters["TEMPLATE"];
    const std::string url = parameters["URL"];
    const std::string query = parameters["QUERY"];

    if (!templateName.empty()) {
        const std::string path = ex.paths.TemplateFolder + "/" + templateName;
        addLogEntry(ex.state, ex.host,
                    LogEntry{LogKind::Assigned, std::string(fileNamePart(templateName)), event,
                             titleOf(ex.paths.TemplateFolder, path), path});
        if (assignTemplate(ex.state.tree, event, templateName)) {
            ex.state.TreeChanged = true;
            ex.host.treeChanged();
        }
    }

    // The values go into an attribute: escaped there, the browser still follows the same address,
    // and the page it names is one of this server.
    std::string address =
        htmlEscape(sameServerTarget(url)) + "?" + ex.state.settings.Event + "=" + htmlEscape(event);
    if (!query.empty())
        address += "&" + htmlEscape(query);
    ex.response.contentType = "text/html";
    ex.response.body = refreshPage(address);
}

void answerSetStartSite(Exchange& ex) {
    if (fromAnotherSite(ex.request))
        return answerCrossSiteRefused(ex.response);
    const Parameters parameters(ex.request);
    const std::string site = parameters["SITE"];
    const std::string siteParameters = parameters["PARMS"];

    ex.state.settings.StaticSite = site;
    ex.state.settings.StaticParameter = siteParameters;
    ex.host.settingsChanged();

    std::string address = htmlEscape(sameServerTarget("/" + site));
    if (!siteParameters.empty())
        address += "?" + htmlEscape(siteParameters);
    ex.response.contentType = "text/html";
    ex.response.body = refreshPage(address);

    if (!site.empty()) {
        const std::string path = ex.paths.StaticRoot + "/" + site;
        addLogEntry(ex.state, ex.host,
                    LogEntry{LogKind::StartSite, std::string(fileNamePart(site)), "",
                             titleOf(ex.paths.StaticRoot, path), path});
    }
}

} // namespace pelotest
