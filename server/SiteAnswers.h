#pragma once
// The server's own answers to an ordinary request that names no template: a static file, the site
// root and the not-found page. Each fills ex.response with the state locked.

#include "server/RequestContext.h"

namespace pelotest {

void answerStaticFile(Exchange& ex); // FilePath is an existing file
void answerSiteRoot(Exchange& ex);   // FilePath == StaticRoot + "/"
void answerNotFound(Exchange& ex);   // 404 page

} // namespace pelotest
