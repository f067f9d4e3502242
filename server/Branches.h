#pragma once
// The answers of the dispatch table. Each fills ex.response; all run with the state locked.

#include "server/RequestContext.h"

namespace pelotest {

// Ordinary requests.
void answerOrdinaryRequest(Exchange& ex); // parameter capture, then one of the below
void answerStaticFile(Exchange& ex);      // FilePath is an existing file
void answerTemplateRequest(Exchange& ex); // inside the virtual folder
void answerSiteRoot(Exchange& ex);        // FilePath == StaticRoot + "/"
void answerNotFound(Exchange& ex);        // 404 page

// Built-in pages under /$int (pages/).
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
