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
void answerSiteLog(Exchange& ex) {
    notBuilt(ex, "SiteLog.html");
}
void answerVarList(Exchange& ex) {
    notBuilt(ex, "VarList.html");
}
void answerFileList(Exchange& ex) {
    notBuilt(ex, "FileList.html");
}
void answerSiteEdit(Exchange& ex) {
    notBuilt(ex, "SiteEdit.html");
}
void answerSiteSave(Exchange& ex) {
    notBuilt(ex, "SiteSave.html");
}

} // namespace pelotest
