#pragma once
// Adds a log row for request code under the current MaxLog, marks the log changed and
// tells the host.

#include "server/RequestContext.h"
#include "state/AppState.h"
#include "state/Host.h"

namespace pelotest {

void addLogEntry(AppState& state, Host& host, LogEntry entry) REQUIRES(state.mutex);
// The same for the request of ex, stamped with the time, the request's path and its query.
void addLogEntry(Exchange& ex, LogEntry entry) REQUIRES(ex.state.mutex);

} // namespace pelotest
