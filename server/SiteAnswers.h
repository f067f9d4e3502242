#pragma once
// The server's own answers to an ordinary request that names no template: a static file, the site
// root and the not-found page. Each fills ex.response with the state locked.

#include "server/RequestContext.h"

namespace pelotest {

void answerStaticFile(Exchange& ex) REQUIRES(ex.state.mutex); // FilePath is an existing file
void answerSiteRoot(Exchange& ex) REQUIRES(ex.state.mutex);   // FilePath == StaticRoot + "/"
void answerNotFound(Exchange& ex) REQUIRES(ex.state.mutex);   // 404 page

} // namespace pelotest
