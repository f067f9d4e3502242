// Branches of the dispatch table that are not built yet. Each answers 501 with a line naming
// itself, so that nothing pretends to work. A branch that gets built is removed from here.

#include "server/Branches.h"

#include <string>

namespace pelotest {
namespace {
void notBuilt(Exchange& ex, const char* branch) {
    ex.response.status = 501;
    ex.response.contentType = "text/plain";
    ex.response.body = std::string("Not implemented yet: ") + branch + "\n";
}
} // namespace

void answerStaticFile(Exchange& ex) {
    notBuilt(ex, "static delivery");
}
void answerTemplateRequest(Exchange& ex) {
    notBuilt(ex, "template request");
}
void answerSiteRoot(Exchange& ex) {
    notBuilt(ex, "site root");
}
void answerNotFound(Exchange& ex) {
    notBuilt(ex, "not-found page");
}
void answerControlPage(Exchange& ex) {
    notBuilt(ex, "control page");
}
void answerSetTemplate(Exchange& ex) {
    notBuilt(ex, "SetTemplate.html");
}
void answerSetStartSite(Exchange& ex) {
    notBuilt(ex, "SetStartSite.html");
}
void answerEmbeddedImage(Exchange& ex, std::string_view name) {
    notBuilt(ex, ("embedded image " + std::string(name)).c_str());
}
void answerStyleSheet(Exchange& ex) {
    notBuilt(ex, "styles.css");
}
void answerMessageIcon(Exchange& ex, MessageIcon) {
    notBuilt(ex, "message icon");
}

} // namespace pelotest
