#pragma once
// AddLogEntry for request code: adds the row under the current MaxLog, marks the log changed and
// tells the host.

#include "state/AppState.h"
#include "state/Host.h"

namespace pelotest {

void addLogEntry(AppState& state, Host& host, LogEntry entry) REQUIRES(state.mutex);

} // namespace pelotest
