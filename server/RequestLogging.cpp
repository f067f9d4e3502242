#include "server/RequestLogging.h"

#include <utility>

namespace pelotest {

void addLogEntry(AppState& state, Host& host, LogEntry entry) {
    state.log.add(std::move(entry), clampToField(state.settings.MaxLog));
    state.LogChanged = true;
    host.logChanged();
}

} // namespace pelotest
