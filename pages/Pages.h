#pragma once
// The answers of the built-in pages under /$int (and the built-in favicon). Each fills
// ex.response; all run with the state locked. The route table (pages/Routes.h) picks one.

#include "server/RequestContext.h"
#include "state/Host.h"

#include <string_view>

namespace pelotest {

void answerControlPage(Exchange& ex) REQUIRES(ex.state.mutex);  // "/$int", "/$int/"
void answerSetTemplate(Exchange& ex) REQUIRES(ex.state.mutex);  // "/$int/SetTemplate.html"
void answerSetStartSite(Exchange& ex) REQUIRES(ex.state.mutex); // "/$int/SetStartSite.html"
void answerEmbeddedImage(Exchange& ex,
                         std::string_view name)
    REQUIRES(ex.state.mutex); // "rel.gif", "Img3.gif", "favicon.ico"
void answerStyleSheet(Exchange& ex) REQUIRES(ex.state.mutex); // "/$int/styles.css"
void answerMessageIcon(Exchange& ex, MessageIcon icon)
    REQUIRES(ex.state.mutex);                               // "/$int/warning.jpg" ...
void answerSiteLog(Exchange& ex) REQUIRES(ex.state.mutex);  // "/$int/SiteLog.html"
void answerVarList(Exchange& ex) REQUIRES(ex.state.mutex);  // "/$int/VarList.html"
void answerFileList(Exchange& ex) REQUIRES(ex.state.mutex); // "/$int/FileList.html"
void answerSiteEdit(Exchange& ex) REQUIRES(ex.state.mutex); // "/$int/SiteEdit.html"
void answerSiteSave(Exchange& ex) REQUIRES(ex.state.mutex); // "/$int/SiteSave.html"

} // namespace pelotest
