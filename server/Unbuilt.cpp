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
