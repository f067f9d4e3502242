#pragma once
// The answers of the built-in pages under /$int (and the built-in favicon). Each fills
// ex.response; all run with the state locked. The route table (app/Routes.h) picks one.

#include "server/RequestContext.h"
#include "state/Host.h"

#include <string_view>

namespace pelotest {

void answerControlPage(Exchange& ex);  // "/$int", "/$int/"
void answerSetTemplate(Exchange& ex);  // "/$int/SetTemplate.html"
void answerSetStartSite(Exchange& ex); // "/$int/SetStartSite.html"
void answerEmbeddedImage(Exchange& ex,
                         std::string_view name);        // "rel.gif", "Img3.gif", "favicon.ico"
void answerStyleSheet(Exchange& ex);                    // "/$int/styles.css"
void answerMessageIcon(Exchange& ex, MessageIcon icon); // "/$int/warning.jpg" ...
void answerSiteLog(Exchange& ex);                       // "/$int/SiteLog.html"
void answerVarList(Exchange& ex);                       // "/$int/VarList.html"
void answerFileList(Exchange& ex);                      // "/$int/FileList.html"
void answerSiteEdit(Exchange& ex);                      // "/$int/SiteEdit.html"
void answerSiteSave(Exchange& ex);                      // "/$int/SiteSave.html"

} // namespace pelotest
