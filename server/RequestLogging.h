#pragma once
// Adds a log row for request code under the current MaxLog, marks the log changed and
// tells the host.

#include "state/AppState.h"
#include "state/Host.h"

namespace pelotest {

void addLogEntry(AppState& state, Host& host, LogEntry entry) REQUIRES(state.mutex);

} // namespace pelotest
